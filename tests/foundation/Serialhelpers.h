#pragma once
// What the serial port's tests on either system need around the port: its bytes as text,
// text written through it, time since a start, and the checks of a closed port.

#include "serial/Serialport.h"

#include <gtest/gtest.h>

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

// A port that is closed (never opened, or closed twice after an open of device) refuses
// reads, writes and a rate change, and opens again afterwards.
inline void ExpectClosedPortRefusesIoAndReopens(SerialPort& port, const char* device) {
    port.Close();
    std::uint8_t buffer[8] = {};
    std::uint32_t received = 5;
    std::uint32_t written = 5;
    EXPECT_FALSE(port.Read(buffer, sizeof buffer, received, 10));
    EXPECT_EQ(received, 0u);
    EXPECT_FALSE(port.Write(buffer, sizeof buffer, &written));
    EXPECT_EQ(written, 0u);
    EXPECT_FALSE(port.SetBaudRate(9600));
    port.Purge();

    ASSERT_TRUE(port.Open(device, 19200, 0));
    port.Close();
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.Write(buffer, sizeof buffer, &written));
    EXPECT_TRUE(port.Open(device, 19200, 0)) << port.errorText();
}
