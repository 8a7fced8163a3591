// The Load Software window on the offscreen platform, with every window of the program
// created as at start-up, the real SerialPort, and the simulated receiver in-process on
// a pseudo-terminal. Reports reach the window as in the program: the main window's poll
// reads them, the Receiver Setup dialog passes them on.

#include "loader/Loadsetupform.h"

#include "app/Mainform.h"
#include "connect/Portform.h"
#include "proto/Diagproto.h"
#include "proto/Memoutils.h"
#include "proto/Port.h"
#include "receiver/Rcvrportform.h"
#include "sim/Simreceiver.h"
#include "sim/Simrecords.h"
#include "tests/common/Pty.h"
#include "tests/connect/Windows.h"
#include "tests/loader/Gstfile.h"
#include "ui/Aboutform.h"
#include "ui/Helpform.h"
#include "ui/Noteform.h"
#include "ui/Waitform.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

QT_BEGIN_NAMESPACE
// Readable QString values in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

namespace {

QPushButton* Button(const char* name) {
    return FormLoadSetup->findChild<QPushButton*>(name);
}
QLineEdit* EditFileName() {
    return FormLoadSetup->findChild<QLineEdit*>("EditFileName");
}
QWidget* Panel() {
    return FormLoadSetup->findChild<QWidget*>("PanelDoNotClose");
}

// Serves the event loop until done() holds or realMs have passed. With a fake clock,
// every 250 ms of real time is a second on it: the receiver's real answers come well
// inside the loader's deadlines even on a busy machine, and the deadlines of a silent
// receiver pass quickly.
constexpr qint64 kRealMsPerFakeSecond = 250;

bool Pump(const std::function<bool()>& done, int realMs, FakeClock* clock = nullptr) {
    QElapsedTimer timer;
    timer.start();
    qint64 advanced = 0;
    while (!done()) {
        if (timer.elapsed() > realMs) {
            return false;
        }
        QTest::qWait(2);
        if (clock != nullptr && timer.elapsed() - advanced >= kRealMsPerFakeSecond) {
            clock->Advance(1);
            advanced += kRealMsPerFakeSecond;
        }
    }
    return true;
}

std::vector<SimRecord> AsSimRecords(const std::vector<std::string>& records) {
    std::vector<SimRecord> out;
    for (const std::string& r : records) {
        out.emplace_back(r.begin(), r.end());
    }
    return out;
}

// One receiver, the program's port open on it as the Open Port dialog leaves it.
class LoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = MakeTempDir();
        FormLoadSetup->SetClock(clock_, [this](int) { clock_.Advance(1); });
        QObject::connect(FormLoadSetup, &TFormLoadSetup::StatusShown, FormLoadSetup,
                         [this](const QString& s) { statuses_.push_back(s.toStdString()); });
    }

    void TearDown() override {
        if (FormLoadSetup->LoadRunning()) {
            FormLoadSetup->ButtonLoadClick(); // cancel
        }
        QObject::disconnect(FormLoadSetup, &TFormLoadSetup::StatusShown, FormLoadSetup, nullptr);
        FormLoadSetup->SetClock(SystemClock());
        CommPort.Close();
        if (sim_) {
            sim_->Stop();
        }
        std::filesystem::remove_all(dir_);
    }

    SimOptions Options(std::uint32_t rate = 19200) {
        SimOptions o;
        o.baudRate = rate;
        o.engineDownloadMs = 1500;
        o.nmeaFlags = kNmeaGGA | kNmeaRMC;
        return o;
    }

    void StartReceiver(const SimOptions& options) {
        sim_ = std::make_unique<SimReceiver>(options);
        ASSERT_TRUE(sim_->Start());
        Connect(sim_->DevicePath(), options.baudRate);
    }

    // What a manual open of the Open Port dialog leaves behind.
    void Connect(const std::string& device, std::uint32_t rate) {
        CommPort.Close();
        FormPort->DeviceName = device;
        PortDeviceName = device;
        PortBaudRate = static_cast<std::int32_t>(rate);
        ASSERT_TRUE(CommPort.Open(device.c_str(), rate, 0));
        CommPort.SetBlocking(false);
        NotifyPortChanged();
    }

    std::string WriteGst(const std::string& text, const char* name = "300test.gst") {
        const std::string path = dir_ + "/" + name;
        EXPECT_TRUE(WriteTextFile(path, text));
        return path;
    }

    // As a user does: the dialog shows the receiver's status (its report arrives through
    // the main window's poll) before the file is chosen and Load pressed.
    void ShowAndLoad(const std::string& path) {
        FormLoadSetup->ShowOver(OuterRect(*FormMain));
        // The report shows the version; a silent line never answers.
        Pump([] { return FormLoadSetup->VersionText() != QStringLiteral("Not Known"); }, 2000);
        FormLoadSetup->SoftwareFileChosen(true, QString::fromStdString(path));
        FormLoadSetup->ButtonLoadClick();
    }

    bool Saw(const std::string& status) const {
        return std::find(statuses_.begin(), statuses_.end(), status) != statuses_.end();
    }
    int Count(const std::string& status) const {
        return static_cast<int>(std::count(statuses_.begin(), statuses_.end(), status));
    }
    bool LoadEnds(int realMs = 20000) {
        return Pump([] { return !FormLoadSetup->LoadRunning(); }, realMs, &clock_);
    }

    // Everything is back as before the load.
    void ExpectRestored() {
        EXPECT_FALSE(FormLoadSetup->LoadRunning());
        EXPECT_TRUE(FormMain->isEnabled());
        EXPECT_TRUE(FormPort->isEnabled());
        EXPECT_TRUE(FormRcvrPort->isEnabled());
        EXPECT_TRUE(FormMain->Timer->isActive());
        EXPECT_FALSE(FormLoadSetup->Timer->isActive());
        EXPECT_TRUE(Button("ButtonLoad")->isEnabled());
        EXPECT_TRUE(Button("ButtonDone")->isEnabled());
        EXPECT_TRUE(Button("ButtonRequest")->isEnabled());
        EXPECT_FALSE(Panel()->isVisible());
        EXPECT_FALSE(FormLoadSetup->windowFlags() & Qt::WindowStaysOnTopHint);
        EXPECT_TRUE(CommPort.IsOpen());
    }

    // The text commands the receiver took in (binary frames sent to a loader that is
    // still awake show up as text too; they are left out).
    std::vector<std::string> LoaderTexts() const {
        std::vector<std::string> out;
        for (const SimEvent& e : sim_->Events()) {
            if (e.kind == SimEvent::Text && (e.bytes.empty() || e.bytes[0] != '$')) {
                out.emplace_back(e.bytes.begin(), e.bytes.end());
            }
        }
        return out;
    }

    FakeClock clock_;
    std::unique_ptr<SimReceiver> sim_;
    std::string dir_;
    std::vector<std::string> statuses_;
};

