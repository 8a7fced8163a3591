#include "app/Startup.h"

#include <QApplication>
#include <QIcon>

#include "app/Mainform.h"
#include "connect/Portform.h"
#include "loader/Loadsetupform.h"
#include "receiver/Rcvrportform.h"
#include "receiver/Statisticsform.h"
#include "receiver/Statusform.h"
#include "ui/Aboutform.h"
#include "ui/Helpform.h"
#include "ui/Noteform.h"
#include "ui/Waitform.h"

void SetApplicationIdentity() {
    // The icon lives in the forms library, which is static: register its resources.
    Q_INIT_RESOURCE(Appicon);
    QApplication::setApplicationName(QStringLiteral("kestrane-utility"));
    QApplication::setApplicationVersion(QStringLiteral(KESTRANE_VERSION));
    QApplication::setOrganizationName(QStringLiteral("Kestrane"));
    QApplication::setDesktopFileName(QStringLiteral("org.kestrane.ReceiverUtility"));
#ifdef KESTRANE_PNG_PICTURES
    // Without SVG the icon comes drawn at the sizes Windows asks for.
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/icons/org.kestrane.ReceiverUtility-%1.png").arg(size),
                     QSize(size, size));
    }
    QApplication::setWindowIcon(icon);
#else
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/org.kestrane.ReceiverUtility.svg")));
#endif
}

void CreateWindows(const std::string& sysfsRoot) {
    FormMain = new TFormMain();
    FormAbout = new TFormAbout();
    FormPort = new TFormPort(nullptr, sysfsRoot);
    FormRcvrPort = new TFormRcvrPort();
    FormHelp = new TFormHelp();
    FormNote = new TFormNote();
    FormWait = new TFormWait();
    FormLoadSetup = new TFormLoadSetup();
    FormStatus = new TFormStatus();
    FormStatistics = new TFormStatistics();

    // The windows below the main window do not know one another upwards; what one tells
    // another above it goes through these connections, made here where all are known.
    // Both are direct: the receiver happens within the sender's call.
    QObject::connect(FormPort, &TFormPort::ReceiverFoundAt, FormRcvrPort,
                     &TFormRcvrPort::SelectBaudRateEntry);
    QObject::connect(FormRcvrPort, &TFormRcvrPort::ReportPassedOn, FormLoadSetup,
                     &TFormLoadSetup::OnConfigurationReport);
}

namespace {
template <typename T> void Destroy(T*& form) {
    T* f = form;
    form = nullptr;
    delete f;
}
} // namespace

void DestroyWindows() {
    Destroy(FormStatistics);
    Destroy(FormStatus);
    Destroy(FormLoadSetup);
    Destroy(FormWait);
    Destroy(FormNote);
    Destroy(FormHelp);
    Destroy(FormRcvrPort);
    Destroy(FormPort);
    Destroy(FormAbout);
    Destroy(FormMain);
}
