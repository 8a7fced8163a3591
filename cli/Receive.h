#pragma once
// The program's receive step, the same one the main window's 100 ms tick takes: read
// whatever the port holds without waiting (at most one block), give every byte first to
// the binary framer and then to the line framer of the port manager, and hand each
// completed frame and line to a sink, in byte order, before the next byte is fed.
// It is the core's receive step; this function only adapts it to the commands' sink.

#include <cstdint>

// What a command does with the receiver's traffic. A frame starts at its "$" and is whole
// (CRC checked); a line carries its CR LF. Both are valid only during the call.
class RxSink {
public:
    virtual void OnFrame(const std::uint8_t* frame, int length) = 0;
    virtual void OnLine(const std::uint8_t* line, int length) = 0;

protected:
    ~RxSink() = default;
};

// One tick on CommPort. False when the port is closed or the device went away (a
// hung-up line, after which the port is closed). A closed port reads nothing.
bool ReceiveTick(RxSink& sink);