const std::vector<std::string> kDialogue = {"\r",   "LOADSTAR\r", "Ver\r",  "Mfg\r",
                                            "On\r", "ERASE\r",    "RESET\r"};

// A whole load and the after-load dialogue to "Done".
TEST_F(LoaderTest, FullLoadThenPowerCycleAndRequestGiveDone) {
    StartReceiver(Options());
    const GeneratedGst gst = MakeGst(300);
    const std::string path = WriteGst(gst.text);

    ShowAndLoad(path);
    ASSERT_TRUE(LoadEnds(60000));
    ExpectRestored();

    EXPECT_EQ(LoaderTexts(), kDialogue);
    const SimStatus st = sim_->Status();
    EXPECT_EQ(st.recordCount, gst.records.size());
    EXPECT_EQ(st.recordDigest, DigestOfRecords(AsSimRecords(gst.records)));
    EXPECT_EQ(sim_->Records(), AsSimRecords(gst.records));

    // "None" from ShowOver, then the load, record by record.
    std::vector<std::string> expected = {"None", "Started"};
    for (int i = 1; i <= 300; ++i) {
        expected.push_back("Sending Record " + std::to_string(i));
    }
    expected.push_back("Finished");
    expected.push_back("Checking GPS Engine");
    EXPECT_EQ(statuses_, expected);

    // The engine takes the software in, then asks for the power cycle.
    ASSERT_TRUE(Pump([&] { return Saw("Cycle Power Now"); }, 10000));
    EXPECT_TRUE(Saw("Downloading to GPS Engine"));
    EXPECT_EQ(statuses_.back(), "Cycle Power Now");

    sim_->PowerCycle();
    ASSERT_TRUE(Pump([] { return FormLoadSetup->AfterLoad().PowerCyclePending(); }, 5000));
    FormLoadSetup->ButtonRequestClick();
    ASSERT_TRUE(Pump([&] { return Saw("Done"); }, 5000));
    EXPECT_EQ(FormLoadSetup->VersionText(), QStringLiteral("2.6b"));
    EXPECT_EQ(FormLoadSetup->StatusText(), QStringLiteral("Done"));
    // The SYS output that the end of the load turned on is off again, as before it.
    EXPECT_TRUE(Pump([&] { return sim_->Status().binaryFlags == 0; }, 3000));
    EXPECT_EQ(sim_->Status().nmeaFlags, kNmeaGGA | kNmeaRMC);
}

// The same on the system's calendar clock, with its real 2 s and 4 s waits.
TEST_F(LoaderTest, FullLoadOnTheRealClock) {
    FormLoadSetup->SetClock(SystemClock());
    StartReceiver(Options());
    const GeneratedGst gst = MakeGst(60);
    ShowAndLoad(WriteGst(gst.text));
    ASSERT_TRUE(Pump([] { return !FormLoadSetup->LoadRunning(); }, 60000));
    ExpectRestored();
    EXPECT_EQ(LoaderTexts(), kDialogue);
    EXPECT_EQ(sim_->Status().recordDigest, DigestOfRecords(AsSimRecords(gst.records)));
    EXPECT_EQ(statuses_.back(), "Checking GPS Engine");
}

TEST_F(LoaderTest, ADroppedAcknowledgementIsAnsweredByOneResend) {
    StartReceiver(Options());
    sim_->SetDropAck(5, false);
    const GeneratedGst gst = MakeGst(12);
    ShowAndLoad(WriteGst(gst.text));
    ASSERT_TRUE(LoadEnds());
    EXPECT_EQ(Count("Sending Record 5"), 2);
    EXPECT_EQ(Count("Sending Record 6"), 1);
    EXPECT_FALSE(Saw("Timeout on Ack"));
    EXPECT_EQ(statuses_.back(), "Checking GPS Engine");
    EXPECT_EQ(sim_->Status().recordDigest, DigestOfRecords(AsSimRecords(gst.records)));
    // Both sendings of record 5 carried the same bytes.
    std::vector<SimRecord> sent;
    for (const SimEvent& e : sim_->Events()) {
        if (e.kind == SimEvent::Record) {
            sent.push_back(e.bytes);
        }
    }
    ASSERT_EQ(sent.size(), gst.records.size() + 1);
    EXPECT_EQ(sent[4], sent[5]);
}

TEST_F(LoaderTest, AnAcknowledgementMissedTwiceEndsWithTimeout) {
    StartReceiver(Options());
    sim_->SetDropAck(3, true);
    ShowAndLoad(WriteGst(MakeGst(6).text));
    ASSERT_TRUE(LoadEnds());
    ASSERT_GE(statuses_.size(), 2u);
    EXPECT_EQ(statuses_[statuses_.size() - 2], "Timeout on Ack");
    EXPECT_EQ(statuses_.back(), "Timeout");
    EXPECT_EQ(Count("Sending Record 3"), 2);
    EXPECT_FALSE(Saw("Sending Record 4"));
    EXPECT_FALSE(Saw("Finished"));
    ExpectRestored();
}

