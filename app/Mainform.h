#pragma once
// The main window: the frame around everything else.
//
// It holds a read-only memo showing what the receiver sends, a status bar with the
// port's state (panel 0) and the logging state (panel 1), the menus that open the
// other windows, and the 100 ms timer that drives all reception. Each tick reads what
// the port holds (at most 1024 bytes, never waiting), feeds every byte first to the
// binary framer and then to the line framer, and handles each completed message
// before the next byte: a binary frame is counted, shown as "Proprietary ID <id>"
// and dispatched to its recipient; a text line is counted, shown and, while logging
// is on, written to the log file only if it begins with "$GP". The reading and framing
// is the PollPort step (proto/Pollport.h), for which this window is the sink. When the
// line hangs up (the adapter pulled out) that step closes the port and the port panel
// turns to "Closed"; logging carries on whenever a port delivers sentences again. Unless
// Port > Reopen After Unplug is switched off, the device is then watched by the name it
// was opened under and reopened at the same rate when it returns (connect/Reconnect.h),
// the status bar saying so; reception, the log file and the status window simply go on.
// A search or a load (which owns the port) ends the watch, as do Port > Close, a port
// opened by hand and the choice of another device or rate (even one that would not
// open); a replay that ends is never watched.
//
// The log file holds each such sentence exactly as received, byte for byte, ended by
// CR LF and flushed at once. A log file that cannot be opened, written or flushed is
// reported in a note and logging is switched off, so the panel never claims logging
// while nothing reaches the disk.
//
// Beside the log, File offers a raw recording (every byte the port delivers, frames
// included, flushed as written; a failed write ends the recording with a note, never the
// reception) and the replay of a recording. A replay stands where the port would: the
// port is closed, the file goes through the same receive step (several blocks a tick
// when it runs faster than the receiver would), panel 0 says "Replay: FILE" and how far
// it is, and what would talk to the receiver (Receiver Setup's Apply, Load Software) is
// not available until it ends. The memo shows at most its lines per tick however fast
// the replay runs.

// app/ is the top of the program: only the program itself and what tests or measures it
// as a whole may see it (the build gives them KESTRANE_APP_VISIBLE).
#ifndef KESTRANE_APP_VISIBLE
#error "app/ stands above every other folder: nothing below it may include it"
#endif

#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string_view>

#include "connect/Reconnect.h"
#include "proto/Pollport.h"
#include "proto/Rawrecord.h"
#include "proto/Replay.h"
#include "proto/Streamshare.h"
#include "proto/Traffic.h"
#include "ui/Mainlink.h"

class Clock;
class QCloseEvent;
class QLabel;
class QShowEvent;

namespace Ui {
class TFormMain;
}

class TFormMain : public QMainWindow, public MainLink, private PollSink {
    Q_OBJECT
public:
    explicit TFormMain(QWidget* parent = nullptr);
    ~TFormMain() override;

    // Panel 0: device, " : ", baud rate, " : ", "Open" or "Closed". Also copies the
    // port manager's rate into the Open Port dialog's BaudRate. Run by the port
    // manager's NotifyPortChanged.
    void UpdatePortPanel();
    // Panel 1: "Logging: " and the log file's name in quotes, or "none".
    void UpdateLoggingPanel();
    // The time-stamped line text at the bottom of the memo.
    void AddMemoLine(const QString& text);
    // Handle the frame / the line that the receive step has just completed (the frame
    // from its "$", the line with its CR LF); both are counted in the one traffic count.
    void HandleBinaryMessage(const std::uint8_t* frame, std::size_t length);
    void HandleTextLine(const std::uint8_t* line, std::size_t length);
    // Writes one sentence byte for byte and CR LF to the log file and flushes it.
    void WriteLogLine(std::string_view text);

    // Starts logging to path without asking (the Logging menu item runs the save
    // dialog and then this): the file is created or emptied. Returns false, with a
    // note shown and logging left off, when the file cannot be opened. An empty
    // path changes nothing.
    bool StartLogging(const QString& path);
    // Shares the receiver's sentences on address ("[HOST:]PORT", loopback unless a host
    // is given) without asking (the menu item asks, then this). False, with a note, when
    // the address cannot be taken. StopSharing ends it and drops the clients.
    bool StartSharing(const QString& address);
    void StopSharing();
    const StreamShare& Share() const { return share; }
    bool LoggingOn() const { return loggingOn; }

    // Records every received byte to path without asking (the menu item asks, then
    // this); the file is created or emptied. False, with a note, when it cannot be.
    bool StartRecording(const QString& path);
    void StopRecording();
    bool RecordingOn() const { return recorder.Recording(); }

