#include "receiver/Statusform.h"

#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QHideEvent>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>

#include "base/Clock.h"
#include "base/Timeutils.h"
#include "proto/Trackfiles.h"
#include "receiver/Statisticsform.h"
#include "ui/Scaleutils.h"
#include "ui_Statusform.h"

TFormStatus* FormStatus = nullptr;

namespace {

// Refresh period while shown.
constexpr int kTickMs = 1000;
const QString kUnknown = QStringLiteral("--");
const QChar kDegree(0x00B0);
const QChar kSigma(0x03C3);

// Colours of the plot.
const QColor kFixColour(40, 70, 160);
const QColor kLatestColour(220, 30, 30);
const QColor kCep50Colour(0, 140, 60);
const QColor kCep95Colour(230, 120, 0);
const QColor kAxisColour(210, 210, 210);

template <typename T, typename Format>
QString Known(const std::optional<T>& value, Format format) {
    return value ? format(*value) : kUnknown;
}

QString Fixed(double v, int decimals) {
    return QString::number(v, 'f', decimals);
}

// Metres with the precision their size deserves.
QString Metres(double m) {
    return Fixed(m, m < 10.0 ? 2 : (m < 1000.0 ? 1 : 0)) + QStringLiteral(" m");
}

QString TimeText(const NmeaTime& t) {
    QString text = QStringLiteral("%1:%2:%3")
                       .arg(t.hour, 2, 10, QLatin1Char('0'))
                       .arg(t.minute, 2, 10, QLatin1Char('0'))
                       .arg(t.second, 2, 10, QLatin1Char('0'));
    if (t.fractionDigits > 0) {
        int fraction = t.millisecond;
        for (int d = t.fractionDigits; d < 3; ++d)
            fraction /= 10;
        text += QLatin1Char('.') +
                QStringLiteral("%1").arg(fraction, t.fractionDigits, 10, QLatin1Char('0'));
    }
    return text;
}

QString DateText(const NmeaDate& d) {
    return QStringLiteral("%1-%2-%3")
        .arg(d.year, 4, 10, QLatin1Char('0'))
        .arg(d.month, 2, 10, QLatin1Char('0'))
        .arg(d.day, 2, 10, QLatin1Char('0'));
}

QString QualityText(int quality) {
    switch (quality) {
    case 0:
        return QStringLiteral("No fix");
    case 1:
        return QStringLiteral("GPS");
    case 2:
        return QStringLiteral("Differential");
    case 6:
        return QStringLiteral("Estimated");
    default:
        return QString::number(quality);
    }
}

QString ModeText(int mode) {
    switch (mode) {
    case 1:
        return QStringLiteral("No fix");
    case 2:
        return QStringLiteral("2D");
    default:
        return QStringLiteral("3D");
    }
}

// "37°15.6616' N   37.261027": as the receiver sends it, then in signed decimal degrees.
QString CoordinateText(const NmeaCoordinate& c, int degreeDigits) {
    return QStringLiteral("%1%2%3' %4   %5")
        .arg(c.wholeDegrees, degreeDigits, 10, QLatin1Char('0'))
        .arg(kDegree)
        .arg(QString::fromLatin1(c.minutes))
        .arg(QLatin1Char(c.hemisphere))
        .arg(Fixed(c.degrees, 6));
}

// The largest 1, 2 or 5 times a power of ten that is not longer than most.
double RoundLength(double most) {
    if (!(most > 0.0))
        return 1.0;
    const double power = std::pow(10.0, std::floor(std::log10(most)));
    for (double m : {5.0, 2.0, 1.0}) {
        if (m * power <= most)
            return m * power;
    }
    return power;
}

QString LengthText(double m) {
    if (m >= 1000.0)
        return QString::number(m / 1000.0) + QStringLiteral(" km");
    return QString::number(m) + QStringLiteral(" m");
}

} // namespace

TFormStatus::TFormStatus(QWidget* parent)
    : QWidget(parent, Qt::Window), ui(new Ui::TFormStatus), clock(&SystemClock()) {
    ui->setupUi(this);
    FitFormToControls(this);
    ui->PaintBoxDeviation->installEventFilter(this);
    ui->PaintBoxDeviation->setAttribute(Qt::WA_OpaquePaintEvent);

    Timer = new QTimer(this);
    Timer->setObjectName(QStringLiteral("Timer"));
    Timer->setInterval(kTickMs);
    connect(Timer, &QTimer::timeout, this, &TFormStatus::TimerTimer);
    connect(ui->ButtonClear, &QPushButton::clicked, this, &TFormStatus::ButtonClearClick);
    connect(ui->ButtonClose, &QPushButton::clicked, this, &TFormStatus::ButtonCloseClick);
    connect(ui->ButtonExport, &QPushButton::clicked, this, &TFormStatus::ButtonExportClick);
    connect(ui->ButtonStatistics, &QPushButton::clicked, this, &TFormStatus::ButtonStatisticsClick);
}

