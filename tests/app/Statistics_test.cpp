// The link's health in the windows: the counts of what the main window's poll received,
// an alert in the main window's status bar while it holds, and the Statistics window
// drawing only while it is shown.

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <gtest/gtest.h>

#include "Apptest.h"
#include "app/Mainform.h"
#include "base/Clock.h"
#include "receiver/Statisticsform.h"
#include "receiver/Statusform.h"
#include "ui/Windowrect.h"

namespace {

QString StatisticsText(const char* memo) {
    return FormStatistics->findChild<QPlainTextEdit*>(memo)->toPlainText();
}

} // namespace

TEST(LinkHealth, CountsAlertsAndChartsFromTheMainWindowsPoll) {
    AppWindows windows;
    FakeClock clock;
    FormStatus->SetClock(clock);
    PtyPeer peer;
    ASSERT_TRUE(peer.ok());
    ASSERT_TRUE(OpenMainPort(peer.SlavePath()));

    // Two epochs with a fix, a sentence with a wrong checksum, noise, a frame of id 16.
    const std::string good1 = "$GPGGA,120000.00,4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,*67\r\n";
    const std::string good2 = "$GPGGA,120001.00,4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,*66\r\n";
    const std::string damaged = "$GPGGA,120001.00,4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,*00\r\n";
    std::vector<std::uint8_t> stream = Bytes(good1 + damaged + "line noise\r\n");
    const std::vector<std::uint8_t> frame = Frame(0x10, {1, 2, 3});
    stream.insert(stream.end(), frame.begin(), frame.end());
    EXPECT_GE(PumpTicks(peer, stream, 3), 3);
    clock.AdvanceMilliseconds(1000);
    PumpTicks(peer, Bytes(good2), 1);

    const LinkStats& link = FormStatus->Link();
    EXPECT_EQ(link.ChecksumRefused(), 1u);
    EXPECT_EQ(link.NotSentences(), 1u);
    EXPECT_EQ(link.Bytes(), stream.size() + good2.size());
    const auto sentences = link.Sentences(clock.Milliseconds());
    ASSERT_EQ(sentences.size(), 1u);
    EXPECT_EQ(sentences[0].name, "GGA");
    EXPECT_EQ(sentences[0].count, 2u);
    const auto binary = link.Binary(clock.Milliseconds());
    ASSERT_EQ(binary.size(), 1u);
    EXPECT_EQ(binary[0].count, 1u);

    // Nothing drawn while hidden; shown, the counts and the charts at once.
    EXPECT_EQ(FormStatistics->ChartDraws(), 0);
    FormStatus->findChild<QPushButton*>("ButtonStatistics")->click();
    ASSERT_TRUE(FormStatistics->isVisible());
    EXPECT_TRUE(StatisticsText("MemoCounts").contains("GGA"));
    EXPECT_TRUE(WaitFor([] { return FormStatistics->ChartDraws() >= 1; }, 2000));

    // The line falls silent: "No data" in the status bar while it holds, then gone once
    // the data has been back long enough.
    EXPECT_TRUE(FormMain->PanelText(4).isEmpty());
    clock.AdvanceMilliseconds(10'000);
    FormMain->TimerTimer();
    EXPECT_TRUE(FormMain->PanelText(4).contains("No data")) << FormMain->PanelText(4).toStdString();
    EXPECT_TRUE(FormStatus->findChild<QLabel*>("LabelAlerts")->text().contains("No data"));
    for (int i = 0; i < 12; ++i) {
        clock.AdvanceMilliseconds(1000);
        PumpTicks(peer, Bytes(good2), 1);
        FormMain->TimerTimer();
    }
    EXPECT_FALSE(FormMain->PanelText(4).contains("No data")) << FormMain->PanelText(4).toStdString();
    FormStatistics->TimerTimer();
    EXPECT_TRUE(StatisticsText("MemoAlerts").contains("No data"));
    FormStatistics->hide();
}
