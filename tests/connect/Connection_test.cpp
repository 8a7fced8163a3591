// Connection set-up end to end: the Open Port dialog's search and the Receiver Setup
// dialog against simulated receivers on pseudo-terminals, through the real serial port,
// the main window's tick and the port manager.
//
// The search runs on a FakeClock: ten ticks make a calendar second. Where an attempt is
// expected to hear traffic, the driver lets real time pass (ticking) until it has, so a
// slow machine cannot turn a found receiver into a missed one; one search runs on the
// real clock and the main window's own timer.

#include "sim/Simreceiver.h"
#include "tests/common/Pty.h"
#include "tests/common/Startsim.h"
#include "tests/connect/Windows.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <memory>
#include <sys/file.h>
#include <sys/wait.h>

namespace {

using namespace std::chrono_literals;
using Combo = std::pair<std::string, std::int32_t>;

// Runs the search on the fake clock until it ends and returns the combinations that
// were opened, in order. answers(combo) says where traffic is to be waited for.
std::vector<Combo> RunSearch(TestWindows& w, const std::function<bool(const Combo&)>& answers,
                             int maxSeconds = 60) {
    std::vector<Combo> attempts;
    const auto record = [&] {
        const Combo now{PortDeviceName, PortBaudRate};
        if (FormPort->Searching() && (attempts.empty() || attempts.back() != now))
            attempts.push_back(now);
    };
    record();
    for (int s = 0; s < maxSeconds && FormPort->Searching(); ++s) {
        for (int t = 0; t < 10 && FormPort->Searching(); ++t) {
            Tick();
            record();
        }
        if (!FormPort->Searching())
            break;
        if (answers({PortDeviceName, PortBaudRate})) {
            TickUntil([] { return FormMain->messageCount != FormPort->AttemptMessageCount(); },
                      3000ms);
        }
        w.clock.Advance(1);
    }
    EXPECT_FALSE(FormPort->Searching());
    return attempts;
}

std::vector<Combo> Combos(const std::string& device, std::initializer_list<std::int32_t> rates) {
    std::vector<Combo> out;
    for (std::int32_t r : rates)
        out.emplace_back(device, r);
    return out;
}

std::vector<Combo> operator+(std::vector<Combo> a, const std::vector<Combo>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

QComboBox* PortBaudCombo() {
    return Child<QComboBox>(FormPort, "ComboBoxBaudRate");
}
QComboBox* PortDeviceCombo() {
    return Child<QComboBox>(FormPort, "ComboBoxDeviceName");
}
QComboBox* SetupBaudCombo() {
    return SetupControls().baud;
}

void SetAuto(bool device, bool baud) {
    Child<QToolButton>(FormPort, device ? "ButtonDeviceNameAuto" : "ButtonDeviceNameManual")
        ->click();
    Child<QToolButton>(FormPort, baud ? "ButtonBaudRateAuto" : "ButtonBaudRateManual")->click();
}

// Another process that holds a device open and locked until it is ended.
class Holder {
public:
    explicit Holder(const std::string& path) {
        int ready[2];
        if (pipe(ready) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            // Only async-signal-safe calls between fork and _exit.
            const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
            const char ok = (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) ? '1' : '0';
            (void)!write(ready[1], &ok, 1);
            for (;;)
                pause();
        }
        close(ready[1]);
        char ok = '0';
        if (pid_ > 0 && read(ready[0], &ok, 1) == 1)
            held_ = ok == '1';
        close(ready[0]);
    }
    ~Holder() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool held() const { return held_; }

private:
    pid_t pid_ = -1;
    bool held_ = false;
};

// ---------------------------------------------------------------------------------------
// Automatic search

TEST(AutoSearch, FindsTheReceiverOnTheSecondDeviceAt9600) {
    auto first = StartSim([](SimOptions& o) { o.dead = true; });
    auto second = StartSim([](SimOptions& o) { o.baudRate = 9600; });
    ASSERT_TRUE(first && second);
    const std::string a = first->DevicePath(), b = second->DevicePath();
    TestWindows w({a, b});
    NoteCatcher notes;

    FormPort->ShowOver(OuterRect(*FormMain));
    const WindowRect where = OuterRect(*FormPort);
    SetAuto(true, true);
    Child<QPushButton>(FormPort, "ButtonOK")->click();
    // OK hides the dialog at once; the wait dialog stands where it was.
    EXPECT_FALSE(FormPort->isVisible());
    ASSERT_TRUE(FormWait->isVisible());
    // (Centres compared: the platform may settle a window's frame when it is first shown.)
    const QRect wait = FormWait->frameGeometry();
    EXPECT_NEAR(wait.center().x(), (where.left + where.right) / 2, 3);
    EXPECT_NEAR(wait.center().y(), (where.top + where.bottom) / 2, 3);
    EXPECT_EQ(Child<QLabel>(FormWait, "Label")->text(), Q("Attempting " + a + " at 4800"));

    const auto attempts = RunSearch(w, [&](const Combo& c) { return c == Combo{b, 9600}; });
    EXPECT_EQ(attempts, Combos(a, {4800, 9600, 19200, 38400}) + Combos(b, {4800, 9600}));
    EXPECT_TRUE(notes.texts.empty());
    EXPECT_FALSE(FormWait->isVisible());
    EXPECT_FALSE(FormPort->isVisible());
    EXPECT_TRUE(CommPort.IsOpen());
    EXPECT_EQ(PortDeviceName, b);
    EXPECT_EQ(PortBaudRate, 9600);
    EXPECT_EQ(FormMain->PanelText(0), Q(b) + " : 9600 : Open");
    EXPECT_EQ(PortBaudCombo()->currentText(), "9600");
    EXPECT_EQ(SetupBaudCombo()->currentText(), "9600");
    EXPECT_EQ(PortDeviceCombo()->currentText(), Q(b));
    // DeviceName keeps the device selected at Apply; BaudRate follows the port.
    EXPECT_EQ(FormPort->DeviceName, a);
    EXPECT_EQ(FormPort->BaudRate, 9600u);
    EXPECT_TRUE(
        second->WaitUntil([](const SimStatus& s) { return s.pcOpen && s.pcRate == 9600; }, 1000ms));
}

TEST(AutoSearch, EchoingPortIsNeverTakenForTheReceiver) {
    auto echo = StartSim([](SimOptions& o) { o.echo = true; });
    ASSERT_TRUE(echo);
    const std::string a = echo->DevicePath();
    TestWindows w({a});
    NoteCatcher notes;
    SetAuto(false, true);
    Child<QPushButton>(FormPort, "ButtonApply")->click();
    const auto attempts = RunSearch(w, [](const Combo&) { return true; });
    EXPECT_EQ(attempts, Combos(a, {4800, 9600, 19200, 38400}));
    // Every request came back as a frame of id 255, and none counted as an answer.
    EXPECT_EQ(FormMain->lastMessageId, 255);
    EXPECT_EQ(FormMain->messageCount, 4);
    ASSERT_EQ(notes.texts.size(), 1u);
    EXPECT_EQ(notes.texts[0], "Failed to find unit.");
    EXPECT_TRUE(CommPort.IsOpen());
    EXPECT_EQ(FormMain->PanelText(0), Q(a) + " : 38400 : Open");
}

TEST(AutoSearch, DeviceHeldByAnotherProcessIsSkipped) {
    Pty heldLine;
    ASSERT_TRUE(heldLine.ok());
    Holder holder(heldLine.path());
    ASSERT_TRUE(holder.held());
    auto silent = StartSim([](SimOptions& o) { o.dead = true; });
    auto receiver = StartSim(); // 19200
    ASSERT_TRUE(silent && receiver);
    const std::string a = silent->DevicePath(), held = heldLine.path(), b = receiver->DevicePath();
    TestWindows w({a, held, b});
    NoteCatcher notes;

    // A search that would begin on the held device does not begin at all.
    PortDeviceCombo()->setCurrentIndex(1);
    SetAuto(false, true);
    Child<QPushButton>(FormPort, "ButtonApply")->click();
    EXPECT_FALSE(FormPort->Searching());
    EXPECT_FALSE(FormWait->isVisible());
    EXPECT_FALSE(CommPort.IsOpen());
    EXPECT_TRUE(notes.texts.empty());

    // Both on Auto: the held device is passed over without a word.
    SetAuto(true, true);
    Child<QPushButton>(FormPort, "ButtonApply")->click();
    const auto attempts = RunSearch(w, [&](const Combo& c) { return c == Combo{b, 19200}; });
    EXPECT_EQ(attempts, Combos(a, {4800, 9600, 19200, 38400}) + Combos(b, {4800, 9600, 19200}));
    EXPECT_TRUE(notes.texts.empty());
    EXPECT_EQ(PortDeviceName, b);
    EXPECT_EQ(PortBaudRate, 19200);
    EXPECT_EQ(SetupBaudCombo()->currentIndex(), 2);
}

TEST(AutoSearch, CancelEndsTheSearchAtOnceWithoutANote) {
    auto first = StartSim([](SimOptions& o) { o.dead = true; });
    auto second = StartSim([](SimOptions& o) { o.dead = true; });
    ASSERT_TRUE(first && second);
    TestWindows w({first->DevicePath(), second->DevicePath()});
    NoteCatcher notes;
    SetAuto(true, true);
    Child<QPushButton>(FormPort, "ButtonApply")->click();
    for (int i = 0; i < 25; ++i)
        Tick();
    w.clock.Advance(2);
    Tick(); // into the second attempt
    ASSERT_TRUE(FormPort->Searching());
    // The dialog's own Cancel only hides it; the search goes on.
    FormPort->ShowOver(OuterRect(*FormMain));
    Child<QPushButton>(FormPort, "ButtonCancel")->click();
    EXPECT_FALSE(FormPort->isVisible());
    EXPECT_TRUE(FormPort->Searching());
    FormWait->ButtonCancel->click();
    EXPECT_FALSE(FormPort->Searching());
    EXPECT_FALSE(FormWait->isVisible());
    for (int i = 0; i < 5; ++i) {
        w.clock.Advance(2);
        Tick();
    }
    EXPECT_TRUE(notes.texts.empty());
    EXPECT_TRUE(CommPort.IsOpen());
    EXPECT_EQ(FormMain->PanelText(0), Q(first->DevicePath()) + " : 9600 : Open");
    // Cancel with no search running does nothing.
    FormWait->ButtonCancel->click();
    EXPECT_TRUE(CommPort.IsOpen());
}

TEST(AutoSearch, NothingFoundEndsWithANoteAndThePortOpenAtTheLastCombination) {
    auto first = StartSim([](SimOptions& o) { o.dead = true; });
    auto second = StartSim([](SimOptions& o) { o.dead = true; });
    ASSERT_TRUE(first && second);
    const std::string a = first->DevicePath(), b = second->DevicePath();
    TestWindows w({a, b});
    NoteCatcher notes;
    SetAuto(true, true);
    Child<QPushButton>(FormPort, "ButtonApply")->click();
    const auto attempts = RunSearch(w, [](const Combo&) { return false; });
    EXPECT_EQ(attempts,
              Combos(a, {4800, 9600, 19200, 38400}) + Combos(b, {4800, 9600, 19200, 38400}));
    ASSERT_EQ(notes.texts.size(), 1u);
    EXPECT_EQ(notes.texts[0], "Failed to find unit.");
    EXPECT_FALSE(FormWait->isVisible());
    EXPECT_TRUE(CommPort.IsOpen());
    EXPECT_EQ(FormMain->PanelText(0), Q(b) + " : 38400 : Open");
    EXPECT_EQ(PortDeviceCombo()->currentText(), Q(b));
    EXPECT_EQ(PortBaudCombo()->currentText(), "38400");
    EXPECT_TRUE(second->WaitUntil([](const SimStatus& s) { return s.pcOpen && s.pcRate == 38400; },
                                  1000ms));
}

TEST(AutoSearch, OnTheRealClockAndTheMainWindowsTimer) {
    auto receiver = StartSim([](SimOptions& o) { o.baudRate = 9600; });
    ASSERT_TRUE(receiver);
    TestWindows w({receiver->DevicePath()});
    NoteCatcher notes;
    FormPort->SetClock(SystemClock());
    FormMain->Timer->start();
    SetAuto(true, true);
    const auto start = std::chrono::steady_clock::now();
    Child<QPushButton>(FormPort, "ButtonApply")->click();
    const auto end = start + 10s;
    while (FormPort->Searching() && std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(5ms);
    }
    const auto took = std::chrono::steady_clock::now() - start;
    FormMain->Timer->stop();
    EXPECT_FALSE(FormPort->Searching());
    EXPECT_TRUE(notes.texts.empty());
    EXPECT_EQ(PortBaudRate, 9600);
    EXPECT_EQ(SetupBaudCombo()->currentText(), "9600");
    // Two attempts of one to two seconds each.
    EXPECT_GE(took, 1s);
    EXPECT_LE(took, 6s);
}

// ---------------------------------------------------------------------------------------
// Receiver Setup against the simulated receiver

// Opens the port by hand to the device at the rate.
void OpenByHand(const std::string& device, std::uint32_t rate) {
    QComboBox* devices = PortDeviceCombo();
    devices->setCurrentIndex(devices->findText(Q(device)));
    PortBaudCombo()->setCurrentIndex(PortBaudCombo()->findText(QString::number(rate)));
    Child<QPushButton>(FormPort, "ButtonApply")->click();
}

// Ticks until a binary frame of this id is the last one handled. The caller clears
// lastMessageId first.
bool AwaitReport(int id) {
    return TickUntil([id] { return FormMain->lastMessageId == id; }, 3000ms);
}

std::vector<std::uint8_t> Bytes(std::initializer_list<int> list) {
    std::vector<std::uint8_t> out;
    for (int b : list)
        out.push_back(static_cast<std::uint8_t>(b));
    return out;
}

TEST(ReceiverSetup, RequestFillsTheControlsAndLaterReportsKeepTheUsersEdits) {
    auto receiver = StartSim([](SimOptions& o) {
        o.nmeaFlags = kNmeaGGA | kNmeaRMC;
        o.navRate = 5;
        o.alternateFrequency = true;
        o.channel = 41000;
        o.waasOn = true;
        o.correctionsOn = false;
    });
    ASSERT_TRUE(receiver);
    TestWindows w({receiver->DevicePath()});
    NoteCatcher notes;
    SetupControls c;
    OpenByHand(receiver->DevicePath(), 19200);
    ASSERT_TRUE(CommPort.IsOpen());

    receiver->ClearEvents();
    EXPECT_TRUE(FormRcvrPort->ShowOver(OuterRect(*FormMain)));
    EXPECT_TRUE(FormRcvrPort->isVisible());
    ASSERT_TRUE(
        TickUntil([&] { return c.Nmea() == (kNmeaGGA | kNmeaRMC) && c.alt->isChecked(); }, 3000ms));
    // First the two requests, for the Configuration report and the Corrections status report.
    const auto frames = receiver->ReceivedFrames();
    // (The Load Software dialog, which sees every Configuration report, may follow them
    // with an Output configuration command of its own.)
    ASSERT_GE(frames.size(), 2u);
    EXPECT_EQ(frames[0], Bytes({0x24, 0x78, 0xFF, 0x0B, 0x78, 0x24, 0x04, 0x9F, 0xA9, 0x0D, 0x0A}));
    EXPECT_EQ(frames[1], Bytes({0x24, 0x78, 0xFF, 0x0B, 0x78, 0x24, 0x01, 0x3A, 0xF9, 0x0D, 0x0A}));
    EXPECT_EQ(c.nav->currentText(), "5");
    EXPECT_EQ(c.baud->currentText(), "19200");
    EXPECT_TRUE(c.waasOn->isChecked());
    EXPECT_FALSE(c.waasOff->isChecked());
    EXPECT_TRUE(c.corrOff->isChecked());
    EXPECT_FALSE(c.corrOn->isChecked());
    EXPECT_TRUE(c.alt->isChecked());
    EXPECT_EQ(c.freq->text(), "1545.5");
    EXPECT_TRUE(c.freq->isEnabled());

    // The user changes the sentences; the receiver then reports on its own (its SYS
    // output sends the Configuration report every second).
    c.gsa->click();
    receiver->SetNmeaFlags(kNmeaZDA);
    FormMain->lastMessageId = 0;
    receiver->SetBinaryFlags(kBinSYS);
    ASSERT_TRUE(AwaitReport(kMsgConfigReport));
    EXPECT_EQ(c.Nmea(), kNmeaGGA | kNmeaGSA | kNmeaRMC);
    FormRcvrPort->ShowSettings(); // the members did take the report in
    EXPECT_EQ(c.Nmea(), kNmeaZDA);
    receiver->SetBinaryFlags(0);
    EXPECT_TRUE(notes.texts.empty());
}

TEST(ReceiverSetup, ApplySendsTheThreeCommandsInOrderAndTheReceiverTakesThem) {
    auto receiver = StartSim([](SimOptions& o) { o.waasOn = false; });
    ASSERT_TRUE(receiver);
    TestWindows w({receiver->DevicePath()});
    NoteCatcher notes;
    SetupControls c;
    OpenByHand(receiver->DevicePath(), 19200);

    c.SetNmea(kNmeaGGA | kNmeaRMC);
    c.nav->setCurrentIndex(1);
    c.baud->setCurrentIndex(2);
    c.alt->click();
    c.freq->setText("1545.5");
    c.waasOn->click();
    c.corrOn->setChecked(true);
    receiver->ClearEvents();
    c.apply->click();
    ASSERT_TRUE(
        receiver->WaitUntil([](const SimStatus& s) { return s.framesReceived >= 3; }, 2000ms));
    auto frames = receiver->ReceivedFrames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0], Bytes({0x24, 0x78, 0x83, 0x0B, 0x78, 0x24, 0x05, 0x13, 0x2F, 0x0D, 0x0A}));
    ASSERT_EQ(frames[1].size(), 18u);
    EXPECT_EQ(std::vector<std::uint8_t>(frames[1].begin(), frames[1].begin() + 14),
              Bytes({0x24, 0x78, 0x81, 0x12, 0x78, 0x24, 1, 1, 0x28, 0xA0, 0x00, 0x00, 1, 0}));
    ASSERT_EQ(frames[2].size(), 44u);
    EXPECT_EQ(frames[2][2], 0x82);
    EXPECT_EQ(std::vector<std::uint8_t>(frames[2].begin() + 8, frames[2].begin() + 24),
              Bytes({0, 0, 0, 0, 0, 0, 0, 0, 0x11, 0, 0, 0, 0x00, 0x4B, 0x00, 0x00}));
    SimStatus s = receiver->Status();
    EXPECT_EQ(s.navRate, 5);
    EXPECT_EQ(s.nmeaFlags, kNmeaGGA | kNmeaRMC);
    EXPECT_TRUE(s.alternateFrequency);
    EXPECT_EQ(s.channel, 41000);
    EXPECT_EQ(s.waasState, 1);
    EXPECT_TRUE(s.correctionsOn);
    EXPECT_EQ(s.lineRate, 19200u);

