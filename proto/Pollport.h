#pragma once
// One step of reception: what the main window's poll does every 100 ms, and what any
// other reader of the port (a command-line program, a status window) does the same way.
//
// The problem: the receiver sends binary frames and text lines interleaved on one line,
// and a reader must see each complete message, in the order its last byte arrived,
// without ever waiting on the port. It must also notice when the line itself goes away
// (a USB adapter pulled out), because a port whose device has vanished reads nothing
// for ever and would otherwise look merely quiet.
//
// PollPort reads what the port holds, at most kPollBlockSize bytes and without waiting,
// and gives every byte first to the binary framer and then to the line framer. Each
// completed frame or line goes to the sink at once, before the next byte is fed, so the
// sink sees them in byte order and may read the framer's buffer during the call. What is
// not read stays in the driver for the next step. A failed read counts as no data.
//
// A read that reports the line hung up closes the port, so nothing polls the vanished
// device again, and then tells the sink once. The framers are left as they are: a
// partial message is abandoned by the bytes that follow whenever a port is open again.
// A port that is not open is not touched.

#include "proto/Crlfproto.h"
#include "proto/Diagproto.h"
#include "serial/Serialport.h"

#include <cstddef>
#include <cstdint>
#include <span>

inline constexpr std::size_t kPollBlockSize = 1024;

// Whoever consumes what the port receives.
class PollSink {
public:
    // A complete binary frame with a correct CRC, from its "$", and its total length.
    virtual void FrameReceived(const std::uint8_t* frame, std::size_t length) = 0;
    // A complete text line, its CR LF included.
    virtual void LineReceived(const std::uint8_t* line, std::size_t length) = 0;
    // The port's line hung up; PollPort has already closed the port.
    virtual void PortHungUp() = 0;
    // Every block read, as read, before its messages are handed on (for a sink that
    // passes the stream on whole); nothing by default.
    virtual void BytesReceived(const std::uint8_t* /*data*/, std::size_t /*length*/) {}

protected:
    ~PollSink() = default;
};

enum class PollResult : std::uint8_t {
    NotOpen, // the port was closed; nothing was done
    Polled,  // the port was read (possibly nothing)
    HungUp,  // the line hung up; the port is now closed
};

// One step, as described above. buffer receives the bytes read; at most the smaller of
// its size and kPollBlockSize are read.
PollResult PollPort(SerialPort& port, DiagProto& diag, CRLFProto& line,
                    std::span<std::uint8_t> buffer, PollSink& sink);

// Steps as above again and again until maxBytes have been read, a step read nothing, or
// the port is no longer open: for a source that can give far more than one block in a
// tick (a recording replayed fast). The result is the last step's: HungUp when the
// line hung up on one of them, which ends them.
PollResult PollPortMany(SerialPort& port, DiagProto& diag, CRLFProto& line,
                        std::span<std::uint8_t> buffer, PollSink& sink, std::size_t maxBytes);