TEST_F(LoaderTest, NoPromptEndsWithTimeout) {
    StartReceiver(Options());
    sim_->SetNoPrompt(true);
    ShowAndLoad(WriteGst(MakeGst(3).text));
    ASSERT_TRUE(LoadEnds());
    EXPECT_EQ(statuses_,
              (std::vector<std::string>{"None", "Started", "Timeout on Ack", "Timeout"}));
    EXPECT_EQ(LoaderTexts(), (std::vector<std::string>{"\r", "LOADSTAR\r"}));
    ExpectRestored();
}

// A load that ends before the receiver ever reported its flags sends no Output
// configuration: flags of zero would switch its NMEA output off. The line here is a
// pseudo-terminal on which nothing answers; the test reads all the window wrote.
TEST_F(LoaderTest, NoOutputConfigurationWithoutTheReceiversFlags) {
    Pty line;
    ASSERT_TRUE(line.ok());
    Connect(line.path(), 19200);
    FormLoadSetup->AfterLoad() = AfterLoadDialogue(); // no report has come
    ShowAndLoad(WriteGst(MakeGst(2).text));
    ASSERT_TRUE(LoadEnds());
    EXPECT_TRUE(Saw("Timeout"));
    QTest::qWait(50);
    const std::string written = line.ReadAllText();
    const std::string request{'$', 'x', '\xFF', 11, 'x', '$', 4};
    const std::string outputConfiguration{'$', 'x', '\x82', 44, 'x', '$'};
    EXPECT_NE(written.find("LOADSTAR\r"), std::string::npos);
    EXPECT_NE(written.rfind(request), written.find(request)) << "a status request after the load";
    EXPECT_EQ(written.find(outputConfiguration), std::string::npos)
        << "an Output configuration went out";
    ExpectRestored();
}

// The end of a load sends, once each and in this order, the Output configuration with
// the receiver's own flags and SYS added, at the Open Port dialog's rate, and the status
// request. The line is a pseudo-terminal on which nothing answers (the load times out);
// the port starts at 38400, so it is moved to 19200 and back.
TEST_F(LoaderTest, TheEndOfALoadTurnsSysOnAndAsksForTheStatus) {
    Pty line;
    ASSERT_TRUE(line.ok());
    Connect(line.path(), 38400);
    FormPort->BaudRate = 38400;
    FormLoadSetup->ShowOver(OuterRect(*FormMain));
    std::vector<std::uint8_t> payload(136, 0);
    PutLE32(&payload[18], kBinGPS | kBinREFMON);
    PutLE32(&payload[26], kNmeaGGA | kNmeaZDA);
    std::vector<std::uint8_t> report(payload.size() + 10);
    report.resize(BuildMsg(kMsgConfigReport, payload.data(), payload.size(), report.data()));
    FormLoadSetup->OnConfigurationReport(report.data(), static_cast<int>(report.size()));
    QTest::qWait(50);
    line.ReadAllText(); // the request of ShowOver and the report's Output configuration

    FormLoadSetup->SoftwareFileChosen(true, QString::fromStdString(WriteGst(MakeGst(2).text)));
    FormLoadSetup->ButtonLoadClick();
    ASSERT_TRUE(LoadEnds());
    QTest::qWait(50);
    DiagProto framer;
    std::vector<std::vector<std::uint8_t>> frames;
    for (char c : line.ReadAllText()) {
        if (framer.ProcessByte(static_cast<std::uint8_t>(c))) {
            frames.emplace_back(framer.GetMsg(), framer.GetMsg() + framer.GetMsgLen());
        }
    }
    std::vector<std::uint8_t> outputs(kPortConfigMsgLen);
    BuildPortConfigMsg(0, kBinGPS | kBinREFMON | kBinSYS, kNmeaGGA | kNmeaZDA, 38400,
                       outputs.data());
    std::vector<std::uint8_t> request(kRequestMsgLen);
    BuildRequestMsg(kMsgConfigReport, request.data());
    EXPECT_EQ(frames, (std::vector<std::vector<std::uint8_t>>{outputs, request}));
    EXPECT_EQ(statuses_.back(), "Timeout");
    EXPECT_FALSE(Saw("Error Changing Baud Rate"));
    ExpectRestored();

    // The receiver answers with SYS on. The load failed, so its idle status asks for no
    // power cycle; the outputs of before the load, SYS off, are put back once.
    PutLE32(&payload[18], kBinGPS | kBinREFMON | kBinSYS);
    report.resize(payload.size() + 10);
    report.resize(BuildMsg(kMsgConfigReport, payload.data(), payload.size(), report.data()));
    for (int i = 0; i < 2; ++i) {
        FormLoadSetup->OnConfigurationReport(report.data(), static_cast<int>(report.size()));
    }
    QTest::qWait(50);
    frames.clear();
    for (char c : line.ReadAllText()) {
        if (framer.ProcessByte(static_cast<std::uint8_t>(c))) {
            frames.emplace_back(framer.GetMsg(), framer.GetMsg() + framer.GetMsgLen());
        }
    }
    BuildPortConfigMsg(0, kBinGPS | kBinREFMON, kNmeaGGA | kNmeaZDA, 38400, outputs.data());
    EXPECT_EQ(frames, (std::vector<std::vector<std::uint8_t>>{outputs}));
    EXPECT_EQ(FormLoadSetup->StatusText(), QStringLiteral("Timeout"));
}

