#include "app/Mainform.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>
#include <cerrno>
#include <cstring>

#include "base/Clock.h"
#include "ui/Memoutils.h"
#include "proto/Sentencetext.h"
#include "connect/Portform.h"
#include "loader/Loadsetupform.h"
#include "proto/Port.h"
#include "receiver/Rcvrportform.h"
#include "receiver/Statusform.h"
#include "ui/Aboutform.h"
#include "ui/Helpform.h"
#include "ui/Noteform.h"
#include "ui/Scaleutils.h"
#include "ui/Windowrect.h"
#include "ui_Mainform.h"

TFormMain* FormMain = nullptr;

namespace {

constexpr int kPollIntervalMs = 100;
constexpr int kPortPanelWidth = 200;
constexpr int kLoggingPanelWidth = 50;
// Most bytes of a replay one tick takes: 40 MB a second when it runs as fast as it can,
// with the window still answering between ticks.
constexpr std::size_t kReplayTickBytes = 4 * 1024 * 1024;
// A received sentence as the memo shows it (app/Sentencetext.h).
QString DisplayText(std::string_view sentence) {
    return QString::fromStdString(SentenceDisplayText(sentence));
}

QString ShortName(const QString& path) {
    return path.mid(path.lastIndexOf('/') + 1);
}

// A file name as the core's units open it: the system's encoding, UTF-8 on Windows.
std::string FileNameBytes(const QString& path) {
#ifdef _WIN32
    return path.toStdString();
#else
    return QFile::encodeName(path).toStdString();
#endif
}

QString SystemErrorText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

} // namespace

TFormMain::TFormMain(QWidget* parent)
    : QMainWindow(parent), ui(new Ui::TFormMain), clock(&SystemClock()) {
    ui->setupUi(this);
    // The design font: 11 pixels high, a line pitch of 13.
    QFont f = font();
    f.setPixelSize(11);
    setFont(f);

    panel0 = new QLabel(this);
    panel0->setFixedWidth(kPortPanelWidth);
    panel1 = new QLabel(this);
    panel1->setMinimumWidth(kLoggingPanelWidth);
    ui->StatusBar->addWidget(panel0);
    ui->StatusBar->addWidget(panel1, 1); // the last panel takes the rest of the bar
    // Only while the stream is shared: where, and how many take it.
    panel2 = new QLabel(this);
    ui->StatusBar->addPermanentWidget(panel2);
    panel2->hide();
    // Only while received bytes are recorded: to which file.
    panel3 = new QLabel(this);
    ui->StatusBar->addPermanentWidget(panel3);
    panel3->hide();

    Timer = new QTimer(this);
    Timer->setObjectName("Timer");
    Timer->setInterval(kPollIntervalMs);

    logFileName.clear();
    FitFormToControls(this);

    // Centred on the screen, never left of or above its corner.
    if (const QScreen* s = screen() != nullptr ? screen() : QGuiApplication::primaryScreen()) {
        const QRect sg = s->geometry();
        int left = (sg.width() - frameGeometry().width()) / 2;
        int top = (sg.height() - frameGeometry().height()) / 2;
        move(sg.x() + (left < 0 ? 0 : left), sg.y() + (top < 0 ? 0 : top));
    }

    messageCount = 0;
    // Lay the window out now so the memo has its real size, then fix the line limit
    // for the whole run.
    ensurePolished();
    if (layout() != nullptr)
        layout()->activate();
    memoLineLimit = VisibleLineCount(ui->Memo);
    loggingOn = false;
    UpdateLoggingPanel();

    connect(Timer, &QTimer::timeout, this, &TFormMain::TimerTimer);
    connect(ui->MenuFileLogging, &QAction::triggered, this, &TFormMain::MenuFileLoggingClick);
    connect(ui->MenuFileExit, &QAction::triggered, this, &TFormMain::MenuFileExitClick);
    connect(ui->MenuFileRecordRaw, &QAction::triggered, this, &TFormMain::MenuFileRecordRawClick);
    connect(ui->MenuFileReplay, &QAction::triggered, this, &TFormMain::MenuFileReplayClick);
    connect(ui->MenuFileReplayPause, &QAction::triggered, this,
            &TFormMain::MenuFileReplayPauseClick);
    connect(ui->MenuFileReplayStop, &QAction::triggered, this, &TFormMain::MenuFileReplayStopClick);
    connect(ui->MenuFileSpeed1, &QAction::triggered, this, &TFormMain::MenuFileSpeed1Click);
    connect(ui->MenuFileSpeed2, &QAction::triggered, this, &TFormMain::MenuFileSpeed2Click);
    connect(ui->MenuFileSpeed10, &QAction::triggered, this, &TFormMain::MenuFileSpeed10Click);
    connect(ui->MenuFileSpeedMax, &QAction::triggered, this, &TFormMain::MenuFileSpeedMaxClick);
    ShowReplayControls();
    connect(ui->MenuPortConfigure, &QAction::triggered, this, &TFormMain::MenuPortConfigureClick);
    connect(ui->MenuPortClose, &QAction::triggered, this, &TFormMain::MenuPortCloseClick);
    connect(ui->MenuPortShare, &QAction::triggered, this, &TFormMain::MenuPortShareClick);
    connect(ui->MenuRcvrPort, &QAction::triggered, this, &TFormMain::MenuRcvrPortClick);
    connect(ui->MenuLoad, &QAction::triggered, this, &TFormMain::MenuLoadClick);
    connect(ui->MenuRcvrStatus, &QAction::triggered, this, &TFormMain::MenuRcvrStatusClick);
    connect(ui->MenuHelpContents, &QAction::triggered, this, &TFormMain::MenuHelpContentsClick);
    connect(ui->MenuHelpAbout, &QAction::triggered, this, &TFormMain::MenuHelpAboutClick);

    // The port manager refreshes panel 0 through this window from now on, and the other
    // windows reach it through its link.
    SetPortChangedHook([this] { UpdatePortPanel(); });
    MainWindow = this;
    Timer->start();
}

