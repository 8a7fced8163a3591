// kestrane-sim: a simulated Kestrane receiver on a pseudo-terminal.
//
// The first line on standard output is the device to open (for example /dev/pts/4),
// printed and flushed before anything else, so a script can read it and hand it to the
// program. Commands come on standard input, one per line: "power" (power cycle),
// "status", "help" and "quit"; anything else is ignored. The end of standard input does
// not stop the receiver (it is often started in the background with no input) unless
// --exit-on-eof is given; SIGINT, SIGTERM and SIGHUP stop it cleanly.
//
// The options are one table: each row gives the name, the value it takes, its line of
// the help text and what it sets, so getopt's list and the help are made from it.

#include "sim/Simline.h"
#include "sim/Simreceiver.h"

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include <getopt.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

std::mutex printMutex;

void PrintLine(const std::string& line) {
    std::lock_guard<std::mutex> lock(printMutex);
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string Stamp() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t t = system_clock::to_time_t(now);
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&t, &local);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(ms));
    return buf;
}

// ---------------------------------------------------------------------------------------
// The command line

// What the command line sets: the receiver's options and the program's own.
struct CommandLine {
    SimOptions options;
    bool exitOnEof = false;
    bool help = false;
};

constexpr std::uint64_t kMaxMs = 3600000;
constexpr std::uint64_t kMax32 = 0xFFFFFFFFu;
constexpr std::uint64_t kMaxOutageS = 10 * 24 * 3600; // ten days

bool ParseNumber(const char* text, std::uint64_t max, std::uint64_t& value) {
    if (text == nullptr || *text == '\0' || *text == '-') {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 0);
    if (errno != 0 || *end != '\0' || v > max) {
        return false;
    }
    value = v;
    return true;
}

// A number up to max into a field of any unsigned type.
template <typename T> bool Number(const char* text, std::uint64_t max, T& field) {
    std::uint64_t v = 0;
    const bool ok = ParseNumber(text, max, v);
    field = static_cast<T>(v);
    return ok;
}

struct OptionRow {
    const char* heading; // starts a group of the help text, or nullptr
    const char* name;
    char shortName;    // 0: none
    const char* value; // the value's name in the help, or nullptr for none
    const char* help;  // "\n" continues on the next line, under the first
    // Takes the value (nullptr when none); false for a bad one.
    bool (*take)(CommandLine& c, const char* value);
};

// Takers for the rows of the table.
template <auto Field, bool Value> bool Switch(CommandLine& c, const char*) {
    c.options.*Field = Value;
    return true;
}
template <auto Field, std::uint64_t Max> bool Count(CommandLine& c, const char* v) {
    return Number(v, Max, c.options.*Field);
}
template <auto Field> bool Version(CommandLine& c, const char* v) {
    return SimVersion::Parse(v, c.options.*Field);
}
template <bool Always> bool DropAck(CommandLine& c, const char* v) {
    c.options.dropAckAlways = Always;
    return Number(v, kMax32, c.options.dropAckRecord) && c.options.dropAckRecord > 0;
}

