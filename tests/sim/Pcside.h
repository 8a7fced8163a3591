#pragma once
// The PC's end of a simulated receiver's line in tests: the project's own SerialPort and
// framers, fed the way the main window feeds them (every byte to the binary framer, then
// to the line framer), keeping every frame, every line and the raw bytes.

#include "proto/Crlfproto.h"
#include "proto/Diagproto.h"
#include "proto/Memoutils.h"
#include "serial/Serialport.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

class PcSide {
public:
    using Bytes = std::vector<std::uint8_t>;

    bool Open(const std::string& device, std::uint32_t rate) {
        return port.Open(device.c_str(), rate, 0);
    }
    // As the program changes rate around the loader: close, then open at the new rate.
    bool Reopen(const std::string& device, std::uint32_t rate) {
        port.Close();
        return Open(device, rate);
    }
    void Send(const Bytes& bytes) {
        port.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    }
    void Send(const std::string& text) {
        port.Write(reinterpret_cast<const std::uint8_t*>(text.data()),
                   static_cast<std::uint32_t>(text.size()));
    }
    void SendRequest(std::uint8_t id) {
        std::uint8_t frame[kRequestMsgLen];
        Send(Bytes(frame, frame + BuildRequestMsg(id, frame)));
    }

    // Reads for the given time.
    void Pump(std::chrono::milliseconds duration) {
        PumpUntil([] { return false; }, duration);
    }
    // Reads until the condition holds (checked after every read) or the time runs out.
    bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (done()) {
                return true;
            }
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline) {
                return false;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
            std::uint8_t buffer[1024];
            std::uint32_t got = 0;
            if (!port.IsOpen() ||
                !port.Read(buffer, sizeof buffer, got,
                           static_cast<std::uint32_t>(std::min<long long>(left, 20)))) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                got = 0;
            }
            for (std::uint32_t i = 0; i < got; ++i) {
                raw.push_back(static_cast<char>(buffer[i]));
                if (diag.ProcessByte(buffer[i])) {
                    frames.emplace_back(diag.GetMsg(), diag.GetMsg() + diag.GetMsgLen());
                }
                if (lines.ProcessByte(buffer[i])) {
                    texts.emplace_back(reinterpret_cast<const char*>(lines.GetMsg()),
                                       lines.GetMsgLen());
                }
            }
        }
    }

    // Frames of one id received so far.
    std::vector<Bytes> FramesOf(std::uint8_t id) const {
        std::vector<Bytes> out;
        for (const Bytes& f : frames) {
            if (f[kFrameIdOffset] == id) {
                out.push_back(f);
            }
        }
        return out;
    }
    // Lines that begin with "$GP", the ones the program shows.
    std::vector<std::string> GpLines() const {
        std::vector<std::string> out;
        for (const std::string& t : texts) {
            if (t.rfind("$GP", 0) == 0) {
                out.push_back(t);
            }
        }
        return out;
    }
    void Forget() {
        frames.clear();
        texts.clear();
        raw.clear();
    }

    SerialPort port;
    DiagProto diag;
    CRLFProto lines;
    std::vector<Bytes> frames;
    std::vector<std::string> texts;
    std::string raw;
};