TFormMain::~TFormMain() {
    if (MainWindow == this)
        MainWindow = nullptr;
    SetPortChangedHook({});
    if (logFile != nullptr)
        std::fclose(logFile);
}

void TFormMain::SetPolling(bool running) {
    if (running)
        Timer->start();
    else
        Timer->stop();
}

// ---------------------------------------------------------------------------------------
// Status panels

void TFormMain::UpdatePortPanel() {
    if (FormPort != nullptr)
        FormPort->BaudRate = static_cast<std::uint32_t>(PortBaudRate);
    if (replay != nullptr && CommPort.Source() == replay) {
        const std::uint64_t size = replay->Size();
        const int percent =
            size == 0 ? 100 : static_cast<int>(replay->Position() * 100 / size);
        panel0->setText("Replay: " + ShortName(replayFileName) + " " + QString::number(percent) +
                        " %" + (replay->Paused() ? " (paused)" : ""));
        panel0->setToolTip(replayFileName);
        return;
    }
    panel0->setToolTip(QString());
    // A network port whose rate is its server's says so: the rate shown is only what the
    // program assumes.
    panel0->setText(QString::fromStdString(PortDeviceName) + " : " + QString::number(PortBaudRate) +
                    (CommPort.IsOpen() && CommPort.RateFixed() ? " (fixed by the server)" : "") +
                    " : " + (CommPort.IsOpen() ? "Open" : "Closed"));
}

void TFormMain::UpdateLoggingPanel() {
    QString text = "Logging: ";
    if (loggingOn)
        text += "\" " + ShortName(logFileName) + " \"";
    else
        text += "none";
    panel1->setText(text);
}

QString TFormMain::PanelText(int index) const {
    if (index == 0)
        return panel0->text();
    if (index == 1)
        return panel1->text();
    return {};
}

// ---------------------------------------------------------------------------------------
// Receive monitor

void TFormMain::AddMemoLine(const QString& text) {
    // Within a tick the lines are collected and shown together at its end, so the
    // memo is laid out and repainted once per tick however many lines arrived; of a
    // tick's lines only those the memo keeps are kept (a fast replay brings thousands).
    pendingLines.append(TimedText(text));
    if (memoLineLimit > 0 && pendingLines.size() > memoLineLimit)
        pendingLines.removeFirst();
    if (!receiving)
        FlushMemoLines();
}

void TFormMain::FlushMemoLines() {
    if (pendingLines.isEmpty())
        return;
    AddLimitedLines(pendingLines, ui->Memo, memoLineLimit);
    pendingLines.clear();
}

void TFormMain::TimerTimer() {
    // A recipient that opened a modal window inside a tick lets ticks run inside it;
    // those must not read over the block that the outer tick is still working through.
    if (!receiving && CommPort.IsOpen()) {
        receiving = true;
        if (replay != nullptr && CommPort.Source() == replay)
            PollPortMany(CommPort, DiagFramer, LineFramer, RxBuffer, *this, kReplayTickBytes);
        else
            PollPort(CommPort, DiagFramer, LineFramer, RxBuffer, *this);
        FlushMemoLines();
        receiving = false;
    }
    if (replay != nullptr)
        CheckReplay();
    if (share.Running()) {
        share.Service();
        UpdateSharePanel();
    }
    if (FormPort != nullptr)
        FormPort->CheckSearch();
}

