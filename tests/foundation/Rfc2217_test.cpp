// Telnet and COM-PORT-OPTION as the network port speaks them: what goes out byte for
// byte (RFC 854, 856, 2217), and the decoder over the server's bytes, whole, split at
// every point, and broken.

#include "serial/Rfc2217.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Rfc2217, WhatTheClientSends) {
    Bytes out;
    const Bytes data = {0x24, 0xFF, 0x0D, 0xFF, 0xFF, 0x0A};
    rfc2217::AppendData(out, data.data(), data.size());
    EXPECT_EQ(out, (Bytes{0x24, 0xFF, 0xFF, 0x0D, 0xFF, 0xFF, 0xFF, 0xFF, 0x0A}));

    // WILL COM-PORT-OPTION, WILL and DO BINARY, WILL and DO SUPPRESS-GO-AHEAD.
    EXPECT_EQ(rfc2217::Greeting(), (Bytes{255, 251, 44, 255, 251, 0, 255, 253, 0, 255, 251, 3,
                                          255, 253, 3}));

    out.clear();
    rfc2217::AppendSetBaudRate(out, 19200); // 0x00004B00, network order
    EXPECT_EQ(out, (Bytes{255, 250, 44, 1, 0x00, 0x00, 0x4B, 0x00, 255, 240}));
    out.clear();
    rfc2217::AppendSetBaudRate(out, 0x00FF00FF); // its 255s doubled inside the subnegotiation
    EXPECT_EQ(out, (Bytes{255, 250, 44, 1, 0x00, 0xFF, 0xFF, 0x00, 0xFF, 0xFF, 255, 240}));
    out.clear();
    rfc2217::AppendComPortByte(out, telnet::kSetControl, telnet::kControlDtrOff);
    rfc2217::AppendComPortByte(out, telnet::kPurgeData, telnet::kPurgeReceiveBuffer);
    EXPECT_EQ(out, (Bytes{255, 250, 44, 5, 9, 255, 240, 255, 250, 44, 12, 1, 255, 240}));
}

struct Decoded {
    Bytes data;
    Bytes answers;
    TelnetDecoder::Agreement comPort;
    TelnetDecoder::Agreement binaryIn;
    std::uint8_t command;
    std::uint32_t value;
    std::uint64_t answerCount;
};

Decoded Decode(const Bytes& in, std::size_t piece) {
    TelnetDecoder d;
    Decoded r{};
    for (std::size_t at = 0; at < in.size(); at += piece) {
        const std::size_t n = std::min(piece, in.size() - at);
        d.Feed(in.data() + at, n, r.data);
        const Bytes a = d.TakeAnswers();
        r.answers.insert(r.answers.end(), a.begin(), a.end());
    }
    r.comPort = d.ComPort();
    r.binaryIn = d.BinaryFromServer();
    r.command = d.LastAnswer().command;
    r.value = d.LastAnswer().value;
    r.answerCount = d.LastAnswer().count;
    return r;
}

TEST(Rfc2217, TheDecoderTakesTheServersBytesInAnyPieces) {
    using A = TelnetDecoder::Agreement;
    struct Case {
        const char* what;
        Bytes in;
        Bytes data;
        Bytes answers;
        A comPort;
        A binaryIn;
        std::uint8_t command; // of the last COM-PORT-OPTION answer
        std::uint32_t value;
        std::uint64_t count;
    };
    const Case cases[] = {
        {"plain data", {'$', 'G', 0x0D, 0x0A}, {'$', 'G', 0x0D, 0x0A}, {}, A::Open, A::Open, 0, 0, 0},
        {"an escaped 255", {1, 255, 255, 2}, {1, 255, 2}, {}, A::Open, A::Open, 0, 0, 0},
        {"the server agrees", {255, 253, 44, 255, 251, 0, 7}, {7}, {}, A::Yes, A::Yes, 0, 0, 0},
        {"the server refuses", {255, 254, 44, 255, 252, 0}, {}, {}, A::No, A::No, 0, 0, 0},
        {"the rate answered",
         {255, 250, 44, 101, 0, 0, 0x4B, 0, 255, 240, 'x'},
         {'x'}, {}, A::Open, A::Open, 1, 19200, 1},
        {"an answer holding an escaped 255",
         {255, 250, 44, 101, 0, 255, 255, 0, 255, 255, 255, 240},
         {}, {}, A::Open, A::Open, 1, 0x00FF00FF, 1},
        {"a one-byte answer", {255, 250, 44, 105, 9, 255, 240}, {}, {}, A::Open, A::Open, 5, 9, 1},
        {"options we do not do, refused once each",
         {255, 253, 1, 255, 251, 24, 255, 253, 1, 255, 251, 24},
         {}, {255, 252, 1, 255, 254, 24}, A::Open, A::Open, 0, 0, 0},
        {"a refusal of ours needs no answer", {255, 252, 24, 255, 254, 1}, {}, {}, A::Open,
         A::Open, 0, 0, 0},
        {"NOP and go-ahead vanish", {'a', 255, 241, 'b', 255, 249, 'c'}, {'a', 'b', 'c'}, {},
         A::Open, A::Open, 0, 0, 0},
        {"an over-long subnegotiation is dropped whole",
         {255, 250, 44, 101, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 255, 240, 'z'},
         {'z'}, {}, A::Open, A::Open, 0, 0, 0},
        {"a subnegotiation of another option is not an answer",
         {255, 250, 24, 1, 255, 240}, {}, {}, A::Open, A::Open, 0, 0, 0},
        {"a subnegotiation broken off by a command",
         {255, 250, 44, 101, 1, 255, 253, 44, 'k'},
         {'k'}, {}, A::Yes, A::Open, 0, 0, 0},
        {"a notification from the server is kept but answers nothing of ours",
         {255, 250, 44, 106, 0x60, 255, 240}, {}, {}, A::Open, A::Open, 6, 0x60, 1},
    };
    for (const Case& c : cases) {
        for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{3}, c.in.size()}) {
            if (piece == 0) {
                continue;
            }
            SCOPED_TRACE(std::string(c.what) + ", in pieces of " + std::to_string(piece));
            const Decoded r = Decode(c.in, piece);
            EXPECT_EQ(r.data, c.data);
            EXPECT_EQ(r.answers, c.answers);
            EXPECT_EQ(r.comPort, c.comPort);
            EXPECT_EQ(r.binaryIn, c.binaryIn);
            EXPECT_EQ(r.command, c.command);
            EXPECT_EQ(r.value, c.value);
            EXPECT_EQ(r.answerCount, c.count);
        }
    }
}

} // namespace
