#pragma once
// The receiver's stream passed on to other programs over TCP, while this program holds
// the receiver's port: a navigation program, gpsd or a logger connects and receives the
// receiver's $GP sentences as they arrive (or, with Everything, every byte the port
// delivers, binary frames included).
//
// The share listens on the loopback address unless told another; any number of clients
// may connect. The receive path hands it what arrives; Service, called on every tick,
// takes new clients and writes to each what its connection takes now, never waiting.
// A client that falls behind by more than kClientBacklog bytes (it stopped reading) is
// dropped, so no client can slow the receive path or the display, nor hold memory; one
// that closed is dropped too. What clients send is read and discarded: nothing of theirs
// reaches the receiver. Standard C++ with the network port's sockets.

#include "serial/Netsocket.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class StreamShare {
public:
    enum class Content : std::uint8_t {
        Sentences,  // the receiver's sentences, each ended by CR LF
        Everything, // every byte received, as received
    };
    // What a client may fall behind before it is dropped, besides what the system holds
    // for its connection (kept small, so the bound means what it says).
    static constexpr std::size_t kClientBacklog = 256 * 1024;
    static constexpr int kSystemBuffer = 64 * 1024;

    StreamShare() = default;
    ~StreamShare();
    StreamShare(const StreamShare&) = delete;
    StreamShare& operator=(const StreamShare&) = delete;

    // Listens on address, "[HOST:]PORT" (the host loopback when left out; port 0: any
    // free one). False, with the reason, when the address is not one or cannot be taken.
    bool Start(const std::string& address, Content content, SocketError& error);
    void Stop();
    bool Running() const { return listener_ != kNoSocket; }
    // "127.0.0.1:10110", as clients reach it.
    std::string Address() const;
    std::uint16_t Port() const { return port_; }
    Content Shared() const { return content_; }

    // The receive path: every block read from the port, and every sentence of the
    // receiver (without its CR LF); each is kept for the clients of its content.
    void BytesReceived(const std::uint8_t* data, std::size_t n);
    void SentenceReceived(std::string_view sentence);

    // Takes new clients, writes what each can take now, drops the stalled and the gone,
    // and discards what clients sent.
    void Service();

    std::size_t Clients() const { return clients_.size(); }
    // Clients dropped for falling behind, since Start.
    std::uint64_t DroppedStalled() const { return droppedStalled_; }

    // Splits "[HOST:]PORT"; false for anything else.
    static bool ParseAddress(const std::string& address, std::string& host, std::string& port);

private:
    struct Client {
        SocketHandle socket = kNoSocket;
        std::vector<std::uint8_t> queue;
        std::size_t sent = 0; // how much of queue has gone
    };

    void Queue(const std::uint8_t* data, std::size_t n);

    SocketHandle listener_ = kNoSocket;
    std::string host_;
    std::uint16_t port_ = 0;
    Content content_ = Content::Sentences;
    std::vector<Client> clients_;
    std::uint64_t droppedStalled_ = 0;
};
