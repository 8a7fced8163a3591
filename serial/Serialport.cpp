// What the serial port does alike on every system.
#include "serial/Serialport.h"

std::chrono::milliseconds SerialPort::DrainLimit(std::uint32_t queuedBytes, std::uint32_t rate,
                                                 unsigned bitsPerChar) {
    const std::uint64_t lineMs =
        rate == 0 ? 0 : (std::uint64_t{queuedBytes} * bitsPerChar * 1000 + rate - 1) / rate;
    return std::chrono::milliseconds(lineMs + 1000);
}
