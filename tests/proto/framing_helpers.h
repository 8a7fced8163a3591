#pragma once
// Shared by the proto tests: feeds bytes to the two framers the way the program's
// reader does (binary framer first, then the line framer, each message taken before the
// next byte) and collects what they deliver.

#include "proto/Crlfproto.h"
#include "proto/Diagproto.h"
#include "proto/Memoutils.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

inline Bytes B(std::initializer_list<int> values) {
    Bytes out;
    for (int v : values) {
        out.push_back(static_cast<std::uint8_t>(v));
    }
    return out;
}

inline Bytes B(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

inline Bytes Frame(std::uint8_t id, const Bytes& payload) {
    Bytes out(payload.size() + kFrameOverhead);
    const std::uint8_t n = BuildMsg(id, payload.data(), payload.size(), out.data());
    out.resize(n);
    return out;
}

struct Received {
    std::vector<Bytes> frames;
    std::vector<Bytes> lines;
};

inline void FeedInto(DiagProto& diag, CRLFProto& line, const Bytes& input, Received& got) {
    for (std::uint8_t b : input) {
        if (diag.ProcessByte(b)) {
            got.frames.emplace_back(diag.GetMsg(), diag.GetMsg() + diag.GetMsgLen());
        }
        if (line.ProcessByte(b)) {
            got.lines.emplace_back(line.GetMsg(), line.GetMsg() + line.GetMsgLen());
        }
    }
}

inline Received Feed(const Bytes& input) {
    DiagProto diag;
    CRLFProto line;
    Received got;
    FeedInto(diag, line, input, got);
    return got;
}
