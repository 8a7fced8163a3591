// Devices that come and go while the program runs, as USB serial adapters do. Closing the
// master side of a pseudo-terminal is the adapter pulled out; the Open Port dialog lists
// the devices of a sysfs tree that the test fills and empties.

#include "sim/Simreceiver.h"
#include "tests/common/Pty.h"
#include "tests/connect/Windows.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTemporaryDir>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// A /sys/class/tty of the test's own: an entry with a driver is a device.
class SysfsTree {
public:
    SysfsTree() : root_(dir_.path().toStdString()) {}
    const std::string& root() const { return root_; }
    void Add(const std::string& name) {
        fs::create_directories(root_ + "/" + name + "/device/driver");
    }
    void Remove(const std::string& name) { fs::remove_all(root_ + "/" + name); }

private:
    QTemporaryDir dir_;
    std::string root_;
};

// The program's windows over the sysfs tree and the extra ports named, the main window's
// timer stopped (the tests tick), the search on a fake clock.
class Windows {
public:
    Windows(const std::string& sysfsRoot, const std::string& extraPorts) {
        SetExtraPorts(extraPorts);
        CommPort.Close();
        DiagFramer.Reset();
        LineFramer.Reset();
        CreateWindows(sysfsRoot);
        FormMain->Timer->stop();
        FormPort->SetClock(clock);
    }
    ~Windows() {
        CommPort.Close();
        DestroyWindows();
        unsetenv(kExtraPortsVariable);
    }
    Windows(const Windows&) = delete;
    Windows& operator=(const Windows&) = delete;
    static void SetExtraPorts(const std::string& ports) {
        setenv(kExtraPortsVariable, ports.c_str(), 1);
    }
    FakeClock clock;
};

// Lets the event loop run (the Open Port dialog's own timer) without ticks of the main
// window, until done holds or the time is up.
bool EventsUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

QComboBox* DeviceCombo() {
    return Child<QComboBox>(FormPort, "ComboBoxDeviceName");
}

// What the dialog offers, checked to be what its combo shows.
std::vector<std::string> Offered() {
    std::vector<std::string> names(FormPort->DeviceNames().begin(), FormPort->DeviceNames().end());
    std::vector<std::string> shown;
    for (int i = 0; i < DeviceCombo()->count(); ++i)
        shown.push_back(DeviceCombo()->itemText(i).toStdString());
    EXPECT_EQ(shown, names);
    return names;
}

std::string Selected() {
    return DeviceCombo()->currentText().toStdString();
}

void SetAuto(bool device, bool baud) {
    Child<QToolButton>(FormPort, device ? "ButtonDeviceNameAuto" : "ButtonDeviceNameManual")
        ->click();
    Child<QToolButton>(FormPort, baud ? "ButtonBaudRateAuto" : "ButtonBaudRateManual")->click();
}

void Apply() {
    Child<QPushButton>(FormPort, "ButtonApply")->click();
}

// Opens device at 19200 through the dialog, both on Manual.
void OpenByHand(const std::string& device) {
    DeviceCombo()->setCurrentIndex(DeviceCombo()->findText(QString::fromStdString(device)));
    Apply();
}

QString Panel(const std::string& device, const char* state) {
    return QString::fromStdString(device) + " : 19200 : " + state;
}

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool MemoHas(const QString& text) {
    return FormMain->findChild<QPlainTextEdit*>("Memo")->toPlainText().contains(text);
}

} // namespace

TEST(HangUp, WhileOpenThePortClosesAndThePanelSaysSoWithinATick) {
    SysfsTree sysfs;
    Pty line;
    Windows w(sysfs.root(), line.path());
    NoteCatcher notes;
    QTemporaryDir dir;
    const std::string log = dir.filePath("gps.txt").toStdString();
    ASSERT_TRUE(FormMain->StartLogging(QString::fromStdString(log)));
    OpenByHand(line.path());
    ASSERT_EQ(FormMain->PanelText(0), Panel(line.path(), "Open"));
    line.Send("$GPGGA,1*00\r\n");
    ASSERT_TRUE(TickUntil([] { return FormMain->messageCount == 1; }));

    line.HangUp();
    Tick();
    Tick();
    EXPECT_FALSE(CommPort.IsOpen()); // so nothing reads the vanished device any more
    EXPECT_EQ(FormMain->PanelText(0), Panel(line.path(), "Closed"));
    for (int i = 0; i < 5; ++i)
        Tick();
    EXPECT_TRUE(notes.texts.empty());
    // Logging is the user's to end: it stays on, with what arrived before.
    EXPECT_TRUE(FormMain->LoggingOn());
    EXPECT_EQ(FileText(log), "$GPGGA,1*00\r\n");
}

