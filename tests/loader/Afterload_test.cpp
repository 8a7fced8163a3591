// The after-load dialogue on its own: what each Configuration report shows and what
// is sent back, before, during and after the dialogue that follows a load.

#include "loader/Afterload.h"

#include <gtest/gtest.h>

#include <string>

namespace {

ConfigurationReport Report(std::uint8_t status, std::uint32_t binary, std::uint32_t nmea) {
    ConfigurationReport r;
    r.engineLoadStatus = status;
    r.binaryFlags = binary;
    r.nmeaFlags = nmea;
    return r;
}

std::string Status(const ReportReaction& r) {
    return r.status != nullptr ? r.status : "(unchanged)";
}

void ExpectOutputs(const OutputConfiguration& o, std::uint32_t binary, std::uint32_t nmea) {
    EXPECT_TRUE(o.send);
    EXPECT_EQ(o.binaryFlags, binary);
    EXPECT_EQ(o.nmeaFlags, nmea);
}

constexpr std::uint32_t kNmea = kNmeaGGA | kNmeaRMC;

// After a completed load: SYS on at the end and kept on to "Done", which puts back the
// outputs of before the load, SYS as it was then. Then the dialogue is over and
// reports send nothing.
TEST(AfterLoadDialogue, ACompletedLoadIsFollowedToDoneWithTheOutputsOfBefore) {
    for (const std::uint32_t before : {kBinGPS, kBinGPS | kBinSYS}) {
        SCOPED_TRACE(before);
        AfterLoadDialogue d;
        d.OnReport(Report(0, before, kNmea));
        d.LoadStarting();
        ExpectOutputs(d.LoadEnded(LoadOutcome::Completed), before | kBinSYS, kNmea);

        // The receiver now reports SYS on, as the end of the load asked.
        const std::uint32_t forced = before | kBinSYS;
        ReportReaction r = d.OnReport(Report(1, forced, kNmea));
        EXPECT_EQ(Status(r), "Downloading to GPS Engine");
        EXPECT_FALSE(r.outputs.send);
        r = d.OnReport(Report(0, forced, kNmea));
        EXPECT_EQ(Status(r), "Cycle Power Now");
        ExpectOutputs(r.outputs, forced, kNmea);
        EXPECT_TRUE(d.PowerCyclePending());
        r = d.OnReport(Report(0, forced, kNmea));
        EXPECT_EQ(Status(r), "(unchanged)");

        d.RequestPressed();
        r = d.OnReport(Report(0, kBinGPS, kNmeaGGA)); // the power cycle changed them
        EXPECT_EQ(Status(r), "Done");
        ExpectOutputs(r.outputs, before, kNmea);
        r = d.OnReport(Report(0, kBinGPS, kNmeaGGA));
        EXPECT_EQ(Status(r), "(unchanged)");
        EXPECT_FALSE(r.outputs.send);
        EXPECT_FALSE(d.RestorePending());
    }
}

// A load that failed or was cancelled leads to no power cycle and no "Done": the status
// line keeps its text unless the engine reports a state of its own. Its outputs are
// put back once.
TEST(AfterLoadDialogue, AFailedOrCancelledLoadLeadsToNoPowerCycle) {
    for (const LoadOutcome outcome : {LoadOutcome::Failed, LoadOutcome::Cancelled}) {
        SCOPED_TRACE(static_cast<int>(outcome));
        AfterLoadDialogue d;
        d.OnReport(Report(0, kBinGPS, kNmea));
        d.LoadStarting();
        ExpectOutputs(d.LoadEnded(outcome), kBinGPS | kBinSYS, kNmea);
        ReportReaction r = d.OnReport(Report(0, kBinGPS | kBinSYS, kNmea));
        EXPECT_EQ(Status(r), "(unchanged)");
        ExpectOutputs(r.outputs, kBinGPS, kNmea);
        d.RequestPressed();
        r = d.OnReport(Report(0, kBinGPS, kNmea));
        EXPECT_EQ(Status(r), "(unchanged)");
        EXPECT_FALSE(r.outputs.send);
        EXPECT_EQ(Status(d.OnReport(Report(4, kBinGPS, kNmea))), "Failed GPS Engine download");
    }
}

// Outside the dialogue a report shows the engine's own states and sends nothing; and a
// load that ends before any report told the outputs sends none either.
TEST(AfterLoadDialogue, OutsideTheDialogueReportsSendNothing) {
    const struct {
        std::uint8_t status;
        const char* shown;
    } cases[] = {
        {0, "(unchanged)"},
        {1, "Downloading to GPS Engine"},
        {2, "Downloading to GPS Engine"},
        {3, "Cycle Power Now"},
        {4, "Failed GPS Engine download"},
        {12, "Failed GPS Engine download"},
        {7, "(unchanged)"},
    };
    AfterLoadDialogue d;
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.status));
        const ReportReaction r = d.OnReport(Report(c.status, kBinGPS, kNmea));
        EXPECT_EQ(Status(r), c.shown);
        EXPECT_FALSE(r.outputs.send);
    }

    AfterLoadDialogue fresh;
    fresh.LoadStarting();
    EXPECT_FALSE(fresh.LoadEnded(LoadOutcome::Completed).send);
    EXPECT_FALSE(fresh.OnReport(Report(0, kBinGPS, kNmea)).outputs.send);
}

// Showing the window again ends a pending power cycle; outputs a load left forced are
// still put back, once.
TEST(AfterLoadDialogue, ARestartKeepsOneRestore) {
    AfterLoadDialogue d;
    d.OnReport(Report(0, kBinREFMON, kNmea));
    d.LoadStarting();
    d.LoadEnded(LoadOutcome::Completed);
    d.Restart();
    ReportReaction r = d.OnReport(Report(0, kBinREFMON | kBinSYS, kNmea));
    EXPECT_EQ(Status(r), "(unchanged)");
    ExpectOutputs(r.outputs, kBinREFMON, kNmea);
    EXPECT_FALSE(d.OnReport(Report(0, kBinREFMON, kNmea)).outputs.send);
}

} // namespace
