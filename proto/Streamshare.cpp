#include "proto/Streamshare.h"

#include <algorithm>

namespace {

constexpr const char* kLoopback = "127.0.0.1";

bool AllDigits(const std::string& s) {
    return !s.empty() && s.size() <= 5 &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

StreamShare::~StreamShare() {
    Stop();
}

bool StreamShare::ParseAddress(const std::string& address, std::string& host, std::string& port) {
    std::string h;
    std::string p;
    if (!address.empty() && address[0] == '[') {
        const std::size_t close = address.find(']');
        if (close == std::string::npos || close + 1 >= address.size() || address[close + 1] != ':') {
            return false;
        }
        h = address.substr(1, close - 1);
        p = address.substr(close + 2);
    } else {
        const std::size_t colon = address.rfind(':');
        if (colon == std::string::npos) {
            p = address;
        } else {
            if (address.find(':') != colon) {
                return false;
            }
            h = address.substr(0, colon);
            p = address.substr(colon + 1);
        }
    }
    if (!AllDigits(p) || std::stol(p) > 65535) {
        return false;
    }
    host = h.empty() ? kLoopback : h;
    port = p;
    return true;
}

bool StreamShare::Start(const std::string& address, Content content, SocketError& error) {
    Stop();
    std::string host;
    std::string port;
    if (!ParseAddress(address, host, port)) {
        error.code = 22; // EINVAL
        error.text = "'" + address + "' is not an address to share on ([HOST:]PORT)";
        return false;
    }
    if (!ListenTcp(host, port, listener_, port_, error)) {
        return false;
    }
    host_ = host;
    content_ = content;
    droppedStalled_ = 0;
    return true;
}

void StreamShare::Stop() {
    for (Client& c : clients_) {
        CloseSocket(c.socket);
    }
    clients_.clear();
    CloseSocket(listener_);
    listener_ = kNoSocket;
}

std::string StreamShare::Address() const {
    const bool v6 = host_.find(':') != std::string::npos;
    return (v6 ? "[" + host_ + "]" : host_) + ":" + std::to_string(port_);
}

void StreamShare::BytesReceived(const std::uint8_t* data, std::size_t n) {
    if (content_ == Content::Everything) {
        Queue(data, n);
    }
}

void StreamShare::SentenceReceived(std::string_view sentence) {
    if (content_ != Content::Sentences || clients_.empty()) {
        return;
    }
    Queue(reinterpret_cast<const std::uint8_t*>(sentence.data()), sentence.size());
    static constexpr std::uint8_t kLineEnd[2] = {'\r', '\n'};
    Queue(kLineEnd, sizeof kLineEnd);
}

void StreamShare::Queue(const std::uint8_t* data, std::size_t n) {
    for (Client& c : clients_) {
        if (c.socket != kNoSocket) {
            c.queue.insert(c.queue.end(), data, data + n);
        }
    }
}

void StreamShare::Service() {
    if (listener_ == kNoSocket) {
        return;
    }
    for (SocketHandle s = AcceptTcp(listener_, kSystemBuffer); s != kNoSocket;
         s = AcceptTcp(listener_, kSystemBuffer)) {
        clients_.push_back(Client{s, {}, 0});
    }
    std::uint8_t discard[512];
    for (Client& c : clients_) {
        SocketError error;
        // What the client says is read and thrown away; a closed connection ends it.
        for (;;) {
            const long n = ReceiveSome(c.socket, discard, sizeof discard, error);
            if (n == -1) {
                break;
            }
            if (n <= 0) {
                CloseSocket(c.socket);
                c.socket = kNoSocket;
                break;
            }
        }
        if (c.socket == kNoSocket) {
            continue;
        }
        if (c.sent < c.queue.size()) {
            const long n = SendSome(c.socket, c.queue.data() + c.sent, c.queue.size() - c.sent, error);
            if (n < 0) {
                CloseSocket(c.socket);
                c.socket = kNoSocket;
                continue;
            }
            c.sent += static_cast<std::size_t>(n);
        }
        if (c.sent == c.queue.size()) {
            c.queue.clear();
            c.sent = 0;
        } else if (c.queue.size() - c.sent > kClientBacklog) {
            // It stopped reading: it goes rather than hold everyone's data.
            CloseSocket(c.socket);
            c.socket = kNoSocket;
            ++droppedStalled_;
        } else if (c.sent > kClientBacklog) {
            c.queue.erase(c.queue.begin(), c.queue.begin() + static_cast<long>(c.sent));
            c.sent = 0;
        }
    }
    clients_.erase(std::remove_if(clients_.begin(), clients_.end(),
                                  [](const Client& c) { return c.socket == kNoSocket; }),
                   clients_.end());
}