// clang-format off
const OptionRow kOptionRows[] = {
    {"Settings", "baud", 'b', "RATE", "start at this baud rate (4800 ... 115200; default 19200)",
     [](CommandLine& c, const char* v) {
         return Number(v, kMax32, c.options.baudRate) && IsSimRate(c.options.baudRate);
     }},
    {nullptr, "nav-rate", 0, "N", "fixes per second, 1 or 5 (default 1)",
     [](CommandLine& c, const char* v) {
         return Number(v, 5, c.options.navRate) &&
                (c.options.navRate == 1 || c.options.navRate == 5);
     }},
    {nullptr, "nmea", 0, "MASK", "NMEA output flags: GGA 1, GSA 2, ZDA 4, VTG 8, RMC 0x10\n"
                                 "(default 0x1F)",
     Count<&SimOptions::nmeaFlags, kMax32>},
    {nullptr, "binary", 0, "MASK", "binary output flags: QX 1, GPS 2, SATS 4, SYS 8,\n"
                                   "REFMON 0x20 (default 0)",
     Count<&SimOptions::binaryFlags, kMax32>},
    {nullptr, "version", 0, "V", "software version, e.g. 2.5b (default 2.5b)",
     Version<&SimOptions::version>},
    {nullptr, "new-version", 0, "V", "version a completed load installs (default 2.6b)",
     Version<&SimOptions::newVersion>},
    {nullptr, "no-suffix", 0, nullptr, "Configuration report too short for a version suffix",
     Switch<&SimOptions::versionSuffix, false>},
    {nullptr, "other-talkers", 0, nullptr, "also send $GNGSA and $GLGSV sentences",
     Switch<&SimOptions::otherTalkers, true>},
    {nullptr, "other-binary", 0, nullptr, "also send proprietary binary messages (ids 2 and 106)",
     Switch<&SimOptions::otherBinary, true>},
    {nullptr, "fill", 0, nullptr, "keep the line full (a new fix whenever output runs low)",
     Switch<&SimOptions::fillLine, true>},
    {nullptr, "loader-delay", 0, "MS", "loader start-up delay before its prompt (default 100)",
     Count<&SimOptions::loaderStartMs, kMaxMs>},
    {nullptr, "erase-ms", 0, "MS", "time the loader's erase takes (default 0)",
     Count<&SimOptions::eraseMs, kMaxMs>},
    {nullptr, "download-ms", 0, "MS", "GPS engine download time after RESET (default 10000)",
     Count<&SimOptions::engineDownloadMs, kMaxMs>},
    {nullptr, "seed", 0, "N", "seed of the simulated motion and noise (default 1)",
     Count<&SimOptions::seed, UINT64_MAX>},
    {"Faults", "dead", 0, nullptr, "read everything, send nothing",
     Switch<&SimOptions::dead, true>},
    {nullptr, "echo", 0, nullptr, "loopback: send back every byte received",
     Switch<&SimOptions::echo, true>},
    {nullptr, "noise", 0, nullptr, "random bytes between messages",
     Switch<&SimOptions::noise, true>},
    {nullptr, "no-prompt", 0, nullptr, "the loader never sends its prompt",
     Switch<&SimOptions::noPrompt, true>},
    {nullptr, "drop-ack", 0, "N", "drop the acknowledgement of record N once", DropAck<false>},
    {nullptr, "drop-ack-always", 0, "N", "drop the acknowledgement of record N every time",
     DropAck<true>},
    {nullptr, "ack-delay", 0, "MS", "delay every loader acknowledgement",
     Count<&SimOptions::ackDelayMs, kMaxMs>},
    {nullptr, "ack-text", 0, "TEXT", "acknowledge with TEXT instead of OK",
     [](CommandLine& c, const char* v) {
         c.options.ackText = v;
         return c.options.ackText.size() <= 32;
     }},
    {nullptr, "engine-fail", 0, nullptr, "the GPS engine download fails (status 4)",
     Switch<&SimOptions::engineFailure, true>},
    {nullptr, "waas-unavailable", 0, nullptr, "report WAAS as not available",
     Switch<&SimOptions::waasAvailable, false>},
    {nullptr, "fix-gap", 0, "START:N", "no fix for N seconds from START seconds after\n"
                                       "the first fix (GGA quality 0, RMC status V)",
     [](CommandLine& c, const char* v) {
         const char* colon = std::strchr(v, ':');
         if (colon == nullptr) {
             return false;
         }
         const std::string start(v, colon);
         return Number(start.c_str(), kMaxOutageS, c.options.fixGapStart) &&
                Number(colon + 1, kMaxOutageS, c.options.fixGap) && c.options.fixGap > 0;
     }},
    {nullptr, "diff-lost", 0, "SECONDS", "no differential fix from SECONDS after the\n"
                                         "first fix on (GGA quality 1)",
     [](CommandLine& c, const char* v) {
         std::uint32_t seconds = 0;
         if (!Number(v, kMaxOutageS, seconds)) {
             return false;
         }
         c.options.diffLost = seconds;
         return true;
     }},
    {"Control", "exit-on-eof", 0, nullptr, "quit when standard input ends",
     [](CommandLine& c, const char*) { c.exitOnEof = true; return true; }},
    {nullptr, "verbose", 'v', nullptr, "print what is received and done",
     Switch<&SimOptions::verbose, true>},
    {nullptr, "help", 'h', nullptr, "show this text",
     [](CommandLine& c, const char*) { c.help = true; return true; }},
};
// clang-format on

