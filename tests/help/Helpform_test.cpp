// The Help window on the offscreen platform: index and topic pages with their sizes,
// captions and button placement, the direct software-loading page, first-time placement,
// and the pictures (each one loads, at its display size, and the example sentences of
// the NMEA pictures carry correct checksums).

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#ifndef KESTRANE_PNG_PICTURES
#include <QSvgRenderer>
#endif
#include <QtTest>

#include "ui/Fontutils.h"
#include "ui/Helpform.h"

namespace {

struct Topic {
    const char* link;
    const char* element;
    const char* caption;
    int width; // the element's size on its page
    int height;
};

const Topic kTopics[] = {
    {"LabelConnection", "MemoConnection", "Help - Connection Instructions", 360, 341},
    {"Label10", "Image10", "Help - 10 Pin Connector Wiring", 360, 341},
    {"Label12", "Image12", "Help - 12 Pin Connector Wiring", 360, 341},
    {"LabelProgramming", "MemoProgramming", "Help - Loading Software", 360, 341},
    {"LabelLogging", "MemoLogging", "Help - File Logging", 360, 341},
    {"LabelNMEAGGA", "ImageNMEAGGA", "Help - NMEA Message (GGA)", 685, 400},
    {"LabelNMEAGSA", "ImageNMEAGSA", "Help - NMEA Message (GSA)", 670, 330},
    {"LabelNMEAVTG", "ImageNMEAVTG", "Help - NMEA Message (VTG)", 420, 240},
    {"LabelNMEAZDA", "ImageNMEAZDA", "Help - NMEA Message (ZDA)", 420, 240},
    {"LabelNMEARMC", "ImageNMEARMC", "Help - NMEA Message (RMC)", 610, 300},
    {"LabelStatus", "MemoStatus", "Help - Receiver Status", 360, 341},
};

struct Picture {
    const char* element;
    const char* resource;
    int width;
    int height;
};

const Picture kPictures[] = {
    {"Image10", ":/help/wiring_10pin.svg", 360, 341},
    {"Image12", ":/help/wiring_12pin.svg", 360, 341},
    {"ImageNMEAGGA", ":/help/nmea_gga.svg", 685, 400},
    {"ImageNMEAGSA", ":/help/nmea_gsa.svg", 670, 330},
    {"ImageNMEAVTG", ":/help/nmea_vtg.svg", 420, 240},
    {"ImageNMEAZDA", ":/help/nmea_zda.svg", 420, 240},
    {"ImageNMEARMC", ":/help/nmea_rmc.svg", 610, 300},
};

const char* const kPageElements[] = {
    "MemoConnection", "Image10",      "Image12",      "MemoProgramming", "MemoLogging",
    "ImageNMEAGGA",   "ImageNMEAGSA", "ImageNMEAVTG", "ImageNMEAZDA",    "ImageNMEARMC",
    "MemoStatus"};

} // namespace

class HelpFormTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TFormHelp> form;

    template <typename T = QWidget> T* Child(const char* name) {
        T* w = form->findChild<T*>(QString::fromLatin1(name));
        if (w == nullptr)
            qFatal("no control %s", name);
        return w;
    }
    QPushButton* Back() { return Child<QPushButton>("ButtonBack"); }
    QPushButton* Close() { return Child<QPushButton>("ButtonClose"); }
    bool Shown(const char* name) { return Child(name)->isVisibleTo(form.get()); }

    // Resizes the window as a user drags its edge, to the given outer size.
    void ResizeOuter(int width, int height) {
        const QSize frame = form->frameGeometry().size() - form->size();
        form->resize(width - frame.width(), height - frame.height());
        QCOMPARE(form->frameGeometry().size(), QSize(width, height));
    }

    // Clicks a link the way a user does: on its text.
    void ClickLink(const char* name) {
        QLabel* link = Child<QLabel>(name);
        QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(8, link->height() / 2));
    }

    void VerifyIndexPage() {
        QCOMPARE(form->windowTitle(), QString("Help"));
        QCOMPARE(form->frameGeometry().size(), QSize(400, 495));
        for (const Topic& t : kTopics)
            QVERIFY2(Shown(t.link), t.link);
        for (const char* e : kPageElements)
            QVERIFY2(!Shown(e), e);
        QVERIFY(Close()->isVisibleTo(form.get()));
        QVERIFY(!Back()->isVisibleTo(form.get()));
    }

    // A button of width 75 centred across the window, 40 pixels above its bottom edge.
    void VerifyButtonPlace(QPushButton* button) {
        const QSize outer = form->frameGeometry().size();
        QCOMPARE(button->width(), 75);
        QCOMPARE(button->x(), (outer.width() - 75) / 2);
        QCOMPARE(button->y(), outer.height() - button->height() - 40);
    }

