#include "receiver/Statisticsform.h"

#include <QEvent>
#include <QFontDatabase>
#include <QHideEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QShowEvent>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <sstream>

#include "base/Clock.h"
#include "proto/Alerts.h"
#include "proto/Linkstats.h"
#include "receiver/Statusform.h"
#include "ui/Scaleutils.h"
#include "ui_Statisticsform.h"

TFormStatistics* FormStatistics = nullptr;

namespace {

constexpr int kTickMs = 1000;

const QColor kLineColour(40, 70, 160);
const QColor kGridColour(225, 225, 225);

// One strip: its title, what it shows of a sample, and the least top of its scale.
struct Strip {
    const char* title;
    float StripHistory::Sample::*value;
    float leastTop;
};

const std::array<Strip, 4> kStrips = {{
    {"Satellites used", &StripHistory::Sample::satellites, 12.0f},
    {"HDOP", &StripHistory::Sample::hdop, 2.0f},
    {"Fix quality", &StripHistory::Sample::quality, 2.0f},
    {"Age of corrections (s)", &StripHistory::Sample::correctionAge, 10.0f},
}};

} // namespace

TFormStatistics::TFormStatistics(QWidget* parent)
    : QWidget(parent, Qt::Window), ui(new Ui::TFormStatistics) {
    ui->setupUi(this);
    FitFormToControls(this);
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    ui->MemoCounts->setFont(fixed);
    ui->MemoAlerts->setFont(fixed);
    ui->PaintBoxCharts->installEventFilter(this);
    ui->PaintBoxCharts->setAttribute(Qt::WA_OpaquePaintEvent);
    Timer = new QTimer(this);
    Timer->setObjectName(QStringLiteral("Timer"));
    Timer->setInterval(kTickMs);
    connect(Timer, &QTimer::timeout, this, &TFormStatistics::TimerTimer);
    connect(ui->ButtonClose, &QPushButton::clicked, this, &TFormStatistics::ButtonCloseClick);
}

TFormStatistics::~TFormStatistics() = default;

void TFormStatistics::ShowOver(const WindowRect& rect) {
    show();
    if (!Positioned) {
        move(CentreOver(rect, frameGeometry().width(), frameGeometry().height(), true));
        Positioned = true;
    }
    raise();
    activateWindow();
}

void TFormStatistics::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    shownEvents = 0;
    ui->MemoAlerts->clear();
    TimerTimer(); // current the moment it opens
    Timer->start();
}

void TFormStatistics::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    Timer->stop();
}

void TFormStatistics::TimerTimer() {
    if (!isVisible() || FormStatus == nullptr)
        return;
    const std::int64_t nowMs = FormStatus->StatusClock().Milliseconds();
    std::ostringstream counts;
    FormStatus->Link().WriteText(counts, nowMs);
    const QString text = QString::fromStdString(counts.str());
    if (ui->MemoCounts->toPlainText() != text) {
        const int scrolled = ui->MemoCounts->verticalScrollBar()->value();
        ui->MemoCounts->setPlainText(text);
        ui->MemoCounts->verticalScrollBar()->setValue(scrolled);
    }
    // The alert log grows at its end (dropping its oldest once full); only the events
    // new since the last tick are added. A log started afresh is shown afresh.
    const AlertMonitor& alerts = FormStatus->Alerts();
    const auto& log = alerts.Log();
    const std::uint64_t events = alerts.EventCount();
    if (events < shownEvents) {
        ui->MemoAlerts->clear();
        shownEvents = 0;
    }
    const std::size_t fresh =
        static_cast<std::size_t>(std::min<std::uint64_t>(events - shownEvents, log.size()));
    for (std::size_t i = log.size() - fresh; i < log.size(); ++i) {
        std::ostringstream line;
        AlertMonitor::WriteText(line, log[i]);
        std::string s = line.str();
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
            s.pop_back();
        ui->MemoAlerts->appendPlainText(QString::fromStdString(s));
    }
    shownEvents = events;
    ui->PaintBoxCharts->update();
}

void TFormStatistics::ButtonCloseClick() {
    hide();
}

bool TFormStatistics::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->PaintBoxCharts && event->type() == QEvent::Paint) {
        QPainter painter(ui->PaintBoxCharts);
        DrawCharts(painter);
        ++chartDraws;
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// Four strips one above the other, the newest second at the right edge and ten minutes
// across; a second without a value breaks the line.
void TFormStatistics::DrawCharts(QPainter& painter) {
    const QRect area = ui->PaintBoxCharts->rect();
    painter.fillRect(area, Qt::white);
    painter.setPen(Qt::gray);
    painter.drawRect(area.adjusted(0, 0, -1, -1));
    if (FormStatus == nullptr)
        return;
    const StripHistory& history = FormStatus->Strip();
    const std::size_t n = history.Count();
    const double left = 150.0;
    const double right = area.width() - 8.0;
    const double perSecond = (right - left) / static_cast<double>(StripHistory::kSeconds - 1);
    // The strips share the height, less a line at the bottom for the time axis.
    const double stripHeight = (area.height() - 16.0) / static_cast<double>(kStrips.size());
    const std::int64_t newest = n > 0 ? history.At(n - 1).second : 0;

    for (std::size_t s = 0; s < kStrips.size(); ++s) {
        const Strip& strip = kStrips[s];
        const double top = s * stripHeight + 6.0;
        const double bottom = (s + 1) * stripHeight - 6.0;
        float highest = strip.leastTop;
        float latest = -1.0f;
        for (std::size_t i = 0; i < n; ++i) {
            const float v = history.At(i).*strip.value;
            highest = std::max(highest, v);
            if (v >= 0.0f)
                latest = v;
        }
        const double perUnit = (bottom - top) / highest;
        painter.setPen(kGridColour);
        painter.drawLine(QPointF(left, bottom), QPointF(right, bottom));
        painter.drawLine(QPointF(left, top), QPointF(right, top));
        painter.setPen(Qt::black);
        painter.drawText(QRectF(6, top, left - 12, 16), Qt::AlignLeft | Qt::AlignTop,
                         QString::fromLatin1(strip.title));
        painter.drawText(QRectF(6, top + 16, left - 12, 16), Qt::AlignLeft | Qt::AlignTop,
                         latest >= 0.0f ? QStringLiteral("now %1, top %2")
                                              .arg(static_cast<double>(latest), 0, 'g', 3)
                                              .arg(static_cast<double>(highest), 0, 'g', 3)
                                        : QStringLiteral("no value"));
        painter.setPen(QPen(kLineColour, 1.5));
        // Runs of known values drawn as one polyline each.
        std::size_t run = 0;
        for (std::size_t i = 0; i <= n; ++i) {
            const float v = i < n ? history.At(i).*strip.value : -1.0f;
            if (v >= 0.0f) {
                const double age = static_cast<double>(newest - history.At(i).second);
                points[run++] = QPointF(right - age * perSecond, bottom - v * perUnit);
                continue;
            }
            if (run == 1)
                painter.drawPoint(points[0]);
            else if (run > 1)
                painter.drawPolyline(points.data(), static_cast<int>(run));
            run = 0;
        }
    }
    painter.setPen(Qt::darkGray);
    painter.drawText(QRectF(left, area.height() - 16, right - left, 14), Qt::AlignLeft,
                     QStringLiteral("-10 min"));
    painter.drawText(QRectF(left, area.height() - 16, right - left, 14), Qt::AlignRight,
                     QStringLiteral("now"));
}
