// The program's receive monitor under a full 38400-baud NMEA stream.
//
// The main window is built as at start-up and shown; the time from the process's
// launch to that moment is the start-up figure. Then a separate feeder process writes a
// real receiver capture, over and over, into a pseudo-terminal at 3,840 bytes per
// second (38400 baud, ten bits a byte) while the window's own 100 ms timer reads it,
// with logging on. At the end the log is compared with the $GP sentences that the
// stream held (as CR LF framing cuts it): every one must be there, once, in order.
// CPU time is the program's own (the feeder is another process).
//
// The stream runs three times: without the Receiver Status window (the monitor alone,
// as before the window existed), with it hidden (decoding every sentence) and with it
// shown (decoding and drawing), each phase with its own feeder and log.
//
//   bench_app_stream [--seconds N] [--capture FILE]     (default 60 s a phase, firefly-II.log)

#include <QApplication>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "app/Mainform.h"
#include "app/Startup.h"
#include "proto/Crlfproto.h"
#include "proto/Port.h"
#include "receiver/Statusform.h"

namespace {

constexpr double kBytesPerSecond = 3840.0;

// Seconds since the process was launched, from the kernel's record of its start.
double SecondsSinceLaunch() {
    std::ifstream statFile("/proc/self/stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return -1;
    // Fields after the command name; starttime is field 22 of the whole line.
    const char* p = stat.c_str() + close + 2;
    for (int field = 3; field < 22 && *p != '\0'; ++field) {
        p = std::strchr(p, ' ');
        if (p == nullptr)
            return -1;
        ++p;
    }
    const double start = std::strtod(p, nullptr) / static_cast<double>(sysconf(_SC_CLK_TCK));
    timespec boot{};
    clock_gettime(CLOCK_BOOTTIME, &boot);
    return static_cast<double>(boot.tv_sec) + boot.tv_nsec / 1e9 - start;
}

double CpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec +
           ru.ru_stime.tv_usec / 1e6;
}

double PeakRssMb() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss / 1024.0;
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Writes stream into fd at kBytesPerSecond, then exits. Runs in the feeder process.
[[noreturn]] void Feed(int fd, const std::vector<std::uint8_t>& stream) {
    const auto start = std::chrono::steady_clock::now();
    std::size_t sent = 0;
    while (sent < stream.size()) {
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::size_t due = static_cast<std::size_t>(elapsed * kBytesPerSecond);
        if (due > stream.size())
            due = stream.size();
        while (sent < due) {
            const ssize_t w = ::write(fd, stream.data() + sent, due - sent);
            if (w <= 0)
                break;
            sent += static_cast<std::size_t>(w);
        }
        timespec pause{0, 5'000'000};
        nanosleep(&pause, nullptr);
    }
    _exit(0);
}

// The $GP sentences of a stream as CR LF framing cuts it, each with its CR LF.
std::string ExpectedLog(const std::vector<std::uint8_t>& stream) {
    CRLFProto lines;
    std::string log;
    for (std::uint8_t b : stream) {
        if (!lines.ProcessByte(b))
            continue;
        const std::uint8_t* l = lines.GetMsg();
        const std::size_t n = lines.GetMsgLen();
        if (n >= 3 && l[0] == '$' && l[1] == 'G' && l[2] == 'P')
            log.append(reinterpret_cast<const char*>(l), n);
    }
    return log;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find("\r\n", pos);
        if (end == std::string::npos)
            end = text.size();
        out.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return out;
}

// Sentences of expected that are missing from got, matching in order.
std::size_t Lost(const std::vector<std::string>& expected, const std::vector<std::string>& got,
                 bool& inOrder) {
    std::size_t j = 0;
    std::size_t lost = 0;
    for (const std::string& e : expected) {
        if (j < got.size() && got[j] == e) {
            ++j;
        } else {
            ++lost;
        }
    }
    inOrder = j == got.size();
    return lost;
}

// Counts the repaints of the widget it watches.
class PaintCounter : public QObject {
public:
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

} // namespace

int main(int argc, char** argv) {
    int seconds = 60;
    std::string capture = KESTRANE_DEFAULT_CAPTURE;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc) {
            seconds = std::atoi(argv[++i]);
        } else if (a.rfind("--seconds=", 0) == 0) {
            seconds = std::atoi(a.c_str() + 10);
        } else if (a == "--capture" && i + 1 < argc) {
            capture = argv[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--seconds N] [--capture FILE]\n", argv[0]);
            return 2;
        }
    }
    if (seconds < 1)
        seconds = 1;
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each phase's figures as soon as they are known
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    // Start-up as the program does it, up to the main window on screen.
    QApplication app(argc, argv);
    CreateWindows();
    FormMain->show();
    if (!QTest::qWaitForWindowExposed(FormMain))
        std::fprintf(stderr, "window not exposed\n");
    const double launchToShown = SecondsSinceLaunch();

    // The stream: the capture repeated to fill the run.
    const std::vector<std::uint8_t> sample = ReadFile(capture);
    if (sample.empty()) {
        std::fprintf(stderr, "cannot read %s\n", capture.c_str());
        return 1;
    }
    const std::size_t total = static_cast<std::size_t>(seconds * kBytesPerSecond);
    std::vector<std::uint8_t> stream;
    stream.reserve(total);
    while (stream.size() < total) {
        const std::size_t n = std::min(sample.size(), total - stream.size());
        stream.insert(stream.end(), sample.begin(), sample.begin() + static_cast<long>(n));
    }

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("pseudo-terminal");
        return 1;
    }
    const std::string slave = ptsname(master);
    if (!CommPort.Open(slave.c_str(), 38400, 0)) {
        std::fprintf(stderr, "cannot open %s: %s\n", slave.c_str(), CommPort.errorText());
        return 1;
    }
    CommPort.SetBlocking(false);
    PortDeviceName = slave;
    PortBaudRate = 38400;
    NotifyPortChanged();

    QTemporaryDir dir;
    const std::vector<std::string> expected = SplitLines(ExpectedLog(stream));
    std::printf("platform                 %s\n", qPrintable(QGuiApplication::platformName()));
    std::printf("stream                   %s, %d s at %.0f bytes/s (%zu bytes)\n", capture.c_str(),
                seconds, kBytesPerSecond, stream.size());
    std::printf("launch to main window    %.3f s\n", launchToShown);
    std::printf("$GP sentences sent       %zu a phase\n", expected.size());

    PaintCounter paints;
    FormMain->findChild<QPlainTextEdit*>("Memo")->viewport()->installEventFilter(&paints);
    TFormStatus* const status = FormStatus;
    struct Phase {
        const char* name;
        bool fed;
        bool shown;
    };
    const Phase phases[] = {{"no status window", false, false},
                            {"status window hidden", true, false},
                            {"status window shown", true, true}};
    bool allKept = true;
    double cpuShare[3] = {};
    int phaseIndex = 0;
    for (const Phase& phase : phases) {
        FormStatus = phase.fed ? status : nullptr;
        if (phase.shown)
            status->ShowOver(OuterRect(*FormMain));
        else
            status->hide();
        const int drawsBefore = status->PlotDraws();
        const std::uint64_t decodedBefore = status->Status().Decoder().UsedCount() +
                                            status->Status().Decoder().UnusableCount() +
                                            status->Status().Decoder().OtherCount();
        const QString logPath = dir.filePath(QStringLiteral("stream-%1.log").arg(phaseIndex));
        if (!FormMain->StartLogging(logPath))
            return 1;
        paints.count = 0;
        // The last phase's stream may have ended inside a line.
        LineFramer.Reset();
        DiagFramer.Reset();
        const std::int32_t countBefore = FormMain->messageCount;

        const double cpuBefore = CpuSeconds();
        const auto wallBefore = std::chrono::steady_clock::now();
        const pid_t feeder = fork();
        if (feeder < 0) {
            std::perror("fork");
            return 1;
        }
        if (feeder == 0)
            Feed(master, stream);

        // The program runs an event loop while the stream arrives, then a little longer
        // for the last bytes. Not the application's own: quitting that closes the
        // windows, and the main window closes the port when it closes.
        QEventLoop loop;
        QTimer::singleShot(seconds * 1000 + 1500, &loop, &QEventLoop::quit);
        loop.exec();
        int exitStatus = 0;
        waitpid(feeder, &exitStatus, 0);
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
        const double cpu = CpuSeconds() - cpuBefore;
        FormMain->StartLogging(QString()); // closes the log

        std::ifstream logFile(logPath.toStdString(), std::ios::binary);
        const std::string logged((std::istreambuf_iterator<char>(logFile)),
                                 std::istreambuf_iterator<char>());
        const std::vector<std::string> got = SplitLines(logged);
        bool inOrder = false;
        const std::size_t lost = Lost(expected, got, inOrder);
        allKept = allKept && lost == 0 && inOrder;
        cpuShare[phaseIndex] = cpu / wall * 100.0;
        const NmeaDecoder& d = status->Status().Decoder();

        std::printf("\n== %s\n", phase.name);
        std::printf("$GP sentences logged     %zu\n", got.size());
        std::printf("lost $GP sentences       %zu%s\n", lost, inOrder ? "" : " (log has extra lines)");
        std::printf("messages counted         %d\n", FormMain->messageCount - countBefore);
        std::printf(
            "CPU                      %.3f s in %.1f s: %.3f s per minute (%.2f%% of one core)\n",
            cpu, wall, cpu / wall * 60.0, cpuShare[phaseIndex]);
        std::printf("memo repaints            %d (%.1f per second)\n", paints.count,
                    paints.count / wall);
        std::printf("sentences decoded        %llu\n",
                    static_cast<unsigned long long>(d.UsedCount() + d.UnusableCount() +
                                                    d.OtherCount() - decodedBefore));
        std::printf("status plot draws        %d\n", status->PlotDraws() - drawsBefore);
        std::printf("peak resident memory     %.1f MB\n", PeakRssMb());
        ++phaseIndex;
    }
    FormStatus = status;
    std::printf("\nstatus window hidden     %+.2f percentage points of a core over none\n",
                cpuShare[1] - cpuShare[0]);
    std::printf("status window shown      %+.2f percentage points of a core over hidden\n",
                cpuShare[2] - cpuShare[1]);

    CommPort.Close();
    close(master);
    DestroyWindows();
    return allKept ? 0 : 1;
}