TEST(HangUp, DuringASearchTheVanishedDeviceCountsAsSilentAndTheSearchGoesOn) {
    SysfsTree sysfs;
    Pty vanishing;
    SimReceiver receiver; // 19200
    ASSERT_TRUE(receiver.Start());
    Windows w(sysfs.root(), vanishing.path() + ":" + receiver.DevicePath());
    NoteCatcher notes;
    SetAuto(true, false); // every device, at 19200
    Apply();
    ASSERT_TRUE(FormPort->Searching());
    ASSERT_EQ(PortDeviceName, vanishing.path());

    vanishing.HangUp();
    Tick();
    Tick();
    EXPECT_EQ(FormMain->PanelText(0), Panel(vanishing.path(), "Closed"));
    EXPECT_TRUE(FormPort->Searching());

    w.clock.Advance(2);
    Tick(); // the attempt heard nothing: on to the next device
    ASSERT_EQ(PortDeviceName, receiver.DevicePath());
    ASSERT_TRUE(
        TickUntil([] { return FormMain->messageCount != FormPort->AttemptMessageCount(); }));
    w.clock.Advance(2);
    Tick();
    EXPECT_FALSE(FormPort->Searching());
    EXPECT_EQ(FormMain->PanelText(0), Panel(receiver.DevicePath(), "Open"));
    EXPECT_TRUE(notes.texts.empty());
}

TEST(DeviceList, FollowsDevicesThatComeAndGoAndKeepsTheSelectedOne) {
    SysfsTree sysfs;
    sysfs.Add("ttyUSB1");
    Pty line;
    Windows w(sysfs.root(), line.path());
    NoteCatcher notes;
    const std::string pts = line.path();
    ASSERT_EQ(Offered(), (std::vector<std::string>{"/dev/ttyUSB1", pts}));
    DeviceCombo()->setCurrentIndex(1);

    // Plugged in while the dialog is hidden: offered at its next showing, in the order of
    // start-up (the first classic port first, the extra ports last).
    sysfs.Add("ttyUSB0");
    sysfs.Add("ttyS0");
    FormPort->ShowOver(OuterRect(*FormMain));
    EXPECT_EQ(Offered(),
              (std::vector<std::string>{"/dev/ttyS0", "/dev/ttyUSB0", "/dev/ttyUSB1", pts}));
    EXPECT_EQ(Selected(), pts);

    // While it is visible: a device pulled out leaves the list within about a second.
    sysfs.Remove("ttyUSB0");
    EXPECT_TRUE(EventsUntil([] { return FormPort->DeviceNames().size() == 3; }, 3000ms));
    EXPECT_EQ(Offered(), (std::vector<std::string>{"/dev/ttyS0", "/dev/ttyUSB1", pts}));
    EXPECT_EQ(Selected(), pts);

    // A running search keeps the list it started with, also when shown again.
    SetAuto(false, true);
    Apply();
    ASSERT_TRUE(FormPort->Searching());
    sysfs.Add("ttyACM0");
    EventsUntil([] { return false; }, 1500ms);
    FormPort->ShowOver(OuterRect(*FormMain));
    EXPECT_EQ(FormPort->DeviceNames().size(), 3u);
    FormWait->ButtonCancel->click();
    EXPECT_TRUE(EventsUntil([] { return FormPort->DeviceNames().size() == 4; }, 3000ms));
    EXPECT_EQ(Selected(), pts);

    // The selected device goes: entry 0 is selected. Then every device goes: Apply says so.
    Windows::SetExtraPorts("");
    EXPECT_TRUE(EventsUntil([] { return FormPort->DeviceNames().size() == 3; }, 3000ms));
    EXPECT_EQ(Offered(), (std::vector<std::string>{"/dev/ttyS0", "/dev/ttyACM0", "/dev/ttyUSB1"}));
    EXPECT_EQ(Selected(), "/dev/ttyS0");
    for (const char* name : {"ttyS0", "ttyACM0", "ttyUSB1"})
        sysfs.Remove(name);
    EXPECT_TRUE(EventsUntil([] { return FormPort->DeviceNames().empty(); }, 3000ms));
    SetAuto(false, false);
    Apply();
    EXPECT_EQ(notes.texts, (std::vector<QString>{"No serial device was found to open."}));
}

