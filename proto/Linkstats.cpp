#include "proto/Linkstats.h"
#include "proto/Nmea.h"

#include "proto/Memoutils.h"
#include "proto/Numbertext.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// Whole seconds of a time in milliseconds, rounded down also before 1970.
std::int64_t SecondOf(std::int64_t ms) {
    return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
}

bool IsCapital(std::uint8_t c) {
    return c >= 'A' && c <= 'Z';
}

enum class LineKind { Sentence, Refused, NotSentence };

// What a line is, by the rules of the header; its CR LF taken off already.
LineKind Classify(const std::uint8_t* line, std::size_t n) {
    if (n < 6 || line[0] != '$' || line[1] != 'G' || line[2] != 'P' || !IsCapital(line[3]) ||
        !IsCapital(line[4]) || !IsCapital(line[5]) || (n > 6 && line[6] != ',' && line[6] != '*')) {
        return LineKind::NotSentence;
    }
    const void* star = std::memchr(line + 1, '*', n - 1);
    if (star == nullptr) {
        return LineKind::Sentence;
    }
    const std::size_t at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(star) - line);
    std::uint8_t sum = 0;
    for (std::size_t i = 1; i < at; ++i) {
        sum ^= line[i];
    }
    return NmeaChecksumMatches(line + at, n - at, sum) ? LineKind::Sentence : LineKind::Refused;
}

std::string IdName(int id) {
    return "ID " + std::to_string(id);
}

std::string Padded(const std::string& text, std::size_t width) {
    return text.size() < width ? text + std::string(width - text.size(), ' ') : text + " ";
}

std::string RightAligned(const std::string& text, std::size_t width) {
    return text.size() < width ? std::string(width - text.size(), ' ') + text : text;
}

} // namespace

std::size_t LinkStats::Slot(std::int64_t nowMs) {
    const std::int64_t second = SecondOf(nowMs);
    if (!started_) {
        started_ = true;
        firstSecond_ = second;
    }
    constexpr auto slots = static_cast<std::int64_t>(kSlots);
    const std::int64_t r = second % slots;
    const std::size_t slot = static_cast<std::size_t>(r < 0 ? r + slots : r);
    if (slotSecond_[slot] != second) {
        slotSecond_[slot] = second;
        for (std::size_t i = 0; i < sentenceTypes_; ++i) {
            sentences_[i].perSecond[slot] = 0;
        }
        otherSentences_.perSecond[slot] = 0;
        for (std::size_t i = 0; i < idsSeen_; ++i) {
            ids_[idOrder_[i]].perSecond[slot] = 0;
        }
        bytes_.perSecond[slot] = 0;
    }
    return slot;
}

void LinkStats::Add(Counter& counter, std::size_t slot) {
    ++counter.count;
    ++counter.perSecond[slot];
}

double LinkStats::Rate(const Counter& counter, std::int64_t nowMs) const {
    if (!started_) {
        return 0.0;
    }
    const std::int64_t second = SecondOf(nowMs);
    const std::int64_t from = std::max(firstSecond_ + 1, second - kRateSeconds);
    if (second <= from) {
        return 0.0;
    }
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < kSlots; ++i) {
        if (slotSecond_[i] >= from && slotSecond_[i] < second) {
            sum += counter.perSecond[i];
        }
    }
    return static_cast<double>(sum) / static_cast<double>(second - from);
}

LinkStats::Counter& LinkStats::SentenceCounter(const std::uint8_t* name) {
    for (std::size_t i = 0; i < sentenceTypes_; ++i) {
        if (std::memcmp(sentenceNames_[i].data(), name, 3) == 0) {
            return sentences_[i];
        }
    }
    if (sentenceTypes_ == kMaxSentenceTypes) {
        return otherSentences_;
    }
    std::memcpy(sentenceNames_[sentenceTypes_].data(), name, 3);
    // A counter taken into use starts empty in every second, whatever its slots held.
    sentences_[sentenceTypes_] = Counter{};
    return sentences_[sentenceTypes_++];
}

void LinkStats::BytesReceived(std::size_t n, std::int64_t nowMs) {
    if (n == 0) {
        return;
    }
    const std::size_t slot = Slot(nowMs);
    bytes_.count += n;
    bytes_.perSecond[slot] += static_cast<std::uint32_t>(n);
    byteSeen_ = true;
    lastByteMs_ = nowMs;
}