// The main window cannot be closed while a load runs (its close would close the port
// in the middle of the receiver's flash); after the load it can.
TEST_F(LoaderTest, TheMainWindowStaysOpenWhileALoadRuns) {
    StartReceiver(Options());
    sim_->SetNoPrompt(true);
    FormMain->show();
    ShowAndLoad(WriteGst(MakeGst(3).text));
    ASSERT_TRUE(FormLoadSetup->LoadRunning());
    bool closed = false;
    QObject::connect(FormMain, &TFormMain::FormClosed, FormMain, [&] { closed = true; });
    EXPECT_FALSE(FormMain->close());
    EXPECT_FALSE(closed);
    EXPECT_TRUE(FormMain->isVisible());
    EXPECT_TRUE(CommPort.IsOpen());
    FormLoadSetup->ButtonLoadClick(); // cancel
    ASSERT_TRUE(LoadEnds());
    EXPECT_TRUE(FormMain->close());
    EXPECT_TRUE(closed);
    QObject::disconnect(FormMain, &TFormMain::FormClosed, FormMain, nullptr);
    FormMain->show();
}

// Only the line "OK" acknowledges.
TEST_F(LoaderTest, OkWithATrailingSpaceOrInLowerCaseIsNoAcknowledgement) {
    for (const char* ack : {"OK ", "ok"}) {
        SCOPED_TRACE(ack);
        if (sim_) {
            sim_->Stop();
        }
        StartReceiver(Options());
        sim_->SetAckText(ack);
        statuses_.clear();
        ShowAndLoad(WriteGst(MakeGst(3).text));
        ASSERT_TRUE(LoadEnds());
        EXPECT_EQ(LoaderTexts(),
                  (std::vector<std::string>{"\r", "LOADSTAR\r", "Ver\r", "Mfg\r", "On\r"}));
        EXPECT_EQ(statuses_.back(), "Timeout");
        ExpectRestored();
    }
}

// Picking a file again re-enables Load, which then cancels; the end runs once.
TEST_F(LoaderTest, LoadPressedDuringALoadCancelsIt) {
    StartReceiver(Options());
    const std::string path = WriteGst(MakeGst(200).text);
    ShowAndLoad(path);
    ASSERT_TRUE(Pump([&] { return Saw("Sending Record 3"); }, 20000, &clock_));

    // While the load runs the dialog holds the port: the main window and the other
    // users of the port wait, the warning shows, only the file button and Help work.
    EXPECT_FALSE(FormMain->isEnabled());
    EXPECT_FALSE(FormMain->Timer->isActive());
    EXPECT_FALSE(FormPort->isEnabled());
    EXPECT_FALSE(FormRcvrPort->isEnabled());
    EXPECT_EQ(FormLoadSetup->Timer->interval(), 1);
    EXPECT_TRUE(FormLoadSetup->Timer->isActive());
    EXPECT_FALSE(Button("ButtonLoad")->isEnabled());
    EXPECT_FALSE(Button("ButtonDone")->isEnabled());
    EXPECT_FALSE(Button("ButtonRequest")->isEnabled());
    EXPECT_TRUE(Button("ButtonHelp")->isEnabled());
    EXPECT_TRUE(Panel()->isVisible());
    EXPECT_TRUE(FormLoadSetup->windowFlags() & Qt::WindowStaysOnTopHint);
    // Closing the window by other means does not walk away from the load.
    EXPECT_FALSE(FormLoadSetup->close());
    EXPECT_TRUE(FormLoadSetup->isVisible());

    // Picking the file again is the way out.
    FormLoadSetup->SoftwareFileChosen(true, QString::fromStdString(path));
    EXPECT_TRUE(Button("ButtonLoad")->isEnabled());
    Button("ButtonLoad")->click();
    EXPECT_EQ(FormLoadSetup->StatusText(), QStringLiteral("Cancelled"));
    ExpectRestored();

    // Nothing more goes to the loader, and a second end changes nothing.
    const std::size_t records = sim_->Status().recordCount;
    QTest::qWait(300);
    FormLoadSetup->EndLoad();
    FormLoadSetup->TimerTimer();
    QTest::qWait(300);
    EXPECT_EQ(sim_->Status().recordCount, records);
    EXPECT_LT(records, 10u);
    EXPECT_EQ(Count("Cancelled"), 1);
    EXPECT_FALSE(Saw("Timeout"));
}

// A file without a single record would have the receiver's flash erased and nothing
// written, and the load would still say "Finished".
TEST_F(LoaderTest, AnEmptyFileIsRefusedBeforeAByteGoesOut) {
    StartReceiver(Options());
    FormLoadSetup->ShowOver(OuterRect(*FormMain));
    QTest::qWait(300); // the status request is answered
    sim_->ClearEvents();
    FormLoadSetup->SoftwareFileChosen(true, QString::fromStdString(WriteGst("")));
    FormLoadSetup->ButtonLoadClick();
    EXPECT_EQ(statuses_, (std::vector<std::string>{"None", "Error opening file"}));
    EXPECT_FALSE(FormLoadSetup->LoadRunning());
    EXPECT_TRUE(FormMain->Timer->isActive());
    QTest::qWait(300);
    EXPECT_TRUE(sim_->Events().empty());
    EXPECT_FALSE(sim_->Status().loaderActive);
}

// At 38400 the port goes to 19200 for the loader and back to 38400 at the end.
TEST_F(LoaderTest, APortAt38400IsMovedTo19200AndBack) {
    StartReceiver(Options(38400));
    FormPort->BaudRate = 38400;
    const GeneratedGst gst = MakeGst(20);
    ShowAndLoad(WriteGst(gst.text));
    ASSERT_TRUE(Pump([&] { return sim_->Status().loaderActive; }, 10000, &clock_));
    ASSERT_TRUE(Pump([&] { return sim_->Status().pcRate == 19200; }, 5000, &clock_));
    ASSERT_TRUE(LoadEnds());
    EXPECT_EQ(LoaderTexts(), kDialogue); // "\r" and "LOADSTAR\r" understood at 38400
    EXPECT_EQ(sim_->Status().recordDigest, DigestOfRecords(AsSimRecords(gst.records)));
    EXPECT_EQ(sim_->Status().pcRate, 38400u);
    EXPECT_FALSE(Saw("Error Changing Baud Rate"));
    ExpectRestored();
    // The receiver is back at 38400 and answers the status request there.
    ASSERT_TRUE(Pump([&] { return Saw("Cycle Power Now"); }, 10000));
}