void TFormMain::FrameReceived(const std::uint8_t* frame, std::size_t length) {
    HandleBinaryMessage(frame, length);
}

void TFormMain::LineReceived(const std::uint8_t* line, std::size_t length) {
    HandleTextLine(line, length);
}

void TFormMain::BytesReceived(const std::uint8_t* data, std::size_t length) {
    share.BytesReceived(data, length);
    if (!recorder.Recording())
        return;
    recorder.Write(data, length);
    std::string failure;
    if (recorder.TakeFailure(failure)) {
        PostNote(QString::fromLocal8Bit(failure.c_str()));
        UpdateRecordPanel();
    }
}

void TFormMain::PortHungUp() {
    NotifyPortChanged();
}

void TFormMain::HandleBinaryMessage(const std::uint8_t* frame, std::size_t length) {
    traffic.CountFrame(frame, length);
    messageCount = traffic.MessageCount();
    lastMessageId = traffic.LastMessageId();
    AddMemoLine(QString::fromStdString(FrameDisplayText(lastMessageId)));
    FlushMemoLines(); // the recipient may open a window; the memo is up to date by then
    DispatchMsg(frame, static_cast<int>(length));
}

void TFormMain::HandleTextLine(const std::uint8_t* line, std::size_t length) {
    std::string_view sentence;
    if (!traffic.CountLine(line, length, sentence))
        return;
    messageCount = traffic.MessageCount();
    AddMemoLine(DisplayText(sentence));
    share.SentenceReceived(sentence);
    if (loggingOn)
        WriteLogLine(sentence);
    if (FormStatus != nullptr)
        FormStatus->AddSentence(line, length);
}

// ---------------------------------------------------------------------------------------
// Logging

void TFormMain::WriteLogLine(std::string_view text) {
    if (logFile == nullptr)
        return;
    errno = 0;
    if (!WriteSentenceLog(logFile, text))
        LoggingFailed(QStringLiteral("Error writing log file "), errno);
}

bool TFormMain::StartLogging(const QString& path) {
    if (loggingOn)
        StopLogging();
    logFileName = path;
    if (path.isEmpty()) {
        UpdateLoggingPanel();
        return false;
    }
    errno = 0;
#ifdef _WIN32
    // By its UTF-16 name: any file name the user can choose opens.
    std::FILE* file = _wfopen(reinterpret_cast<const wchar_t*>(path.utf16()), L"wb");
#else
    const QByteArray name = QFile::encodeName(path);
    std::FILE* file = std::fopen(name.constData(), "wb"); // created or emptied
#endif
    if (file == nullptr) {
        LoggingFailed(QStringLiteral("Error opening log file "), errno);
        return false;
    }
    logFile = file;
    loggingOn = true;
    ui->MenuFileLogging->setText("Close &log");
    UpdateLoggingPanel();
    return true;
}

void TFormMain::StopLogging() {
    std::FILE* file = logFile;
    logFile = nullptr;
    loggingOn = false;
    ui->MenuFileLogging->setText("&Logging");
    UpdateLoggingPanel();
    if (file != nullptr && std::fclose(file) != 0) {
        PostNote("Error closing log file " + ShortName(logFileName) + "\n" +
                 SystemErrorText(errno));
    }
}

void TFormMain::LoggingFailed(const QString& what, int err) {
    if (logFile != nullptr)
        std::fclose(logFile); // what it still buffers is lost anyway
    logFile = nullptr;
    loggingOn = false;
    ui->MenuFileLogging->setText("&Logging");
    UpdateLoggingPanel();
    QString text = what + ShortName(logFileName);
    if (err != 0)
        text += "\n" + SystemErrorText(err);
    text += "\nLogging is off.";
    PostNote(text);
}

void TFormMain::PostNote(const QString& text) {
    // The note is modal; it opens once the current handler (often a timer tick that is
    // still feeding the framers) has returned, so nothing runs inside half-done work.
    QMetaObject::invokeMethod(
        this,
        [this, text] {
            if (FormNote != nullptr)
                FormNote->ShowNote(OuterRect(*this), text);
        },
        Qt::QueuedConnection);
}

