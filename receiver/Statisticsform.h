#pragma once
// Receiver Status › Statistics: is the link healthy. What the receive path counted
// (each sentence type and binary message, its count and rate over the last 10 s,
// lines refused by their checksum, lines that were not sentences, bytes a second, the
// time since the last byte), the last ten minutes of satellites used, HDOP, fix quality
// and age of corrections as strip charts on one time axis, and the alerts raised and
// ended, with their times.
//
// Everything shown is kept by the Receiver Status window, which the receive path feeds
// whether or not either window is shown; this window only draws it, on its own
// once-a-second timer, which runs only while it is visible.

#include <QPointF>
#include <QWidget>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "proto/Striphistory.h"
#include "ui/Windowrect.h"

class QPainter;
class QTimer;

namespace Ui {
class TFormStatistics;
}

class TFormStatistics : public QWidget {
    Q_OBJECT
public:
    explicit TFormStatistics(QWidget* parent = nullptr);
    ~TFormStatistics() override;

    // Shows the window modelessly, placed over rect on its first showing only.
    void ShowOver(const WindowRect& rect);
    // How often the charts have been drawn since construction.
    int ChartDraws() const { return chartDraws; }

    // Handlers.
    void TimerTimer();
    void ButtonCloseClick();

    QTimer* Timer = nullptr;
    bool Positioned = false;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void DrawCharts(QPainter& painter);

    std::unique_ptr<Ui::TFormStatistics> ui;
    std::uint64_t shownEvents = 0; // alert events shown, of all ever logged
    int chartDraws = 0;
    std::array<QPointF, StripHistory::kSeconds> points; // a strip's, kept to draw without allocating
};

extern TFormStatistics* FormStatistics;
