#pragma once
// A source of received bytes that a SerialPort can stand on instead of a device or a
// network server: a replayed recording. Whoever reads the port (PollPort and everything
// above it) cannot tell it from a receiver's line; nothing written reaches it.

#include <cstdint>
#include <string>

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // What is due now, at most capacity bytes, never waiting; received 0 when nothing is
    // due yet or everything has been given. False, with the reason in error, when the
    // source cannot be read any more: the port then reports a hang-up.
    virtual bool Read(std::uint8_t* dest, std::uint32_t capacity, std::uint32_t& received,
                      std::string& error) = 0;
};
