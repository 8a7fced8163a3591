#include "serial/Netport.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr const char* kRfc2217Scheme = "rfc2217://";
constexpr const char* kRawScheme = "tcp://";
// With the blocking set a read ends at the first quiet gap longer than this, as on a
// serial device.
constexpr int kReadGapMs = 1;
// Room for one read from the connection, and for what has been received and not read.
constexpr std::size_t kChunk = 4096;
constexpr std::size_t kMaxPending = 64 * 1024;

bool StartsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

int MsLeft(SteadyClock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now())
            .count();
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace

bool NetPort::IsNetworkName(const char* name) {
    return name != nullptr &&
           (StartsWith(name, kRfc2217Scheme) || StartsWith(name, kRawScheme));
}

bool NetPort::ParseName(const std::string& name, Kind& kind, std::string& host,
                        std::string& port) {
    std::string rest;
    if (StartsWith(name, kRfc2217Scheme)) {
        kind = Kind::Rfc2217;
        rest = name.substr(std::strlen(kRfc2217Scheme));
    } else if (StartsWith(name, kRawScheme)) {
        kind = Kind::Raw;
        rest = name.substr(std::strlen(kRawScheme));
    } else {
        return false;
    }
    std::size_t colon;
    if (!rest.empty() && rest[0] == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
            return false;
        }
        host = rest.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos || rest.find(':') != colon) {
            return false;
        }
        host = rest.substr(0, colon);
    }
    port = rest.substr(colon + 1);
    if (host.empty() || port.empty() || port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    const long number = std::stol(port);
    return number >= 1 && number <= 65535;
}

NetPort::~NetPort() {
    Close();
}

bool NetPort::Open(const std::string& name, std::uint32_t baudRate, SocketError& error) {
    Close();
    std::string host;
    std::string port;
    if (!ParseName(name, kind_, host, port)) {
        error.code = 22; // EINVAL
        error.text = "not a network port's name (rfc2217://HOST:PORT or tcp://HOST:PORT)";
        return false;
    }
    if (!ConnectTcp(host, port, kConnectTimeoutMs, socket_, error)) {
        return false;
    }
    decoder_ = TelnetDecoder();
    pending_.clear();
    pendingRead_ = 0;
    hungUp_ = false;
    if (kind_ == Kind::Raw) {
        return true;
    }

    // The negotiation and the line's settings in one go, then the server's word on each.
    std::vector<std::uint8_t> out = rfc2217::Greeting();
    rfc2217::AppendSetBaudRate(out, baudRate);
    rfc2217::AppendComPortByte(out, telnet::kSetDataSize, telnet::kDataSize8);
    rfc2217::AppendComPortByte(out, telnet::kSetParity, telnet::kParityNone);
    rfc2217::AppendComPortByte(out, telnet::kSetStopSize, telnet::kStopSize1);
    rfc2217::AppendComPortByte(out, telnet::kSetControl, telnet::kControlNoFlowControl);
    rfc2217::AppendComPortByte(out, telnet::kSetControl, telnet::kControlDtrOff);
    rfc2217::AppendComPortByte(out, telnet::kSetControl, telnet::kControlRtsOff);
    const bool answered =
        SendAll(out, kAnswerTimeoutMs, error) &&
        PumpUntil(
            [this] {
                return decoder_.ComPort() == TelnetDecoder::Agreement::No ||
                       decoder_.BinaryFromServer() == TelnetDecoder::Agreement::No ||
                       decoder_.BinaryToServer() == TelnetDecoder::Agreement::No ||
                       (decoder_.ComPort() == TelnetDecoder::Agreement::Yes &&
                        decoder_.AnswersTo(telnet::kSetBaudRate) > 0);
            },
            kAnswerTimeoutMs, error);
    std::string refusal;
    if (!answered) {
        refusal = error.text.empty() ? "the server did not answer the serial line's "
                                       "settings (is it an RFC 2217 server?)"
                                     : error.text;
    } else if (decoder_.ComPort() != TelnetDecoder::Agreement::Yes) {
        refusal = "the server does not offer RFC 2217 (COM-PORT-OPTION)";
    } else if (decoder_.BinaryFromServer() == TelnetDecoder::Agreement::No ||
               decoder_.BinaryToServer() == TelnetDecoder::Agreement::No) {
        refusal = "the server refuses binary transmission";
    } else if (decoder_.LastAnswer().command == telnet::kSetBaudRate &&
               decoder_.LastAnswer().value != baudRate) {
        refusal = "the server set " + std::to_string(decoder_.LastAnswer().value) +
                  " baud instead of " + std::to_string(baudRate);
    }
    if (!refusal.empty()) {
        Close();
        error.code = error.code != 0 ? error.code : 71; // EPROTO
        error.text = refusal;
        return false;
    }
    error = SocketError{};
    return true;
}

void NetPort::Close() {
    CloseSocket(socket_);
    socket_ = kNoSocket;
    pending_.clear();
    pendingRead_ = 0;
}

