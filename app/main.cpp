// Kestrane Receiver Utility: sets up and services a Kestrane GPS receiver over a
// serial port.

#include <QApplication>
#include <QMessageBox>
#include <exception>

#include "app/Mainform.h"
#include "app/Startup.h"
#include "proto/Port.h"
#include "ui/Fontutils.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    UseReadableFont();
    SetApplicationIdentity();
    try {
        CreateWindows();
        // The run ends when the main window closes, whatever other windows are open.
        QApplication::setQuitOnLastWindowClosed(false);
        QObject::connect(FormMain, &TFormMain::FormClosed, &app, &QApplication::quit,
                         Qt::QueuedConnection);
        FormMain->show();
        QApplication::exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, "Kestrane Receiver Utility", e.what());
    }
    CommPort.Close();
    DestroyWindows();
    return 0;
}