TFormStatus::~TFormStatus() = default;

void TFormStatus::ShowOver(const WindowRect& rect) {
    show();
    // Placed once shown, when the window has its final outer size.
    if (!Positioned) {
        move(CentreOver(rect, frameGeometry().width(), frameGeometry().height(), true));
        Positioned = true;
    }
    raise();
    activateWindow();
}

void TFormStatus::SetClock(Clock& c) {
    clock = &c;
    dirty = true;
}

void TFormStatus::AddSentence(const std::uint8_t* line, std::size_t length) {
    const std::int64_t nowMs = clock->Milliseconds();
    const NmeaResult r = status.AddSentence(line, length, clock->Seconds());
    if (r.outcome == NmeaOutcome::Used) {
        track.Add(r, status.State());
        strip.Add(status.State(), clock->Seconds());
    }
    alerts.Sentence(r, status.State(), nowMs);
    dirty = true;
}

void TFormStatus::BytesReceived(std::size_t length) {
    const std::int64_t nowMs = clock->Milliseconds();
    link.BytesReceived(length, nowMs);
    alerts.BytesReceived(nowMs);
}

void TFormStatus::FrameReceived(const std::uint8_t* frame, std::size_t length) {
    link.FrameReceived(frame, length, clock->Milliseconds());
}

void TFormStatus::LineReceived(const std::uint8_t* line, std::size_t length) {
    link.LineReceived(line, length, clock->Milliseconds());
}

void TFormStatus::ResetAlerts() {
    alerts.Reset();
    shownEvents = 0;
    ui->LabelAlerts->clear();
}

bool TFormStatus::CheckAlerts() {
    alerts.Tick(clock->Milliseconds());
    strip.AdvanceTo(clock->Seconds()); // the charts' time axis moves on in silence too
    // The alerts that hold change only with an event: a poll without one costs nothing.
    if (alerts.EventCount() == shownEvents)
        return false;
    shownEvents = alerts.EventCount();
    ui->LabelAlerts->setText(QString::fromStdString(alerts.ActiveText()));
    return true;
}

void TFormStatus::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    dirty = true;
    shownSeconds = -1;
    TimerTimer(); // current the moment it opens
    Timer->start();
}

void TFormStatus::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    Timer->stop();
}

void TFormStatus::TimerTimer() {
    if (!isVisible())
        return;
    const std::int64_t now = clock->Seconds();
    if (dirty) {
        dirty = false;
        stats = status.History().Compute();
        ShowValues();
        ui->PaintBoxDeviation->update();
    }
    ShowDataState(now);
}

void TFormStatus::ShowDataState(std::int64_t now) {
    const bool stale = status.Stale(now);
    const std::int64_t seconds = status.SecondsWithoutFix(now);
    if (shownSeconds >= 0 && stale == shownStale && (!stale || seconds == shownSeconds))
        return;
    shownStale = stale;
    shownSeconds = seconds;
    if (!status.FixSentenceSeen())
        ui->LabelDataState->setText(QStringLiteral("No data"));
    else if (stale)
        ui->LabelDataState->setText(QStringLiteral("No data for %1 s").arg(seconds));
    else
        ui->LabelDataState->setText(QStringLiteral("Receiving"));
    // Old values are shown for what they were, not as current.
    ui->GroupBoxFix->setEnabled(!stale);
}

