// Feeds arbitrary bytes to the two framers the way the reader does (binary framer first,
// then the line framer) and checks what they deliver: a frame is exactly N bytes with
// its markers, a matching CRC and CR LF; a line ends in CR LF and fits its buffer.

#include "proto/Crlfproto.h"
#include "proto/Diagproto.h"
#include "proto/Memoutils.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Fresh framers for every input, so that each run can be reproduced from its input.
    DiagProto diag;
    CRLFProto line;
    for (std::size_t i = 0; i < size; ++i) {
        if (diag.ProcessByte(data[i])) {
            CheckFrame(diag);
        }
        if (line.ProcessByte(data[i])) {
            CheckLine(line);
        }
    }
    return 0;
}
