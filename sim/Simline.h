#pragma once
// The serial line between the simulated receiver and the PC: baud rates, the time a
// byte takes on the wire, and what a UART receives when the two ends run at different
// rates.
//
// A real receiver and PC that disagree on the rate do not exchange silence: the
// receiving UART still finds start bits and samples data bits, only at the wrong
// moments, so it delivers bytes that have little to do with what was sent (fewer bytes
// when it runs slower than the sender, more when it runs faster). GarbleForRate plays
// that back bit by bit, so what the PC reads on a mismatched line looks like a real
// mismatched line rather than a fixed pattern.

#include <cstddef>
#include <cstdint>
#include <vector>

#include <termios.h>

// Rates the receiver's port accepts.
inline constexpr std::uint32_t kSimRates[] = {4800, 9600, 19200, 38400, 57600, 115200};

bool IsSimRate(std::uint32_t rate);

// The rate named by a termios speed constant; 0 for B0 and for constants not known here.
std::uint32_t RateFromSpeed(speed_t speed);
// The termios constant of a rate; false for a rate the terminal interface does not name.
bool SpeedFromRate(std::uint32_t rate, speed_t& speed);

// Nanoseconds one byte takes on the line at this rate: a start bit, eight data bits and
// a stop bit. A rate of 0 counts as the slowest supported one.
std::int64_t ByteTimeNs(std::uint32_t rate);

// Appends to out what a UART receiving at rxRate reads when the bytes in[0..n) are sent
// back to back at txRate after an idle line. The result never contains "$", so a
// mismatched line can never produce a binary frame or a sentence start; a UART that
// would have read one delivers the same byte with its high bit set instead. An rxRate
// of 0 (the PC has hung up the line) reads nothing.
void GarbleForRate(const std::uint8_t* in, std::size_t n, std::uint32_t txRate,
                   std::uint32_t rxRate, std::vector<std::uint8_t>& out);
