#include "proto/Traffic.h"

#include "proto/Memoutils.h"
#include "proto/Sentencetext.h"

void TrafficCount::Count() {
    count_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(count_) + 1u);
}

void TrafficCount::CountFrame(const std::uint8_t* frame, std::size_t length) {
    if (length <= kFrameIdOffset) {
        return; // the framer hands over whole frames only; nothing shorter is a message
    }
    Count();
    lastId_ = frame[kFrameIdOffset];
}

bool TrafficCount::CountLine(const std::uint8_t* line, std::size_t length,
                             std::string_view& sentence) {
    if (!ReceivedSentence(line, length, sentence)) {
        return false;
    }
    Count();
    return true;
}