// At 19200 the port is never reopened: with a device name that cannot be opened, any
// reopen would fail and show in the status line, and the load would be lost.
TEST_F(LoaderTest, APortAt19200IsNeverReopened) {
    StartReceiver(Options());
    PortDeviceName = dir_ + "/no-such-device";
    const GeneratedGst gst = MakeGst(10);
    ShowAndLoad(WriteGst(gst.text));
    ASSERT_TRUE(LoadEnds());
    EXPECT_FALSE(Saw("Error Changing Baud Rate"));
    EXPECT_EQ(sim_->Status().recordDigest, DigestOfRecords(AsSimRecords(gst.records)));
    EXPECT_EQ(statuses_.back(), "Checking GPS Engine");
    ExpectRestored();
}

// A port that cannot be reopened at 19200 is reported; the load then fails on its own
// deadlines and still gives everything back.
TEST_F(LoaderTest, AFailedReopenIsReportedAndTheLoadStillEnds) {
    StartReceiver(Options(38400));
    FormPort->BaudRate = 38400;
    PortDeviceName = dir_ + "/no-such-device";
    ShowAndLoad(WriteGst(MakeGst(3).text));
    ASSERT_TRUE(LoadEnds());
    EXPECT_EQ(statuses_,
              (std::vector<std::string>{"None", "Started", "Error Changing Baud Rate",
                                        "Timeout on Ack", "Timeout", "Error Changing Baud Rate"}));
    EXPECT_FALSE(CommPort.IsOpen());
    EXPECT_TRUE(FormMain->isEnabled());
    EXPECT_TRUE(FormMain->Timer->isActive());
    EXPECT_TRUE(Button("ButtonLoad")->isEnabled());
}

// A receiver that goes away during a load (its pseudo-terminal closed, as a USB
// adapter pulled out) ends the load at once as a failed one, with no deadline waited
// out (the fake clock stands still here). The port is closed and shown so, and nothing
// after suggests the load completed.
TEST_F(LoaderTest, AHangUpDuringALoadEndsItAtOnceAsAFailedLoad) {
    StartReceiver(Options());
    ShowAndLoad(WriteGst(MakeGst(300).text));
    ASSERT_TRUE(Pump([&] { return Saw("Sending Record 3"); }, 20000, &clock_));
    const std::int64_t goneAt = clock_.Seconds();
    sim_->Stop();
    ASSERT_TRUE(Pump([] { return !FormLoadSetup->LoadRunning(); }, 5000));
    EXPECT_EQ(clock_.Seconds(), goneAt);
    ASSERT_GE(statuses_.size(), 2u);
    EXPECT_EQ(statuses_[statuses_.size() - 2], "Timeout on Ack");
    EXPECT_EQ(statuses_.back(), "Timeout");
    EXPECT_FALSE(CommPort.IsOpen());
    EXPECT_TRUE(FormMain->PanelText(0).endsWith(QStringLiteral(": Closed")));
    EXPECT_TRUE(FormMain->isEnabled());
    EXPECT_TRUE(FormMain->Timer->isActive());
    QTest::qWait(300);
    EXPECT_EQ(statuses_.back(), "Timeout");
    EXPECT_FALSE(Saw("Finished"));
}

// A report already on its way when the user presses Apply in Receiver Setup carries the
// old outputs; it must not be echoed back to the receiver, undoing the Apply.
TEST_F(LoaderTest, AReportCrossingAReceiverSetupApplyDoesNotUndoIt) {
    StartReceiver(Options()); // GGA and RMC
    const SetupControls c;
    ASSERT_TRUE(FormRcvrPort->ShowOver(OuterRect(*FormMain)));
    ASSERT_TRUE(Pump([&] { return c.gga->isChecked() && !c.gsa->isChecked(); }, 3000));
    QTest::qWait(300); // both reports are in
    c.gsa->setChecked(true);
    FormLoadSetup->RequestStatus(); // its answer comes after the Apply
    c.apply->click();
    QTest::qWait(1000);
    EXPECT_EQ(sim_->Status().nmeaFlags, kNmeaGGA | kNmeaGSA | kNmeaRMC);
    FormRcvrPort->hide();
}

TEST_F(LoaderTest, AFileThatCannotBeSentAsItStandsIsRefused) {
    StartReceiver(Options());
    const std::string bad = WriteGst(":0A1B\r\n:" + std::string(240, 'F') + "\r\n");
    FormLoadSetup->ShowOver(OuterRect(*FormMain));
    QTest::qWait(300); // the status request is answered
    sim_->ClearEvents();
    for (const std::string& path : {bad, dir_ + "/300missing.gst"}) {
        FormLoadSetup->SoftwareFileChosen(true, QString::fromStdString(path));
        FormLoadSetup->ButtonLoadClick();
        EXPECT_EQ(FormLoadSetup->StatusText(), QStringLiteral("Error opening file"));
        EXPECT_FALSE(FormLoadSetup->LoadRunning());
        EXPECT_TRUE(FormMain->isEnabled());
        EXPECT_TRUE(FormMain->Timer->isActive());
        EXPECT_FALSE(Panel()->isVisible());
    }
    QTest::qWait(300);
    EXPECT_TRUE(sim_->Events().empty());
    EXPECT_FALSE(sim_->Status().loaderActive);
}

// Loads after an automatic search, with the program's windows made afresh over a device
// list of the test's own (the extra ports and an empty sysfs tree), as the connection
// tests make them. The search runs on one fake clock, driven tick by tick; the load on
// another, on the windows' own timers.
std::string gEmptySysfs; // the device list of the other tests: no device

class SearchThenLoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        DestroyWindows();
        dir_ = MakeTempDir();
    }
    void TearDown() override {
        if (FormLoadSetup != nullptr && FormLoadSetup->LoadRunning()) {
            FormLoadSetup->ButtonLoadClick();
        }
        windows_.reset();
        setenv(kExtraPortsVariable, "", 1);
        CreateWindows(gEmptySysfs);
        std::filesystem::remove_all(dir_);
    }

    void MakeWindows(const std::vector<std::string>& devices) {
        windows_ = std::make_unique<TestWindows>(devices);
        FormLoadSetup->SetClock(loadClock_, [this](int) { loadClock_.Advance(1); });
        QObject::connect(FormLoadSetup, &TFormLoadSetup::StatusShown, FormLoadSetup,
                         [this](const QString& s) { statuses_.push_back(s.toStdString()); });
    }

    // Both on Auto (or the device by hand), Apply.
    void StartSearch(bool deviceAuto) {
        Child<QToolButton>(FormPort, deviceAuto ? "ButtonDeviceNameAuto" : "ButtonDeviceNameManual")
            ->click();
        Child<QToolButton>(FormPort, "ButtonBaudRateAuto")->click();
        Child<QPushButton>(FormPort, "ButtonApply")->click();
    }

    static void Tick() {
        QTest::qWait(3);
        FormMain->TimerTimer();
    }

    // Runs the search to its end: ten ticks a second of its clock, and on the awaited
    // combination ticks until the receiver's answer has come.
    void RunSearch(const std::string& device, std::int32_t rate) {
        for (int s = 0; s < 60 && FormPort->Searching(); ++s) {
            for (int t = 0; t < 10 && FormPort->Searching(); ++t) {
                Tick();
            }
            if (FormPort->Searching() && PortDeviceName == device && PortBaudRate == rate) {
                for (int t = 0;
                     t < 1000 && FormMain->messageCount == FormPort->AttemptMessageCount(); ++t) {
                    Tick();
                }
            }
            windows_->clock.Advance(1);
        }
        ASSERT_FALSE(FormPort->Searching());
    }

    void Load(const std::string& text) {
        const std::string path = dir_ + "/300test.gst";
        ASSERT_TRUE(WriteTextFile(path, text));
        FormLoadSetup->ShowOver(OuterRect(*FormMain));
        FormLoadSetup->SoftwareFileChosen(true, QString::fromStdString(path));
        FormLoadSetup->ButtonLoadClick();
    }

    FakeClock loadClock_;
    std::unique_ptr<TestWindows> windows_;
    std::string dir_;
    std::vector<std::string> statuses_;
};

// A search that ends on another device than the one selected at Apply leaves the
// Open Port dialog's device as selected; the load must reopen the device in use. The
// receiver is on the second of two devices at 38400: the load completes there byte for
// byte, and the first device hears nothing of it.
TEST_F(SearchThenLoadTest, ALoadRunsOnTheDeviceTheSearchFound) {
    SimOptions silent;
    silent.dead = true;
    SimReceiver other(silent);
    SimOptions found;
    found.baudRate = 38400;
    found.engineDownloadMs = 1500;
    SimReceiver receiver(found);
    ASSERT_TRUE(other.Start() && receiver.Start());
    MakeWindows({other.DevicePath(), receiver.DevicePath()});
    NoteCatcher notes;
    StartSearch(true);
    RunSearch(receiver.DevicePath(), 38400);
    ASSERT_EQ(PortDeviceName, receiver.DevicePath());
    ASSERT_EQ(PortBaudRate, 38400);
    ASSERT_EQ(FormPort->DeviceName, other.DevicePath()); // as selected at Apply

    FormMain->Timer->start();
    other.ClearEvents();
    const GeneratedGst gst = MakeGst(20);
    Load(gst.text);
    ASSERT_TRUE(Pump([] { return !FormLoadSetup->LoadRunning(); }, 30000, &loadClock_));
    EXPECT_EQ(statuses_.back(), "Checking GPS Engine");
    EXPECT_EQ(receiver.Status().recordDigest, DigestOfRecords(AsSimRecords(gst.records)));
    EXPECT_EQ(receiver.Status().pcRate, 38400u);
    EXPECT_TRUE(other.Events().empty());
    EXPECT_FALSE(other.Status().pcOpen);
    EXPECT_TRUE(CommPort.IsOpen());
    EXPECT_EQ(PortDeviceName, receiver.DevicePath());
    EXPECT_TRUE(notes.texts.empty());
}

// Load pressed while a search runs ends the search first, as the wait window's Cancel
// would: its next attempt must not close the port that the end of the load restored.
TEST_F(SearchThenLoadTest, LoadEndsARunningSearchFirst) {
    SimReceiver receiver; // at 19200: the search's first attempt, 4800, hears nothing
    ASSERT_TRUE(receiver.Start());
    MakeWindows({receiver.DevicePath()});
    NoteCatcher notes;
    StartSearch(false);
    Tick();
    ASSERT_TRUE(FormPort->Searching());
    ASSERT_EQ(PortBaudRate, 4800);

    Load(MakeGst(3).text);
    EXPECT_FALSE(FormPort->Searching());
    EXPECT_FALSE(FormWait->isVisible());
    ASSERT_TRUE(Pump([] { return !FormLoadSetup->LoadRunning(); }, 30000, &loadClock_));
    for (int s = 0; s < 10; ++s) {
        windows_->clock.Advance(1);
        Tick();
    }
    EXPECT_TRUE(CommPort.IsOpen());
    EXPECT_EQ(PortDeviceName, receiver.DevicePath());
    EXPECT_EQ(PortBaudRate, 4800);
    EXPECT_TRUE(notes.texts.empty());
}