    // Replays the recording at path without asking (the menu item asks, then this): the
    // port is closed and the file takes its place. False, with a note, when the file is
    // not a recording or a search or a load holds the port.
    bool StartReplay(const QString& path);
    void StopReplay();
    bool Replaying() const { return replay != nullptr; }
    const ReplayFile* Replay() const { return replay; }
    // 1 the recording's pace, 2, 10, or 0 as fast as possible; kept for the next replay.
    void SetReplaySpeed(double speed);
    void SetReplayPaused(bool paused);
    // The clock a replay is paced by and a returning device is tried by (tests give a
    // FakeClock).
    void SetClock(Clock& c) {
        clock = &c;
        reconnector.SetClock(c);
    }
    // Port > Reopen After Unplug: whether a port that hung up is reopened when its device
    // returns. Switching it off ends a watch under way.
    void SetReopen(bool on);
    bool ReopenOn() const { return reconnector.Enabled(); }
    // Whether a port that hung up is being watched for its device's return.
    bool WaitingForDevice() const { return reconnector.Watching(); }
    // Most lines the memo keeps, fixed when the window was built.
    int MemoLineLimit() const { return memoLineLimit; }

    // Text of status panel 0 or 1, or 4: the alerts that hold (empty when none).
    QString PanelText(int index) const;

    // Counted binary frames plus shown text lines since start (wraps, never resets),
    // and the id of the latest binary frame (0 before the first), as the traffic count
    // of the receive path has them. Read by the Open Port dialog's automatic search.
    std::int32_t messageCount = 0;
    std::int32_t lastMessageId = 0;

    // The 100 ms poll; the software loader stops it while it owns the port.
    QTimer* Timer = nullptr;

    // What the windows below ask of this one (ui/Mainlink.h).
    std::int32_t MessageCount() const override { return messageCount; }
    int LastMessageId() const override { return lastMessageId; }
    void SetPolling(bool running) override;
    void SetMainEnabled(bool enabled) override { setEnabled(enabled); }

    // Handlers.
    void TimerTimer();
    void MenuFileLoggingClick();
    void MenuFileRecordRawClick();
    void MenuFileReplayClick();
    void MenuFileReplayPauseClick();
    void MenuFileReplayStopClick();
    void MenuFileSpeed1Click();
    void MenuFileSpeed2Click();
    void MenuFileSpeed10Click();
    void MenuFileSpeedMaxClick();
    void MenuFileExitClick();
    void MenuPortConfigureClick();
    void MenuPortCloseClick();
    // Shares the receiver's sentences with TCP clients, or stops sharing.
    void MenuPortShareClick();
    void MenuPortReopenClick();
    void MenuRcvrPortClick();
    void MenuLoadClick();
    void MenuRcvrStatusClick();
    void MenuHelpContentsClick();
    void MenuHelpAboutClick();

signals:
    // The window has been closed by the user (close box or File > Exit); the
    // program ends.
    void FormClosed();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void FormShow();
    void FormClose();

    std::unique_ptr<Ui::TFormMain> ui;
    int memoLineLimit = 0;
    QString logFileName;
    std::FILE* logFile = nullptr;
    bool loggingOn = false;

private:
    // What each tick's PollPort step delivers, handed on to the handlers.
    void FrameReceived(const std::uint8_t* frame, std::size_t length) override;
    void LineReceived(const std::uint8_t* line, std::size_t length) override;
    // The port is already closed; the panel says so.
    void PortHungUp() override;
    void BytesReceived(const std::uint8_t* data, std::size_t length) override;
    void UpdateSharePanel();
    void UpdateRecordPanel();
    // The alerts that hold, in red, while any does.
    void UpdateAlertPanel();
    // A tick's step of the watch for a device that went away: ends it when the port was
    // taken otherwise, tells when it reopened the port.
    void CheckReopen();
    // A search or a load holds the port.
    bool PortBusy() const;
    // Ends the replay state once its file is through or the port was taken from it.
    void CheckReplay();
    void ShowReplayControls();

    void StopLogging();
    void LoggingFailed(const QString& what, int err);
    void PostNote(const QString& text);
    void FlushMemoLines();

    TrafficCount traffic;
    StreamShare share;
    QLabel* panel2 = nullptr; // the share, while there is one
    QLabel* panel3 = nullptr; // the raw recording, while there is one
    QLabel* panel4 = nullptr; // the alerts, while any holds
    bool alertsWatching = false; // a port was open at the last tick
    RawRecorder recorder;
    QString recordFileName;
    ReplayFile* replay = nullptr; // the port's source while a replay runs
    QString replayFileName;
    double replaySpeed = 1.0;
    Clock* clock = nullptr;
    Reconnector reconnector;
    QLabel* panel0 = nullptr;
    QLabel* panel1 = nullptr;
    bool receiving = false;
    QStringList pendingLines; // memo lines of the running tick, shown at its end
};

extern TFormMain* FormMain;