// getopt's value for a row: its short name, or a number above every character.
int OptionValue(std::size_t row) {
    const char shortName = kOptionRows[row].shortName;
    return shortName != 0 ? shortName : 256 + static_cast<int>(row);
}

void Usage(std::FILE* out) {
    std::fputs("Usage: kestrane-sim [options]\n"
               "A simulated Kestrane GPS receiver on a pseudo-terminal. The first line printed is\n"
               "the device to open. Commands on standard input: power, status, help, quit.\n"
               "\n",
               out);
    for (const OptionRow& row : kOptionRows) {
        if (row.heading != nullptr) {
            std::fprintf(out, "%s:\n", row.heading);
        }
        std::string left = row.shortName != 0 ? std::string("  -") + row.shortName + ", --"
                                              : std::string("      --");
        left += row.name;
        if (row.value != nullptr) {
            left += std::string(" ") + row.value;
        }
        std::string help = row.help;
        for (std::size_t at = 0; (at = help.find('\n', at)) != std::string::npos; at += 27) {
            help.insert(at + 1, 26, ' ');
        }
        std::fprintf(out, "%-25s %s\n", left.c_str(), help.c_str());
    }
}

// Reads the command line into `c`. -1 to go on and run; otherwise the exit status, after
// the help text or a complaint on standard error.
int ParseCommandLine(int argc, char** argv, CommandLine& c) {
    std::vector<option> options;
    std::string shortOptions;
    for (std::size_t i = 0; i < std::size(kOptionRows); ++i) {
        const OptionRow& row = kOptionRows[i];
        options.push_back({row.name, row.value != nullptr ? required_argument : no_argument,
                           nullptr, OptionValue(i)});
        if (row.shortName != 0) {
            shortOptions += row.shortName;
            shortOptions += row.value != nullptr ? ":" : "";
        }
    }
    options.push_back({nullptr, 0, nullptr, 0});

    int value;
    while ((value = getopt_long(argc, argv, shortOptions.c_str(), options.data(), nullptr)) != -1) {
        std::size_t row = 0;
        while (row < std::size(kOptionRows) && OptionValue(row) != value) {
            ++row;
        }
        if (row == std::size(kOptionRows)) {
            std::fputs("Try 'kestrane-sim --help'.\n", stderr);
            return 2;
        }
        if (!kOptionRows[row].take(c, optarg)) {
            std::fprintf(stderr, "kestrane-sim: bad value \"%s\" for option --%s\n",
                         optarg ? optarg : "", kOptionRows[row].name);
            return 2;
        }
        if (c.help) {
            Usage(stdout);
            return 0;
        }
    }
    if (optind < argc) {
        std::fprintf(stderr, "kestrane-sim: unexpected argument \"%s\"\n", argv[optind]);
        std::fputs("Try 'kestrane-sim --help'.\n", stderr);
        return 2;
    }
    return -1;
}

// ---------------------------------------------------------------------------------------
// The console

