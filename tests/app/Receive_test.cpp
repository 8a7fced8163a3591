// The receive monitor: what reaches the memo and the log from bytes on a
// pseudo-terminal, from real receiver captures replayed through one (against the log
// each must produce, checked in beside it), and from the simulated receiver.

#include <QPlainTextEdit>
#include <algorithm>
#include <gtest/gtest.h>
#include <random>

#include "Apptest.h"
#include "app/Mainform.h"
#include "proto/Memoutils.h"
#include "proto/Port.h"
#include "sim/Simreceiver.h"

namespace {

class Receive : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(peer.ok());
        ASSERT_TRUE(OpenMainPort(peer.SlavePath()));
    }

    // Logs to a file of its own and returns its path.
    std::string LogToFile(const std::string& name) {
        const std::string path = TempPath(name);
        EXPECT_TRUE(FormMain->StartLogging(QString::fromStdString(path)));
        return path;
    }

    static std::string Text(const std::vector<std::uint8_t>& b) { return {b.begin(), b.end()}; }

    // Feeds stream and checks the memo, the count and the log file against expected.
    void CheckStream(const std::vector<std::uint8_t>& stream, const ExpectedOutput& expected,
                     const std::string& log) {
        const int before = FormMain->messageCount;
        EXPECT_EQ(PumpTicks(peer, stream, expected.messages), expected.messages);
        EXPECT_EQ(FormMain->messageCount - before, expected.messages);
        const int limit = FormMain->MemoLineLimit();
        const QStringList tail =
            expected.shown.mid(std::max<qsizetype>(0, expected.shown.size() - limit));
        EXPECT_EQ(MemoTexts(), tail);
        EXPECT_EQ(Text(ReadFileBytes(log)), expected.log);
    }

    AppWindows windows;
    PtyPeer peer;
};

} // namespace

TEST_F(Receive, ASentenceIsShownWithATimeStampAndLoggedWithout) {
    const std::string log = LogToFile("one.log");
    PumpTicks(peer, Bytes("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n"),
              1);
    const QStringList lines = MemoLines();
    ASSERT_EQ(lines.size(), 1);
    bool stamped = false;
    EXPECT_EQ(Unstamped(lines[0], &stamped),
              "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47");
    EXPECT_TRUE(stamped);
    EXPECT_EQ(Text(ReadFileBytes(log)),
              "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n");
    EXPECT_EQ(FormMain->messageCount, 1);
}

TEST_F(Receive, LinesOfOtherTalkersAreNeitherShownCountedNorLogged) {
    const std::string log = LogToFile("others.log");
    PumpTicks(peer,
              Bytes("$GNGGA,1*00\r\n$PNXYZ,2*00\r\n$GLGSV,3*00\r\nGPGGA,4\r\n$G\r\n$gpgga,5\r\n"
                    "\r\n$GP\r\n"),
              1);
    EXPECT_EQ(MemoTexts(), QStringList({"$GP"}));
    EXPECT_EQ(FormMain->messageCount, 1);
    EXPECT_EQ(Text(ReadFileBytes(log)), "$GP\r\n");
}

TEST_F(Receive, ABinaryFrameIsShownByItsIdAndRemembered) {
    const std::string log = LogToFile("binary.log");
    PumpTicks(peer, Frame(255, {4}), 1);
    EXPECT_EQ(MemoTexts(), QStringList({"Proprietary ID 255"}));
    EXPECT_EQ(FormMain->lastMessageId, 255);
    EXPECT_EQ(FormMain->messageCount, 1);
    PumpTicks(peer, Frame(7, {1, 2, 3}), 1);
    EXPECT_EQ(FormMain->lastMessageId, 7);
    EXPECT_EQ(MemoTexts().last(), "Proprietary ID 7");
    EXPECT_EQ(Text(ReadFileBytes(log)), ""); // frames are never logged
}

