// Renders every page of the Help window to a PNG in the given folder, one file per page,
// on the offscreen platform, so that a person can look at the texts and pictures after a
// change. Exit status 1 when a page cannot be rendered or written.
//
//   render_help_pages <folder> [scale]
//
// scale (default 1) renders at that device pixel ratio, to look at the pictures as a
// high-density screen shows them.

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <cstdio>
#include <functional>

#include "ui/Fontutils.h"
#include "ui/Helpform.h"

namespace {

// The offscreen platform cannot raise windows and says so on every showing.
void DropRaiseWarning(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (!text.contains(QLatin1String("does not support raise()")))
        qt_message_output(type, context, text);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <folder> [scale]\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc >= 3)
        qputenv("QT_SCALE_FACTOR", argv[2]);
    qInstallMessageHandler(DropRaiseWarning);
    QApplication app(argc, argv);
    UseReadableFont(); // as the program does (under wine only)
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(folder.path())) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }

    TFormHelp form;
    const WindowRect screen{0, 0, 1280, 1024};
    form.ShowOver(screen);

    struct Page {
        const char* file;
        std::function<void()> open;
    };
    const Page pages[] = {
        {"00_index", [&] { form.ShowOver(screen); }},
        {"01_connection", [&] { form.LabelConnectionClick(); }},
        {"02_wiring_10pin", [&] { form.Label10Click(); }},
        {"03_wiring_12pin", [&] { form.Label12Click(); }},
        {"04_software_loading", [&] { form.LabelProgrammingClick(); }},
        {"05_logging", [&] { form.LabelLoggingClick(); }},
        {"06_nmea_gga", [&] { form.LabelNMEAGGAClick(); }},
        {"07_nmea_gsa", [&] { form.LabelNMEAGSAClick(); }},
        {"08_nmea_vtg", [&] { form.LabelNMEAVTGClick(); }},
        {"09_nmea_zda", [&] { form.LabelNMEAZDAClick(); }},
        {"10_nmea_rmc", [&] { form.LabelNMEARMCClick(); }},
        {"11_loading_direct", [&] { form.ShowLoadingHelp(screen); }},
        {"12_receiver_status", [&] { form.LabelStatusClick(); }},
    };
    int failures = 0;
    for (const Page& page : pages) {
        form.ShowOver(screen); // every topic is opened from the index
        page.open();
        QApplication::processEvents();
        const QString path = folder.filePath(QString::fromLatin1(page.file) + ".png");
        const QPixmap shot = form.grab();
        if (shot.isNull() || !shot.save(path)) {
            std::fprintf(stderr, "cannot render %s\n", page.file);
            ++failures;
            continue;
        }
        const QSize outer = form.frameGeometry().size();
        std::printf("%s  %dx%d  \"%s\"\n", qPrintable(path), outer.width(), outer.height(),
                    qPrintable(form.windowTitle()));
    }
    return failures == 0 ? 0 : 1;
}
