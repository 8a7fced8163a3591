// Kestrane Receiver Utility: sets up and services a Kestrane GPS receiver over a
// serial port.

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "app/Mainform.h"
#include "app/Startargs.h"
#include "app/Startup.h"
#include "connect/Portform.h"
#include "proto/Port.h"
#include "ui/Fontutils.h"

namespace {

// Help and usage errors go to the terminal; a Windows program has none, so it shows them
// in a message box as well.
void Tell(std::FILE* stream, const std::string& text, bool error) {
    std::fputs(text.c_str(), stream);
    std::fflush(stream);
#ifdef _WIN32
    if (error)
        QMessageBox::warning(nullptr, "Kestrane Receiver Utility", QString::fromStdString(text));
    else
        QMessageBox::information(nullptr, "Kestrane Receiver Utility",
                                 QString::fromStdString(text));
#else
    (void)error;
#endif
}

} // namespace

int main(int argc, char** argv) {
#ifndef _WIN32
    // --help needs no display: it is answered before the toolkit looks for one.
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(StartUsageText().c_str(), stdout);
            return 0;
        }
    }
#endif
    QApplication app(argc, argv); // takes the toolkit's own options out of argv
    const StartArguments start =
        ParseStartArguments(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    if (start.action == StartArguments::Action::Help) {
        Tell(stdout, StartUsageText(), false);
        return 0;
    }
    if (start.action == StartArguments::Action::Refused) {
        Tell(stderr, "kestrane-utility: " + start.error + "\nTry 'kestrane-utility --help'.\n",
             true);
        return kStartUsageExit;
    }
    UseReadableFont();
    SetApplicationIdentity();
    try {
        CreateWindows();
        // The run ends when the main window closes, whatever other windows are open.
        QApplication::setQuitOnLastWindowClosed(false);
        QObject::connect(FormMain, &TFormMain::FormClosed, &app, &QApplication::quit,
                         Qt::QueuedConnection);
        FormMain->show();
        if (!start.device.empty()) {
            // Once the splash is up, as if the user had chosen the port at once.
            QTimer::singleShot(0, FormPort,
                               [&start] { FormPort->OpenPortGiven(start.device, start.baud); });
        }
        QApplication::exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, "Kestrane Receiver Utility", e.what());
    }
    CommPort.Close();
    DestroyWindows();
    return 0;
}