TEST_F(Receive, FramesAndLinesInOneReadAreHandledInByteOrder) {
    std::vector<std::uint8_t> stream = Bytes("$GPGGA,a*00\r\n");
    const std::vector<std::uint8_t> f = Frame(9, {1, 2, 3});
    stream.insert(stream.end(), f.begin(), f.end());
    const std::vector<std::uint8_t> tail = Bytes("$GPRMC,b*00\r\n");
    stream.insert(stream.end(), tail.begin(), tail.end());
    peer.Write(stream); // all of it lands in the driver before the tick reads it
    QThread::msleep(20);
    FormMain->TimerTimer();
    SettleTicks();
    EXPECT_EQ(MemoTexts(), QStringList({"$GPGGA,a*00", "Proprietary ID 9", "$GPRMC,b*00"}));
}

TEST_F(Receive, TheSentenceAfterAFrameEndingCrCrLfIsShownAndLogged) {
    // Id 212 with the payload 00 has the CRC high byte 0x0D: the frame ends 0D 0D 0A.
    const std::string log = LogToFile("crcrlf.log");
    std::vector<std::uint8_t> stream = Frame(212, {0x00});
    ASSERT_EQ(std::vector<std::uint8_t>(stream.end() - 3, stream.end()),
              std::vector<std::uint8_t>({0x0D, 0x0D, 0x0A}));
    const std::vector<std::uint8_t> sentence = Bytes("$GPZDA,201530.00,04,07,2002,00,00*60\r\n");
    stream.insert(stream.end(), sentence.begin(), sentence.end());
    PumpTicks(peer, stream, 2);
    EXPECT_EQ(MemoTexts(),
              QStringList({"Proprietary ID 212", "$GPZDA,201530.00,04,07,2002,00,00*60"}));
    EXPECT_EQ(Text(ReadFileBytes(log)), "$GPZDA,201530.00,04,07,2002,00,00*60\r\n");
}

TEST_F(Receive, AFrameSplitAcrossTicksIsShownOnceInTheTickThatCompletesIt) {
    const std::vector<std::uint8_t> f = Frame(4, std::vector<std::uint8_t>(140, 0x24));
    peer.Write(std::vector<std::uint8_t>(f.begin(), f.begin() + 70));
    SettleTicks();
    EXPECT_EQ(MemoLines().size(), 0);
    EXPECT_EQ(FormMain->messageCount, 0);
    PumpTicks(peer, std::vector<std::uint8_t>(f.begin() + 70, f.end()), 1);
    EXPECT_EQ(MemoTexts(), QStringList({"Proprietary ID 4"}));
    EXPECT_EQ(FormMain->messageCount, 1);
}

TEST_F(Receive, EachFrameGoesToTheRecipientOfItsIdOnly) {
    std::vector<std::vector<std::uint8_t>> got;
    RegisterRecipient(
        2, this,
        [&got](const std::uint8_t* frame, int length) { got.emplace_back(frame, frame + length); },
        0);
    const std::vector<std::uint8_t> two = Frame(2, {1, 2, 3, 4});
    std::vector<std::uint8_t> stream = Frame(3, {9});
    stream.insert(stream.end(), two.begin(), two.end());
    PumpTicks(peer, stream, 2);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], two); // the whole frame, from its "$", with its own length
    EXPECT_EQ(MemoTexts(), QStringList({"Proprietary ID 3", "Proprietary ID 2"}));
}

TEST_F(Receive, ARecipientSeesItsFrameAlreadyCountedShownAndRemembered) {
    // The Open Port dialog's search and the setup dialogs read these from within or
    // after dispatch: by the time a recipient runs, the frame is fully accounted for.
    int countSeen = -1;
    int idSeen = -1;
    QString lastShown;
    RegisterRecipient(
        6, this,
        [&](const std::uint8_t*, int) {
            countSeen = FormMain->messageCount;
            idSeen = FormMain->lastMessageId;
            const QStringList texts = MemoTexts();
            lastShown = texts.isEmpty() ? QString() : texts.last();
        },
        0);
    PumpTicks(peer, Bytes("$GPGGA,1*00\r\n"), 1);
    PumpTicks(peer, Frame(6, {1}), 1);
    EXPECT_EQ(countSeen, 2);
    EXPECT_EQ(idSeen, 6);
    EXPECT_EQ(lastShown, "Proprietary ID 6");
}

