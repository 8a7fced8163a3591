#include "loader/Loadsetupform.h"

#include "ui_Loadsetupform.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QFont>
#include <QStyle>
#include <QTimer>
#include <cstring>

#include "connect/Portform.h"
#include "proto/Memoutils.h"
#include "proto/Port.h"
#include "receiver/Rcvrportform.h"
#include "ui/Helpform.h"
#include "ui/Mainlink.h"
#include "ui/Memoutils.h"

TFormLoadSetup* FormLoadSetup = nullptr;

// Software files of the receiver's engine are named 300*.gst or qx*.gst.
const char* const TFormLoadSetup::kOpenDialogFilter =
    "Kestrane Software (*.gst) (300*.gst qx*.gst QX*.gst)";

namespace {

constexpr int kRestIntervalMs = 1000;
constexpr int kLoadIntervalMs = 1;

} // namespace

TFormLoadSetup::TFormLoadSetup(QWidget* parent)
    // Minimise and maximise, no close box: a load must not be walked away from.
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowMinMaxButtonsHint),
      ui(new Ui::TFormLoadSetup), session_(CommPort, SystemClock(), *this) {
    ui->setupUi(this);

    QFont warning = ui->PanelDoNotClose->font();
    warning.setPixelSize(16);
    warning.setBold(true);
    ui->PanelDoNotClose->setFont(warning);
    ui->PanelDoNotClose->hide();
    ui->ButtonSoftwareFile->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));

    OpenDialog = new QFileDialog(this, QStringLiteral("Open"));
    OpenDialog->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog->setFileMode(QFileDialog::ExistingFile);
    OpenDialog->setOption(QFileDialog::HideNameFilterDetails, true);
    OpenDialog->setSizeGripEnabled(true);

    Timer = new QTimer(this);
    Timer->setInterval(kRestIntervalMs);
    connect(Timer, &QTimer::timeout, this, &TFormLoadSetup::TimerTimer);
    Timer->start();

    connect(ui->ButtonSoftwareFile, &QToolButton::clicked, this,
            &TFormLoadSetup::ButtonSoftwareFileClick);
    connect(ui->ButtonLoad, &QPushButton::clicked, this, &TFormLoadSetup::ButtonLoadClick);
    connect(ui->ButtonDone, &QPushButton::clicked, this, &TFormLoadSetup::ButtonDoneClick);
    connect(ui->ButtonRequest, &QPushButton::clicked, this, &TFormLoadSetup::ButtonRequestClick);
    connect(ui->ButtonHelp, &QPushButton::clicked, this, &TFormLoadSetup::ButtonHelpClick);
}

TFormLoadSetup::~TFormLoadSetup() = default;

void TFormLoadSetup::SetClock(Clock& clock, std::function<void(int)> pause) {
    session_.SetClock(clock, std::move(pause));
}

void TFormLoadSetup::ShowOver(const WindowRect& rect) {
    if (!Positioned) {
        move(CentreOver(rect, frameGeometry().width(), frameGeometry().height(), true));
        Positioned = true;
    }
    session_.Restart();
    ui->LabelVersion->setText(QStringLiteral("Not Known"));
    ui->PanelDoNotClose->hide();
    RequestStatus();
    OpenDialog->setNameFilter(QString::fromLatin1(kOpenDialogFilter));
    ShowStatus(QStringLiteral("None"));
    show();
    raise();
    activateWindow();
}

void TFormLoadSetup::ShowStatus(const QString& text) {
    AddLimitedLine(text, ui->Memo, 1);
    emit StatusShown(text);
}

QString TFormLoadSetup::StatusText() const {
    return ui->Memo->toPlainText();
}

QString TFormLoadSetup::VersionText() const {
    return ui->LabelVersion->text();
}

void TFormLoadSetup::RequestStatus() {
    session_.RequestStatus();
}

std::uint32_t TFormLoadSetup::OutputsRate() const {
    return FormPort != nullptr ? FormPort->BaudRate : static_cast<std::uint32_t>(PortBaudRate);
}

void TFormLoadSetup::SetMainPoll(bool running) {
    if (MainWindow != nullptr) {
        MainWindow->SetPolling(running);
    }
}

void TFormLoadSetup::SetMainWindowEnabled(bool enabled) {
    if (MainWindow != nullptr) {
        MainWindow->SetMainEnabled(enabled);
    }
    // The Open Port and Receiver Setup dialogs may be open beside this one; what they
    // would send or open must not cut into the loader's dialogue, so they wait too.
    if (FormPort != nullptr) {
        FormPort->setEnabled(enabled);
    }
    if (FormRcvrPort != nullptr) {
        FormRcvrPort->setEnabled(enabled);
    }
}

void TFormLoadSetup::SetStayOnTop(bool on) {
    // Changing the window's flags hides it; show it again where it was.
    const bool visible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, on);
    if (visible) {
        show();
    }
}

