// Takes the README's pictures of the program: the main window receiving from a
// simulated receiver, the Receiver Setup dialog filled from the receiver's reports,
// the Receiver Status window with a minute of fixes, and its Statistics. Run by scripts/screenshots.sh
// under Xvfb; writes main-window.png, receiver-setup.png and receiver-status.png into
// the folder given as the first argument.

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QPixmap>
#include <QThread>
#include <cstdio>

#include "app/Mainform.h"
#include "app/Startup.h"
#include "proto/Port.h"
#include "receiver/Rcvrportform.h"
#include "receiver/Statisticsform.h"
#include "receiver/Statusform.h"
#include "sim/Simreceiver.h"
#include "ui/Aboutform.h"
#include "ui/Windowrect.h"

namespace {

// Lets the program run (timers, the receive poll) for the given time.
void RunFor(int ms) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

bool Save(QWidget* window, const QString& path) {
    const bool ok = window->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(folder);

    SimOptions options;
    options.navRate = 5; // fills the memo in a few seconds
    SimReceiver sim(options);
    if (!sim.Start()) {
        std::fprintf(stderr, "no pseudo-terminal for the simulated receiver\n");
        return 1;
    }

    SetApplicationIdentity();
    CreateWindows();
    FormMain->show();

    // Open the port as the Open Port dialog's manual open does.
    const std::string device = sim.DevicePath();
    if (!CommPort.Open(device.c_str(), 19200, 0)) {
        std::fprintf(stderr, "cannot open %s: %s\n", device.c_str(), CommPort.errorText());
        return 1;
    }
    CommPort.SetBlocking(false);
    PortDeviceName = device;
    PortBaudRate = 19200;
    NotifyPortChanged();

    RunFor(8000); // the splash hides itself after six seconds; the memo fills
    FormAbout->hide();
    bool ok = Save(FormMain, folder + "/main-window.png");

    FormRcvrPort->ShowOver(OuterRect(*FormMain));
    RunFor(1500); // the two reports arrive and fill the controls
    ok = Save(FormRcvrPort, folder + "/receiver-setup.png") && ok;
    FormRcvrPort->hide();

    // The status window has decoded every sentence since the port opened; a few more
    // seconds of fixes at five a second fill its plot.
    FormStatus->ShowOver(OuterRect(*FormMain));
    RunFor(6000);
    ok = Save(FormStatus, folder + "/receiver-status.png") && ok;

    // Its Statistics: the counts of the last seconds and the charts of the run so far.
    FormStatistics->ShowOver(OuterRect(*FormStatus));
    RunFor(2500);
    ok = Save(FormStatistics, folder + "/receiver-statistics.png") && ok;
    FormStatistics->hide();

    CommPort.Close();
    DestroyWindows();
    return ok ? 0 : 1;
}
