#include "proto/Crlfproto.h"

#include <algorithm>
#include <cstring>

CRLFProto::CRLFProto() {
    Reset();
}

void CRLFProto::Reset() {
    state_.state = LineState::Idle;
    state_.afterCrCrLf = false;
}

unsigned CRLFProto::CopyMsg(std::uint8_t* dest, unsigned maxCount) {
    const unsigned length = state_.count;
    const unsigned n = std::min(length, maxCount);
    if (n > 0) {
        std::memcpy(dest, buffer_, n);
    }
    return length;
}