void LinkStats::FrameReceived(const std::uint8_t* frame, std::size_t length, std::int64_t nowMs) {
    if (length <= kFrameIdOffset) {
        return; // the framer hands over whole frames only; nothing shorter is one
    }
    CountFrame(frame[kFrameIdOffset], nowMs);

    // The lines held that lie within the frame are its parts; the others were lines.
    const std::uint8_t* end = frame + length;
    std::size_t start = 0;
    for (std::size_t i = 0; i < heldLines_; ++i) {
        const std::uint8_t* first = held_.data() + start;
        const std::uint8_t* last = held_.data() + heldEnds_[i];
        if (std::search(frame, end, first, last) == end) {
            ++notSentences_;
        }
        start = heldEnds_[i];
    }
    heldLines_ = 0;
    frameLength_ = std::min(length, frame_.size());
    std::memcpy(frame_.data(), end - frameLength_, frameLength_);
}

void LinkStats::FrameReceived(std::uint8_t id, std::int64_t nowMs) {
    CountFrame(id, nowMs);
    CountHeld();
    frameLength_ = 0;
    frameUnseen_ = true;
}

void LinkStats::CountFrame(std::uint8_t id, std::int64_t nowMs) {
    const std::size_t slot = Slot(nowMs);
    Counter& counter = ids_[id];
    if (counter.count == 0) {
        counter = Counter{};
        idOrder_[idsSeen_++] = id;
    }
    Add(counter, slot);
    frameUnseen_ = false;
}

void LinkStats::CountHeld() {
    notSentences_ += heldLines_;
    heldLines_ = 0;
}

void LinkStats::LineReceived(const std::uint8_t* line, std::size_t length, std::int64_t nowMs) {
    const std::size_t slot = Slot(nowMs);
    const std::size_t frameLength = std::exchange(frameLength_, 0);
    const bool frameUnseen = std::exchange(frameUnseen_, false);
    std::size_t n = length;
    if (n >= 2 && line[n - 2] == '\r' && line[n - 1] == '\n') {
        n -= 2;
    }
    switch (Classify(line, n)) {
    case LineKind::Sentence:
        CountHeld();
        Add(SentenceCounter(line + 3), slot);
        break;
    case LineKind::Refused:
        CountHeld();
        ++checksumRefused_;
        break;
    case LineKind::NotSentence: {
        const bool endsFrame =
            length <= frameLength &&
            std::memcmp(frame_.data() + (frameLength - length), line, length) == 0;
        if (endsFrame || frameUnseen) {
            break; // the end of the frame just completed
        }
        if (length > held_.size()) {
            ++notSentences_; // longer than any frame
            break;
        }
        std::size_t used = heldLines_ > 0 ? heldEnds_[heldLines_ - 1] : 0;
        if (used + length > held_.size() || heldLines_ == heldEnds_.size()) {
            CountHeld();
            used = 0;
        }
        std::memcpy(held_.data() + used, line, length);
        heldEnds_[heldLines_++] = static_cast<std::uint8_t>(used + length);
        break;
    }
    }
}

std::vector<LinkStats::Entry> LinkStats::Sentences(std::int64_t nowMs) const {
    std::vector<Entry> out;
    out.reserve(sentenceTypes_ + 1);
    for (std::size_t i = 0; i < sentenceTypes_; ++i) {
        out.push_back({std::string(sentenceNames_[i].data(), 3), sentences_[i].count,
                       Rate(sentences_[i], nowMs)});
    }
    if (otherSentences_.count > 0) {
        out.push_back({"other", otherSentences_.count, Rate(otherSentences_, nowMs)});
    }
    return out;
}

std::vector<LinkStats::Entry> LinkStats::Binary(std::int64_t nowMs) const {
    std::vector<Entry> out;
    out.reserve(idsSeen_);
    for (std::size_t i = 0; i < idsSeen_; ++i) {
        const Counter& counter = ids_[idOrder_[i]];
        out.push_back({IdName(idOrder_[i]), counter.count, Rate(counter, nowMs)});
    }
    return out;
}

std::uint64_t LinkStats::ChecksumRefused() const {
    return checksumRefused_;
}

