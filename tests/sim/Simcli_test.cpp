// kestrane-sim as scripts start it: the device on the first line, commands on standard
// input, and a clean end on "quit", on a signal, or (when asked) at the end of input.

#include "Pcside.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using namespace std::chrono_literals;

class SimProcess {
public:
    // Starts the program; with feedInput its standard input is a pipe held here,
    // otherwise /dev/null.
    SimProcess(std::vector<std::string> args, bool feedInput) {
        int out[2];
        int in[2] = {-1, -1};
        if (pipe2(out, O_CLOEXEC) != 0 || (feedInput && pipe2(in, O_CLOEXEC) != 0)) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        if (feedInput) {
            posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        } else {
            posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        }
        args.insert(args.begin(), KESTRANE_SIM_PROGRAM);
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, KESTRANE_SIM_PROGRAM, &actions, nullptr, argv.data(), environ) !=
            0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        out_ = out[0];
        if (feedInput) {
            ::close(in[0]);
            in_ = in[1];
        }
    }
    ~SimProcess() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        CloseInput();
        if (out_ >= 0) {
            ::close(out_);
        }
    }

    bool Started() const { return pid_ > 0; }
    void Input(const std::string& text) {
        [[maybe_unused]] const ssize_t n = ::write(in_, text.data(), text.size());
    }
    void CloseInput() {
        if (in_ >= 0) {
            ::close(in_);
            in_ = -1;
        }
    }
    void Signal(int sig) { kill(pid_, sig); }

    // The next line of standard output, without its line end; empty after the timeout.
    std::string Line(std::chrono::milliseconds timeout = 3s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const auto eol = buffer_.find('\n');
            if (eol != std::string::npos) {
                std::string line = buffer_.substr(0, eol);
                buffer_.erase(0, eol + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{out_, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, int(left.count())) <= 0) {
                return "";
            }
            char chunk[512];
            const ssize_t n = ::read(out_, chunk, sizeof chunk);
            if (n <= 0) {
                return "";
            }
            buffer_.append(chunk, std::size_t(n));
        }
    }

    // The exit status once the program has ended by itself, or -1 after the timeout.
    int Wait(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }

private:
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    bool exited_ = false;
    std::string buffer_;
};

TEST(SimProgram, PrintsTheDeviceFirstAndTakesCommands) {
    SimProcess sim({"--nmea", "0x01", "--version", "3.1x"}, true);
    ASSERT_TRUE(sim.Started());
    const std::string device = sim.Line();
    ASSERT_EQ(device.rfind("/dev/pts/", 0), 0u) << device;

    PcSide pc;
    ASSERT_TRUE(pc.Open(device, 19200));
    ASSERT_TRUE(pc.PumpUntil([&] { return !pc.GpLines().empty(); }, 3s));
    EXPECT_EQ(pc.GpLines()[0].substr(0, 6), "$GPGGA");

    sim.Input("no such command\nstatus\n");
    const std::string status = sim.Line();
    EXPECT_EQ(status.rfind("status: running at 19200 baud (PC side open", 0), 0u) << status;
    EXPECT_NE(status.find("version 3.1x"), std::string::npos) << status;
    sim.Input("power\n");
    EXPECT_NE(sim.Line().find("power cycled"), std::string::npos);
    sim.Input("quit\n");
    EXPECT_EQ(sim.Wait(3s), 0);
}

TEST(SimProgram, KeepsRunningWithoutInputUntilASignal) {
    SimProcess sim({}, false);
    ASSERT_TRUE(sim.Started());
    ASSERT_EQ(sim.Line().rfind("/dev/pts/", 0), 0u);
    EXPECT_EQ(sim.Wait(300ms), -1);
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(3s), 0);

    SimProcess eof({"--exit-on-eof"}, true);
    ASSERT_EQ(eof.Line().rfind("/dev/pts/", 0), 0u);
    eof.CloseInput();
    EXPECT_EQ(eof.Wait(3s), 0);
}

TEST(SimProgram, RefusesBadOptions) {
    for (const char* bad :
         {"--baud=1234", "--nav-rate=2", "--drop-ack=0", "--version=x", "--nosuch", "extra"}) {
        SimProcess sim({bad}, false);
        EXPECT_EQ(sim.Wait(3s), 2) << bad;
    }
}

} // namespace