// Reports and what they send, on a pseudo-terminal read by the test.
class ReportTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty_.ok());
        CommPort.Close();
        ASSERT_TRUE(CommPort.Open(pty_.path().c_str(), 19200, 0));
        CommPort.SetBlocking(false);
        FormPort->DeviceName = pty_.path();
        FormPort->BaudRate = 19200;
        FormLoadSetup->AfterLoad() = AfterLoadDialogue();
    }
    void TearDown() override { CommPort.Close(); }

    // A Configuration report of the given payload length.
    static std::vector<std::uint8_t> Report(std::uint8_t status, std::size_t payloadLen = 136,
                                            std::uint32_t binary = 0x02,
                                            std::uint32_t nmea = 0x11) {
        std::vector<std::uint8_t> payload(payloadLen, 0);
        payload[0] = 3;
        payload[1] = 14;
        PutLE32(&payload[18], binary);
        PutLE32(&payload[26], nmea);
        if (payloadLen > 123) {
            payload[123] = status;
        }
        if (payloadLen >= 133) {
            payload[130] = 'r';
            payload[131] = 'c';
            payload[132] = '1';
        }
        std::vector<std::uint8_t> frame(payloadLen + 10);
        frame.resize(BuildMsg(kMsgConfigReport, payload.data(), payloadLen, frame.data()));
        return frame;
    }

    void Feed(const std::vector<std::uint8_t>& frame) {
        FormLoadSetup->OnConfigurationReport(frame.data(), static_cast<int>(frame.size()));
    }

    // The frames the window has written since the last call.
    std::vector<std::vector<std::uint8_t>> Written() {
        std::vector<std::vector<std::uint8_t>> frames;
        for (char c : pty_.ReadAllText()) {
            if (framer_.ProcessByte(static_cast<std::uint8_t>(c))) {
                frames.emplace_back(framer_.GetMsg(), framer_.GetMsg() + framer_.GetMsgLen());
            }
        }
        return frames;
    }

    static std::vector<std::uint8_t> PortConfig(std::uint32_t binary, std::uint32_t nmea,
                                                std::uint32_t rate) {
        std::vector<std::uint8_t> f(kPortConfigMsgLen);
        BuildPortConfigMsg(0, binary, nmea, rate, f.data());
        return f;
    }

    Pty pty_;
    DiagProto framer_;
};

// Outside the after-load dialogue a report only shows: it never writes to the receiver
// (a report crossing the user's Apply in Receiver Setup would undo it).
TEST_F(ReportTest, OutsideALoadReportsShowTheEngineButSendNothing) {
    const struct {
        std::uint8_t status;
        const char* shown; // nullptr: the status line is left alone
    } cases[] = {
        {1, "Downloading to GPS Engine"},
        {2, "Downloading to GPS Engine"},
        {3, "Cycle Power Now"},
        {4, "Failed GPS Engine download"},
        {12, "Failed GPS Engine download"},
        {0, nullptr},
        {7, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.status));
        FormLoadSetup->ShowStatus(QStringLiteral("before"));
        Written();
        Feed(Report(c.status));
        EXPECT_EQ(FormLoadSetup->StatusText(),
                  c.shown != nullptr ? QString::fromLatin1(c.shown) : QStringLiteral("before"));
        EXPECT_TRUE(Written().empty());
        EXPECT_EQ(FormLoadSetup->VersionText(), QStringLiteral("3.14rc1"));
        EXPECT_EQ(FormLoadSetup->EngineStatus, c.status);
    }
}

TEST_F(ReportTest, OnlyWholeConfigurationReportsAreTaken) {
    Feed(Report(0, 136, 0x20, 0x04));
    EXPECT_EQ(FormLoadSetup->BinaryFlags, 0x20u);
    EXPECT_EQ(FormLoadSetup->NmeaFlags, 0x04u);
    // Without room for the suffix the version has none.
    Feed(Report(0, 124));
    EXPECT_EQ(FormLoadSetup->VersionText(), QStringLiteral("3.14"));
    Written();

    // Too short for the engine status, or another id: ignored, nothing sent.
    FormLoadSetup->ShowStatus(QStringLiteral("before"));
    std::vector<std::uint8_t> shortReport = Report(3, 123);
    Feed(shortReport);
    std::vector<std::uint8_t> other = Report(3);
    other[2] = kMsgCorrectionsReport;
    Feed(other);
    const std::vector<std::uint8_t> whole = Report(3);
    Feed(std::vector<std::uint8_t>(whole.begin(), whole.begin() + 40)); // cut short
    EXPECT_EQ(FormLoadSetup->StatusText(), QStringLiteral("before"));
    EXPECT_EQ(FormLoadSetup->VersionText(), QStringLiteral("3.14"));
    EXPECT_TRUE(Written().empty());
}

// After a completed load the window shows the dialogue's steps and writes what it
// decides: "Cycle Power Now" (SYS kept on), Request, then "Done" with SYS off again.
TEST_F(ReportTest, AfterACompletedLoadIdleStatusesLeadToDone) {
    Feed(Report(0, 136, kBinGPS));
    FormLoadSetup->AfterLoad().LoadStarting();
    FormLoadSetup->AfterLoad().LoadEnded(LoadOutcome::Completed);
    Written();
    Feed(Report(0, 136, kBinGPS | kBinSYS));
    EXPECT_EQ(FormLoadSetup->StatusText(), QStringLiteral("Cycle Power Now"));
    EXPECT_EQ(Written(),
              (std::vector<std::vector<std::uint8_t>>{PortConfig(kBinGPS | kBinSYS, 0x11, 19200)}));

    FormLoadSetup->ButtonRequestClick();
    EXPECT_TRUE(FormLoadSetup->AfterLoad().ConfirmRequested());
    std::vector<std::uint8_t> request(kRequestMsgLen);
    BuildRequestMsg(kMsgConfigReport, request.data());
    EXPECT_EQ(Written(), (std::vector<std::vector<std::uint8_t>>{request}));
    Feed(Report(0, 136, kBinGPS | kBinSYS));
    EXPECT_EQ(FormLoadSetup->StatusText(), QStringLiteral("Done"));
    EXPECT_EQ(Written(),
              (std::vector<std::vector<std::uint8_t>>{PortConfig(kBinGPS, 0x11, 19200)}));
}

