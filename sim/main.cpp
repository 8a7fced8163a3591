// kestrane-sim: a simulated Kestrane receiver on a pseudo-terminal.
//
// The first line on standard output is the device to open (for example /dev/pts/4),
// printed and flushed before anything else, so a script can read it and hand it to the
// program. Commands come on standard input, one per line: "power" (power cycle),
// "status", "help" and "quit"; anything else is ignored. The end of standard input does
// not stop the receiver (it is often started in the background with no input) unless
// --exit-on-eof is given; SIGINT, SIGTERM and SIGHUP stop it cleanly.

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
#include <mutex>
#include <string>

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

void Usage(std::FILE* out) {
    std::fputs(
        "Usage: kestrane-sim [options]\n"
        "A simulated Kestrane GPS receiver on a pseudo-terminal. The first line printed is\n"
        "the device to open. Commands on standard input: power, status, help, quit.\n"
        "\n"
        "Settings:\n"
        "  -b, --baud RATE         start at this baud rate (4800 ... 115200; default 19200)\n"
        "      --nav-rate N        fixes per second, 1 or 5 (default 1)\n"
        "      --nmea MASK         NMEA output flags: GGA 1, GSA 2, ZDA 4, VTG 8, RMC 0x10\n"
        "                          (default 0x1F)\n"
        "      --binary MASK       binary output flags: QX 1, GPS 2, SATS 4, SYS 8,\n"
        "                          REFMON 0x20 (default 0)\n"
        "      --version V         software version, e.g. 2.5b (default 2.5b)\n"
        "      --new-version V     version a completed load installs (default 2.6b)\n"
        "      --no-suffix         Configuration report too short for a version suffix\n"
        "      --other-talkers     also send $GNGSA and $GLGSV sentences\n"
        "      --other-binary      also send proprietary binary messages (ids 2 and 106)\n"
        "      --fill              keep the line full (a new fix whenever output runs low)\n"
        "      --loader-delay MS   loader start-up delay before its prompt (default 100)\n"
        "      --erase-ms MS       time the loader's erase takes (default 0)\n"
        "      --download-ms MS    GPS engine download time after RESET (default 10000)\n"
        "      --seed N            seed of the simulated motion and noise (default 1)\n"
        "Faults:\n"
        "      --dead              read everything, send nothing\n"
        "      --echo              loopback: send back every byte received\n"
        "      --noise             random bytes between messages\n"
        "      --no-prompt         the loader never sends its prompt\n"
        "      --drop-ack N        drop the acknowledgement of record N once\n"
        "      --drop-ack-always N drop the acknowledgement of record N every time\n"
        "      --ack-delay MS      delay every loader acknowledgement\n"
        "      --ack-text TEXT     acknowledge with TEXT instead of OK\n"
        "      --engine-fail       the GPS engine download fails (status 4)\n"
        "      --waas-unavailable  report WAAS as not available\n"
        "Control:\n"
        "      --exit-on-eof       quit when standard input ends\n"
        "  -v, --verbose           print what is received and done\n"
        "  -h, --help              show this text\n",
        out);
}

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

enum OptionId {
    kOptNavRate = 256,
    kOptNmea,
    kOptBinary,
    kOptVersion,
    kOptNewVersion,
    kOptNoSuffix,
    kOptOtherTalkers,
    kOptOtherBinary,
    kOptFill,
    kOptAckText,
    kOptLoaderDelay,
    kOptEraseMs,
    kOptDownloadMs,
    kOptSeed,
    kOptDead,
    kOptEcho,
    kOptNoise,
    kOptNoPrompt,
    kOptDropAck,
    kOptDropAckAlways,
    kOptAckDelay,
    kOptEngineFail,
    kOptWaasUnavailable,
    kOptExitOnEof,
};

} // namespace