void TFormStatus::ShowValues() {
    const NmeaState& s = status.State();
    ui->LabelTime->setText(Known(s.time, TimeText));
    ui->LabelDate->setText(Known(s.date, DateText));
    ui->LabelQuality->setText(Known(s.quality, QualityText));
    ui->LabelFixMode->setText(Known(s.fixMode, ModeText));
    ui->LabelSatellites->setText(Known(s.satellitesUsed, [](int n) { return QString::number(n); }));
    QString prns;
    for (std::size_t i = 0; i < s.prnCount; ++i)
        prns += (i == 0 ? QString() : QStringLiteral(" ")) + QString::number(s.prns[i]);
    ui->LabelPrns->setText(!s.prnsKnown ? kUnknown : (prns.isEmpty() ? QStringLiteral("none") : prns));
    const auto dop = [](double v) { return Fixed(v, 1); };
    ui->LabelPdop->setText(Known(s.pdop, dop));
    ui->LabelHdop->setText(Known(s.hdop, dop));
    ui->LabelVdop->setText(Known(s.vdop, dop));
    ui->LabelLatitude->setText(
        Known(s.latitude, [](const NmeaCoordinate& c) { return CoordinateText(c, 2); }));
    ui->LabelLongitude->setText(
        Known(s.longitude, [](const NmeaCoordinate& c) { return CoordinateText(c, 3); }));
    const auto metres = [](double v) { return Fixed(v, 1) + QStringLiteral(" m"); };
    ui->LabelAltitude->setText(Known(s.altitude, metres));
    ui->LabelGeoid->setText(Known(s.geoidSeparation, metres));
    QString speed = kUnknown;
    if (s.speedKmh && s.speedKnots)
        speed = Fixed(*s.speedKmh, 1) + QStringLiteral(" km/h   ") + Fixed(*s.speedKnots, 2) +
                QStringLiteral(" kn");
    ui->LabelSpeed->setText(speed);
    ui->LabelCourse->setText(Known(s.course, [](double v) { return Fixed(v, 1) + kDegree; }));
    ui->LabelCorrectionAge->setText(
        Known(s.correctionAge, [](double v) { return Fixed(v, 1) + QStringLiteral(" s"); }));
    ui->LabelStation->setText(Known(s.correctionStation, [](int n) { return QString::number(n); }));
    ui->LabelLastFix->setText(status.FixSentenceSeen()
                                  ? QString::fromLatin1(FormatTimeOfDay(status.LastFixSentence()))
                                  : kUnknown);
    const NmeaDecoder& d = status.Decoder();
    ui->LabelSentences->setText(QStringLiteral("%1 used, %2 unusable")
                                    .arg(d.UsedCount())
                                    .arg(d.UnusableCount()));

    const auto stat = [](const std::optional<double>& v) { return v ? Metres(*v) : kUnknown; };
    ui->LabelCep50->setText(QStringLiteral("CEP50: ") + stat(stats.cep50));
    ui->LabelCep95->setText(QStringLiteral("CEP95: ") + stat(stats.cep95));
    ui->LabelSigmaEast->setText(kSigma + QStringLiteral(" east: ") + stat(stats.sigmaEast));
    ui->LabelSigmaNorth->setText(kSigma + QStringLiteral(" north: ") + stat(stats.sigmaNorth));
    ui->LabelFixCount->setText(QStringLiteral("Fixes: %1").arg(stats.count));
    ui->Label2drms->setText(QStringLiteral("2DRMS: ") + stat(stats.drms2));
    const std::optional<double> available = status.Availability();
    ui->LabelAvailability->setText(
        QStringLiteral("Availability: ") +
        (available ? Fixed(*available, 1) + QStringLiteral(" %") : kUnknown));
}

void TFormStatus::ButtonClearClick() {
    status.ClearHistory();
    track.Clear();
    strip.Clear();
    dirty = true;
    TimerTimer();
}

void TFormStatus::ButtonCloseClick() {
    hide();
}

void TFormStatus::ButtonStatisticsClick() {
    if (FormStatistics != nullptr)
        FormStatistics->ShowOver(OuterRect(*this));
}

void TFormStatus::ButtonExportClick() {
    QString filter;
    QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Export the fixes"), QString(),
        QStringLiteral("GPX track (*.gpx);;CSV table (*.csv)"), &filter);
    if (path.isEmpty())
        return;
    // A name without a suffix takes the one of the kind chosen.
    if (!path.contains(QLatin1Char('.'), Qt::CaseSensitive) ||
        path.lastIndexOf(QLatin1Char('.')) < path.lastIndexOf(QLatin1Char('/')))
        path += filter.contains(QStringLiteral("csv")) ? QStringLiteral(".csv")
                                                         : QStringLiteral(".gpx");
    QString error;
    if (!ExportTo(path, error))
        QMessageBox::warning(this, QStringLiteral("Export"), error);
}

