#pragma once
// Shared pieces of the application shell's tests: a pseudo-terminal standing in for
// the receiver's line, the program's windows created as at start-up, a driver that
// answers the modal windows a test provokes, and an independent reading of a byte
// stream that says what the main window must show and log.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>
#include <cstdint>
#include <string>
#include <vector>

class QPlainTextEdit;
class QTimer;

#ifndef _WIN32
// A pseudo-terminal: the main window's port opens the slave, the test is the receiver
// on the master.
class PtyPeer {
public:
    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    bool ok() const { return master_ >= 0 && !slave_.empty(); }
    const std::string& SlavePath() const { return slave_; }
    // Writes as much of [data, data + n) as the line takes now; returns how much.
    std::size_t WriteSome(const std::uint8_t* data, std::size_t n);
    // Writes all of bytes, waiting for room when the line is full.
    void Write(const std::vector<std::uint8_t>& bytes);
    void Write(const std::string& text);

private:
    int master_ = -1;
    std::string slave_;
};
#endif

// Every window of the program, created in the start-up order with the port manager's
// state reset, and destroyed again. The main window's own poll is stopped: tests call
// TimerTimer themselves unless they start it.
class AppWindows {
public:
    AppWindows();
    ~AppWindows();
    AppWindows(const AppWindows&) = delete;
    AppWindows& operator=(const AppWindows&) = delete;
};

// Opens the program's port on path (non-blocking reads) and has the panel show it.
bool OpenMainPort(const std::string& path, std::uint32_t rate = 19200);

QPlainTextEdit* MainMemo();
// The memo's lines, oldest first.
QStringList MemoLines();
// The text of a memo line after its "HH:MM:SS: " stamp; empty and ok false when the
// line does not begin with a stamp.
QString Unstamped(const QString& line, bool* ok);
// MemoLines without their stamps (each line checked to carry one).
QStringList MemoTexts();

// Runs main window ticks while feeding data into the peer, until the main window's
// message count has grown by expectedMessages and the line stays quiet, or timeoutMs
// passes. Returns the growth of the count.
#ifndef _WIN32
int PumpTicks(PtyPeer& peer, const std::vector<std::uint8_t>& data, int expectedMessages,
              int timeoutMs = 10000);
#endif
// A few ticks spread over waitMs, to collect whatever is still on the way.
void SettleTicks(int waitMs = 60);

std::vector<std::uint8_t> ReadFileBytes(const std::string& path);
std::vector<std::uint8_t> Bytes(const std::string& text);
// A binary frame with id and payload, CRC and CR LF, as the receiver sends it.
std::vector<std::uint8_t> Frame(std::uint8_t id, const std::vector<std::uint8_t>& payload);

// What the main window must show, log and count: the memo texts in order ("Proprietary
// ID n" or the sentence as displayed) and the log file's exact contents.
struct ExpectedOutput {
    QStringList shown;
    std::string log;
    int messages = 0;
};
// For a stream that carries no binary frame of ours, from the log it must produce
// (checked-in expectations of the captures): every logged sentence shown and counted.
ExpectedOutput ExpectFromLog(const std::string& log);
// For a stream of whole, well-formed messages one after the other, as the simulated
// receiver sends them on a clean line: a message beginning "$x" is a frame whose length
// byte says where it ends; anything else is a text line up to CR LF, shown and logged
// when it begins "$GP".
ExpectedOutput ExpectFromMessages(const std::vector<std::uint8_t>& sent);
// How the memo shows a sentence's bytes (printable ASCII kept, anything else U+FFFD).
QString ShownText(const std::string& sentence);

// Answers the modal windows that open while it lives: a note is read and closed
// with OK; a file dialog is given fileAnswer (a null string cancels it).
class ModalDriver : public QObject {
    Q_OBJECT
public:
    ModalDriver();
    ~ModalDriver() override;
    QStringList notes;
    QString fileAnswer;
    int fileDialogs = 0;

private:
    void Poll();
    QTimer* timer_;
};

// Waits, processing events, until pred holds or timeoutMs passes.
template <typename Pred> bool WaitFor(Pred pred, int timeoutMs = 3000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!pred()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

// A fresh path in the test's own temporary directory.
std::string TempPath(const std::string& name);
