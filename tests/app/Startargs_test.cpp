// The window program's start-up arguments: what is taken and what is refused, and the
// program itself run with them on the offscreen platform, the port given opened at its
// rate as Open Port's Apply opens it.

#include "app/Startargs.h"

#include "tests/common/Pty.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>

#include <chrono>

namespace {

using Action = StartArguments::Action;

TEST(StartArguments, TakenAndRefused) {
    struct Case {
        std::vector<std::string> args;
        Action action;
        std::string device;
        std::uint32_t baud;
        std::string error;
    };
    const std::vector<Case> cases = {
        {{}, Action::Run, "", 19200, ""},
        {{"--port", "/dev/serial/by-id/usb-GPS"},
         Action::Run,
         "/dev/serial/by-id/usb-GPS",
         19200,
         ""},
        {{"--baud=4800", "--port=COM3"}, Action::Run, "COM3", 4800, ""},
        {{"--help"}, Action::Help, "", 19200, ""},
        {{"--baud", "9600"}, Action::Refused, "", 19200, "--baud goes with --port"},
        {{"--port"}, Action::Refused, "", 19200, "option '--port' needs a value (DEVICE)"},
        {{"--device", "x"}, Action::Refused, "", 19200, "unknown option '--device'"},
        {{"/dev/ttyUSB0"}, Action::Refused, "", 19200, "unexpected argument '/dev/ttyUSB0'"},
    };
    for (const Case& c : cases) {
        const StartArguments got = ParseStartArguments(c.args);
        const std::string shown = c.args.empty() ? "(none)" : c.args.front();
        EXPECT_EQ(got.action, c.action) << shown;
        EXPECT_EQ(got.device, c.device) << shown;
        EXPECT_EQ(got.baud, c.baud) << shown;
        EXPECT_EQ(got.error, c.error) << shown;
    }
}

struct Ended {
    int status = -1;
    std::string err;
};

Ended RunProgram(const QStringList& args) {
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(env);
    program.start(KESTRANE_UTILITY_PROGRAM, args);
    Ended run;
    if (program.waitForFinished(30000) && program.exitStatus() == QProcess::NormalExit)
        run.status = program.exitCode();
    run.err = program.readAllStandardError().toStdString() +
              program.readAllStandardOutput().toStdString();
    return run;
}

TEST(StartArguments, TheProgramOpensThePortGivenAtItsRateAndRefusesABadRate) {
    Pty line;
    ASSERT_TRUE(line.ok());
    const QString device = QString::fromStdString(line.path());

    const Ended refused = RunProgram({"--port", device, "--baud", "1234"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("kestrane-utility: bad value '1234' for --baud"), std::string::npos)
        << refused.err;
    const Ended help = RunProgram({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.err.find("--port DEVICE"), std::string::npos) << help.err;

    // A fresh pseudo-terminal is at 38400; the program sets it to the rate given.
    ASSERT_NE(line.LineRate(), 9600u);
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(env);
    program.start(KESTRANE_UTILITY_PROGRAM, {"--port", device, "--baud", "9600"});
    ASSERT_TRUE(program.waitForStarted(10000));
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (line.LineRate() != 9600 && std::chrono::steady_clock::now() < end &&
           program.state() == QProcess::Running)
        QThread::msleep(20);
    EXPECT_EQ(line.LineRate(), 9600u) << program.readAllStandardError().toStdString();
    program.kill();
    program.waitForFinished(10000);
}

} // namespace
