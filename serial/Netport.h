#pragma once
// A serial line reached over the network, as the serial port uses it when its device
// is named rfc2217://HOST:PORT or tcp://HOST:PORT (an IPv6 host in brackets).
//
// rfc2217:// is a serial-to-network server that speaks Telnet's COM-PORT-OPTION
// (serial/Rfc2217.h): the connection is opened with binary transmission both ways, the
// line set to 8N1 without flow control and with DTR and RTS off, and the rate asked for;
// rate changes and purges go to the server, which answers each. tcp:// is a raw byte
// stream: the server's line rate is fixed, so a rate change is taken and does nothing
// (RateFixed says so).
//
// The port keeps the serial port's behaviour: the same two time-out sets for reads,
// writes bounded to about two seconds, and a hang-up when the connection is closed by
// the server or found dead by keep-alive. Opening takes at most a few seconds: the
// connection (kConnectTimeoutMs), then the server's answers to the negotiation.

#include "serial/Netsocket.h"
#include "serial/Rfc2217.h"

#include <cstdint>
#include <string>
#include <vector>

class NetPort {
public:
    enum class Kind : std::uint8_t { Rfc2217, Raw };

    // Whether name is a network port's name (it begins rfc2217:// or tcp://).
    static bool IsNetworkName(const char* name);
    // Splits a network port's name; false for one that is not well formed (no host, a
    // port that is not a number from 1 to 65535, anything after the port).
    static bool ParseName(const std::string& name, Kind& kind, std::string& host,
                          std::string& port);

    // How long the server may take to answer the negotiation and each command.
    static constexpr int kAnswerTimeoutMs = 3000;

    NetPort() = default;
    ~NetPort();
    NetPort(const NetPort&) = delete;
    NetPort& operator=(const NetPort&) = delete;

    bool Open(const std::string& name, std::uint32_t baudRate, SocketError& error);
    void Close();

    bool Read(std::uint8_t* dest, std::uint32_t capacity, std::uint32_t& received,
              std::uint32_t waitMs, bool blocking, bool& hungUp, SocketError& error);
    bool Write(const std::uint8_t* src, std::uint32_t count, std::uint32_t limitMs,
               std::uint32_t* written, SocketError& error);
    bool SetBaudRate(std::uint32_t rate, SocketError& error);
    void Purge();
    bool RateFixed() const { return kind_ == Kind::Raw; }

private:
    // Reads what the connection holds now, data into pending_; false when it was closed
    // or failed (hungUp_ then set).
    bool Pump(SocketError& error);
    // Sends bytes as they are (already escaped), all of them within limitMs.
    bool SendAll(const std::vector<std::uint8_t>& bytes, int limitMs, SocketError& error);
    // Pumps until done() holds, at most limitMs; false on a hang-up or the time running out.
    template <typename Done> bool PumpUntil(Done done, int limitMs, SocketError& error);

    Kind kind_ = Kind::Raw;
    SocketHandle socket_ = kNoSocket;
    TelnetDecoder decoder_;
    std::vector<std::uint8_t> pending_; // received data not yet read
    std::size_t pendingRead_ = 0;       // how much of pending_ has been read
    bool hungUp_ = false;
};
