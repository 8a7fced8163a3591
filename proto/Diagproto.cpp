#include "proto/Diagproto.h"

#include <algorithm>
#include <cstring>

DiagProto::DiagProto() {
    Reset();
}

void DiagProto::Reset() {
    state_.state = DiagState::Hunting;
}

unsigned DiagProto::CopyMsg(std::uint8_t* dest, unsigned maxCount) {
    const unsigned length = state_.length;
    const unsigned n = std::min(length, maxCount);
    if (n > 0) {
        std::memcpy(dest, buffer_, n);
    }
    return length;
}
