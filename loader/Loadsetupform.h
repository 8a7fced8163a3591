#pragma once
// The Load Software dialog: loads new software into the receiver's GPS engine.
//
// It shows the software version the receiver reports, lets the user pick a software
// file (.gst) and runs the loading sequence (loader/Loadsequence.h) on the serial port.
// While a load runs the dialog owns the port alone: the main window's poll is stopped
// and the main window disabled, the dialog stays on top with its warning panel shown,
// and its 1 ms timer drives the sequence. Every end of a load, completed, timed out or
// cancelled, goes through EndLoad exactly once: the port back at its rate, the poll
// and the main window back, the receiver's outputs restored (with SYS on, so its
// status keeps coming) and its status asked for.
//
// The load itself, its end and the following of the GPS engine are the load session's
// (loader/Loadsession.h), of which this window is a view, as kestrane-cli is another.
// After a load the dialog follows the engine through the Configuration reports that
// the Receiver Setup dialog passes on; what each report shows and what is sent back is
// decided there, and this window only shows it. A completed load leads to "Downloading to GPS Engine", "Cycle Power Now"
// and, after the power cycle, Request brings "Done" and the new version.
//
// The load runs on the device that is open (the port manager's PortDeviceName), which
// after an automatic search need not be the one selected in the Open Port dialog. A
// search still running when Load is pressed is ended first, as the wait window's
// Cancel would, so its next attempt cannot take the port from under the load or close
// it after. A device that hangs up during a load ends it as a failed load; its end
// then closes the port rather than reopen a device that is gone.
//
// The only way to stop a load early is to pick a file again and press Load:
// "Cancelled".

#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>

#include "base/Clock.h"
#include "loader/Loadsession.h"
#include "ui/Windowrect.h"

class QCloseEvent;
class QFileDialog;
class QTimer;

namespace Ui {
class TFormLoadSetup;
}

class TFormLoadSetup : public QWidget, private LoadView {
    Q_OBJECT
public:
    explicit TFormLoadSetup(QWidget* parent = nullptr);
    ~TFormLoadSetup() override;

    // Shows the dialog modelessly; placed over rect on its first showing only. Starts
    // a fresh after-load dialogue and asks the receiver for its status.
    void ShowOver(const WindowRect& rect);
    // The status line: only the newest text is kept.
    void ShowStatus(const QString& text);
    // Output request for the Configuration report.
    void RequestStatus();
    // Closes the port if open and opens the device in use (PortDeviceName) at baudRate.
    // A failure shows "Error Changing Baud Rate"; a running load goes on regardless.
    void ReopenPort(std::uint32_t baudRate) { session_.ReopenPort(baudRate); }
    // The common end of every load; does nothing when no load runs.
    void EndLoad();
    // Report handler reached through the Receiver Setup dialog; acts on id 4 only.
    void OnConfigurationReport(const std::uint8_t* frame, int len);

    // Handlers.
    void ButtonSoftwareFileClick();
    void ButtonLoadClick();
    void ButtonDoneClick();
    void ButtonRequestClick();
    void ButtonHelpClick();
    void TimerTimer();

    // What ButtonSoftwareFileClick does once OpenDialog has returned: chosen tells
    // whether the user picked a file, path is the file. Tests choose files through it.
    void SoftwareFileChosen(bool chosen, const QString& path);

    // The clock of the load's waits; pause, if given, replaces the sleeps between
    // clock readings of the two blocking waits (a FakeClock is moved on there).
    void SetClock(Clock& clock, std::function<void(int milliseconds)> pause = {});

    // The open-file dialog of ButtonSoftwareFile and its filter.
    QFileDialog* OpenDialog = nullptr;
    static const char* const kOpenDialogFilter;
    // Drives the sequence: 1000 ms at rest (it then does nothing), 1 ms during a load.
    QTimer* Timer = nullptr;

    // For the windows and tests that watch the dialog.
    bool LoadRunning() const { return session_.Running(); }
    const LoadSequence& Sequence() const { return session_.Sequence(); }
    // The after-load dialogue the window shows; tests set it up through here.
    AfterLoadDialogue& AfterLoad() { return session_.AfterLoad(); }
    QString StatusText() const;
    QString VersionText() const;
    QString FileName; // the path taken from EditFileName at Load

    // From the last Configuration report.
    std::uint8_t VersionMajor = 0;
    std::uint8_t VersionMinor = 0;
    char VersionSuffix[4] = {};
    std::uint8_t EngineStatus = 0;
    std::uint32_t BinaryFlags = 0;
    std::uint32_t NmeaFlags = 0;

signals:
    // Every text the status line shows, in order.
    void StatusShown(const QString& text);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // The view of the load session.
    void ShowStatus(const char* text) override { ShowStatus(QString::fromLatin1(text)); }
    void ShowEngineStatus(const char* text) override { ShowStatus(QString::fromLatin1(text)); }
    void LoadStarted() override;
    void LoadEnded() override;
    void PortRestored(LoadPortEnd end) override;
    std::uint32_t OutputsRate() const override;

    void SetStayOnTop(bool on);
    void SetMainPoll(bool running);
    void SetMainWindowEnabled(bool enabled);

    std::unique_ptr<Ui::TFormLoadSetup> ui;
    bool Positioned = false;
    LoadSession session_;
};

extern TFormLoadSetup* FormLoadSetup;
