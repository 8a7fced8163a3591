#include "serial/Rfc2217.h"

namespace rfc2217 {

void AppendData(std::vector<std::uint8_t>& out, const std::uint8_t* data, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        out.push_back(data[i]);
        if (data[i] == telnet::kIac) {
            out.push_back(telnet::kIac);
        }
    }
}

void AppendNegotiation(std::vector<std::uint8_t>& out, std::uint8_t verb, std::uint8_t option) {
    out.insert(out.end(), {telnet::kIac, verb, option});
}

void AppendComPort(std::vector<std::uint8_t>& out, std::uint8_t command,
                   const std::uint8_t* value, std::size_t n) {
    out.insert(out.end(), {telnet::kIac, telnet::kSb, telnet::kComPort});
    AppendData(out, &command, 1);
    AppendData(out, value, n);
    out.insert(out.end(), {telnet::kIac, telnet::kSe});
}

void AppendSetBaudRate(std::vector<std::uint8_t>& out, std::uint32_t rate) {
    const std::uint8_t value[4] = {static_cast<std::uint8_t>(rate >> 24),
                                   static_cast<std::uint8_t>(rate >> 16),
                                   static_cast<std::uint8_t>(rate >> 8),
                                   static_cast<std::uint8_t>(rate)};
    AppendComPort(out, telnet::kSetBaudRate, value, sizeof value);
}

void AppendComPortByte(std::vector<std::uint8_t>& out, std::uint8_t command, std::uint8_t value) {
    AppendComPort(out, command, &value, 1);
}

std::vector<std::uint8_t> Greeting() {
    std::vector<std::uint8_t> out;
    AppendNegotiation(out, telnet::kWill, telnet::kComPort);
    AppendNegotiation(out, telnet::kWill, telnet::kBinary);
    AppendNegotiation(out, telnet::kDo, telnet::kBinary);
    AppendNegotiation(out, telnet::kWill, telnet::kSuppressGoAhead);
    AppendNegotiation(out, telnet::kDo, telnet::kSuppressGoAhead);
    return out;
}

} // namespace rfc2217

void TelnetDecoder::Feed(const std::uint8_t* in, std::size_t n, std::vector<std::uint8_t>& data) {
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t c = in[i];
        switch (state_) {
        case State::Data:
            if (c == telnet::kIac) {
                state_ = State::Iac;
            } else {
                data.push_back(c);
            }
            break;
        case State::Iac:
            switch (c) {
            case telnet::kIac: // an escaped data byte
                data.push_back(c);
                state_ = State::Data;
                break;
            case telnet::kWill:
            case telnet::kWont:
            case telnet::kDo:
            case telnet::kDont:
                verb_ = c;
                state_ = State::Negotiation;
                break;
            case telnet::kSb:
                subLength_ = 0;
                subOverflow_ = false;
                state_ = State::Sub;
                break;
            default: // NOP, GA, a stray SE, or a command a line has no use for
                state_ = State::Data;
                break;
            }
            break;
        case State::Negotiation:
            Negotiate(verb_, c);
            state_ = State::Data;
            break;
        case State::Sub:
            if (c == telnet::kIac) {
                state_ = State::SubIac;
            } else if (subLength_ < kSubRoom) {
                sub_[subLength_++] = c;
            } else {
                subOverflow_ = true;
            }
            break;
        case State::SubIac:
            if (c == telnet::kSe) {
                EndSub();
                state_ = State::Data;
            } else if (c == telnet::kIac) {
                if (subLength_ < kSubRoom) {
                    sub_[subLength_++] = c;
                } else {
                    subOverflow_ = true;
                }
                state_ = State::Sub;
            } else {
                // Not an end, not an escaped 255: the subnegotiation is broken off and
                // the byte read as a command, as a server that lost its place means it.
                state_ = State::Iac;
                --i;
            }
            break;
        }
    }
}

std::vector<std::uint8_t> TelnetDecoder::TakeAnswers() {
    std::vector<std::uint8_t> out;
    out.swap(answers_);
    return out;
}

void TelnetDecoder::Negotiate(std::uint8_t verb, std::uint8_t option) {
    using telnet::kDo;
    using telnet::kDont;
    using telnet::kWill;
    using telnet::kWont;
    const bool yes = verb == kWill || verb == kDo;
    switch (option) {
    case telnet::kBinary:
        // Both ways were asked for in the greeting; the answers settle them.
        (verb == kWill || verb == kWont ? binaryFromServer_ : binaryToServer_) =
            yes ? Agreement::Yes : Agreement::No;
        return;
    case telnet::kSuppressGoAhead:
        if (verb == kWill || verb == kWont) {
            goAheadFromServer_ = yes ? Agreement::Yes : Agreement::No;
        }
        return;
    case telnet::kComPort:
        if (verb == kDo || verb == kDont) {
            comPort_ = yes ? Agreement::Yes : Agreement::No;
        }
        // The server offering the option the other way needs no answer of ours.
        return;
    default:
        if (yes) {
            Refuse(verb, option);
        }
        return;
    }
}

void TelnetDecoder::Refuse(std::uint8_t verb, std::uint8_t option) {
    // Each refusal goes once: a server asking again after a refusal gets no new answer,
    // so the two sides cannot talk each other into a loop.
    const std::size_t bit = static_cast<std::size_t>(option) * 2 + (verb == telnet::kDo ? 1 : 0);
    if (refused_[bit / 64] & (std::uint64_t{1} << (bit % 64))) {
        return;
    }
    refused_[bit / 64] |= std::uint64_t{1} << (bit % 64);
    rfc2217::AppendNegotiation(answers_, verb == telnet::kWill ? telnet::kDont : telnet::kWont,
                               option);
}

void TelnetDecoder::EndSub() {
    if (subOverflow_ || subLength_ < 2 || sub_[0] != telnet::kComPort ||
        sub_[1] < telnet::kServerOffset) {
        return; // not an answer to one of our commands, or too long to be one
    }
    const std::uint8_t command = static_cast<std::uint8_t>(sub_[1] - telnet::kServerOffset);
    const std::uint8_t* value = sub_ + 2;
    const std::size_t length = subLength_ - 2;
    std::uint32_t v = 0;
    if (length == 1) {
        v = value[0];
    } else if (length >= 4) {
        v = (std::uint32_t{value[0]} << 24) | (std::uint32_t{value[1]} << 16) |
            (std::uint32_t{value[2]} << 8) | value[3];
    }
    answer_.command = command;
    answer_.value = v;
    ++answer_.count;
    if (command < kCommands) {
        ++answersTo_[command];
    }
}
