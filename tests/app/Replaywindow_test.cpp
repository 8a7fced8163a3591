// The main window replaying a recording in the receiver's place and recording the raw
// stream, and the Receiver Status window's export: the pace on a fake clock, pause and
// stop, what is not available meanwhile, a raw recording that fails, and a GPX export
// that a real XML reader takes.

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

#include "Apptest.h"
#include "app/Mainform.h"
#include "base/Clock.h"
#include "tests/common/Tempdir.h"
#include "proto/Port.h"
#include "receiver/Rcvrportform.h"
#include "receiver/Statusform.h"

namespace {

QAction* MenuItem(const char* name) {
    return FormMain->findChild<QAction*>(name);
}

// "$BODY*hh" with the checksum of BODY.
std::string Sentence(const std::string& body) {
    unsigned sum = 0;
    for (char c : body)
        sum ^= static_cast<unsigned char>(c);
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X", sum);
    return "$" + body + tail;
}

// A capture as another tool writes it: LF line ends, a comment, five epochs one second
// apart, each a GGA and an RMC; the fourth has no fix.
std::string FiveEpochs() {
    std::string text = "# five epochs\n";
    for (int i = 0; i < 5; ++i) {
        const std::string time = "1200" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".00";
        const bool fix = i != 3;
        text += Sentence("GPGGA," + time + (fix ? ",4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,"
                                                : ",,,,,0,00,,,M,,M,,")) +
                "\n";
        text += Sentence("GPRMC," + time + (fix ? ",A" : ",V") +
                         ",4807.0380,N,01131.0000,E,0.0,0.0,091226,,,A") +
                "\n";
    }
    return text;
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

} // namespace

TEST(ReplayWindow, PacesByTheSentencesTimesPausesAndStops) {
    AppWindows windows;
    const std::string dir = MakeTempDir();
    const std::string file = dir + "/five.nmea";
    WriteText(file, FiveEpochs());
    FakeClock clock;
    FormMain->SetClock(clock);
    FormStatus->SetClock(clock);
    FormMain->SetReplaySpeed(1.0);

    ASSERT_TRUE(FormMain->StartReplay(QString::fromStdString(file)));
    EXPECT_TRUE(FormMain->Replaying());
    EXPECT_TRUE(FormMain->PanelText(0).startsWith("Replay: five.nmea"));
    // Nothing talks to the receiver meanwhile.
    EXPECT_FALSE(MenuItem("MenuLoad")->isEnabled());
    EXPECT_FALSE(FormRcvrPort->findChild<QPushButton*>("ButtonApply")->isEnabled());

    // The first epoch at once, then one a second of the clock.
    FormMain->TimerTimer();
    EXPECT_EQ(MemoTexts().size(), 2);
    clock.AdvanceMilliseconds(500);
    FormMain->TimerTimer();
    EXPECT_EQ(MemoTexts().size(), 2);
    clock.AdvanceMilliseconds(500);
    FormMain->TimerTimer();
    EXPECT_EQ(MemoTexts().size(), 4);
    EXPECT_TRUE(MemoTexts().back().startsWith("$GPRMC,120001.00"));

    // Paused, the clock runs on and nothing comes; resumed, it goes on where it was.
    FormMain->SetReplayPaused(true);
    EXPECT_TRUE(FormMain->PanelText(0).endsWith("(paused)"));
    clock.AdvanceMilliseconds(5000);
    FormMain->TimerTimer();
    EXPECT_EQ(MemoTexts().size(), 4);
    FormMain->SetReplayPaused(false);
    FormMain->TimerTimer();
    EXPECT_EQ(MemoTexts().size(), 4);
    clock.AdvanceMilliseconds(1000);
    FormMain->TimerTimer();
    EXPECT_EQ(MemoTexts().size(), 6);

    // Stopped: the port is closed, and the receiver's windows are back.
    FormMain->StopReplay();
    EXPECT_FALSE(FormMain->Replaying());
    EXPECT_FALSE(CommPort.IsOpen());
    EXPECT_TRUE(FormMain->PanelText(0).endsWith(": Closed"));
    EXPECT_TRUE(MenuItem("MenuLoad")->isEnabled());
    EXPECT_TRUE(FormRcvrPort->findChild<QPushButton*>("ButtonApply")->isEnabled());
}

TEST(ReplayWindow, AsFastAsPossibleFeedsTheStatusWindowAndEndsByItself) {
    AppWindows windows;
    const std::string dir = MakeTempDir();
    const std::string file = dir + "/five.nmea";
    const std::string log = dir + "/five.log";
    WriteText(file, FiveEpochs());
    FormMain->SetReplaySpeed(0.0);
    ASSERT_TRUE(FormMain->StartLogging(QString::fromStdString(log)));
    ASSERT_TRUE(FormMain->StartReplay(QString::fromStdString(file)));
    FormMain->TimerTimer();
    FormMain->TimerTimer();
    EXPECT_FALSE(FormMain->Replaying());
    EXPECT_EQ(MemoTexts().size(), 10);

    // The log holds the sentences as a port would have delivered them: CR LF ended.
    std::string expected;
    std::istringstream lines(FiveEpochs());
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("$GP", 0) == 0)
            expected += line + "\r\n";
    FormMain->StartLogging(QString()); // closes the log
    const std::vector<std::uint8_t> logged = ReadFileBytes(log);
    EXPECT_EQ(std::string(logged.begin(), logged.end()), expected);

