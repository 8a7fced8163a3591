// What a receiver behind the network costs the program: the CPU time of the receive path
// (the serial port's reads, both framers, the monitor's count) per received byte,
// reading a pseudo-terminal directly and reading the same line through Debian's ser2net
// over RFC 2217 on loopback; and what sharing the stream with 10 TCP clients adds.
// Only the reading thread's own CPU time is counted (the writer and ser2net are others).
//
// Targets: RFC 2217 within 20 % of the pseudo-terminal; sharing under 0.1 point of a
// core at 38400 baud (3840 bytes a second).
//
//   bench_network            (needs ser2net on the PATH)

#include "proto/Pollport.h"
#include "proto/Port.h"
#include "proto/Streamshare.h"
#include "proto/Traffic.h"
#include "tests/common/Tempdir.h"
#include "tests/network/Ser2net.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr std::size_t kBytes = 4 * 1024 * 1024;

// A pseudo-terminal; the bench writes the receiver's side.
class Pty {
public:
    Pty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0)
            path_ = ptsname(master_);
    }
    ~Pty() { close(master_); }
    const std::string& path() const { return path_; }
    // Writes all of it, waiting for room.
    void Write(const std::uint8_t* data, std::size_t n) {
        while (n > 0) {
            pollfd p{master_, POLLOUT, 0};
            poll(&p, 1, 100);
            const ssize_t w = write(master_, data, n);
            if (w > 0) {
                data += w;
                n -= static_cast<std::size_t>(w);
            } else if (w < 0 && errno != EAGAIN && errno != EINTR) {
                return; // the reader has gone
            }
        }
    }

private:
    int master_ = -1;
    std::string path_;
};

double ThreadCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::string Stream() {
    const std::string epoch =
        "$GPGGA,123519.00,4807.03812,N,01131.00000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n"
        "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39\r\n"
        "$GPRMC,123519.00,A,4807.03812,N,01131.00000,E,022.4,084.4,230394,003.1,W*6A\r\n"
        "$GPVTG,084.4,T,087.5,M,022.4,N,041.5,K,A*25\r\n"
        "$GPZDA,123519.00,23,03,1994,00,00*6A\r\n";
    std::string s;
    while (s.size() < kBytes)
        s += epoch;
    return s;
}

class Counter : public PollSink {
public:
    explicit Counter(StreamShare* share) : share_(share) {}
    void FrameReceived(const std::uint8_t* frame, std::size_t length) override {
        count.CountFrame(frame, length);
    }
    void LineReceived(const std::uint8_t* line, std::size_t length) override {
        std::string_view sentence;
        if (count.CountLine(line, length, sentence) && share_ != nullptr)
            share_->SentenceReceived(sentence);
    }
    void PortHungUp() override {}
    void BytesReceived(const std::uint8_t*, std::size_t n) override { bytes += n; }
    TrafficCount count;
    std::size_t bytes = 0;

private:
    StreamShare* share_;
};

// Reads device until the whole stream has come; returns the reader's CPU seconds per
// byte. The writer feeds the line's master side from another thread.
double Measure(const std::string& device, Pty& line, const std::string& stream,
               StreamShare* share) {
    SerialPort port;
    if (!port.Open(device.c_str(), 38400, 0)) {
        std::printf("cannot open %s: %s\n", device.c_str(), port.errorText());
        return 0;
    }
    port.SetBlocking(false);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        std::size_t at = 0;
        while (at < stream.size() && !done) {
            const std::size_t n = std::min<std::size_t>(4096, stream.size() - at);
            line.Write(reinterpret_cast<const std::uint8_t*>(stream.data() + at), n);
            at += n;
        }
    });
    Counter sink(share);
    std::uint8_t block[kPollBlockSize];
    DiagProto diag;
    CRLFProto crlf;
    const double start = ThreadCpuSeconds();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (sink.bytes < stream.size() * 99 / 100 && std::chrono::steady_clock::now() < deadline) {
        PollPort(port, diag, crlf, block, sink);
        if (share != nullptr)
            share->Service();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const double cpu = ThreadCpuSeconds() - start;
    done = true;
    writer.join();
    port.Close();
    return sink.bytes > 0 ? cpu / static_cast<double>(sink.bytes) : 0;
}

} // namespace

int main() {
    const std::string stream = Stream();
    const std::string dir = MakeTempDir();

    Pty direct;
    const double pty = Measure(direct.path(), direct, stream, nullptr);

    Pty served;
    Ser2net server(served.path(), 38400, dir);
    if (!server.ok()) {
        std::printf("ser2net did not start\n");
        return 1;
    }
    const double rfc2217 = Measure(server.Rfc2217(), served, stream, nullptr);

    Pty shared;
    StreamShare share;
    SocketError error;
    share.Start("0", StreamShare::Content::Sentences, error);
    std::atomic<bool> stop{false};
    std::vector<std::thread> clients;
    for (int i = 0; i < 10; ++i) {
        clients.emplace_back([&] {
            const int fd = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(share.Port());
            connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
            char chunk[65536];
            while (!stop && read(fd, chunk, sizeof chunk) > 0) {
            }
            close(fd);
        });
    }
    const double withShare = Measure(shared.path(), shared, stream, &share);
    stop = true;
    share.Stop();
    for (std::thread& t : clients)
        t.join();

    constexpr double kBytesPerSecondAt38400 = 3840;
    std::printf("receive path, CPU per byte (reading thread)\n");
    std::printf("  pseudo-terminal               %8.1f ns\n", pty * 1e9);
    std::printf("  RFC 2217 through ser2net      %8.1f ns  (%+.0f %% of the pseudo-terminal; "
                "target within 20 %%)\n",
                rfc2217 * 1e9, (rfc2217 / pty - 1) * 100);
    std::printf("  pseudo-terminal, 10 sharing   %8.1f ns  (sharing adds %.4f points of a core "
                "at 38400 baud; target under 0.1)\n",
                withShare * 1e9, (withShare - pty) * kBytesPerSecondAt38400 * 100);
    return 0;
}
