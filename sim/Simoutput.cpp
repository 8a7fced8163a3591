#include "sim/Simoutput.h"

#include "proto/Memoutils.h"

#include <algorithm>

namespace {

// A random byte that is never the start of a frame or a sentence.
std::uint8_t NotDollar(std::uint64_t random) {
    const auto b = static_cast<std::uint8_t>(random);
    return b == '$' ? static_cast<std::uint8_t>('$' ^ 0x80) : b;
}

} // namespace

SimOutput::SimOutput(const SimOptions& options, SimJournal& journal, std::uint32_t rate)
    : options_(options), journal_(journal), rate_(rate),
      rng_(options.seed ^ 0x5eed5eed5eed5eedULL) {}

std::uint64_t SimOutput::Random() {
    std::uint64_t z = (rng_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

bool SimOutput::Queue(const std::uint8_t* data, std::size_t n, bool reply) {
    const std::size_t perSecond = rate_ / 10;
    const std::size_t room = reply ? 2 * perSecond : perSecond;
    if (bytes_.size() + n > room) {
        journal_.Log("output buffer full: " + std::to_string(n) + " bytes dropped");
        return false;
    }
    bytes_.insert(bytes_.end(), data, data + n);
    queued_ += n;
    return true;
}

void SimOutput::QueueSentence(const std::string& sentence) {
    QueueNoise();
    Queue(reinterpret_cast<const std::uint8_t*>(sentence.data()), sentence.size(), false);
}

bool SimOutput::QueueFrame(std::uint8_t id, const std::uint8_t* payload, std::size_t n,
                           bool reply) {
    std::uint8_t frame[kMaxFrameLen];
    const std::uint8_t len = BuildMsg(id, payload, n, frame);
    if (len == 0) {
        return false;
    }
    QueueNoise();
    return Queue(frame, len, reply);
}

void SimOutput::QueueRandomFrame(std::uint8_t id, std::size_t n) {
    std::uint8_t p[kMaxPayloadLen];
    n = std::min(n, sizeof p);
    for (std::size_t i = 0; i < n; ++i) {
        p[i] = NotDollar(Random());
    }
    QueueFrame(id, p, n, false);
}

void SimOutput::QueueNoise() {
    if (!options_.noise || Random() % 3 != 0) {
        return;
    }
    std::uint8_t noise[8];
    const std::size_t n = 1 + Random() % sizeof noise;
    for (std::size_t i = 0; i < n; ++i) {
        noise[i] = NotDollar(Random());
    }
    Queue(noise, n, false);
}

void SimOutput::SendRaw(const std::uint8_t* data, std::size_t n) {
    bytes_.insert(bytes_.end(), data, data + n);
    queued_ += n;
}

void SimOutput::Schedule(SimTime due, std::string bytes) {
    // Kept in order of time; equal times keep the order they were scheduled in.
    auto at = std::upper_bound(scheduled_.begin(), scheduled_.end(), due,
                               [](SimTime t, const Scheduled& s) { return t < s.due; });
    scheduled_.insert(at, Scheduled{due, std::move(bytes)});
}

void SimOutput::SendDue(SimTime now) {
    std::size_t done = 0;
    while (done < scheduled_.size() && scheduled_[done].due <= now) {
        const std::string& s = scheduled_[done].bytes;
        Queue(reinterpret_cast<const std::uint8_t*>(s.data()), s.size(), true);
        ++done;
    }
    scheduled_.erase(scheduled_.begin(), scheduled_.begin() + static_cast<long>(done));
}

SimTime SimOutput::NextDue() const {
    return scheduled_.empty() ? SimTime::max() : scheduled_.front().due;
}

void SimOutput::Clear() {
    bytes_.clear();
    scheduled_.clear();
}
