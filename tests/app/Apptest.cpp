#include "Apptest.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <fstream>
#include <iterator>

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>
#endif

#include "app/Mainform.h"
#include "app/Startup.h"
#include "proto/Memoutils.h"
#include "proto/Port.h"
#include "ui/Noteform.h"

#ifndef _WIN32
// ---------------------------------------------------------------------------------------
// PtyPeer

PtyPeer::PtyPeer() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0)
        return;
    if (grantpt(master_) != 0 || unlockpt(master_) != 0)
        return;
    if (const char* name = ptsname(master_))
        slave_ = name;
}

PtyPeer::~PtyPeer() {
    if (master_ >= 0)
        close(master_);
}

std::size_t PtyPeer::WriteSome(const std::uint8_t* data, std::size_t n) {
    if (n == 0)
        return 0;
    const ssize_t w = ::write(master_, data, n);
    return w > 0 ? static_cast<std::size_t>(w) : 0;
}

void PtyPeer::Write(const std::vector<std::uint8_t>& bytes) {
    std::size_t off = 0;
    while (off < bytes.size()) {
        const std::size_t w = WriteSome(bytes.data() + off, bytes.size() - off);
        off += w;
        if (w == 0) {
            pollfd p{master_, POLLOUT, 0};
            poll(&p, 1, 50);
        }
    }
}

void PtyPeer::Write(const std::string& text) {
    Write(Bytes(text));
}

// ---------------------------------------------------------------------------------------
// Windows and port

#endif

AppWindows::AppWindows() {
    CommPort.Close();
    DiagFramer.Reset();
    LineFramer.Reset();
    PortDeviceName.clear();
    PortBaudRate = 0;
    Recipients.clear();
    CreateWindows();
    FormMain->Timer->stop();
}

AppWindows::~AppWindows() {
    CommPort.Close();
    DestroyWindows();
    // The recipients point into windows that no longer exist.
    Recipients.clear();
}

bool OpenMainPort(const std::string& path, std::uint32_t rate) {
    if (!CommPort.Open(path.c_str(), rate, 0))
        return false;
    CommPort.SetBlocking(false);
    PortDeviceName = path;
    PortBaudRate = static_cast<std::int32_t>(rate);
    NotifyPortChanged();
    return true;
}

QPlainTextEdit* MainMemo() {
    return FormMain->findChild<QPlainTextEdit*>("Memo");
}

QStringList MemoLines() {
    const QString text = MainMemo()->toPlainText();
    if (text.isEmpty())
        return {};
    return text.split(QChar('\n'));
}

QString Unstamped(const QString& line, bool* ok) {
    static const QRegularExpression stamp("^\\d\\d:\\d\\d:\\d\\d: ");
    const QRegularExpressionMatch m = stamp.match(line);
    *ok = m.hasMatch();
    return *ok ? line.mid(m.capturedLength()) : QString();
}

QStringList MemoTexts() {
    QStringList out;
    for (const QString& line : MemoLines()) {
        bool ok = false;
        const QString text = Unstamped(line, &ok);
        out.append(ok ? text : QStringLiteral("<no time stamp> ") + line);
    }
    return out;
}

#ifndef _WIN32
int PumpTicks(PtyPeer& peer, const std::vector<std::uint8_t>& data, int expectedMessages,
              int timeoutMs) {
    const int start = FormMain->messageCount;
    std::size_t off = 0;
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (off < data.size())
            off += peer.WriteSome(data.data() + off, data.size() - off);
        FormMain->TimerTimer();
        if (off == data.size() && FormMain->messageCount - start >= expectedMessages)
            break;
        if (deadline.hasExpired())
            break;
        QThread::usleep(300);
    }
    SettleTicks();
    return FormMain->messageCount - start;
}

#endif

void SettleTicks(int waitMs) {
    for (int i = 0; i < 4; ++i) {
        QThread::msleep(static_cast<unsigned long>(waitMs / 4));
        FormMain->TimerTimer();
    }
}

// ---------------------------------------------------------------------------------------
// Bytes

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

std::vector<std::uint8_t> Frame(std::uint8_t id, const std::vector<std::uint8_t>& payload) {
    std::vector<std::uint8_t> out(kMaxFrameLen);
    const std::uint8_t n = BuildMsg(id, payload.data(), payload.size(), out.data());
    out.resize(n);
    return out;
}

QString ShownText(const std::string& sentence) {
    QString s;
    for (unsigned char c : sentence)
        s.append(c >= 0x20 && c < 0x7F ? QChar(c) : QChar(0xFFFD));
    return s;
}

ExpectedOutput ExpectFromLog(const std::string& log) {
    ExpectedOutput e;
    e.log = log;
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = log.find("\r\n", start);
        if (end == std::string::npos)
            end = log.size();
        e.shown.append(ShownText(log.substr(start, end - start)));
        ++e.messages;
        start = end + 2;
    }
    return e;
}

ExpectedOutput ExpectFromMessages(const std::vector<std::uint8_t>& sent) {
    ExpectedOutput e;
    std::size_t at = 0;
    while (at < sent.size()) {
        if (at + 3 < sent.size() && sent[at] == '$' && sent[at + 1] == 'x') {
            const std::size_t n = sent[at + 3];
            if (at + n > sent.size())
                break; // cut off by the end of the capture
            e.shown.append(QStringLiteral("Proprietary ID ") + QString::number(sent[at + 2]));
            ++e.messages;
            at += n;
            continue;
        }
        std::size_t end = at;
        while (end + 1 < sent.size() && !(sent[end] == '\r' && sent[end + 1] == '\n'))
            ++end;
        if (end + 1 >= sent.size())
            break;
        const std::string sentence(sent.begin() + static_cast<std::ptrdiff_t>(at),
                                   sent.begin() + static_cast<std::ptrdiff_t>(end));
        if (sentence.rfind("$GP", 0) == 0) {
            e.shown.append(ShownText(sentence));
            e.log += sentence + "\r\n";
            ++e.messages;
        }
        at = end + 2;
    }
    return e;
}

// ---------------------------------------------------------------------------------------
// Modal windows

ModalDriver::ModalDriver() : timer_(new QTimer(this)) {
    connect(timer_, &QTimer::timeout, this, &ModalDriver::Poll);
    timer_->start(5);
}

ModalDriver::~ModalDriver() = default;

void ModalDriver::Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr)
        return;
    if (auto* note = qobject_cast<TFormNote*>(modal)) {
        notes.append(note->findChild<QLabel*>("Label")->text());
        note->findChild<QAbstractButton*>("ButtonOK")->click();
    } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
        ++fileDialogs;
        if (fileAnswer.isNull()) {
            dialog->reject();
        } else {
            dialog->selectFile(fileAnswer);
            static_cast<QDialog*>(dialog)->accept(); // as the Save button does
        }
    }
}

std::string TempPath(const std::string& name) {
    static QTemporaryDir dir;
    static int serial = 0;
    return dir.path().toStdString() + "/" + std::to_string(++serial) + "-" + name;
}
