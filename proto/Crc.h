#pragma once
// Frame checksum of the receiver's binary protocol: CRC-16 with polynomial 0x1021,
// initial value 0xFFFF, no reflection and no final XOR (the variant catalogued as
// CRC-16/IBM-3740 or CCITT-FALSE; check value 0x29B1 over "123456789"). It is computed
// byte by byte through a 256-entry table; entry i is the register after the byte i,
// placed in the high half, has been shifted through eight steps of the polynomial.
// A frame carries it low byte first.

#include <cstddef>
#include <cstdint>

inline constexpr std::uint16_t kCrcInitial = 0xFFFF;

extern const std::uint16_t CrcTable[256];

// One step: feeds one byte into the register.
inline std::uint16_t CrcUpdate(std::uint16_t crc, std::uint8_t byte) {
    return static_cast<std::uint16_t>(CrcTable[((crc >> 8) ^ byte) & 0xFF] ^ (crc << 8));
}

// The CRC of count bytes starting at data, from the initial value.
std::uint16_t CalcCrc(const std::uint8_t* data, std::size_t count);