    // Four of the five epochs had a fix.
    FormStatus->ShowOver(OuterRect(*FormMain));
    FormStatus->TimerTimer();
    EXPECT_EQ(FormStatus->findChild<QLabel*>("LabelAvailability")->text(), "Availability: 80.0 %");
    EXPECT_EQ(FormStatus->findChild<QLabel*>("LabelFixCount")->text(), "Fixes: 4");

    // Exported, a real XML reader takes the track, and it holds the four fixes.
    const std::string gpx = dir + "/track.gpx";
    QString error;
    ASSERT_TRUE(FormStatus->ExportTo(QString::fromStdString(gpx), error)) << error.toStdString();
    EXPECT_EQ(std::system(("xmllint --noout " + gpx).c_str()), 0);
    const std::vector<std::uint8_t> bytes = ReadFileBytes(gpx);
    const std::string text(bytes.begin(), bytes.end());
    std::size_t points = 0;
    for (std::size_t at = text.find("<trkpt"); at != std::string::npos;
         at = text.find("<trkpt", at + 1))
        ++points;
    EXPECT_EQ(points, 4u);
    EXPECT_NE(text.find("<time>2026-12-09T12:00:04"), std::string::npos);
    EXPECT_FALSE(FormStatus->ExportTo("/nonexistent/dir/track.csv", error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(ReplayWindow, NotARecordingIsRefusedAndThePortStaysAsItWas) {
    AppWindows windows;
    const std::string dir = MakeTempDir();
    const std::string file = dir + "/picture.png";
    WriteText(file, std::string("\x89PNG\r\n\x1a\n", 8) + std::string(3000, '\x07'));
    EXPECT_FALSE(FormMain->StartReplay(QString::fromStdString(file)));
    EXPECT_FALSE(FormMain->Replaying());
    EXPECT_TRUE(MenuItem("MenuLoad")->isEnabled());
}

TEST(RawRecording, HoldsEveryByteAndAFailedWriteStopsOnlyTheRecording) {
    AppWindows windows;
    const std::string dir = MakeTempDir();
    PtyPeer peer;
    ASSERT_TRUE(peer.ok());
    ASSERT_TRUE(OpenMainPort(peer.SlavePath()));
    const std::string raw = dir + "/line.raw";
    ASSERT_TRUE(FormMain->StartRecording(QString::fromStdString(raw)));
    EXPECT_TRUE(FormMain->RecordingOn());

    // A sentence, noise and a frame whose CRC bytes include LF: all of it, as it came.
    std::vector<std::uint8_t> stream = Bytes("$GPGGA,,,,,,0,00,,,M,,M,,*66\r\nnoise\xff");
    const std::vector<std::uint8_t> frame = Frame(0x10, {0x0A, 0x0D, 0x24, 0x78});
    stream.insert(stream.end(), frame.begin(), frame.end());
    EXPECT_EQ(PumpTicks(peer, stream, 2), 2);
    FormMain->StopRecording();
    EXPECT_EQ(ReadFileBytes(raw), stream);

    // A full disk: the recording ends with a note, the reception goes on.
    ASSERT_TRUE(FormMain->StartRecording("/dev/full"));
    const int before = FormMain->messageCount;
    PumpTicks(peer, Bytes("$GPGGA,,,,,,0,00,,,M,,M,,*66\r\n"), 1);
    // The recorder's buffer reaches the disk as it is written: the first write fails.
    EXPECT_FALSE(FormMain->RecordingOn());
    PumpTicks(peer, Bytes("$GPGGA,,,,,,0,00,,,M,,M,,*66\r\n"), 1);
    EXPECT_EQ(FormMain->messageCount, before + 2);
}