std::uint64_t LinkStats::NotSentences() const {
    return notSentences_ + heldLines_;
}

std::uint64_t LinkStats::Bytes() const {
    return bytes_.count;
}

double LinkStats::BytesPerSecond(std::int64_t nowMs) const {
    return Rate(bytes_, nowMs);
}

std::optional<std::int64_t> LinkStats::MsSinceLastByte(std::int64_t nowMs) const {
    if (!byteSeen_) {
        return std::nullopt;
    }
    return std::max<std::int64_t>(0, nowMs - lastByteMs_);
}

void LinkStats::Reset() {
    sentenceTypes_ = 0;
    otherSentences_ = Counter{};
    for (std::size_t i = 0; i < idsSeen_; ++i) {
        ids_[idOrder_[i]] = Counter{};
    }
    idsSeen_ = 0;
    bytes_ = Counter{};
    checksumRefused_ = 0;
    notSentences_ = 0;
    slotSecond_ = {};
    started_ = false;
    firstSecond_ = 0;
    byteSeen_ = false;
    lastByteMs_ = 0;
    heldLines_ = 0;
    frameLength_ = 0;
    frameUnseen_ = false;
}

void LinkStats::WriteText(std::ostream& out, std::int64_t nowMs) const {
    constexpr std::size_t kName = 12;
    constexpr std::size_t kCount = 12;
    constexpr std::size_t kRate = 12;
    const auto table = [&](const char* title, const std::vector<Entry>& entries) {
        if (entries.empty()) {
            out << title << ": none\n";
            return;
        }
        out << Padded(title, kName + 2) << RightAligned("count", kCount)
            << RightAligned("per second", kRate) << "\n";
        for (const Entry& e : entries) {
            out << "  " << Padded(e.name, kName) << RightAligned(std::to_string(e.count), kCount)
                << RightAligned(FixedText(e.rate, 1), kRate) << "\n";
        }
    };
    table("Sentences", Sentences(nowMs));
    table("Binary", Binary(nowMs));
    out << "Refused by checksum: " << std::to_string(checksumRefused_) << "\n"
        << "Not sentences: " << std::to_string(NotSentences()) << "\n"
        << "Bytes: " << std::to_string(bytes_.count) << ", " << FixedText(BytesPerSecond(nowMs), 1)
        << " per second\n"
        << "Last byte: ";
    const std::optional<std::int64_t> since = MsSinceLastByte(nowMs);
    if (since) {
        out << FixedText(static_cast<double>(*since) / 1000.0, 1) << " s ago\n";
    } else {
        out << "none yet\n";
    }
}

void LinkStats::WriteJson(std::ostream& out, std::int64_t nowMs) const {
    // Integers by to_string: the stream's locale must not group their digits. Names are
    // three capital letters or "other": nothing in them needs escaping.
    out << "{\"type\": \"stats\", \"time_ms\": " << std::to_string(nowMs) << ", \"sentences\": [";
    const std::vector<Entry> sentences = Sentences(nowMs);
    for (std::size_t i = 0; i < sentences.size(); ++i) {
        out << (i > 0 ? ", " : "") << "{\"name\": \"" << sentences[i].name
            << "\", \"count\": " << std::to_string(sentences[i].count)
            << ", \"rate\": " << FixedText(sentences[i].rate, 2) << "}";
    }
    out << "], \"binary\": [";
    for (std::size_t i = 0; i < idsSeen_; ++i) {
        const Counter& counter = ids_[idOrder_[i]];
        out << (i > 0 ? ", " : "") << "{\"id\": " << std::to_string(idOrder_[i])
            << ", \"count\": " << std::to_string(counter.count)
            << ", \"rate\": " << FixedText(Rate(counter, nowMs), 2) << "}";
    }
    const std::optional<std::int64_t> since = MsSinceLastByte(nowMs);
    out << "], \"checksum_refused\": " << std::to_string(checksumRefused_)
        << ", \"not_sentences\": " << std::to_string(NotSentences())
        << ", \"bytes\": " << std::to_string(bytes_.count)
        << ", \"bytes_per_second\": " << FixedText(BytesPerSecond(nowMs), 2)
        << ", \"ms_since_last_byte\": " << (since ? std::to_string(*since) : std::string("null"))
        << "}\n";
}
