// Feeds arbitrary bytes to the two framers the way the reader does (binary framer first,
// then the line framer) and checks what they deliver: a frame is exactly N bytes with
// its markers, a matching CRC and CR LF; a line ends in CR LF and fits its buffer.
//
// The line framer takes a CR after a CR as a possible line end. Against the plain rules
// (a CR followed by anything but LF abandons the line), kept here as a small model, it
// may only differ in two ways: CR CR LF completes the line CR LF, and the line after it
// lacks the LF that the plain rules begin it with. So every line the plain rules deliver,
// every $GP sentence among them, comes at the same byte. This is checked at the real
// capacity and at a small one, where over-long lines are common.

#include "proto/Crlfproto.h"
#include "proto/Diagproto.h"
#include "proto/Memoutils.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

void CheckFrame(const DiagProto& diag) {
    const std::uint8_t* f = diag.GetMsg();
    const unsigned n = diag.GetMsgLen();
    Check(n >= kMinFrameLen && n <= kMaxFrameLen);
    Check(f[0] == '$' && f[1] == 'x' && f[3] == n && f[4] == 'x' && f[5] == '$');
    const std::uint16_t crc = CalcCrc(f, n - 4);
    Check(f[n - 4] == (crc & 0xFF) && f[n - 3] == (crc >> 8));
    Check(f[n - 2] == '\r' && f[n - 1] == '\n');
}

void CheckLine(const CRLFProto& line) {
    const std::uint8_t* l = line.GetMsg();
    const unsigned n = line.GetMsgLen();
    Check(n >= 2 && n <= kMaxLineLen);
    Check(l[n - 2] == '\r' && l[n - 1] == '\n');
}

// The plain line rules: Idle, InLine, AfterCR; after a CR any byte but LF abandons.
class PlainLines {
public:
    explicit PlainLines(unsigned capacity) : capacity_(capacity) {}

    // True when byte completes a line, which is then line().
    bool Feed(std::uint8_t byte) {
        if (state_ == 0 || line_.empty()) {
            state_ = 1;
            line_.clear();
        }
        if (line_.size() >= capacity_) {
            state_ = 0;
            return false;
        }
        line_.push_back(byte);
        if (state_ == 1) {
            state_ = byte == '\r' ? 2 : 1;
            return false;
        }
        state_ = 0;
        return byte == '\n';
    }
    const std::string& line() const { return line_; }

private:
    unsigned capacity_;
    int state_ = 0;
    std::string line_;
};

// What the line framer delivered at data[i] (got, or nothing) against the plain rules.
void CheckAgainstPlain(const std::uint8_t* data, std::size_t i, const std::string* got,
                       PlainLines& plain) {
    const bool plainDone = plain.Feed(data[i]);
    const std::string* want = plainDone ? &plain.line() : nullptr;
    if (got == nullptr && want == nullptr) {
        return;
    }
    if (got != nullptr && want != nullptr && *got == *want) {
        return;
    }
    const bool crCrLf = got != nullptr && want == nullptr && *got == "\r\n" && i >= 2 &&
                        data[i - 2] == '\r';
    const bool afterCrCrLf = got != nullptr && want != nullptr && *want == "\n" + *got;
    Check(crCrLf || afterCrCrLf);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Fresh framers for every input, so that each run can be reproduced from its input.
    DiagProto diag;
    CRLFProto line;
    PlainLines plain(kMaxLineLen);
    constexpr std::uint16_t kSmall = 12;
    std::uint8_t small[kSmall];
    LineFrameState smallState;
    PlainLines smallPlain(kSmall);
    std::string got;
    for (std::size_t i = 0; i < size; ++i) {
        if (diag.ProcessByte(data[i])) {
            CheckFrame(diag);
        }
        const bool lineDone = line.ProcessByte(data[i]);
        if (lineDone) {
            CheckLine(line);
            got.assign(reinterpret_cast<const char*>(line.GetMsg()), line.GetMsgLen());
        }
        CheckAgainstPlain(data, i, lineDone ? &got : nullptr, plain);

        const bool smallDone = FrameLineByte(data[i], smallState, small, kSmall) == kLineComplete;
        if (smallDone) {
            Check(smallState.count >= 2 && smallState.count <= kSmall);
            got.assign(reinterpret_cast<const char*>(small), smallState.count);
        }
        CheckAgainstPlain(data, i, smallDone ? &got : nullptr, smallPlain);
    }
    return 0;
}