std::string StatusText(const SimStatus& s) {
    char buf[512];
    std::snprintf(buf, sizeof buf,
                  "status: %s at %" PRIu32 " baud (PC side %s, %" PRIu32 " baud); NMEA 0x%02" PRIX32
                  ", binary 0x%02" PRIX32 ", nav rate %u; %s frequency (channel %" PRId32
                  "), WAAS %s, "
                  "corrections %s; version %s, engine status %u; records %zu, digest %016" PRIx64
                  "; frames received %" PRIu64 ", bytes not understood %" PRIu64,
                  s.loaderActive ? "loader" : "running", s.lineRate, s.pcOpen ? "open" : "closed",
                  s.pcRate, s.nmeaFlags, s.binaryFlags, static_cast<unsigned>(s.navRate),
                  s.alternateFrequency ? "alternate" : "default", s.channel,
                  s.waasState == 1 ? "on" : (s.waasState == 0 ? "off" : "not available"),
                  s.correctionsOn ? "on" : "off", s.version.Text().c_str(),
                  static_cast<unsigned>(s.engineStatus), s.recordCount, s.recordDigest,
                  s.framesReceived, s.bytesNotUnderstood);
    return buf;
}

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return "";
    }
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

// Carries out one line of standard input; false for quit. Anything else unknown is
// ignored.
bool RunCommand(SimReceiver& receiver, const std::string& line, bool verbose) {
    const std::string command = Trim(line);
    if (command == "power" || command == "power cycle" || command == "p") {
        receiver.PowerCycle();
        if (!verbose) { // verbose output says so itself
            PrintLine(Stamp() + " power cycled");
        }
    } else if (command == "status" || command == "s") {
        PrintLine(StatusText(receiver.Status()));
    } else if (command == "help" || command == "?") {
        PrintLine("commands: power (power cycle), status, help, quit");
    } else if (command == "quit" || command == "q" || command == "exit") {
        return false;
    }
    return true;
}

// Takes commands from standard input until "quit", a stop signal on `signals`, or (with
// exitOnEof) the end of the input.
void RunConsole(SimReceiver& receiver, int signals, const CommandLine& c) {
    bool stdinOpen = true;
    std::string pending;
    for (;;) {
        pollfd fds[2] = {{signals, POLLIN, 0}, {stdinOpen ? 0 : -1, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[0].revents & POLLIN) {
            return;
        }
        if ((fds[1].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) == 0) {
            continue;
        }
        char buf[512];
        const ssize_t n = ::read(0, buf, sizeof buf);
        if (n <= 0) {
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
                continue;
            }
            stdinOpen = false;
            if (c.exitOnEof) {
                return;
            }
            continue;
        }
        pending.append(buf, static_cast<std::size_t>(n));
        std::size_t eol;
        while ((eol = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, eol);
            pending.erase(0, eol + 1);
            if (!RunCommand(receiver, line, c.options.verbose)) {
                return;
            }
        }
        // A line that never ends must not grow without bound.
        if (pending.size() > 4096) {
            pending.clear();
        }
    }
}

// The signals that end the program, blocked and taken from the descriptor returned (-1
// when it cannot be had); the receiver's thread inherits the blocked mask and never sees
// them.
int StopSignals() {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return signalfd(-1, &stopSignals, SFD_CLOEXEC);
}

} // namespace

int main(int argc, char** argv) {
    CommandLine c;
    if (const int status = ParseCommandLine(argc, argv, c); status >= 0) {
        return status;
    }
    const int signals = StopSignals();
    if (signals < 0) {
        std::fprintf(stderr, "kestrane-sim: signalfd: %s\n", std::strerror(errno));
        return 1;
    }
    SimReceiver receiver(c.options);
    if (c.options.verbose) {
        receiver.SetLogSink([](const std::string& line) { PrintLine(Stamp() + " " + line); });
    }
    if (!receiver.Start()) {
        std::fprintf(stderr, "kestrane-sim: cannot create a pseudo-terminal: %s\n",
                     std::strerror(receiver.LastError()));
        return 1;
    }
    PrintLine(receiver.DevicePath());
    RunConsole(receiver, signals, c);
    receiver.Stop();
    ::close(signals);
    return 0;
}
