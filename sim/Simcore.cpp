#include "sim/Simcore.h"

#include "sim/Simline.h"

#include <algorithm>

namespace {

// The settings the receiver starts with: a rate or navigation rate it does not have
// gives way to its default.
SimSettings StartSettings(const SimOptions& options) {
    SimSettings s = options;
    if (!IsSimRate(s.baudRate)) {
        s.baudRate = SimSettings().baudRate;
    }
    if (s.navRate != 1 && s.navRate != 5) {
        s.navRate = 1;
    }
    return s;
}

} // namespace

SimCore::SimCore(const SimOptions& options)
    : options_(options), settings_(StartSettings(options)), journal_(options_),
      output_(options_, journal_, settings_.baudRate), engine_(options_, journal_),
      commands_(options_, settings_, engine_, output_, journal_),
      fixes_(options_, settings_, output_, commands_), loader_(options_, journal_, output_) {}

SimOptions SimCore::Options() const {
    SimOptions o = options_;
    static_cast<SimSettings&>(o) = settings_;
    o.version = engine_.Version();
    return o;
}

void SimCore::Configure(const std::function<void(SimOptions&)>& change) {
    SimOptions o = Options();
    change(o);
    const std::uint32_t rate = settings_.baudRate;
    settings_ = o;
    settings_.baudRate = rate;
    engine_.SetVersion(o.version);
    options_ = o;
}

void SimCore::SetLineRate(std::uint32_t rate) {
    if (!IsSimRate(rate)) {
        return;
    }
    settings_.baudRate = rate;
    if (!loader_.Active()) {
        output_.SetRate(rate);
    }
}

void SimCore::SetDropAck(std::uint32_t record, bool always) {
    options_.dropAckRecord = record;
    options_.dropAckAlways = always;
    loader_.ArmDropAck();
}

std::size_t SimCore::Receive(const std::uint8_t* data, std::size_t n, SimTime now) {
    if (Silent()) {
        return n;
    }
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t rateBefore = output_.Rate();
        if (loader_.Active()) {
            if (loader_.Receive(data[i], now)) {
                LeaveLoader(now);
            }
        } else if (commands_.Receive(data[i])) {
            StartLoader(now);
        }
        if (output_.Rate() != rateBefore) {
            return i + 1;
        }
    }
    return n;
}

void SimCore::NotUnderstood(std::size_t n) {
    if (n > 0) {
        journal_.NotUnderstood(n, loader_.Active(), output_.Rate());
    }
}

void SimCore::StartLoader(SimTime now) {
    const std::uint32_t was = output_.Rate();
    output_.SetRate(kLoaderRate);
    // What was waiting to go out at the old rate is lost when the loader takes over.
    output_.Clear();
    loader_.Start(now, was);
}

void SimCore::LeaveLoader(SimTime now) {
    const bool erased = loader_.Leave();
    output_.SetRate(settings_.baudRate);
    output_.ClearScheduled();
    commands_.Reset();
    fixes_.Reset();
    if (erased) {
        engine_.StartDownload(now);
        journal_.Log("loader left; GPS engine download of " +
                     std::to_string(loader_.Records().size()) + " records started");
    } else {
        journal_.Log("loader left");
    }
    journal_.Log("line rate back to " + std::to_string(output_.Rate()));
}

void SimCore::PowerCycle(SimTime) {
    ++powerCycles_;
    output_.Clear();
    if (loader_.Active()) {
        output_.SetRate(settings_.baudRate);
    }
    loader_.PowerCycle();
    commands_.Reset();
    fixes_.Reset();
    engine_.PowerCycle();
    journal_.Log("power cycled: version " + engine_.Version().Text() + ", engine status " +
                 std::to_string(engine_.Status()) + ", " + std::to_string(output_.Rate()) +
                 " baud");
}

void SimCore::Advance(SimTime now, WallTime wall) {
    if (Silent()) {
        return;
    }
    engine_.Update(now);
    loader_.FinishDue(now);
    output_.SendDue(now);
    if (!loader_.Active()) {
        fixes_.Advance(now, wall);
    }
}

SimTime SimCore::NextDue() const {
    if (Silent()) {
        return SimTime::max();
    }
    SimTime due = std::min({output_.NextDue(), loader_.NextDue(), engine_.NextDue()});
    if (!loader_.Active()) {
        due = std::min(due, fixes_.NextDue());
    }
    return due;
}

SimStatus SimCore::Status() const {
    SimStatus s;
    s.lineRate = output_.Rate();
    s.configuredRate = settings_.baudRate;
    s.loaderActive = loader_.Active();
    s.nmeaFlags = settings_.nmeaFlags;
    s.binaryFlags = settings_.binaryFlags;
    s.navRate = settings_.navRate;
    s.alternateFrequency = settings_.alternateFrequency;
    s.channel = settings_.ChannelInForce();
    s.waasState = settings_.WaasState(options_.waasAvailable);
    s.correctionsOn = settings_.correctionsOn;
    s.engineStatus = engine_.Status();
    s.version = engine_.Version();
    s.recordCount = loader_.Records().size();
    s.recordDigest = loader_.Digest();
    s.framesReceived = journal_.FramesReceived();
    s.bytesNotUnderstood = journal_.BytesNotUnderstood();
    s.fixes = fixes_.Count();
    s.bytesQueued = output_.Queued();
    s.powerCycles = powerCycles_;
    return s;
}