TEST(HangUp, ThePluggedBackReceiverOpensAgainAndWorksAsBefore) {
    SysfsTree sysfs;
    SimOptions options;
    options.navRate = 5;
    SimReceiver receiver(options);
    ASSERT_TRUE(receiver.Start());
    const std::string first = receiver.DevicePath();
    Windows w(sysfs.root(), first);
    NoteCatcher notes;
    QTemporaryDir dir;
    const std::string log = dir.filePath("gps.txt").toStdString();
    ASSERT_TRUE(FormMain->StartLogging(QString::fromStdString(log)));
    OpenByHand(first);
    ASSERT_TRUE(TickUntil([&] { return FileText(log).find("$GPGGA") != std::string::npos; }));

    receiver.Stop(); // pulled out
    ASSERT_TRUE(TickUntil([] { return !CommPort.IsOpen(); }, 1000ms));
    EXPECT_EQ(FormMain->PanelText(0), Panel(first, "Closed"));
    const std::size_t loggedBefore = FileText(log).size();

    // Plugged back in, under another name: its old one has meanwhile gone to another
    // line, as a re-plugged adapter gets a new name while its old one is still held.
    Pty other;
    ASSERT_TRUE(receiver.Start());
    const std::string again = receiver.DevicePath();
    Windows::SetExtraPorts(again);
    FormPort->ShowOver(OuterRect(*FormMain));
    OpenByHand(again);
    EXPECT_EQ(FormMain->PanelText(0), Panel(again, "Open"));
    EXPECT_TRUE(notes.texts.empty());

    // Reception and logging carry on...
    const int count = FormMain->messageCount;
    ASSERT_TRUE(TickUntil([&] {
        const std::string text = FileText(log);
        return text.size() > loggedBefore && text.find("$GPGGA", loggedBefore) != std::string::npos;
    }));
    EXPECT_GT(FormMain->messageCount, count);
    // ...and Receiver Setup asks for the reports and fills its controls from them.
    receiver.ClearEvents();
    QComboBox* nav = SetupControls().nav;
    nav->setCurrentIndex(nav->findText("1"));
    FormRcvrPort->ShowOver(OuterRect(*FormMain));
    ASSERT_TRUE(
        TickUntil([] { return MemoHas("Proprietary ID 4") && MemoHas("Proprietary ID 1"); }));
    EXPECT_EQ(nav->currentText(), "5");
    ASSERT_GE(receiver.ReceivedFrames().size(), 2u);
    EXPECT_EQ(receiver.ReceivedFrames()[0][6], 4);
    EXPECT_EQ(receiver.ReceivedFrames()[1][6], 1);
}

// The adapter pulled out and put back, found again behind its /dev/serial/by-id link
// though the system gave it another tty: the port reopens by itself at its rate within
// about two seconds, the status bar says so, and reception and logging go on into the
// same file. With Port > Reopen After Unplug off, a pulled adapter is left closed.
TEST(HangUp, TheReceiverBackBehindItsLinkIsReopenedAndTheLogGoesOn) {
    SysfsTree sysfs;
    SimReceiver receiver;
    ASSERT_TRUE(receiver.Start());
    QTemporaryDir dir;
    const std::string link = dir.filePath("usb-Kestrane_GPS-if00").toStdString();
    fs::create_symlink(receiver.DevicePath(), link);
    Windows w(sysfs.root(), link);
    FormMain->SetClock(w.clock);
    NoteCatcher notes;
    const std::string log = dir.filePath("gps.txt").toStdString();
    ASSERT_TRUE(FormMain->StartLogging(QString::fromStdString(log)));
    OpenByHand(link);
    ASSERT_TRUE(TickUntil([&] { return FileText(log).find("$GPGGA") != std::string::npos; }));
    const auto message = [] { return FormMain->statusBar()->currentMessage().toStdString(); };
    const auto pullOut = [&] {
        receiver.Stop();
        fs::remove(link);
        ASSERT_TRUE(TickUntil([] { return !CommPort.IsOpen(); }, 1000ms));
    };
    // Fake time moves 100 ms a tick; true once the port is open.
    const auto ticksOpen = [&](int ticks) {
        for (int i = 0; i < ticks && !CommPort.IsOpen(); ++i) {
            w.clock.AdvanceMilliseconds(100);
            Tick();
        }
        return CommPort.IsOpen();
    };

    pullOut();
    EXPECT_EQ(message(), "The device " + link + " went away; waiting for it to return.");
    const std::string before = FileText(log);
    EXPECT_FALSE(ticksOpen(30));
    ASSERT_TRUE(receiver.Start());
    fs::create_symlink(receiver.DevicePath(), link);
    ASSERT_TRUE(ticksOpen(20));
    EXPECT_EQ(FormMain->PanelText(0), Panel(link, "Open"));
    EXPECT_EQ(message(), "Reopened " + link + " at 19200");
    ASSERT_TRUE(TickUntil([&] {
        const std::string text = FileText(log);
        return text.size() > before.size() &&
               text.find("$GPGGA", before.size()) != std::string::npos;
    }));
    EXPECT_EQ(FileText(log).substr(0, before.size()), before);
    EXPECT_TRUE(FormMain->LoggingOn());

    FormMain->findChild<QAction*>("MenuPortReopen")->trigger();
    EXPECT_FALSE(FormMain->ReopenOn());
    pullOut();
    ASSERT_TRUE(receiver.Start());
    fs::create_symlink(receiver.DevicePath(), link);
    EXPECT_FALSE(ticksOpen(30));
    EXPECT_EQ(FormMain->PanelText(0), Panel(link, "Closed"));
    EXPECT_TRUE(notes.texts.empty());
}