private slots:
    void init() {
        form = std::make_unique<TFormHelp>();
        form->ShowOver(WindowRect{0, 0, 1280, 1024});
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }
    void cleanup() { form.reset(); }

    void indexPageAfterShowOver() {
        VerifyIndexPage();
        VerifyButtonPlace(Close());
        // The links keep their order from top to bottom.
        int lastTop = -1;
        for (const Topic& t : kTopics) {
            QVERIFY2(Child(t.link)->y() > lastTop, t.link);
            lastTop = Child(t.link)->y();
        }
    }

    void topicPageThenBack_data() {
        QTest::addColumn<int>("topic");
        for (int i = 0; i < int(std::size(kTopics)); ++i)
            QTest::newRow(kTopics[i].link) << i;
    }
    void topicPageThenBack() {
        QFETCH(int, topic);
        const Topic& t = kTopics[topic];
        ClickLink(t.link);

        QCOMPARE(form->windowTitle(), QString(t.caption));
        // Only the width follows the page; the height stays the index page's.
        QCOMPARE(form->frameGeometry().size(), QSize(t.width + 40, 495));
        QWidget* element = Child(t.element);
        QVERIFY(element->isVisibleTo(form.get()));
        QCOMPARE(element->geometry(), QRect(20, 20, t.width, t.height));
        for (const char* other : kPageElements)
            QVERIFY2(other == std::string_view(t.element) || !Shown(other), other);
        for (const Topic& link : kTopics)
            QVERIFY2(!Shown(link.link), link.link);
        QVERIFY(Back()->isVisibleTo(form.get()));
        QVERIFY(!Close()->isVisibleTo(form.get()));
        VerifyButtonPlace(Back());

        QTest::mouseClick(Back(), Qt::LeftButton);
        VerifyIndexPage();
    }

    void pageKeepsHeightTheUserGaveTheIndex() {
        ResizeOuter(400, 600);
        ClickLink("LabelNMEAGGA");
        QCOMPARE(form->frameGeometry().size(), QSize(725, 600));
        VerifyButtonPlace(Back());
        QTest::mouseClick(Back(), Qt::LeftButton);
        QCOMPARE(form->frameGeometry().size(), QSize(400, 495));
    }

    void userResizeCentresPageAndButtons() {
        ClickLink("LabelNMEAGGA");
        QWidget* gga = Child("ImageNMEAGGA");

        ResizeOuter(900, 700);
        QCOMPARE(gga->pos(), QPoint((900 - 685) / 2, 20));
        VerifyButtonPlace(Back());
        QCOMPARE(Back()->pos(), QPoint((900 - 75) / 2, 700 - 25 - 40));

        // Narrower than the picture: the picture starts at the left edge, never left of it.
        ResizeOuter(500, 495);
        QCOMPARE(gga->pos(), QPoint(0, 20));
        VerifyButtonPlace(Back());

        // The hidden pages follow as well, so a page opened later is already in place.
        QCOMPARE(Child("MemoConnection")->x(), (500 - 360) / 2);
        QCOMPARE(Child("ImageNMEAGSA")->x(), 0);

        // Odd sizes truncate toward zero.
        ResizeOuter(726, 496);
        QCOMPARE(gga->x(), 20);
        QCOMPARE(Back()->x(), 325);
    }

    void loadingHelpOpensDirectPage() {
        // Whatever page was open, the loading help starts from the index.
        ClickLink("LabelNMEAGGA");
        form->ShowLoadingHelp(WindowRect{0, 0, 1280, 1024});

        QCOMPARE(form->windowTitle(), QString("Help - Loading Instructions"));
        QCOMPARE(form->frameGeometry().size(), QSize(400, 495));
        QVERIFY(Shown("MemoProgramming"));
        QVERIFY(!Shown("ImageNMEAGGA"));
        QCOMPARE(Child("MemoProgramming")->geometry(), QRect(20, 20, 360, 341));
        QVERIFY(Close()->isVisibleTo(form.get()));
        QVERIFY(!Back()->isVisibleTo(form.get()));
        VerifyButtonPlace(Close());
        for (const Topic& t : kTopics)
            QVERIFY2(!Shown(t.link), t.link);

        QTest::mouseClick(Close(), Qt::LeftButton);
        QVERIFY(!form->isVisible());

        // The menu's Help opens the index again, where the same text has Back instead.
        form->ShowOver(WindowRect{0, 0, 1280, 1024});
        VerifyIndexPage();
        ClickLink("LabelProgramming");
        QCOMPARE(form->windowTitle(), QString("Help - Loading Software"));
        QVERIFY(Back()->isVisibleTo(form.get()));
        QVERIFY(!Close()->isVisibleTo(form.get()));
    }

    void placedOverCallerFirstTimeOnly() {
        TFormHelp fresh;
        fresh.ShowOver(WindowRect{100, 100, 901, 700});
        QVERIFY(QTest::qWaitForWindowExposed(&fresh));
        // left = 100 + (801 - 400) / 2, top = 100 + (600 - 495) / 2, truncated.
        QCOMPARE(fresh.frameGeometry().topLeft(), QPoint(300, 152));
        QVERIFY(fresh.Positioned);

        fresh.move(40, 30); // where the user leaves it
        fresh.ShowOver(WindowRect{500, 500, 1300, 1100});
        QCOMPARE(fresh.frameGeometry().topLeft(), QPoint(40, 30));
        fresh.ShowLoadingHelp(WindowRect{500, 500, 1300, 1100});
        QCOMPARE(fresh.frameGeometry().topLeft(), QPoint(40, 30));
    }

    void placementNeverNegative() {
        TFormHelp fresh;
        // A caller near the top-left corner, smaller than the help window.
        fresh.ShowLoadingHelp(WindowRect{-30, -20, 200, 150});
        QVERIFY(QTest::qWaitForWindowExposed(&fresh));
        QCOMPARE(fresh.frameGeometry().topLeft(), QPoint(0, 0));
        QCOMPARE(fresh.windowTitle(), QString("Help - Loading Instructions"));
    }

    void userTextInMemosStays() {
        auto* memo = Child<QPlainTextEdit>("MemoLogging");
        QVERIFY(!memo->isReadOnly());
        ClickLink("LabelLogging");
        memo->appendPlainText("my own note");
        QTest::mouseClick(Back(), Qt::LeftButton);
        form->ShowOver(WindowRect{0, 0, 1280, 1024});
        QVERIFY(memo->toPlainText().endsWith("my own note"));
    }

    void everyPictureLoads_data() {
        QTest::addColumn<int>("picture");
        for (int i = 0; i < int(std::size(kPictures)); ++i)
            QTest::newRow(kPictures[i].element) << i;
    }
    void everyPictureLoads() {
        QFETCH(int, picture);
        const Picture& p = kPictures[picture];

#ifdef KESTRANE_PNG_PICTURES
        // Drawn into PNG at build time, at its display size and at twice it.
        QString drawn = QString(p.resource);
        drawn.chop(4);
        QCOMPARE(QImage(drawn + ".png").size(), QSize(p.width, p.height));
        QCOMPARE(QImage(drawn + "@2x.png").size(), QSize(2 * p.width, 2 * p.height));
#else
        // The resource is there, is a drawing, and is drawn at its display size.
        QSvgRenderer renderer{QString(p.resource)};
        QVERIFY2(renderer.isValid(), p.resource);
        QCOMPARE(renderer.defaultSize(), QSize(p.width, p.height));
#endif

        // Its page shows it, filled in, at that size.
        for (const Topic& t : kTopics) {
            if (t.element == std::string_view(p.element))
                ClickLink(t.link);
        }
        auto* label = Child<QLabel>(p.element);
        QVERIFY(label->isVisibleTo(form.get()));
        const QPixmap shown = label->pixmap();
        QVERIFY2(!shown.isNull(), p.element);
        QCOMPARE(shown.deviceIndependentSize().toSize(), QSize(p.width, p.height));
        const QImage image = shown.toImage();
        int inked = 0;
        for (int y = 0; y < image.height(); y += 4)
            for (int x = 0; x < image.width(); x += 4)
                inked += qGray(image.pixel(x, y)) < 128;
        QVERIFY2(inked > 100, p.element);
    }

    // Each NMEA picture shows an example sentence field by field; put together, it has
    // the sentence's number of fields and a checksum that a receiver would send.
    void nmeaExampleSentencesAreValid_data() {
        QTest::addColumn<QString>("resource");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("fields");
        QTest::newRow("GGA") << ":/help/nmea_gga.svg"
                             << "GPGGA" << 14;
        QTest::newRow("GSA") << ":/help/nmea_gsa.svg"
                             << "GPGSA" << 17;
        QTest::newRow("VTG") << ":/help/nmea_vtg.svg"
                             << "GPVTG" << 9;
        QTest::newRow("ZDA") << ":/help/nmea_zda.svg"
                             << "GPZDA" << 6;
        QTest::newRow("RMC") << ":/help/nmea_rmc.svg"
                             << "GPRMC" << 12;
    }
    void nmeaExampleSentencesAreValid() {
        QFETCH(QString, resource);
        QFETCH(QString, address);
        QFETCH(int, fields);
        QFile file(resource);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString svg = QString::fromUtf8(file.readAll());
        const auto group = QRegularExpression(R"(<g id="example">(.*?)</g>)",
                                              QRegularExpression::DotMatchesEverythingOption)
                               .match(svg);
        QVERIFY(group.hasMatch());
        QString sentence;
        auto texts =
            QRegularExpression(R"(<text[^>]*>([^<]*)</text>)").globalMatch(group.captured(1));
        while (texts.hasNext())
            sentence += texts.next().captured(1);

        const auto parts = QRegularExpression(R"(^\$([^*]*)\*([0-9A-F]{2})$)").match(sentence);
        QVERIFY2(parts.hasMatch(), qPrintable(sentence));
        const QByteArray body = parts.captured(1).toLatin1();
        quint8 sum = 0;
        for (char c : body)
            sum ^= quint8(c);
        QCOMPARE(parts.captured(2), QString::asprintf("%02X", sum));
        const QStringList split = QString::fromLatin1(body).split(',');
        QCOMPARE(split.first(), address);
        QCOMPARE(int(split.size()) - 1, fields);
    }
};

// The offscreen platform cannot raise windows and says so on every showing.
void DropRaiseWarning(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (!text.contains(QLatin1String("does not support raise()")))
        qt_message_output(type, context, text);
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(DropRaiseWarning);
    QApplication app(argc, argv);
    UseReadableFont();
    HelpFormTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "Helpform_test.moc"
