#pragma once
// One RS-232 device of the system, opened raw at 8N1 with no flow control and
// DTR/RTS switched off. Every operation reports success as a yes/no result; the
// system's error code and text of the last failure of Open, SetBaudRate or the
// time-out set are kept for callers that want to show them.
//
// A device named rfc2217://HOST:PORT or tcp://HOST:PORT is a serial line behind a
// network server (serial/Netport.h); everything below holds for it alike.
//
// A port can also stand on a source of bytes instead of a device (OpenSource): a
// replayed recording. Reads take what the source has due and never wait, whichever
// time-out set is in force; a source that cannot be read any more is a hang-up. Nothing
// can be written to it (every write fails, saying so); a rate change succeeds and
// changes nothing (RateFixed), and a purge does nothing, so nothing of the recording is
// lost to it.
//
// Two time-out sets exist. Blocking (the state after construction): a read waits
// for its first byte up to the caller's limit and then ends at the first gap
// between bytes. Non-blocking: a read returns at once with whatever the driver
// holds, possibly nothing, even when the caller gives no limit.

#include "serial/Bytesource.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

class NetPort;
struct SocketError;
#ifdef _WIN32

// The Win32 side's device handle, overlapped records and settings, kept out of this
// header so that no unit including it sees the system's headers.
struct Win32Port;
#endif

class SerialPort {
public:
    static constexpr std::uint32_t kNoLimit = 0xFFFFFFFFu;

    SerialPort();
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // deviceName: on Windows the name the system lists (COM1, COM12), on POSIX systems a
    // path such as /dev/ttyUSB0; on both a network port's name. parity: 1 odd, 3 even,
    // anything else none (a network port is always 8N1).
    // Refuses (false, nothing changed) while the port is open. A device another port
    // holds, in this process or another, is refused as well.
    bool Open(const char* deviceName, std::uint32_t baudRate, std::uint32_t parity);
    // Opens the port on source instead of a device; name is what the port's messages
    // call it (the recording's file name). Refused (false, source dropped) while the
    // port is open or without a source.
    bool OpenSource(std::unique_ptr<ByteSource> source, const char* name);
    // The source the port stands on while it is open on one, else nullptr.
    ByteSource* Source() const { return source_.get(); }
    // Close releases the source, as it releases a device.
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
    // Discards what has been received and not yet read; what was written and not yet
    // sent is kept.
    void Purge();
    // Whether the line's rate is the server's and cannot be changed (a tcp:// port, or a
    // source): SetBaudRate then succeeds and changes nothing.
    bool RateFixed() const;
    // The last Read failed because the line hung up: the device went away (a USB
    // adapter pulled out, the peer of a pseudo-terminal closed). Other failures, and
    // a wait that ran out, leave it false.
    bool HungUp() const { return hungUp_; }

    // The system's code of the last recorded failure (an errno value, or a Win32 error
    // code on Windows) and its text, on one line.
    std::uint32_t lastError() const { return lastError_; }
    const char* errorText() const { return errorText_; }

private:
    // No write waits longer than this in all, with either set: every write comes from the
    // user-interface thread, and a peer that stopped reading must not hold the window.
    // What could not be written by then is a failed write.
    static constexpr std::uint32_t kWriteLimitMs = 2000;
    // How often a bounded drain looks at what is still queued.
    static constexpr std::chrono::milliseconds kDrainPoll{2};
    // With the blocking set a read ends at the first quiet gap longer than this.
    static constexpr std::uint32_t kReadGapMs = 1;

    // Keeps err and its system text as the last failure.
    void RecordError(int err);
    void RecordError(const SocketError& error);
    // Keeps a failure that has no system code (code 0) with its text.
    void RecordText(const std::string& text);

    // The system's own serial device (Serialportposix.cpp, Serialportwin32.cpp).
    bool DeviceOpen(const char* deviceName, std::uint32_t baudRate, std::uint32_t parity);
    void DeviceClose();
    bool DeviceIsOpen() const;
    bool DeviceRead(std::uint8_t* dest, std::uint32_t capacity, std::uint32_t& received,
                    std::uint32_t waitMs);
    bool DeviceWrite(const std::uint8_t* src, std::uint32_t count, std::uint32_t* written);
    bool DeviceSetBaudRate(std::uint32_t rate);
    void DeviceSetBlocking(bool blocking);
    void DevicePurge();

    // The network port while one is open.
    std::unique_ptr<NetPort> net_;
    // The source while the port stands on one, and its name.
    std::unique_ptr<ByteSource> source_;
    std::string sourceName_;
#ifdef _WIN32
    // Writes the time-out set that blocking_ names to the open device; true when there
    // is none (the next Open writes it).
    bool ApplyTimeouts();
    // Releases everything a failed Open had acquired, keeping err as its failure.
    bool FailOpen(unsigned long err);

    std::unique_ptr<Win32Port> win_;
#else
    // Releases the device after a failed step of Open, keeping that step's error.
    // exclusive: this Open had already set the terminal's exclusive flag, so it is
    // cleared again; otherwise it is left as it is (another holder may have set it).
    bool FailOpen(int err, bool exclusive = true);

    // The descriptor is always non-blocking; the time-out set is carried out by
    // Read and Write with poll, so it takes effect at once and needs no device call.
    int fd_ = -1;
#endif
    bool isOpen_ = false;
    bool blocking_ = true;
    bool hungUp_ = false;
    std::uint32_t lastError_ = 0;
    char errorText_[200] = {};
};
