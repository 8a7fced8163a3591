#pragma once
// What the serial port's tests on either system need around the port: its bytes as text,
// text written through it, and time since a start.

#include "serial/Serialport.h"

#include <chrono>
#include <cstdint>
#include <string>

inline std::string AsText(const std::uint8_t* bytes, std::uint32_t count) {
    return std::string(reinterpret_cast<const char*>(bytes), count);
}

inline bool WriteText(SerialPort& port, const std::string& text) {
    return port.Write(reinterpret_cast<const std::uint8_t*>(text.data()),
                      static_cast<std::uint32_t>(text.size()));
}

inline double MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}
