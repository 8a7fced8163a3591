// TCP connections on POSIX systems.
#include "serial/Netsocket.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using SteadyClock = std::chrono::steady_clock;

// Keep-alive: the first probe after this many quiet seconds, then one a second; after
// this many unanswered the connection counts as gone.
constexpr int kKeepAliveIdleSeconds = 5;
constexpr int kKeepAliveIntervalSeconds = 1;
constexpr int kKeepAliveProbes = 4;

void SetError(SocketError& error, int code) {
    error.code = code;
    error.text = std::strerror(code);
}

// The outcome of a lookup, shared with the thread that makes it: a lookup that takes
// longer than the caller waits is left to finish on its own.
struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    int status = 0;
    addrinfo* result = nullptr;
    ~Lookup() {
        if (result != nullptr) {
            freeaddrinfo(result);
        }
    }
};

std::shared_ptr<Lookup> LookUp(const std::string& host, const std::string& port, int timeoutMs) {
    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, host, port] {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* result = nullptr;
        const int status = getaddrinfo(host.c_str(), port.c_str(), &hints, &result);
        std::lock_guard<std::mutex> lock(lookup->mutex);
        lookup->status = status;
        lookup->result = result;
        lookup->finished = true;
        lookup->done.notify_all();
    }).detach();
    std::unique_lock<std::mutex> lock(lookup->mutex);
    if (!lookup->done.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [&] { return lookup->finished; })) {
        return nullptr;
    }
    return lookup;
}

bool MakeNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 &&
           fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

void KeepAlive(int fd) {
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
#ifdef TCP_KEEPIDLE
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepAliveIdleSeconds, sizeof kKeepAliveIdleSeconds);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepAliveIntervalSeconds,
               sizeof kKeepAliveIntervalSeconds);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepAliveProbes, sizeof kKeepAliveProbes);
#endif
}

} // namespace

bool ConnectTcp(const std::string& host, const std::string& port, int timeoutMs, SocketHandle& s,
                SocketError& error) {
    s = kNoSocket;
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    const std::shared_ptr<Lookup> lookup = LookUp(host, port, timeoutMs);
    if (lookup == nullptr) {
        error.code = ETIMEDOUT;
        error.text = "the name " + host + " could not be looked up within " +
                     std::to_string(timeoutMs / 1000) + " s";
        return false;
    }
    if (lookup->status != 0) {
        error.code = lookup->status;
        error.text = "the name " + host + " does not resolve: " + gai_strerror(lookup->status);
        return false;
    }
    SetError(error, ECONNREFUSED);
    for (addrinfo* a = lookup->result; a != nullptr; a = a->ai_next) {
        const int fd = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (fd < 0) {
            SetError(error, errno);
            continue;
        }
        if (!MakeNonBlocking(fd)) {
            SetError(error, errno);
            close(fd);
            continue;
        }
        if (connect(fd, a->ai_addr, a->ai_addrlen) != 0 && errno != EINPROGRESS) {
            SetError(error, errno);
            close(fd);
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - SteadyClock::now())
                              .count();
        pollfd p{fd, POLLOUT, 0};
        const int ready = left > 0 ? poll(&p, 1, static_cast<int>(left)) : 0;
        int status = 0;
        socklen_t length = sizeof status;
        if (ready <= 0) {
            SetError(error, ready == 0 ? ETIMEDOUT : errno);
            close(fd);
            continue;
        }
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &status, &length) != 0 || status != 0) {
            SetError(error, status != 0 ? status : errno);
            close(fd);
            continue;
        }
        KeepAlive(fd);
        s = fd;
        error = SocketError{};
        return true;
    }
    return false;
}

bool ListenTcp(const std::string& host, const std::string& port, SocketHandle& s,
               std::uint16_t& boundPort, SocketError& error) {
    s = kNoSocket;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* result = nullptr;
    const std::string name = host.empty() ? "127.0.0.1" : host;
    const int status = getaddrinfo(name.c_str(), port.c_str(), &hints, &result);
    if (status != 0) {
        error.code = status;
        error.text = "the name " + name + " does not resolve: " + gai_strerror(status);
        return false;
    }
    SetError(error, EADDRNOTAVAIL);
    for (addrinfo* a = result; a != nullptr && s == kNoSocket; a = a->ai_next) {
        const int fd = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (fd < 0) {
            SetError(error, errno);
            continue;
        }
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (!MakeNonBlocking(fd) || bind(fd, a->ai_addr, a->ai_addrlen) != 0 ||
            listen(fd, 16) != 0) {
            SetError(error, errno);
            close(fd);
            continue;
        }
        sockaddr_storage bound{};
        socklen_t length = sizeof bound;
        getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
        boundPort = ntohs(bound.ss_family == AF_INET6
                              ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                              : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
        s = fd;
    }
    freeaddrinfo(result);
    if (s != kNoSocket) {
        error = SocketError{};
    }
    return s != kNoSocket;
}

SocketHandle AcceptTcp(SocketHandle listener, int sendBuffer) {
    const int fd = accept(static_cast<int>(listener), nullptr, nullptr);
    if (fd < 0) {
        return kNoSocket;
    }
    if (sendBuffer > 0) {
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    }
    if (!MakeNonBlocking(fd)) {
        close(fd);
        return kNoSocket;
    }
    KeepAlive(fd);
    return fd;
}

void CloseSocket(SocketHandle s) {
    if (s != kNoSocket) {
        close(static_cast<int>(s));
    }
}

WaitResult WaitSocket(SocketHandle s, bool forWrite, int ms) {
    pollfd p{static_cast<int>(s), static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
    const int ready = poll(&p, 1, ms);
    if (ready < 0) {
        return errno == EINTR ? WaitResult::TimedOut : WaitResult::Failed;
    }
    return ready == 0 ? WaitResult::TimedOut : WaitResult::Ready;
}

long ReceiveSome(SocketHandle s, std::uint8_t* dest, std::size_t capacity, SocketError& error) {
    const ssize_t n = recv(static_cast<int>(s), dest, capacity, 0);
    if (n >= 0) {
        return static_cast<long>(n);
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        return -1;
    }
    SetError(error, errno);
    return -2;
}

long SendSome(SocketHandle s, const std::uint8_t* src, std::size_t count, SocketError& error) {
    const ssize_t n = send(static_cast<int>(s), src, count, MSG_NOSIGNAL);
    if (n >= 0) {
        return static_cast<long>(n);
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        return 0;
    }
    SetError(error, errno);
    return -2;
}
