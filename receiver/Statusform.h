#pragma once
// The Receiver Status window: the receiver's fix as its NMEA sentences tell it (time,
// fix quality and mode, satellites, precision, position, altitude, speed and course,
// differential corrections) and a plot of how the last 600 fixes scatter about their
// mean, with their CEP50 and CEP95 circles and sigmas.
//
// The main window gives it every $GP line it accepts (AddSentence). Decoding happens
// then, shown or not, so the window is current the moment it opens; drawing happens
// only while it is shown, on the window's own once-a-second timer, which runs only
// while the window is visible: a tick with nothing new costs nothing, and the values
// and the plot are brought up to date at most once a tick (and at once when the window
// opens or is cleared). Redrawing at every 100 ms poll instead would cost about a
// percentage point of a core under a full stream, for changes no one can read that
// fast. When no GGA or RMC has arrived for 3 s the window says "No data for N s" and
// greys the values, which are no longer current.
//
// Export writes the fixes since the history was started (the latest kTrackCapacity
// epochs: a day at one fix a second) as a GPX track or a CSV table, chosen by the
// file's suffix; Clear starts that afresh too.
//
// The link's health is kept here as well, fed by the receive path shown or not: the
// counts and rates of everything received (LinkStats), the alerts (AlertMonitor, whose
// time conditions the main window's poll checks), and the last ten minutes of the fix
// for the strip charts. Statistics... shows them (receiver/Statisticsform.h); the
// alerts that hold are shown in red beside the data state.
//
// Created once at start-up, shown modelessly over the main window (centred on its
// first showing, then where the user left it), hidden by Close or the close box.

#include <QPointF>
#include <QString>
#include <QWidget>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "proto/Alerts.h"
#include "proto/Epochs.h"
#include "proto/Linkstats.h"
#include "proto/Striphistory.h"
#include "proto/Fixstatus.h"
#include "ui/Windowrect.h"

class Clock;
class QPainter;
class QTimer;

namespace Ui {
class TFormStatus;
}

class TFormStatus : public QWidget {
    Q_OBJECT
public:
    explicit TFormStatus(QWidget* parent = nullptr);
    ~TFormStatus() override;

    // Shows the window modelessly, placed over rect on its first showing only.
    void ShowOver(const WindowRect& rect);
    // One $GP line as the main window accepted it, with or without its CR LF.
    void AddSentence(const std::uint8_t* line, std::size_t length);
    // Everything the receive path delivers, for the counts: each block read, each frame
    // (from its "$"), each line (with its CR LF) whether a sentence or not.
    void BytesReceived(std::size_t length);
    void FrameReceived(const std::uint8_t* frame, std::size_t length);
    void LineReceived(const std::uint8_t* line, std::size_t length);
    // The alerts' time conditions, on every poll while a port is open; true when the
    // alerts that hold changed. ResetAlerts starts the watching afresh (a port opened)
    // and ends every alert (a port closed: nothing to watch).
    bool CheckAlerts();
    void ResetAlerts();
    const LinkStats& Link() const { return link; }
    const AlertMonitor& Alerts() const { return alerts; }
    const StripHistory& Strip() const { return strip; }
    Clock& StatusClock() const { return *clock; }

    // The clock of the arrival times and of "No data" (tests give a FakeClock).
    void SetClock(Clock& clock);

    const FixStatus& Status() const { return status; }
    // The statistics the window shows now (as of its latest tick).
    const DeviationHistory::Stats& ShownStats() const { return stats; }
    // How often the plot has been drawn since construction.
    int PlotDraws() const { return plotDraws; }
    // The epochs an export writes.
    static constexpr std::size_t kTrackCapacity = 86'400;
    const EpochCollector& Track() const { return track; }
    // Writes the track to path without asking: GPX when its name ends in .gpx, CSV
    // otherwise. False, with the reason in error, when it cannot be written.
    bool ExportTo(const QString& path, QString& error);

    // Handlers.
    void TimerTimer();
    void ButtonClearClick();
    void ButtonCloseClick();
    void ButtonExportClick();
    void ButtonStatisticsClick();

    // Runs while the window is shown, once a second.
    QTimer* Timer = nullptr;
    bool Positioned = false;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowValues();
    void ShowDataState(std::int64_t now);
    void DrawPlot(QPainter& painter);

    std::unique_ptr<Ui::TFormStatus> ui;
    FixStatus status;
    EpochCollector track{kTrackCapacity};
    LinkStats link;
    AlertMonitor alerts;
    StripHistory strip;
    std::uint64_t shownEvents = 0; // alert events shown, of all since the last reset
    DeviationHistory::Stats stats;
    Clock* clock = nullptr;
    bool dirty = true;          // sentences arrived since the values were last shown
    bool shownStale = false;    // what the state line says now
    std::int64_t shownSeconds = -1;
    int plotDraws = 0;
    std::array<QPointF, DeviationHistory::kCapacity> points; // the plot's, kept to draw without allocating
};

extern TFormStatus* FormStatus;
