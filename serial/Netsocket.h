#pragma once
// TCP connections as the network ports and the stream share use them: non-blocking,
// with every wait bounded, on the sockets of POSIX systems or of Windows.
//
// A connection is set up within a stated time: the name is looked up (a lookup that
// takes too long is abandoned), then the connection attempt itself is bounded. Once up,
// TCP keep-alive probes a connection that has gone quiet, so a server or link that
// vanishes without a word is noticed within about ten seconds, as a failed read. No
// write ever raises a signal (a peer that went away is a failed write).

#include <cstddef>
#include <cstdint>
#include <string>

using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

// How long a connection (lookup and connect together) may take.
inline constexpr int kConnectTimeoutMs = 3000;

// A failure: the system's error code and its text on one line (a lookup failure has its
// own text, "name ... does not resolve: ...").
struct SocketError {
    int code = 0;
    std::string text;
};

// Connects to host:port within timeoutMs. The socket is non-blocking, without Nagle's
// delay and with keep-alive on.
bool ConnectTcp(const std::string& host, const std::string& port, int timeoutMs, SocketHandle& s,
                SocketError& error);
// Listens on host:port (port 0: any free one), host empty meaning the loopback address.
// boundPort is the port taken.
bool ListenTcp(const std::string& host, const std::string& port, SocketHandle& s,
               std::uint16_t& boundPort, SocketError& error);
// A connection waiting on a listening socket, or kNoSocket. The new socket is
// non-blocking; sendBuffer, when not 0, bounds what the system holds for it unsent.
SocketHandle AcceptTcp(SocketHandle listener, int sendBuffer = 0);
void CloseSocket(SocketHandle s);

enum class WaitResult : std::uint8_t { Ready, TimedOut, Failed };
// Waits until s can be read (or written), at most ms (0: only looks).
WaitResult WaitSocket(SocketHandle s, bool forWrite, int ms);

// Reads what is there without waiting: > 0 bytes read; 0 when the peer closed the
// connection; -1 when nothing is there now; -2 on a failure (error set).
long ReceiveSome(SocketHandle s, std::uint8_t* dest, std::size_t capacity, SocketError& error);
// Writes what fits without waiting: >= 0 bytes written (0: no room now); -2 on a failure.
long SendSome(SocketHandle s, const std::uint8_t* src, std::size_t count, SocketError& error);