void TFormLoadSetup::ButtonLoadClick() {
    if (session_.Running()) {
        session_.Cancel();
        return;
    }
    FileName = ui->EditFileName->text();
    // Reads and checks the whole file; a file that cannot be sent as it stands shows
    // "Error opening file" and nothing starts.
    if (!session_.OpenFile(QFile::encodeName(FileName).toStdString())) {
        return;
    }
    // A search still running would take the port at its next attempt.
    if (FormPort != nullptr && FormPort->Searching()) {
        FormPort->SearchCancelClick();
    }
    session_.Begin(FormPort != nullptr ? FormPort->BaudRate : 19200);
}

void TFormLoadSetup::LoadStarted() {
    SetMainPoll(false);
    Timer->setInterval(kLoadIntervalMs);
    Timer->start();
    ui->ButtonLoad->setEnabled(false);
    ui->ButtonDone->setEnabled(false);
    ui->ButtonRequest->setEnabled(false);
    ui->PanelDoNotClose->show();
    ui->PanelDoNotClose->raise();
    SetMainWindowEnabled(false);
    SetStayOnTop(true);
}

void TFormLoadSetup::TimerTimer() {
    session_.Tick();
}

void TFormLoadSetup::EndLoad() {
    session_.EndLoad();
}

void TFormLoadSetup::LoadEnded() {
    SetMainPoll(true);
    Timer->stop();
    ui->ButtonLoad->setText(QStringLiteral("Load"));
    ui->ButtonLoad->setEnabled(true);
    ui->ButtonDone->setEnabled(true);
    ui->ButtonRequest->setEnabled(true);
    ui->PanelDoNotClose->hide();
    SetMainWindowEnabled(true);
    SetStayOnTop(false);
}

void TFormLoadSetup::PortRestored(LoadPortEnd) {
    // The main window's port panel shows whether the port is open again.
    NotifyPortChanged();
}

void TFormLoadSetup::OnConfigurationReport(const std::uint8_t* frame, int len) {
    ConfigurationReport report;
    if (!ReadConfigurationReport(frame, len, report)) {
        return; // another id, or too short to carry the fields read here
    }
    VersionMajor = report.versionMajor;
    VersionMinor = report.versionMinor;
    EngineStatus = report.engineLoadStatus;
    BinaryFlags = report.binaryFlags;
    NmeaFlags = report.nmeaFlags;
    std::memcpy(VersionSuffix, report.versionSuffix, sizeof VersionSuffix);
    VersionSuffix[3] = '\0';

    // The suffix is shown up to its first zero; a byte that is not a printable
    // character shows as "?".
    QString suffix;
    for (int i = 0; i < 3 && VersionSuffix[i] != '\0'; ++i) {
        const char c = VersionSuffix[i];
        suffix += (c >= 0x20 && c < 0x7F) ? QChar::fromLatin1(c) : QChar(u'?');
    }
    ui->LabelVersion->setText(
        QStringLiteral("%1.%2%3").arg(VersionMajor).arg(VersionMinor).arg(suffix));

    session_.OnReport(report);
}

void TFormLoadSetup::ButtonSoftwareFileClick() {
    const bool chosen =
        OpenDialog->exec() == QDialog::Accepted && !OpenDialog->selectedFiles().isEmpty();
    SoftwareFileChosen(chosen, chosen ? OpenDialog->selectedFiles().constFirst() : QString());
}

void TFormLoadSetup::SoftwareFileChosen(bool chosen, const QString& path) {
    if (chosen) {
        ui->EditFileName->setText(path);
        ui->ButtonLoad->setEnabled(true);
    }
    // The extension is checked here only; a path typed in is taken as it stands.
    if (ui->EditFileName->text().toLower().contains(QStringLiteral(".gst"))) {
        ui->ButtonLoad->setEnabled(true);
    } else {
        ui->EditFileName->setText(QStringLiteral("Invalid File Type"));
        ui->ButtonLoad->setEnabled(false);
    }
}

void TFormLoadSetup::ButtonDoneClick() {
    // Close is disabled while a load runs; a load is only ever ended by EndLoad.
    if (session_.Running()) {
        return;
    }
    Timer->stop();
    hide();
}

void TFormLoadSetup::ButtonRequestClick() {
    session_.RequestPressed();
}

void TFormLoadSetup::ButtonHelpClick() {
    if (FormHelp != nullptr) {
        FormHelp->ShowLoadingHelp(OuterRect(*this));
    }
}

void TFormLoadSetup::closeEvent(QCloseEvent* event) {
    // The window offers no close box, but a window manager may close it anyway: never
    // in the middle of a load, and otherwise as Close does.
    if (session_.Running()) {
        event->ignore();
        return;
    }
    ButtonDoneClick();
    event->accept();
}