bool TFormStatus::ExportTo(const QString& path, QString& error) {
    track.Finish(); // the epoch in progress is a fix too
    std::ofstream out;
#ifdef _WIN32
    out.open(reinterpret_cast<const wchar_t*>(path.utf16()), std::ios::binary | std::ios::trunc);
#else
    out.open(QFile::encodeName(path).constData(), std::ios::binary | std::ios::trunc);
#endif
    if (!out) {
        error = QStringLiteral("Cannot create %1\n%2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    const bool gpx = path.endsWith(QStringLiteral(".gpx"), Qt::CaseInsensitive);
    bool written = gpx ? WriteGpx(out, track.Epochs(), "Kestrane Receiver Utility")
                       : WriteCsv(out, track.Epochs());
    out.close();
    if (!written || out.fail()) {
        error = QStringLiteral("Error writing %1").arg(path);
        return false;
    }
    return true;
}

bool TFormStatus::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->PaintBoxDeviation && event->type() == QEvent::Paint) {
        QPainter painter(ui->PaintBoxDeviation);
        DrawPlot(painter);
        ++plotDraws;
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// The fixes in metres east (right) and north (up) of their mean, at one scale for both.
void TFormStatus::DrawPlot(QPainter& painter) {
    const QRect area = ui->PaintBoxDeviation->rect();
    painter.fillRect(area, Qt::white);
    painter.setPen(Qt::gray);
    painter.drawRect(area.adjusted(0, 0, -1, -1));
    const double cx = area.width() / 2.0;
    const double cy = area.height() / 2.0;
    painter.setPen(kAxisColour);
    painter.drawLine(QPointF(cx, 4), QPointF(cx, area.height() - 4));
    painter.drawLine(QPointF(4, cy), QPointF(area.width() - 4, cy));
    painter.setPen(Qt::black);
    painter.drawText(QRectF(cx + 4, 2, 20, 16), Qt::AlignLeft | Qt::AlignTop, QStringLiteral("N"));

    const DeviationHistory& history = status.History();
    const std::size_t n = std::min(history.Count(), stats.count);
    if (n == 0) {
        painter.drawText(area, Qt::AlignCenter, QStringLiteral("No fixes"));
        return;
    }
    // Room for every fix and both circles, and never less than half a metre each way.
    const double reach = std::max({stats.largestDistance, stats.cep95.value_or(0.0), 0.5}) * 1.1;
    const double perMetre = (std::min(area.width(), area.height()) / 2.0 - 6.0) / reach;

    for (std::size_t i = 0; i < n; ++i)
        points[i] = QPointF(cx + (history.East(i) - stats.meanEast) * perMetre,
                            cy - (history.North(i) - stats.meanNorth) * perMetre);
    // Square dots without antialiasing: 600 of them cost next to nothing to draw.
    painter.setPen(QPen(kFixColour, 3.0, Qt::SolidLine, Qt::SquareCap));
    painter.drawPoints(points.data(), static_cast<int>(n - 1));
    painter.setPen(QPen(kLatestColour, 5.0, Qt::SolidLine, Qt::SquareCap));
    painter.drawPoint(points[n - 1]);
    painter.setRenderHint(QPainter::Antialiasing);

    painter.setBrush(Qt::NoBrush);
    const auto circle = [&](const std::optional<double>& r, const QColor& colour) {
        if (!r)
            return;
        painter.setPen(QPen(colour, 1.5));
        painter.drawEllipse(QPointF(cx, cy), *r * perMetre, *r * perMetre);
    };
    circle(stats.cep50, kCep50Colour);
    circle(stats.cep95, kCep95Colour);
    painter.setPen(kCep50Colour);
    painter.drawText(QPointF(6, 14), QStringLiteral("CEP50"));
    painter.setPen(kCep95Colour);
    painter.drawText(QPointF(6, 28), QStringLiteral("CEP95"));

    // A scale bar of a round length, at most a third of the plot's width.
    const double length = RoundLength(area.width() / 3.0 / perMetre);
    const double x0 = 8.0;
    const double x1 = x0 + length * perMetre;
    const double y = area.height() - 10.0;
    painter.setPen(QPen(Qt::black, 1.5));
    painter.drawLine(QPointF(x0, y), QPointF(x1, y));
    painter.drawLine(QPointF(x0, y - 4), QPointF(x0, y + 2));
    painter.drawLine(QPointF(x1, y - 4), QPointF(x1, y + 2));
    painter.drawText(QPointF(x0, y - 6), LengthText(length));
}
