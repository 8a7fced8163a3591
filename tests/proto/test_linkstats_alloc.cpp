// The link's counts and alerts on the receive path allocate nothing: every byte of a
// long stream through the framers, the counts, the decoder and the alerts.

#include "proto/Alerts.h"
#include "proto/Linkstats.h"

#include "framing_helpers.h"
#include "tests/proto/Alloccount.h"

#include <gtest/gtest.h>

TEST(LinkStats, CountingAndWatchingAllocateNothing) {
    // A second of a receiver at 5 fixes a second with its binary messages, and noise.
    Bytes second;
    for (int fix = 0; fix < 5; ++fix) {
        second = Cat({second,
                      B("$GPGGA,123519.00,4807.038,N,01131.000,E,2,08,0.9,545.4,M,46.9,M,3.0,"
                        "0120*44\r\n"),
                      B("$GPRMC,123519.00,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*44"
                        "\r\n"),
                      B("$GPVTG,054.7,T,034.4,M,005.5,N,010.2,K*49\r\n"), Frame(0x10, Bytes(40, 7)),
                      Frame(0x12, B({'\r', '\n', 1})), B("noise\r\n")});
    }
    DiagProto diag;
    CRLFProto line;
    LinkStats stats;
    NmeaDecoder decoder;
    AlertMonitor alerts;
    std::int64_t now = 1'000'000'000;
    const auto receive = [&] {
        stats.BytesReceived(second.size(), now);
        alerts.BytesReceived(now);
        for (std::uint8_t b : second) {
            if (diag.ProcessByte(b))
                stats.FrameReceived(diag.GetMsg(), diag.GetMsgLen(), now);
            if (line.ProcessByte(b)) {
                stats.LineReceived(line.GetMsg(), line.GetMsgLen(), now);
                const NmeaResult r = decoder.Decode(line.GetMsg(), line.GetMsgLen());
                alerts.Sentence(r, decoder.State(), now);
            }
        }
        alerts.Tick(now);
        now += 1000;
    };
    receive(); // every type and id taken into its table
    const long before = AllocationCount();
    for (int s = 0; s < 1000; ++s)
        receive();
    EXPECT_EQ(AllocationCount() - before, 0);
    EXPECT_TRUE(alerts.Log().empty());
    EXPECT_EQ(stats.Sentences(now)[0].count, 5005u);
    EXPECT_EQ(stats.ChecksumRefused(), 5005u);
    EXPECT_EQ(stats.NotSentences(), 5005u);
}