TEST_F(Receive, ATickHandlesAtMost1024BytesAndLeavesTheRestForTheNext) {
    // 32 sentences of 64 bytes each: 16 fill one tick's block exactly.
    std::string stream;
    for (int i = 0; i < 32; ++i) {
        std::string s = "$GPGGA," + std::to_string(100 + i) + ",";
        s.resize(64 - 2, 'x');
        stream += s + "\r\n";
    }
    ASSERT_EQ(stream.size(), 2048u);
    ASSERT_GE(FormMain->MemoLineLimit(), 32);
    peer.Write(stream);
    QThread::msleep(30); // all of it in the driver before the first tick
    FormMain->TimerTimer();
    EXPECT_EQ(MemoTexts().size(), 16);
    EXPECT_EQ(FormMain->messageCount, 16);
    FormMain->TimerTimer();
    EXPECT_EQ(MemoTexts().size(), 32);
    EXPECT_EQ(MemoTexts().last(), QString::fromStdString(stream.substr(31 * 64, 62)));
}

TEST_F(Receive, TheMemoKeepsTheNewestLinesUpToItsLimit) {
    const int limit = FormMain->MemoLineLimit();
    ASSERT_GT(limit, 0);
    std::string stream;
    for (int i = 1; i <= limit + 1; ++i)
        stream += "$GPZDA," + std::to_string(i) + "\r\n";
    PumpTicks(peer, Bytes(stream), limit + 1);
    const QStringList texts = MemoTexts();
    ASSERT_EQ(texts.size(), limit);
    EXPECT_EQ(texts.first(), "$GPZDA,2"); // the first line went when line limit+1 came
    EXPECT_EQ(texts.last(), "$GPZDA," + QString::number(limit + 1));
}

TEST_F(Receive, ADamagedSentenceIsShownReadablyAndLoggedByteForByte) {
    const std::string log = LogToFile("damaged.log");
    const std::string damaged = std::string("$GPGGA,1\0\0,2,\x07\xff\x80\x7f,3*00", 22);
    PumpTicks(peer, Bytes(damaged + "\r\n"), 1);
    const QString r(QChar(0xFFFD));
    EXPECT_EQ(MemoTexts(), QStringList({"$GPGGA,1" + r + r + ",2," + r + r + r + r + ",3*00"}));
    EXPECT_EQ(Text(ReadFileBytes(log)), damaged + "\r\n");
}

TEST_F(Receive, GarbageAndOverlongLinesNeverStallTheMonitor) {
    const std::string log = LogToFile("garbage.log");
    std::mt19937 random(7);
    std::vector<std::uint8_t> stream;
    for (int i = 0; i < 64 * 1024; ++i)
        stream.push_back(static_cast<std::uint8_t>(random()));
    const std::vector<std::uint8_t> longLine(3000, 'A');
    stream.push_back('\r');
    stream.push_back('\n');
    stream.insert(stream.end(), {'$', 'G', 'P'});
    stream.insert(stream.end(), longLine.begin(), longLine.end());
    const std::vector<std::uint8_t> good = Bytes("\r\n$GPGGA,after*00\r\n");
    stream.insert(stream.end(), good.begin(), good.end());
    // Nothing in the noise or the overlong line is a frame or a sentence.
    CheckStream(stream, ExpectFromLog("$GPGGA,after*00\r\n"), log);
}

// ---------------------------------------------------------------------------------------
// Real receiver captures, replayed through the pseudo-terminal.

struct Capture {
    const char* file;
    int gpSentences; // $GP lines as CR LF framing with its 1200-byte limit cuts the file
};

void PrintTo(const Capture& c, std::ostream* os) {
    *os << c.file;
}

class Captures : public Receive, public ::testing::WithParamInterface<Capture> {};

