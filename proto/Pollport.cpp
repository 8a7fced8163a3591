#include "proto/Pollport.h"

#include <algorithm>

namespace {

// One step; read tells how many bytes it took.
PollResult PollOnce(SerialPort& port, DiagProto& diag, CRLFProto& line,
                    std::span<std::uint8_t> buffer, PollSink& sink, std::uint32_t& read) {
    read = 0;
    if (!port.IsOpen()) {
        return PollResult::NotOpen;
    }
    const auto capacity = static_cast<std::uint32_t>(std::min(buffer.size(), kPollBlockSize));
    std::uint32_t received = 0;
    // No wait at all, whichever time-out set the port is in: a step never blocks.
    if (!port.Read(buffer.data(), capacity, received, 0)) {
        if (port.HungUp()) {
            port.Close();
            sink.PortHungUp();
            return PollResult::HungUp;
        }
        received = 0;
    }
    received = std::min(received, capacity);
    if (received > 0) {
        sink.BytesReceived(buffer.data(), received);
    }
    for (std::uint32_t i = 0; i < received; ++i) {
        const std::uint8_t b = buffer[i];
        if (diag.ProcessByte(b)) {
            sink.FrameReceived(diag.GetMsg(), diag.GetMsgLen());
        }
        if (line.ProcessByte(b)) {
            sink.LineReceived(line.GetMsg(), line.GetMsgLen());
        }
    }
    read = received;
    return PollResult::Polled;
}

} // namespace

PollResult PollPort(SerialPort& port, DiagProto& diag, CRLFProto& line,
                    std::span<std::uint8_t> buffer, PollSink& sink) {
    std::uint32_t read = 0;
    return PollOnce(port, diag, line, buffer, sink, read);
}

PollResult PollPortMany(SerialPort& port, DiagProto& diag, CRLFProto& line,
                        std::span<std::uint8_t> buffer, PollSink& sink, std::size_t maxBytes) {
    std::size_t total = 0;
    std::uint32_t read = 0;
    PollResult result = PollOnce(port, diag, line, buffer, sink, read);
    total += read;
    while (result == PollResult::Polled && read > 0 && total < maxBytes) {
        result = PollOnce(port, diag, line, buffer, sink, read);
        total += read;
    }
    return result;
}
