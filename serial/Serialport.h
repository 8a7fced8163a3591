#pragma once
// One RS-232 device of the system, opened raw at 8N1 with no flow control and
// DTR/RTS switched off. Every operation reports success as a yes/no result; the
// system's error code and text of the last failure of Open, SetBaudRate or the
// time-out set are kept for callers that want to show them.
//
// Two time-out sets exist. Blocking (the state after construction): a read waits
// for its first byte up to the caller's limit and then ends at the first gap
// between bytes. Non-blocking: a read returns at once with whatever the driver
// holds, possibly nothing, even when the caller gives no limit.

#include <chrono>
#include <cstdint>

class SerialPort {
public:
    static constexpr std::uint32_t kNoLimit = 0xFFFFFFFFu;

    SerialPort();
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // deviceName is a path such as /dev/ttyUSB0. parity: 1 odd, 3 even, anything else none.
    // Refuses (false, nothing changed) while the port is open.
    bool Open(const char* deviceName, std::uint32_t baudRate, std::uint32_t parity);
    void Close();
    bool IsOpen() const;

    // waitMs: how long to wait for a first byte; kNoLimit means no limit.
    bool Read(std::uint8_t* dest, std::uint32_t capacity, std::uint32_t& received,
              std::uint32_t waitMs);
    // Gives up after about two seconds in all, with either set: what could not be
    // written by then is a failed write (false, written 0).
    bool Write(const std::uint8_t* src, std::uint32_t count, std::uint32_t* written = nullptr);
    // Lets what is queued go out at the old rate first, for at most DrainLimit of it.
    bool SetBaudRate(std::uint32_t rate);
    // How long SetBaudRate waits for queuedBytes to drain at rate with bitsPerChar bits
    // to a character: the time they need on the line, plus a second.
    static std::chrono::milliseconds DrainLimit(std::uint32_t queuedBytes, std::uint32_t rate,
                                                unsigned bitsPerChar);
    void SetBlocking(bool blocking);
    // Discards what has been received and not yet read.
    void Purge();
    // The last Read failed because the line hung up: the device went away (a USB
    // adapter pulled out, the peer of a pseudo-terminal closed). Other failures, and
    // a wait that ran out, leave it false.
    bool HungUp() const { return hungUp_; }

    std::uint32_t lastError() const { return lastError_; }
    const char* errorText() const { return errorText_; }

private:
    // Keeps err and its system text as the last failure.
    void RecordError(int err);
    // Releases the device after a failed step of Open, keeping that step's error.
    // exclusive: this Open had already set the terminal's exclusive flag, so it is
    // cleared again; otherwise it is left as it is (another holder may have set it).
    bool FailOpen(int err, bool exclusive = true);

    // The descriptor is always non-blocking; the time-out set is carried out by
    // Read and Write with poll, so it takes effect at once and needs no device call.
    int fd_ = -1;
    bool isOpen_ = false;
    bool blocking_ = true;
    bool hungUp_ = false;
    std::uint32_t lastError_ = 0;
    char errorText_[200] = {};
};