TEST_P(Captures, EverySentenceOfTheGpsTalkerIsShownAndLoggedOnceInOrder) {
    const std::string log = LogToFile("capture.log");
    const std::string nmea = std::string(KESTRANE_TEST_DATA) + "/nmea/";
    const std::vector<std::uint8_t> stream = ReadFileBytes(nmea + GetParam().file);
    ASSERT_FALSE(stream.empty()) << GetParam().file;
    // None of the captures holds a frame of ours: all that counts is in the log.
    const std::vector<std::uint8_t> golden = ReadFileBytes(nmea + "expected/" + GetParam().file);
    const ExpectedOutput expected = ExpectFromLog(std::string(golden.begin(), golden.end()));
    ASSERT_EQ(expected.messages, GetParam().gpSentences);
    CheckStream(stream, expected, log);
}

// ac12: binary packets between sentences; gp-320fw: NULs, truncated and run-together
// sentences; ublox-8: a garbage line, other talkers; quectel binary: every $GPTXT
// follows binary bytes, so none begins a line; firefly: GP only; MIXED2: UBX binary,
// last sentence without CR LF.
INSTANTIATE_TEST_SUITE_P(Nmea, Captures,
                         ::testing::Values(Capture{"ac12_binary.log", 34},
                                           Capture{"gp-320fw-2019-04-07-coldboot.log", 129},
                                           Capture{"ublox-8.log", 288},
                                           Capture{"quectel-l76k-binary.log", 0},
                                           Capture{"firefly-II.log", 68},
                                           Capture{"pygpsdata-MIXED2.log", 2}),
                         [](const auto& info) {
                             std::string name = info.param.file;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

// ---------------------------------------------------------------------------------------
// The simulated receiver, on the program's real timer.

TEST(SimulatedReceiver, TheMonitorShowsWhatTheReceiverSendsAndItsReplies) {
    AppWindows windows;
    SimOptions options;
    options.otherTalkers = true;
    options.otherBinary = true;
    options.navRate = 5;
    SimReceiver sim(options);
    ASSERT_TRUE(sim.Start());
    sim.SetCaptureOutput(true);
    ASSERT_TRUE(OpenMainPort(sim.DevicePath(), 19200));
    const std::string log = TempPath("sim.log");
    ASSERT_TRUE(FormMain->StartLogging(QString::fromStdString(log)));
    FormMain->Timer->start();

    // Ask for the two reports the way the Receiver Setup dialog does.
    std::uint8_t request[12];
    const std::uint8_t n4 = BuildRequestMsg(4, request);
    CommPort.Write(request, n4);
    const std::uint8_t n1 = BuildRequestMsg(1, request);
    CommPort.Write(request, n1);

    ASSERT_TRUE(WaitFor([] { return MemoTexts().contains("Proprietary ID 1"); }, 5000));
    WaitFor([] { return false; }, 1500); // a few fixes more

    // Silence the receiver and wait until what it sent and what the window counted
    // agree and stay so; then stop reading and compare everything.
    sim.SetDead(true);
    std::vector<std::uint8_t> sent;
    ExpectedOutput expected;
    int stable = 0;
    for (int i = 0; i < 60 && stable < 3; ++i) {
        WaitFor([] { return false; }, 100);
        const std::vector<std::uint8_t> now = sim.CapturedOutput();
        expected = ExpectFromMessages(now);
        stable = now.size() == sent.size() && FormMain->messageCount == expected.messages
                     ? stable + 1
                     : 0;
        sent = now;
    }
    FormMain->Timer->stop();
    sim.Stop();

    EXPECT_EQ(FormMain->messageCount, expected.messages);
    EXPECT_TRUE(expected.shown.contains("Proprietary ID 4"));
    const int limit = FormMain->MemoLineLimit();
    EXPECT_EQ(MemoTexts(),
              expected.shown.mid(std::max<qsizetype>(0, expected.shown.size() - limit)));
    const std::vector<std::uint8_t> logged = ReadFileBytes(log);
    EXPECT_EQ(std::string(logged.begin(), logged.end()), expected.log);
    EXPECT_NE(expected.log.find("$GPGGA"), std::string::npos);
    // Other talkers were on the line and are not shown.
    EXPECT_NE(std::string(sent.begin(), sent.end()).find("$GN"), std::string::npos);
    for (const QString& t : MemoTexts())
        EXPECT_FALSE(t.startsWith("$GN"));
}