int main(int argc, char** argv) {
    static const option kOptions[] = {
        {"baud", required_argument, nullptr, 'b'},
        {"nav-rate", required_argument, nullptr, kOptNavRate},
        {"nmea", required_argument, nullptr, kOptNmea},
        {"binary", required_argument, nullptr, kOptBinary},
        {"version", required_argument, nullptr, kOptVersion},
        {"new-version", required_argument, nullptr, kOptNewVersion},
        {"no-suffix", no_argument, nullptr, kOptNoSuffix},
        {"other-talkers", no_argument, nullptr, kOptOtherTalkers},
        {"other-binary", no_argument, nullptr, kOptOtherBinary},
        {"fill", no_argument, nullptr, kOptFill},
        {"ack-text", required_argument, nullptr, kOptAckText},
        {"loader-delay", required_argument, nullptr, kOptLoaderDelay},
        {"erase-ms", required_argument, nullptr, kOptEraseMs},
        {"download-ms", required_argument, nullptr, kOptDownloadMs},
        {"seed", required_argument, nullptr, kOptSeed},
        {"dead", no_argument, nullptr, kOptDead},
        {"echo", no_argument, nullptr, kOptEcho},
        {"noise", no_argument, nullptr, kOptNoise},
        {"no-prompt", no_argument, nullptr, kOptNoPrompt},
        {"drop-ack", required_argument, nullptr, kOptDropAck},
        {"drop-ack-always", required_argument, nullptr, kOptDropAckAlways},
        {"ack-delay", required_argument, nullptr, kOptAckDelay},
        {"engine-fail", no_argument, nullptr, kOptEngineFail},
        {"waas-unavailable", no_argument, nullptr, kOptWaasUnavailable},
        {"exit-on-eof", no_argument, nullptr, kOptExitOnEof},
        {"verbose", no_argument, nullptr, 'v'},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    constexpr std::uint64_t kMaxMs = 3600000;

    SimOptions options;
    bool exitOnEof = false;
    int c;
    while ((c = getopt_long(argc, argv, "b:vh", kOptions, nullptr)) != -1) {
        std::uint64_t v = 0;
        bool ok = true;
        switch (c) {
        case 'b':
            ok = ParseNumber(optarg, 0xFFFFFFFFu, v) && IsSimRate(static_cast<std::uint32_t>(v));
            options.baudRate = static_cast<std::uint32_t>(v);
            break;
        case kOptNavRate:
            ok = ParseNumber(optarg, 5, v) && (v == 1 || v == 5);
            options.navRate = static_cast<std::uint8_t>(v);
            break;
        case kOptNmea:
            ok = ParseNumber(optarg, 0xFFFFFFFFu, v);
            options.nmeaFlags = static_cast<std::uint32_t>(v);
            break;
        case kOptBinary:
            ok = ParseNumber(optarg, 0xFFFFFFFFu, v);
            options.binaryFlags = static_cast<std::uint32_t>(v);
            break;
        case kOptVersion:
            ok = SimVersion::Parse(optarg, options.version);
            break;
        case kOptNewVersion:
            ok = SimVersion::Parse(optarg, options.newVersion);
            break;
        case kOptNoSuffix:
            options.versionSuffix = false;
            break;
        case kOptOtherTalkers:
            options.otherTalkers = true;
            break;
        case kOptOtherBinary:
            options.otherBinary = true;
            break;
        case kOptFill:
            options.fillLine = true;
            break;
        case kOptAckText:
            options.ackText = optarg;
            ok = options.ackText.size() <= 32;
            break;
        case kOptLoaderDelay:
            ok = ParseNumber(optarg, kMaxMs, v);
            options.loaderStartMs = static_cast<std::uint32_t>(v);
            break;
        case kOptEraseMs:
            ok = ParseNumber(optarg, kMaxMs, v);
            options.eraseMs = static_cast<std::uint32_t>(v);
            break;
        case kOptDownloadMs:
            ok = ParseNumber(optarg, kMaxMs, v);
            options.engineDownloadMs = static_cast<std::uint32_t>(v);
            break;
        case kOptSeed:
            ok = ParseNumber(optarg, UINT64_MAX, v);
            options.seed = v;
            break;
        case kOptDead:
            options.dead = true;
            break;
        case kOptEcho:
            options.echo = true;
            break;
        case kOptNoise:
            options.noise = true;
            break;
        case kOptNoPrompt:
            options.noPrompt = true;
            break;
        case kOptDropAck:
        case kOptDropAckAlways:
            ok = ParseNumber(optarg, 0xFFFFFFFFu, v) && v > 0;
            options.dropAckRecord = static_cast<std::uint32_t>(v);
            options.dropAckAlways = c == kOptDropAckAlways;
            break;
        case kOptAckDelay:
            ok = ParseNumber(optarg, kMaxMs, v);
            options.ackDelayMs = static_cast<std::uint32_t>(v);
            break;
        case kOptEngineFail:
            options.engineFailure = true;
            break;
        case kOptWaasUnavailable:
            options.waasAvailable = false;
            break;
        case kOptExitOnEof:
            exitOnEof = true;
            break;
        case 'v':
            options.verbose = true;
            break;
        case 'h':
            Usage(stdout);
            return 0;
        default:
            std::fputs("Try 'kestrane-sim --help'.\n", stderr);
            return 2;
        }
        if (!ok) {
            const char* name = "?";
            for (const option& o : kOptions) {
                if (o.name != nullptr && o.val == c) {
                    name = o.name;
                }
            }
            std::fprintf(stderr, "kestrane-sim: bad value \"%s\" for option --%s\n",
                         optarg ? optarg : "", name);
            return 2;
        }
    }
    if (optind < argc) {
        std::fprintf(stderr, "kestrane-sim: unexpected argument \"%s\"\n", argv[optind]);
        std::fputs("Try 'kestrane-sim --help'.\n", stderr);
        return 2;
    }

    // The signals that end the program are taken from a descriptor in the main loop; the
    // receiver's thread inherits the blocked mask and never sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    const int signals = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    if (signals < 0) {
        std::fprintf(stderr, "kestrane-sim: signalfd: %s\n", std::strerror(errno));
        return 1;
    }

    SimReceiver receiver(options);
    if (options.verbose) {
        receiver.SetLogSink([](const std::string& line) { PrintLine(Stamp() + " " + line); });
    }
    if (!receiver.Start()) {
        std::fprintf(stderr, "kestrane-sim: cannot create a pseudo-terminal: %s\n",
                     std::strerror(receiver.LastError()));
        return 1;
    }
    PrintLine(receiver.DevicePath());

    bool stdinOpen = true;
    std::string pending;
    bool quit = false;
    while (!quit) {
        pollfd fds[2] = {{signals, POLLIN, 0}, {stdinOpen ? 0 : -1, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[0].revents & POLLIN) {
            break;
        }
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) {
            char buf[512];
            const ssize_t n = ::read(0, buf, sizeof buf);
            if (n <= 0) {
                if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
                    continue;
                }
                stdinOpen = false;
                if (exitOnEof) {
                    break;
                }
                continue;
            }
            pending.append(buf, static_cast<std::size_t>(n));
            std::size_t eol;
            while ((eol = pending.find('\n')) != std::string::npos) {
                const std::string command = Trim(pending.substr(0, eol));
                pending.erase(0, eol + 1);
                if (command == "power" || command == "power cycle" || command == "p") {
                    receiver.PowerCycle();
                    if (!options.verbose) { // verbose output says so itself
                        PrintLine(Stamp() + " power cycled");
                    }
                } else if (command == "status" || command == "s") {
                    PrintLine(StatusText(receiver.Status()));
                } else if (command == "help" || command == "?") {
                    PrintLine("commands: power (power cycle), status, help, quit");
                } else if (command == "quit" || command == "q" || command == "exit") {
                    quit = true;
                    break;
                }
                // Anything else is ignored.
            }
            // A line that never ends must not grow without bound.
            if (pending.size() > 4096) {
                pending.clear();
            }
        }
    }
    receiver.Stop();
    ::close(signals);
    return 0;
}
