#include "ui/Aboutform.h"

#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRadialGradient>
#include <QScreen>
#include <QTimer>
#include <cmath>

#include "ui/Scaleutils.h"
#include "ui_Aboutform.h"

TFormAbout* FormAbout = nullptr;

namespace {

// The splash hides itself on this tick of its one-second timer.
constexpr int kSplashTicks = 6;

// The product logo: a globe under a satellite's orbit above the maker's name, drawn
// for the screen's pixel density so it stays crisp when the desktop is scaled.
QPixmap DrawLogo(QSize size, qreal dpr) {
    QPixmap pm(size * dpr);
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);

    const QRectF globe(46.5, 24.5, 120, 120);
    QRadialGradient sea(globe.center() - QPointF(25, 25), 95);
    sea.setColorAt(0, QColor(0x6f, 0xb7, 0xe9));
    sea.setColorAt(1, QColor(0x12, 0x4a, 0x86));
    p.setPen(QPen(QColor(0x0b, 0x33, 0x5e), 2));
    p.setBrush(sea);
    p.drawEllipse(globe);

    // Meridians and parallels.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 150), 1.2));
    const QPointF c = globe.center();
    for (qreal w : {30.0, 70.0, 104.0})
        p.drawEllipse(c, w / 2, 60);
    p.drawLine(QPointF(c.x(), globe.top()), QPointF(c.x(), globe.bottom()));
    for (qreal dy : {-30.0, 0.0, 30.0}) {
        const qreal half = std::sqrt(60.0 * 60.0 - dy * dy);
        p.drawLine(QPointF(c.x() - half, c.y() + dy), QPointF(c.x() + half, c.y() + dy));
    }

    // The orbit, tilted across the globe, and the satellite on it.
    p.save();
    p.translate(c);
    p.rotate(-20);
    p.setPen(QPen(QColor(0xf2, 0xa9, 0x00), 2.5));
    p.drawEllipse(QPointF(0, 0), 92, 30);
    p.translate(78, -16);
    p.rotate(20);
    p.setPen(QPen(QColor(0x33, 0x33, 0x33), 1));
    p.setBrush(QColor(0x3b, 0x5b, 0x9a));
    p.drawRect(QRectF(-19, -5, 12, 10));
    p.drawRect(QRectF(7, -5, 12, 10));
    p.setBrush(QColor(0xd9, 0xd9, 0xd9));
    p.drawRect(QRectF(-6, -6, 12, 12));
    p.restore();

    // The maker's name under the globe.
    QFont f;
    f.setPixelSize(22);
    f.setBold(true);
    f.setLetterSpacing(QFont::AbsoluteSpacing, 3);
    p.setFont(f);
    p.setPen(QColor(0x12, 0x4a, 0x86));
    p.drawText(QRectF(0, 150, size.width(), 30), Qt::AlignCenter, "KESTRANE");
    p.setPen(QPen(QColor(0xf2, 0xa9, 0x00), 2));
    p.drawLine(QPointF(40, 184), QPointF(size.width() - 40, 184));
    return pm;
}

} // namespace

TFormAbout::TFormAbout(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowMinimizeButtonHint),
      ui(new Ui::TFormAbout), Timer(new QTimer(this)) {
    ui->setupUi(this);
    QFont f = font();
    f.setPixelSize(11);
    setFont(f);
    ui->LabelVersion->setText(QStringLiteral("Version ") + QStringLiteral(KESTRANE_VERSION));
    const qreal dpr = QGuiApplication::primaryScreen() != nullptr
                          ? QGuiApplication::primaryScreen()->devicePixelRatio()
                          : 1.0;
    ui->ImageVek->setPixmap(DrawLogo(ui->ImageVek->size(), dpr));

    FitFormToControls(this);
    SplashTicks = 0;
    ui->ButtonClose->hide();
    Timer->setObjectName("Timer");
    Timer->setInterval(1000);
    Timer->stop();
    ui->ImageVek->show();
    ui->LabelPartNumber->show();
    ui->LabelCopyrightVek->show();
    ui->GroupBox->resize(ui->GroupBox->width(), 313);
    ui->ButtonClose->move(ui->ButtonClose->x(), 328);
    // A fixed window: room for the group and, below it, the Close button with a
    // margin under it.
    setFixedSize(width(), 368);

    connect(Timer, &QTimer::timeout, this, &TFormAbout::TimerTimer);
    connect(ui->ButtonClose, &QPushButton::clicked, this, &TFormAbout::ButtonCloseClick);
}

TFormAbout::~TFormAbout() = default;

void TFormAbout::SetStaysOnTop(bool on) {
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == on)
        return;
    // Changing a window's flags hides it; show it again if it was up.
    const bool wasVisible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, on);
    if (wasVisible)
        show();
}

void TFormAbout::ShowSplash(const WindowRect& rect) {
    move(CentreOver(rect, frameGeometry().width(), frameGeometry().height(), true));
    ui->ButtonClose->hide();
    Timer->start();
    SetStaysOnTop(true);
    SplashTicks = 0;
    show();
    raise();
}

void TFormAbout::ShowOver(const WindowRect& rect) {
    move(CentreOver(rect, frameGeometry().width(), frameGeometry().height(), true));
    ui->ButtonClose->show();
    SetStaysOnTop(false);
    show();
    raise();
}

void TFormAbout::TimerTimer() {
    SplashTicks += 1;
    if (SplashTicks >= kSplashTicks) {
        Timer->stop();
        hide();
        SetStaysOnTop(false);
    }
}

void TFormAbout::ButtonCloseClick() {
    hide();
}