    // Default frequency; neither WAAS nor corrections button down: WAAS off, corrections
    // off, and no channel.
    c.dflt->click();
    c.waasOn->click();
    c.corrOn->click();
    ASSERT_FALSE(c.waasOn->isChecked() || c.waasOff->isChecked());
    ASSERT_FALSE(c.corrOn->isChecked() || c.corrOff->isChecked());
    receiver->ClearEvents();
    c.apply->click();
    ASSERT_TRUE(
        receiver->WaitUntil([](const SimStatus& st) { return st.framesReceived >= 6; }, 2000ms));
    frames = receiver->ReceivedFrames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(std::vector<std::uint8_t>(frames[1].begin() + 6, frames[1].begin() + 14),
              Bytes({0, 0, 0, 0, 0, 0, 0, 1}));
    s = receiver->Status();
    EXPECT_FALSE(s.alternateFrequency);
    EXPECT_EQ(s.waasState, 0);
    EXPECT_FALSE(s.correctionsOn);
    EXPECT_TRUE(notes.texts.empty());
}

TEST(ReceiverSetup, BaudChangeMovesThePortThePanelAndTheOpenPortCombo) {
    auto receiver = StartSim();
    ASSERT_TRUE(receiver);
    TestWindows w({receiver->DevicePath()});
    NoteCatcher notes;
    SetupControls c;
    OpenByHand(receiver->DevicePath(), 19200);
    FormMain->lastMessageId = 0;
    FormRcvrPort->ShowOver(OuterRect(*FormMain));
    ASSERT_TRUE(AwaitReport(kMsgCorrectionsReport));

    receiver->ClearEvents();
    c.baud->setCurrentIndex(1);
    c.apply->click();
    EXPECT_TRUE(notes.texts.empty());
    // The commands went out at the old rate and the receiver understood all three.
    ASSERT_TRUE(receiver->WaitUntil(
        [](const SimStatus& s) { return s.framesReceived >= 3 && s.lineRate == 9600; }, 2000ms));
    EXPECT_EQ(receiver->Status().bytesNotUnderstood, 0u);
    EXPECT_EQ(receiver->ReceivedFrames().size(), 3u);
    // Our side followed.
    EXPECT_EQ(PortBaudRate, 9600);
    EXPECT_TRUE(receiver->WaitUntil([](const SimStatus& s) { return s.pcRate == 9600; }, 1000ms));
    EXPECT_EQ(FormMain->PanelText(0), Q(receiver->DevicePath()) + " : 9600 : Open");
    EXPECT_EQ(PortBaudCombo()->currentText(), "9600");
    EXPECT_EQ(FormPort->BaudRate, 9600u);

    // The receiver answers at the new rate, and the reports refresh the controls.
    c.baud->setCurrentIndex(3); // an edit that the next report replaces
    FormMain->lastMessageId = 0;
    c.request->click();
    ASSERT_TRUE(AwaitReport(kMsgCorrectionsReport));
    EXPECT_EQ(c.baud->currentText(), "9600");
    EXPECT_TRUE(notes.texts.empty());
}

} // namespace
