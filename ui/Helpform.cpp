#include "ui/Helpform.h"

#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QResizeEvent>
#ifndef KESTRANE_PNG_PICTURES
#include <QSvgRenderer>
#endif

#include "ui/Scaleutils.h"
#include "ui_Helpform.h"

TFormHelp* FormHelp = nullptr;

namespace {

// Outer size of the index page, and the size that the text pages and the two wiring
// pictures take on their pages; the NMEA pictures keep the size they are drawn at.
constexpr int IndexWidth = 400;
constexpr int IndexHeight = 495;
constexpr int PageElementWidth = 360;
constexpr int PageElementHeight = 341;
// Margin around a page element, and the gap between the buttons and the bottom edge.
constexpr int PageMargin = 20;
constexpr int ButtonBottomGap = 40;

// Left edge that centres something of the given width across the window; never negative,
// so a window narrower than its page shows the page's left part rather than its middle.
int CentredLeft(int windowWidth, int width) {
    const int left = (windowWidth - width) / 2;
    return left < 0 ? 0 : left;
}

} // namespace

TFormHelp::TFormHelp(QWidget* parent)
    : QWidget(parent, Qt::Window), ui(std::make_unique<Ui::TFormHelp>()) {
    // The pictures live in a static library; referencing its resources here keeps the
    // linker from dropping them.
    Q_INIT_RESOURCE(Helpform);
    ui->setupUi(this);

    pictures = {
        {ui->Image10, QStringLiteral(":/help/wiring_10pin.svg")},
        {ui->Image12, QStringLiteral(":/help/wiring_12pin.svg")},
        {ui->ImageNMEAGGA, QStringLiteral(":/help/nmea_gga.svg")},
        {ui->ImageNMEAGSA, QStringLiteral(":/help/nmea_gsa.svg")},
        {ui->ImageNMEAVTG, QStringLiteral(":/help/nmea_vtg.svg")},
        {ui->ImageNMEAZDA, QStringLiteral(":/help/nmea_zda.svg")},
        {ui->ImageNMEARMC, QStringLiteral(":/help/nmea_rmc.svg")},
    };

    // The links are blue whatever the desktop's colour scheme says.
    for (QLabel* link : IndexLinks()) {
        QPalette palette = link->palette();
        palette.setColor(QPalette::Link, Qt::blue);
        link->setPalette(palette);
    }
    connect(ui->LabelConnection, &QLabel::linkActivated, this, &TFormHelp::LabelConnectionClick);
    connect(ui->Label10, &QLabel::linkActivated, this, &TFormHelp::Label10Click);
    connect(ui->Label12, &QLabel::linkActivated, this, &TFormHelp::Label12Click);
    connect(ui->LabelProgramming, &QLabel::linkActivated, this, &TFormHelp::LabelProgrammingClick);
    connect(ui->LabelLogging, &QLabel::linkActivated, this, &TFormHelp::LabelLoggingClick);
    connect(ui->LabelNMEAGGA, &QLabel::linkActivated, this, &TFormHelp::LabelNMEAGGAClick);
    connect(ui->LabelNMEAGSA, &QLabel::linkActivated, this, &TFormHelp::LabelNMEAGSAClick);
    connect(ui->LabelNMEAVTG, &QLabel::linkActivated, this, &TFormHelp::LabelNMEAVTGClick);
    connect(ui->LabelNMEAZDA, &QLabel::linkActivated, this, &TFormHelp::LabelNMEAZDAClick);
    connect(ui->LabelNMEARMC, &QLabel::linkActivated, this, &TFormHelp::LabelNMEARMCClick);
    connect(ui->LabelStatus, &QLabel::linkActivated, this, &TFormHelp::LabelStatusClick);
    connect(ui->ButtonBack, &QPushButton::clicked, this, &TFormHelp::ButtonBackClick);
    connect(ui->ButtonClose, &QPushButton::clicked, this, &TFormHelp::ButtonCloseClick);

    // At rest the window shows its index: the pages and Back are hidden.
    for (QWidget* element : PageElements())
        element->hide();
    ui->ButtonBack->hide();
    FitFormToControls(this);
    // Start at the index page's size, so that the first placement centres the window
    // that is then shown.
    ShowIndex();
}

