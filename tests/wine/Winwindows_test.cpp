// The Windows build's windows under wine, driven as a user drives them, against a receiver
// that the Linux side plays on the COM port wine maps to its pseudo-terminal
// (Winwindowsrun_test.cpp starts each of these tests with the receiver it needs and checks
// what the receiver got; these tests check what the windows show). Not run on their own.
//
//   window_wine_tests.exe --gtest_filter=WineWindows.X --port=COM5 [--file=PATH] [--bytes=N]
//
// Each test prints "READY" on standard output once the port is open, for the Linux side
// to start the receiver's part.

#include "app/Mainform.h"
#include "app/Startup.h"
#include "connect/Portform.h"
#include "loader/Loadsetupform.h"
#include "proto/Port.h"
#include "tests/connect/Controls.h"
#include "ui/Fontutils.h"
#include "ui/Windowrect.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QThread>
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

std::string gPort;
QString gFile;
qint64 gBytes = 0;

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

void Ready() {
    std::printf("READY\n");
    std::fflush(stdout);
}

class WineWindows : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(gPort.empty()) << "run by wine_window_tests on Linux";
        CreateWindows();
    }
    void TearDown() override {
        CommPort.Close();
        DestroyWindows();
    }

    // The Open Port dialog as a user fills it: the device and the rate chosen by hand,
    // then OK.
    void OpenByHand(std::uint32_t rate) {
        FormPort->ShowOver(OuterRect(*FormMain));
        Child<QToolButton>(FormPort, "ButtonDeviceNameManual")->click();
        Child<QToolButton>(FormPort, "ButtonBaudRateManual")->click();
        auto* devices = Child<QComboBox>(FormPort, "ComboBoxDeviceName");
        const int device = devices->findText(QString::fromStdString(gPort));
        ASSERT_GE(device, 0) << "the device list lacks " << gPort;
        devices->setCurrentIndex(device);
        auto* rates = Child<QComboBox>(FormPort, "ComboBoxBaudRate");
        rates->setCurrentIndex(rates->findText(QString::number(rate)));
        Child<QPushButton>(FormPort, "ButtonOK")->click();
        ASSERT_TRUE(CommPort.IsOpen());
        ASSERT_EQ(PortDeviceName, gPort);
        ASSERT_EQ(PortBaudRate, static_cast<std::int32_t>(rate));
        EXPECT_TRUE(FormMain->PanelText(0).endsWith(QStringLiteral(": Open")));
    }
};

// The receiver's sentences shown and logged as received: the Linux side compares the log
// with the one the same bytes give on Linux.
TEST_F(WineWindows, MainWindowShowsAndLogsTheReceiversSentences) {
    OpenByHand(19200);
    ASSERT_TRUE(FormMain->StartLogging(gFile));
    Ready();
    ASSERT_TRUE(WaitFor([] { return QFileInfo(gFile).size() >= gBytes; }, 60000))
        << QFileInfo(gFile).size() << " of " << gBytes << " bytes logged";
    // The memo shows the sentences: its last line is the last one logged.
    const QStringList lines = FormMain->findChild<QPlainTextEdit*>("Memo")->toPlainText().split('\n');
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.last().contains(QStringLiteral(": $GP"))) << lines.last().toStdString();
    FormMain->MenuFileLoggingClick(); // logging off: the file is closed
    EXPECT_FALSE(FormMain->LoggingOn());
}

// Auto and Auto: the search goes through the COM ports and their rates until the receiver
// answers.
TEST_F(WineWindows, AutomaticSearchFindsTheReceiver) {
    FormPort->ShowOver(OuterRect(*FormMain));
    Child<QToolButton>(FormPort, "ButtonDeviceNameAuto")->click();
    Child<QToolButton>(FormPort, "ButtonBaudRateAuto")->click();
    Child<QPushButton>(FormPort, "ButtonOK")->click();
    Ready();
    ASSERT_TRUE(WaitFor([] { return !FormPort->Searching(); }, 120000));
    EXPECT_TRUE(CommPort.IsOpen());
    EXPECT_EQ(PortDeviceName, gPort);
    EXPECT_EQ(PortBaudRate, 9600);
    EXPECT_EQ(FormMain->PanelText(0), QString::fromStdString(gPort) + " : 9600 : Open");
}

// Request fills the controls from the receiver's reports; Apply sends what they show.
TEST_F(WineWindows, ReceiverSetupShowsTheReportsAndApplySendsTheControls) {
    OpenByHand(19200);
    Ready();
    FormRcvrPort->ShowOver(OuterRect(*FormMain));
    SetupControls c;
    // The receiver sends GGA and RMC at 5 Hz, corrections off, channel 41001, no WAAS.
    ASSERT_TRUE(WaitFor([&] { return c.Nmea() == 0x11 && c.alt->isChecked(); }, 10000));
    EXPECT_EQ(c.nav->currentText(), QStringLiteral("5"));
    EXPECT_EQ(c.baud->currentText(), QStringLiteral("19200"));
    EXPECT_TRUE(c.corrOff->isChecked());
    EXPECT_FALSE(c.waasOn->isEnabled());
    EXPECT_EQ(c.freq->text(), QStringLiteral("1545.5005"));

    // GSA on, one fix a second, the default frequency, corrections on.
    c.gsa->setChecked(true);
    c.nav->setCurrentIndex(0);
    c.dflt->click();
    c.corrOn->click();
    c.apply->click();
    // Request reads the receiver again: the controls, set back meanwhile, show what it
    // took.
    c.SetNmea(0);
    c.request->click();
    EXPECT_TRUE(WaitFor([&] { return c.Nmea() == 0x13 && c.dflt->isChecked(); }, 10000));
    EXPECT_EQ(c.nav->currentText(), QStringLiteral("1"));
    EXPECT_TRUE(c.corrOn->isChecked());
}

// A software load through the Load Software window, from a port at 9600 (the loader runs
// at 19200 and the port comes back).
TEST_F(WineWindows, SoftwareLoadCompletes) {
    OpenByHand(9600);
    Ready();
    std::vector<std::string> statuses;
    QObject::connect(FormLoadSetup, &TFormLoadSetup::StatusShown,
                     [&](const QString& s) { statuses.push_back(s.toStdString()); });
    FormLoadSetup->ShowOver(OuterRect(*FormMain));
    FormLoadSetup->SoftwareFileChosen(true, gFile);
    FormLoadSetup->ButtonLoadClick();
    ASSERT_TRUE(FormLoadSetup->LoadRunning()) << (statuses.empty() ? "" : statuses.back());
    ASSERT_TRUE(WaitFor([] { return !FormLoadSetup->LoadRunning(); }, 240000));
    ASSERT_GE(statuses.size(), 2u);
    EXPECT_EQ(statuses[statuses.size() - 2], "Finished");
    EXPECT_EQ(statuses.back(), "Checking GPS Engine");
    EXPECT_TRUE(CommPort.IsOpen());
    EXPECT_EQ(PortBaudRate, 9600);
    EXPECT_TRUE(FormMain->isEnabled());
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    UseReadableFont();
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg.startsWith(QLatin1String("--port=")))
            gPort = arg.mid(7).toStdString();
        else if (arg.startsWith(QLatin1String("--file=")))
            gFile = arg.mid(7);
        else if (arg.startsWith(QLatin1String("--bytes=")))
            gBytes = arg.mid(8).toLongLong();
    }
    return RUN_ALL_TESTS();
}
