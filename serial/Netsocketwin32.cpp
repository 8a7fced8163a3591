// TCP connections on Windows, through Winsock.
#include "serial/Netsocket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr ULONG kKeepAliveIdleMs = 5000;
constexpr ULONG kKeepAliveIntervalMs = 1000;

// Winsock is started once, the first time a socket is wanted, for the rest of the run.
bool StartWinsock() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

std::string ErrorText(int code) {
    char text[256] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, static_cast<DWORD>(code), 0, text, sizeof text,
                                   nullptr);
    std::string s(text, n);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.')) {
        s.pop_back();
    }
    for (char& c : s) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    return s.empty() ? "error " + std::to_string(code) : s;
}

void SetError(SocketError& error, int code) {
    error.code = code;
    error.text = ErrorText(code);
}

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

bool MakeNonBlocking(SOCKET s) {
    u_long on = 1;
    return ioctlsocket(s, FIONBIO, &on) == 0;
}

void KeepAlive(SOCKET s) {
    const BOOL on = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    tcp_keepalive settings{1, kKeepAliveIdleMs, kKeepAliveIntervalMs};
    DWORD returned = 0;
    WSAIoctl(s, SIO_KEEPALIVE_VALS, &settings, sizeof settings, nullptr, 0, &returned, nullptr,
             nullptr);
}

} // namespace

bool ConnectTcp(const std::string& host, const std::string& port, int timeoutMs, SocketHandle& s,
                SocketError& error) {
    s = kNoSocket;
    if (!StartWinsock()) {
        SetError(error, WSAGetLastError());
        return false;
    }
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    const std::shared_ptr<Lookup> lookup = LookUp(host, port, timeoutMs);
    if (lookup == nullptr) {
        error.code = WSAETIMEDOUT;
        error.text = "the name " + host + " could not be looked up within " +
                     std::to_string(timeoutMs / 1000) + " s";
        return false;
    }
    if (lookup->status != 0) {
        error.code = lookup->status;
        error.text = "the name " + host + " does not resolve: " + ErrorText(lookup->status);
        return false;
    }
    SetError(error, WSAECONNREFUSED);
    for (addrinfo* a = lookup->result; a != nullptr; a = a->ai_next) {
        const SOCKET fd = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (fd == INVALID_SOCKET) {
            SetError(error, WSAGetLastError());
            continue;
        }
        if (!MakeNonBlocking(fd)) {
            SetError(error, WSAGetLastError());
            closesocket(fd);
            continue;
        }
        if (connect(fd, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0 &&
            WSAGetLastError() != WSAEWOULDBLOCK) {
            SetError(error, WSAGetLastError());
            closesocket(fd);
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - SteadyClock::now())
                              .count();
        WSAPOLLFD p{fd, POLLWRNORM, 0};
        const int ready = left > 0 ? WSAPoll(&p, 1, static_cast<INT>(left)) : 0;
        int status = 0;
        int length = sizeof status;
        if (ready <= 0) {
            SetError(error, ready == 0 ? WSAETIMEDOUT : WSAGetLastError());
            closesocket(fd);
            continue;
        }
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&status), &length) != 0 ||
            status != 0 || (p.revents & (POLLERR | POLLHUP)) != 0) {
            SetError(error, status != 0 ? status : WSAECONNREFUSED);
            closesocket(fd);
            continue;
        }
        KeepAlive(fd);
        s = static_cast<SocketHandle>(fd);
        error = SocketError{};
        return true;
    }
    return false;
}

bool ListenTcp(const std::string& host, const std::string& port, SocketHandle& s,
               std::uint16_t& boundPort, SocketError& error) {
    s = kNoSocket;
    if (!StartWinsock()) {
        SetError(error, WSAGetLastError());
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* result = nullptr;
    const std::string name = host.empty() ? "127.0.0.1" : host;
    const int status = getaddrinfo(name.c_str(), port.c_str(), &hints, &result);
    if (status != 0) {
        error.code = status;
        error.text = "the name " + name + " does not resolve: " + ErrorText(status);
        return false;
    }
    SetError(error, WSAEADDRNOTAVAIL);
    for (addrinfo* a = result; a != nullptr && s == kNoSocket; a = a->ai_next) {
        const SOCKET fd = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (fd == INVALID_SOCKET) {
            SetError(error, WSAGetLastError());
            continue;
        }
        if (!MakeNonBlocking(fd) || bind(fd, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0 ||
            listen(fd, 16) != 0) {
            SetError(error, WSAGetLastError());
            closesocket(fd);
            continue;
        }
        sockaddr_storage bound{};
        int length = sizeof bound;
        getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
        boundPort = ntohs(bound.ss_family == AF_INET6
                              ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                              : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
        s = static_cast<SocketHandle>(fd);
    }
    freeaddrinfo(result);
    if (s != kNoSocket) {
        error = SocketError{};
    }
    return s != kNoSocket;
}

SocketHandle AcceptTcp(SocketHandle listener, int sendBuffer) {
    const SOCKET fd = accept(static_cast<SOCKET>(listener), nullptr, nullptr);
    if (fd == INVALID_SOCKET) {
        return kNoSocket;
    }
    if (sendBuffer > 0) {
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&sendBuffer),
                   sizeof sendBuffer);
    }
    if (!MakeNonBlocking(fd)) {
        closesocket(fd);
        return kNoSocket;
    }
    KeepAlive(fd);
    return static_cast<SocketHandle>(fd);
}

void CloseSocket(SocketHandle s) {
    if (s != kNoSocket) {
        closesocket(static_cast<SOCKET>(s));
    }
}

WaitResult WaitSocket(SocketHandle s, bool forWrite, int ms) {
    WSAPOLLFD p{static_cast<SOCKET>(s), static_cast<SHORT>(forWrite ? POLLWRNORM : POLLRDNORM), 0};
    const int ready = WSAPoll(&p, 1, ms);
    if (ready < 0) {
        return WaitResult::Failed;
    }
    return ready == 0 ? WaitResult::TimedOut : WaitResult::Ready;
}

long ReceiveSome(SocketHandle s, std::uint8_t* dest, std::size_t capacity, SocketError& error) {
    const int n = recv(static_cast<SOCKET>(s), reinterpret_cast<char*>(dest),
                       static_cast<int>(capacity > 0x7FFFFFFF ? 0x7FFFFFFF : capacity), 0);
    if (n >= 0) {
        return n;
    }
    const int code = WSAGetLastError();
    if (code == WSAEWOULDBLOCK || code == WSAEINTR) {
        return -1;
    }
    SetError(error, code);
    return -2;
}

long SendSome(SocketHandle s, const std::uint8_t* src, std::size_t count, SocketError& error) {
    const int n = send(static_cast<SOCKET>(s), reinterpret_cast<const char*>(src),
                       static_cast<int>(count > 0x7FFFFFFF ? 0x7FFFFFFF : count), 0);
    if (n >= 0) {
        return n;
    }
    const int code = WSAGetLastError();
    if (code == WSAEWOULDBLOCK || code == WSAEINTR) {
        return 0;
    }
    SetError(error, code);
    return -2;
}