TFormHelp::~TFormHelp() = default;

void TFormHelp::ShowOver(const WindowRect& rect) {
    PlaceOnce(rect);
    ShowIndex();
    ShowFramed();
}

void TFormHelp::ShowLoadingHelp(const WindowRect& rect) {
    PlaceOnce(rect);
    ShowIndex();
    ShowPage(ui->MemoProgramming, "Help - Loading Instructions", Opened::Direct);
    ShowFramed();
}

// Centres the window over its caller on the first showing only; afterwards it stays
// where the user left it.
void TFormHelp::PlaceOnce(const WindowRect& rect) {
    if (Positioned)
        return;
    move(CentreOver(rect, OuterWidth(), OuterHeight(), true));
    Positioned = true;
}

void TFormHelp::LabelConnectionClick() {
    ShowPage(ui->MemoConnection, "Help - Connection Instructions");
}
void TFormHelp::Label10Click() {
    ShowPage(ui->Image10, "Help - 10 Pin Connector Wiring");
}
void TFormHelp::Label12Click() {
    ShowPage(ui->Image12, "Help - 12 Pin Connector Wiring");
}
void TFormHelp::LabelProgrammingClick() {
    ShowPage(ui->MemoProgramming, "Help - Loading Software");
}
void TFormHelp::LabelLoggingClick() {
    ShowPage(ui->MemoLogging, "Help - File Logging");
}
void TFormHelp::LabelNMEAGGAClick() {
    ShowPage(ui->ImageNMEAGGA, "Help - NMEA Message (GGA)");
}
void TFormHelp::LabelNMEAGSAClick() {
    ShowPage(ui->ImageNMEAGSA, "Help - NMEA Message (GSA)");
}
void TFormHelp::LabelNMEAVTGClick() {
    ShowPage(ui->ImageNMEAVTG, "Help - NMEA Message (VTG)");
}
void TFormHelp::LabelNMEAZDAClick() {
    ShowPage(ui->ImageNMEAZDA, "Help - NMEA Message (ZDA)");
}
void TFormHelp::LabelNMEARMCClick() {
    ShowPage(ui->ImageNMEARMC, "Help - NMEA Message (RMC)");
}
void TFormHelp::LabelStatusClick() {
    ShowPage(ui->MemoStatus, "Help - Receiver Status");
}

void TFormHelp::ButtonBackClick() {
    ShowIndex();
}

void TFormHelp::ButtonCloseClick() {
    hide();
}

void TFormHelp::ShowIndex() {
    for (QWidget* element : PageElements())
        element->hide();
    ui->ButtonBack->hide();
    for (QLabel* link : IndexLinks())
        link->show();
    ui->ButtonClose->show();
    SetOuterSize(IndexWidth, IndexHeight);
    setWindowTitle(QStringLiteral("Help"));
    FormResize();
}

void TFormHelp::ShowPage(QWidget* element, const char* caption, Opened how) {
    QLabel* picture = nullptr;
    for (const auto& [image, resource] : pictures) {
        if (image == element)
            picture = image;
    }
    // The NMEA layouts are shown at the size they are drawn at; the texts and the wiring
    // pictures take the common page size.
    const bool ownSize = picture != nullptr && picture != ui->Image10 && picture != ui->Image12;
    if (!ownSize)
        element->resize(PageElementWidth, PageElementHeight);
    // Only the width follows the page; the height stays as the index page left it.
    SetOuterSize(element->width() + 2 * PageMargin, OuterHeight());

    for (QLabel* link : IndexLinks())
        link->hide();
    for (QWidget* other : PageElements()) {
        if (other != element)
            other->hide();
    }
    if (picture != nullptr)
        ShowPicture(picture);
    element->show();
    ui->ButtonBack->setVisible(how == Opened::FromIndex);
    ui->ButtonClose->setVisible(how == Opened::Direct);
    setWindowTitle(QString::fromLatin1(caption));
    FormResize();
    if (picture == nullptr)
        element->setFocus();
    else if (how == Opened::FromIndex)
        ui->ButtonBack->setFocus();
    else
        ui->ButtonClose->setFocus();
}