void TFormMain::MenuFileLoggingClick() {
    if (loggingOn) {
        StopLogging();
    } else {
        const QString path = QFileDialog::getSaveFileName(
            this, QString(), QString(), QString(), nullptr, QFileDialog::DontConfirmOverwrite);
        if (!path.isEmpty())
            StartLogging(path);
    }
    UpdateLoggingPanel();
}

// ---------------------------------------------------------------------------------------
// Showing, closing and the menus

void TFormMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TFormMain::FormShow() {
    if (FormAbout != nullptr)
        FormAbout->ShowSplash(OuterRect(*this));
}

void TFormMain::closeEvent(QCloseEvent* event) {
    // The window is disabled while software is being loaded, but a close request from
    // the window manager still arrives: closing the port then would leave the
    // receiver's flash half written. The load ends first (done, timeout or cancel).
    if (FormLoadSetup != nullptr && FormLoadSetup->LoadRunning()) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
    emit FormClosed();
}

void TFormMain::FormClose() {
    CommPort.Close();
}

void TFormMain::MenuFileExitClick() {
    close();
}

void TFormMain::MenuPortConfigureClick() {
    if (FormPort != nullptr)
        FormPort->ShowOver(OuterRect(*this));
}

void TFormMain::MenuPortShareClick() {
    if (share.Running()) {
        StopSharing();
        return;
    }
    bool given = false;
    const QString address = QInputDialog::getText(
        this, QStringLiteral("Share on TCP"),
        QStringLiteral("Other programs connect to this address and receive the receiver's\n"
                       "sentences as they arrive. [HOST:]PORT, loopback unless a host is given:"),
        QLineEdit::Normal, QStringLiteral("10110"), &given);
    if (given)
        StartSharing(address);
}

bool TFormMain::StartSharing(const QString& address) {
    SocketError error;
    if (!share.Start(address.trimmed().toStdString(), StreamShare::Content::Sentences, error)) {
        PostNote("Cannot share on " + address + "\n" + QString::fromStdString(error.text));
        return false;
    }
    ui->MenuPortShare->setText(QStringLiteral("Stop &sharing"));
    UpdateSharePanel();
    return true;
}

void TFormMain::StopSharing() {
    share.Stop();
    ui->MenuPortShare->setText(QStringLiteral("&Share on TCP..."));
    UpdateSharePanel();
}

void TFormMain::UpdateSharePanel() {
    if (!share.Running()) {
        panel2->hide();
        return;
    }
    const QString text = "Sharing on " + QString::fromStdString(share.Address()) + " (" +
                         QString::number(share.Clients()) +
                         (share.Clients() == 1 ? " client)" : " clients)");
    if (panel2->text() != text)
        panel2->setText(text);
    panel2->show();
}

void TFormMain::MenuPortCloseClick() {
    CommPort.Close();
    UpdatePortPanel();
}

void TFormMain::MenuRcvrPortClick() {
    if (FormRcvrPort != nullptr)
        FormRcvrPort->ShowOver(OuterRect(*this));
}

void TFormMain::MenuLoadClick() {
    if (FormLoadSetup != nullptr)
        FormLoadSetup->ShowOver(OuterRect(*this));
}

void TFormMain::MenuRcvrStatusClick() {
    if (FormStatus != nullptr)
        FormStatus->ShowOver(OuterRect(*this));
}

void TFormMain::MenuHelpContentsClick() {
    if (FormHelp != nullptr)
        FormHelp->ShowOver(OuterRect(*this));
}

void TFormMain::MenuHelpAboutClick() {
    if (FormAbout != nullptr)
        FormAbout->ShowOver(OuterRect(*this));
}

// ---------------------------------------------------------------------------------------
// Raw recording

bool TFormMain::StartRecording(const QString& path) {
    StopRecording();
    if (path.isEmpty())
        return false;
    std::string error;
    const std::string name = FileNameBytes(path);
    if (!recorder.Start(name, error)) {
        PostNote("Error opening raw recording " + ShortName(path) + "\n" +
                 QString::fromStdString(error));
        return false;
    }
    recordFileName = path;
    ui->MenuFileRecordRaw->setText(QStringLiteral("Stop &Raw Recording"));
    UpdateRecordPanel();
    return true;
}

void TFormMain::StopRecording() {
    if (recorder.Recording())
        recorder.Stop();
    std::string failure;
    if (recorder.TakeFailure(failure)) // the file could not be closed whole
        PostNote(QString::fromLocal8Bit(failure.c_str()));
    UpdateRecordPanel();
}