TEST_F(ReportTest, ShowOverStartsAfreshAndAsksForTheStatus) {
    Feed(Report(0));
    FormLoadSetup->AfterLoad().LoadStarting();
    FormLoadSetup->AfterLoad().LoadEnded(LoadOutcome::Completed);
    Feed(Report(0)); // "Cycle Power Now"
    FormLoadSetup->ButtonRequestClick();
    Written();
    FormLoadSetup->hide();
    const WindowRect main{100, 50, 900, 650};
    FormLoadSetup->ShowOver(main);
    EXPECT_TRUE(FormLoadSetup->isVisible());
    EXPECT_EQ(FormLoadSetup->windowTitle(), QStringLiteral("Load Software"));
    EXPECT_EQ(FormLoadSetup->VersionText(), QStringLiteral("Not Known"));
    EXPECT_EQ(FormLoadSetup->StatusText(), QStringLiteral("None"));
    const AfterLoadDialogue& d = FormLoadSetup->AfterLoad();
    EXPECT_FALSE(d.LoadEndedPending() || d.PowerCyclePending() || d.ConfirmRequested());
    EXPECT_FALSE(Panel()->isVisible());
    EXPECT_EQ(FormLoadSetup->OpenDialog->nameFilters(),
              QStringList{QString::fromLatin1(TFormLoadSetup::kOpenDialogFilter)});
    std::vector<std::uint8_t> request(kRequestMsgLen);
    BuildRequestMsg(kMsgConfigReport, request.data());
    EXPECT_EQ(Written(), (std::vector<std::vector<std::uint8_t>>{request}));

    // Placed once; afterwards it stays where the user left it.
    FormLoadSetup->move(7, 9);
    FormLoadSetup->ShowOver(WindowRect{0, 0, 2000, 2000});
    EXPECT_EQ(FormLoadSetup->pos(), QPoint(7, 9));

    // Close hides it; the window has no close box of its own.
    EXPECT_FALSE(FormLoadSetup->windowFlags() & Qt::WindowCloseButtonHint);
    Button("ButtonDone")->click();
    EXPECT_FALSE(FormLoadSetup->isVisible());
}

TEST(LoadSetupForm, ChoosingTheFile) {
    QLineEdit* edit = EditFileName();
    QPushButton* load = Button("ButtonLoad");
    FormLoadSetup->SoftwareFileChosen(true, QStringLiteral("/data/QX2.GST"));
    EXPECT_EQ(edit->text(), QStringLiteral("/data/QX2.GST"));
    EXPECT_TRUE(load->isEnabled());
    FormLoadSetup->SoftwareFileChosen(true, QStringLiteral("/data/image.bin"));
    EXPECT_EQ(edit->text(), QStringLiteral("Invalid File Type"));
    EXPECT_FALSE(load->isEnabled());
    // A cancelled dialog keeps a typed name if it names a .gst file.
    edit->setText(QStringLiteral("/typed/300a.gst"));
    FormLoadSetup->SoftwareFileChosen(false, QString());
    EXPECT_EQ(edit->text(), QStringLiteral("/typed/300a.gst"));
    EXPECT_TRUE(load->isEnabled());

    // Through the dialog itself: it lists the engine's software files only.
    const std::string dir = MakeTempDir();
    const std::string path = dir + "/300engine.gst";
    for (const char* name : {"300engine.gst", "qx12.gst", "QX13.gst", "other.gst", "300x.bin"}) {
        ASSERT_TRUE(WriteTextFile(dir + "/" + name, ":00\r\n"));
    }
    QFileDialog* dialog = FormLoadSetup->OpenDialog;
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    dialog->setNameFilter(QString::fromLatin1(TFormLoadSetup::kOpenDialogFilter));
    dialog->setDirectory(QString::fromStdString(dir));
    QStringList listed;
    QString shownFilter;
    QTimer::singleShot(400, dialog, [&] {
        auto* view = dialog->findChild<QListView*>(QStringLiteral("listView"));
        if (view != nullptr) {
            for (int i = 0; i < view->model()->rowCount(view->rootIndex()); ++i) {
                listed << view->model()->index(i, 0, view->rootIndex()).data().toString();
            }
        }
        if (auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))) {
            shownFilter = types->currentText();
        }
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
            ->setText(QString::fromStdString(path));
        static_cast<QDialog*>(dialog)->done(QDialog::Accepted);
    });
    FormLoadSetup->ButtonSoftwareFileClick();
    listed.sort();
    EXPECT_EQ(listed, (QStringList{"300engine.gst", "QX13.gst", "qx12.gst"}));
    EXPECT_EQ(shownFilter, QStringLiteral("Kestrane Software (*.gst)"));
    EXPECT_EQ(edit->text(), QString::fromStdString(path));
    EXPECT_TRUE(load->isEnabled());
    std::filesystem::remove_all(dir);
}

TEST(LoadSetupForm, TabOrderAndHelp) {
    // Tab order: file name, Load, Close, Request, the status line, Help.
    QWidget* w = EditFileName();
    std::vector<QString> order;
    for (int i = 0; i < 6; ++i) {
        order.push_back(w->objectName());
        w = w->nextInFocusChain();
        while (w->focusPolicy() == Qt::NoFocus ||
               w->objectName().startsWith(QLatin1String("qt_"))) {
            w = w->nextInFocusChain();
        }
    }
    EXPECT_EQ(order, (std::vector<QString>{"EditFileName", "ButtonLoad", "ButtonDone",
                                           "ButtonRequest", "Memo", "ButtonHelp"}));

    Button("ButtonHelp")->click();
    EXPECT_TRUE(FormHelp->isVisible());
    EXPECT_EQ(FormHelp->windowTitle(), QStringLiteral("Help - Loading Instructions"));
    FormHelp->hide();
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The program's device list holds no port of this machine.
    qputenv("KESTRANE_EXTRA_PORTS", "");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const EmptySysfs sysfs;
    gEmptySysfs = sysfs.path();

    // Every window, in the program's order.
    CreateWindows(gEmptySysfs);
    const int result = RUN_ALL_TESTS();
    DestroyWindows();
    return result;
}