bool TFormHelp::ShowPicture(QLabel* image) {
    QString resource;
    for (const auto& [label, path] : pictures) {
        if (label == image)
            resource = path;
    }
    // Drawn for the screen's pixel density each time, so the picture stays sharp on a
    // high-density screen; an unchanged one is kept.
    const qreal ratio = devicePixelRatioF();
    const QPixmap shown = image->pixmap();
    if (!shown.isNull() && shown.devicePixelRatio() == ratio &&
        shown.deviceIndependentSize().toSize() == image->size())
        return true;

#ifdef KESTRANE_PNG_PICTURES
    // Where the toolkit has no SVG (the Windows build), the picture was drawn into PNG at
    // build time, at its own size and at twice it; the larger one serves a screen of high
    // density. resource names the SVG: the PNGs stand beside it.
    QString drawn = resource;
    drawn.chop(4); // ".svg"
    const QPixmap source(drawn + (ratio > 1.0 ? QStringLiteral("@2x.png") : QStringLiteral(".png")));
    const bool valid = !source.isNull();
#else
    QSvgRenderer renderer(resource);
    const bool valid = renderer.isValid();
#endif
    if (!valid) {
        image->setPixmap(QPixmap());
        image->setText(QStringLiteral("Picture not available."));
        return false;
    }
    QPixmap pixmap(image->size() * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::white);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QRectF area(QPointF(0, 0), QSizeF(image->size()));
#ifdef KESTRANE_PNG_PICTURES
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(area, source, QRectF(source.rect()));
#else
    renderer.render(&painter, area);
#endif
    painter.end();
    image->setPixmap(pixmap);
    return true;
}

void TFormHelp::FormResize() {
    const int width = OuterWidth();
    const int height = OuterHeight();
    for (QWidget* element : PageElements())
        element->move(CentredLeft(width, element->width()), PageMargin);
    for (QPushButton* button : {ui->ButtonBack, ui->ButtonClose})
        button->move(CentredLeft(width, button->width()),
                     height - button->height() - ButtonBottomGap);
}

void TFormHelp::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FormResize();
}

QList<QWidget*> TFormHelp::PageElements() const {
    return {ui->MemoConnection, ui->Image10,      ui->Image12,      ui->MemoProgramming,
            ui->MemoLogging,    ui->ImageNMEAGGA, ui->ImageNMEAGSA, ui->ImageNMEAVTG,
            ui->ImageNMEAZDA,   ui->ImageNMEARMC, ui->MemoStatus};
}

QList<QLabel*> TFormHelp::IndexLinks() const {
    return {ui->LabelConnection, ui->Label10,      ui->Label12,      ui->LabelProgramming,
            ui->LabelLogging,    ui->LabelNMEAGGA, ui->LabelNMEAGSA, ui->LabelNMEAVTG,
            ui->LabelNMEAZDA,    ui->LabelNMEARMC, ui->LabelStatus};
}

// The frame's share of the outer size is known once the window system has framed the
// window; before that (or on a frameless platform) outer and inner size are the same.
int TFormHelp::OuterWidth() const {
    return frameGeometry().width();
}

int TFormHelp::OuterHeight() const {
    return frameGeometry().height();
}

void TFormHelp::SetOuterSize(int width, int height) {
    pageOuterSize = QSize(width, height);
    const QSize frame = frameGeometry().size() - size();
    resize(width - frame.width(), height - frame.height());
}

// Shows the window and brings it to the front. A window shown for the first time gets
// its frame only now, so the page's outer size is applied once more with the frame known.
void TFormHelp::ShowFramed() {
    show();
    if (frameGeometry().size() != pageOuterSize)
        SetOuterSize(pageOuterSize.width(), pageOuterSize.height());
    raise();
    activateWindow();
}