bool NetPort::Pump(SocketError& error) {
    if (socket_ == kNoSocket || hungUp_) {
        return false;
    }
    std::uint8_t chunk[kChunk];
    // What is not read yet is bounded: past that the server's bytes wait in the
    // connection, and TCP holds the server back.
    while (pending_.size() - pendingRead_ < kMaxPending) {
        const long n = ReceiveSome(socket_, chunk, sizeof chunk, error);
        if (n == -1) {
            break; // nothing more now
        }
        if (n <= 0) {
            if (n == 0) {
                error.code = 104; // ECONNRESET
                error.text = "the server closed the connection";
            }
            hungUp_ = true;
            return false;
        }
        if (pendingRead_ > 0) {
            pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(pendingRead_));
            pendingRead_ = 0;
        }
        if (kind_ == Kind::Raw) {
            pending_.insert(pending_.end(), chunk, chunk + n);
        } else {
            decoder_.Feed(chunk, static_cast<std::size_t>(n), pending_);
            const std::vector<std::uint8_t> answers = decoder_.TakeAnswers();
            if (!answers.empty() && !SendAll(answers, kAnswerTimeoutMs, error)) {
                return false;
            }
        }
        if (static_cast<std::size_t>(n) < sizeof chunk) {
            break;
        }
    }
    return true;
}

template <typename Done> bool NetPort::PumpUntil(Done done, int limitMs, SocketError& error) {
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
        if (!Pump(error)) {
            return false;
        }
        if (done()) {
            return true;
        }
        const int left = MsLeft(deadline);
        if (left == 0) {
            error = SocketError{};
            return false;
        }
        if (WaitSocket(socket_, false, left) == WaitResult::Failed) {
            return false;
        }
    }
}

bool NetPort::Read(std::uint8_t* dest, std::uint32_t capacity, std::uint32_t& received,
                   std::uint32_t waitMs, bool blocking, bool& hungUp, SocketError& error) {
    received = 0;
    hungUp = false;
    if (socket_ == kNoSocket) {
        return false;
    }
    const auto available = [this] { return pending_.size() - pendingRead_; };
    bool alive = Pump(error);
    if (alive && blocking && available() == 0) {
        // Wait for a first byte, then for more until a gap.
        const auto deadline = waitMs == 0xFFFFFFFFu
                                  ? SteadyClock::time_point::max()
                                  : SteadyClock::now() + std::chrono::milliseconds(waitMs);
        while (alive && available() == 0) {
            const int left = deadline == SteadyClock::time_point::max() ? 1000 : MsLeft(deadline);
            if (left == 0) {
                break;
            }
            WaitSocket(socket_, false, left);
            alive = Pump(error);
        }
        while (alive && available() > 0 && available() < capacity &&
               WaitSocket(socket_, false, kReadGapMs) == WaitResult::Ready) {
            alive = Pump(error);
        }
    }
    const std::size_t n = std::min<std::size_t>(capacity, available());
    if (n > 0) { // an empty buffer has no data pointer to copy from
        std::memcpy(dest, pending_.data() + pendingRead_, n);
        pendingRead_ += n;
    }
    received = static_cast<std::uint32_t>(n);
    if (!alive && received == 0) {
        // What came before the end has been read; now the line is gone.
        hungUp = hungUp_;
        return false;
    }
    return true;
}

bool NetPort::SendAll(const std::vector<std::uint8_t>& bytes, int limitMs, SocketError& error) {
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(limitMs);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const long n = SendSome(socket_, bytes.data() + done, bytes.size() - done, error);
        if (n < 0) {
            hungUp_ = true;
            return false;
        }
        done += static_cast<std::size_t>(n);
        if (done < bytes.size()) {
            const int left = MsLeft(deadline);
            if (left == 0 || WaitSocket(socket_, true, left) != WaitResult::Ready) {
                error.code = 110; // ETIMEDOUT
                error.text = "the server took nothing for two seconds";
                return false;
            }
        }
    }
    return true;
}

bool NetPort::Write(const std::uint8_t* src, std::uint32_t count, std::uint32_t limitMs,
                    std::uint32_t* written, SocketError& error) {
    if (written != nullptr) {
        *written = 0;
    }
    if (socket_ == kNoSocket) {
        return false;
    }
    std::vector<std::uint8_t> bytes;
    if (kind_ == Kind::Rfc2217) {
        rfc2217::AppendData(bytes, src, count);
    } else {
        bytes.assign(src, src + count);
    }
    if (!SendAll(bytes, static_cast<int>(limitMs), error)) {
        return false;
    }
    if (written != nullptr) {
        *written = count;
    }
    return true;
}

bool NetPort::SetBaudRate(std::uint32_t rate, SocketError& error) {
    if (socket_ == kNoSocket) {
        return false;
    }
    if (kind_ == Kind::Raw) {
        return true; // the server's rate is fixed
    }
    const std::uint64_t before = decoder_.AnswersTo(telnet::kSetBaudRate);
    std::vector<std::uint8_t> out;
    rfc2217::AppendSetBaudRate(out, rate);
    if (!SendAll(out, kAnswerTimeoutMs, error) ||
        !PumpUntil([&] { return decoder_.AnswersTo(telnet::kSetBaudRate) > before; },
                   kAnswerTimeoutMs, error)) {
        if (error.text.empty()) {
            error.code = 110;
            error.text = "the server did not answer the rate change";
        }
        return false;
    }
    if (decoder_.LastAnswer().command == telnet::kSetBaudRate &&
        decoder_.LastAnswer().value != rate) {
        error.code = 71;
        error.text = "the server set " + std::to_string(decoder_.LastAnswer().value) +
                     " baud instead of " + std::to_string(rate);
        return false;
    }
    return true;
}

void NetPort::Purge() {
    if (socket_ == kNoSocket) {
        return;
    }
    SocketError error;
    if (kind_ == Kind::Rfc2217) {
        std::vector<std::uint8_t> out;
        rfc2217::AppendComPortByte(out, telnet::kPurgeData, telnet::kPurgeReceiveBuffer);
        SendAll(out, kAnswerTimeoutMs, error);
    }
    Pump(error);
    pending_.clear();
    pendingRead_ = 0;
}