void TFormMain::UpdateRecordPanel() {
    if (!recorder.Recording()) {
        ui->MenuFileRecordRaw->setText(QStringLiteral("Record &Raw Data..."));
        panel3->hide();
        return;
    }
    panel3->setText("Recording: \" " + ShortName(recordFileName) + " \"");
    panel3->show();
}

void TFormMain::MenuFileRecordRawClick() {
    if (recorder.Recording()) {
        StopRecording();
        return;
    }
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Record Raw Data"));
    if (!path.isEmpty())
        StartRecording(path);
}

// ---------------------------------------------------------------------------------------
// Replay

bool TFormMain::StartReplay(const QString& path) {
    if (path.isEmpty())
        return false;
    if ((FormLoadSetup != nullptr && FormLoadSetup->LoadRunning()) ||
        (FormPort != nullptr && FormPort->Searching())) {
        PostNote(QStringLiteral("The port is busy: a replay can start once the search or the "
                                "load has ended."));
        return false;
    }
    std::string error;
    const std::string name = FileNameBytes(path);
    std::unique_ptr<ReplayFile> file = ReplayFile::Open(name, *clock, error);
    if (!file) {
        PostNote(QString::fromStdString(error));
        return false;
    }
    file->SetSpeed(replaySpeed);
    ReplayFile* opened = file.get();
    CommPort.Close(); // the receiver's port, or the replay before this one
    replay = nullptr;
    if (!CommPort.OpenSource(std::move(file), name.c_str())) {
        PostNote("Cannot replay " + ShortName(path) + "\n" +
                 QString::fromLocal8Bit(CommPort.errorText()));
        ShowReplayControls();
        NotifyPortChanged();
        return false;
    }
    replay = opened;
    replayFileName = path;
    ShowReplayControls();
    NotifyPortChanged();
    return true;
}

void TFormMain::StopReplay() {
    if (replay == nullptr)
        return;
    if (CommPort.Source() == replay)
        CommPort.Close();
    replay = nullptr;
    ShowReplayControls();
    NotifyPortChanged();
}

void TFormMain::CheckReplay() {
    // The port taken over (Open Port, Port > Close) or the file unreadable: the replay
    // is over. Its end: every byte through the receive step.
    if (CommPort.Source() != replay || replay->Finished()) {
        StopReplay();
        return;
    }
    UpdatePortPanel();
}

void TFormMain::SetReplaySpeed(double speed) {
    replaySpeed = speed;
    if (replay != nullptr)
        replay->SetSpeed(speed);
    ShowReplayControls();
}

void TFormMain::SetReplayPaused(bool paused) {
    if (replay == nullptr)
        return;
    replay->SetPaused(paused);
    ShowReplayControls();
    UpdatePortPanel();
}

void TFormMain::ShowReplayControls() {
    const bool on = replay != nullptr;
    ui->MenuFileReplayPause->setEnabled(on);
    ui->MenuFileReplayStop->setEnabled(on);
    ui->MenuFileReplayPause->setText(on && replay->Paused() ? QStringLiteral("Res&ume Replay")
                                                            : QStringLiteral("Pa&use Replay"));
    ui->MenuFileSpeed1->setChecked(replaySpeed == 1.0);
    ui->MenuFileSpeed2->setChecked(replaySpeed == 2.0);
    ui->MenuFileSpeed10->setChecked(replaySpeed == 10.0);
    ui->MenuFileSpeedMax->setChecked(replaySpeed == 0.0);
    // Nothing talks to the receiver while a recording stands in for it.
    ui->MenuLoad->setEnabled(!on);
    if (on && FormLoadSetup != nullptr && !FormLoadSetup->LoadRunning())
        FormLoadSetup->hide();
    if (FormRcvrPort != nullptr)
        FormRcvrPort->SetApplyAvailable(!on);
}

void TFormMain::MenuFileReplayClick() {
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Replay a recording"), QString(),
        QStringLiteral("Recordings and logs (*.raw *.log *.nmea *.txt);;All files (*)"));
    if (!path.isEmpty())
        StartReplay(path);
}

void TFormMain::MenuFileReplayPauseClick() {
    if (replay != nullptr)
        SetReplayPaused(!replay->Paused());
}

void TFormMain::MenuFileReplayStopClick() {
    StopReplay();
}

void TFormMain::MenuFileSpeed1Click() {
    SetReplaySpeed(1.0);
}

void TFormMain::MenuFileSpeed2Click() {
    SetReplaySpeed(2.0);
}

void TFormMain::MenuFileSpeed10Click() {
    SetReplaySpeed(10.0);
}

void TFormMain::MenuFileSpeedMaxClick() {
    SetReplaySpeed(0.0);
}
