// The serial port over the Win32 communications interface: the device opened by its
// name in the device namespace, its settings in the device control block, the two
// time-out sets in COMMTIMEOUTS, and reads and writes as overlapped operations that
// this class waits for itself, each on an event of its own.
#include "serial/Serialport.h"

#include "serial/Netport.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

struct Win32Port {
    HANDLE handle = INVALID_HANDLE_VALUE;
    // Each record's hEvent holds its manual-reset event while the port is open.
    OVERLAPPED readOverlapped{};
    OVERLAPPED writeOverlapped{};
    // The settings last read from or written to the device, and the time-outs last written.
    DCB dcb{};
    COMMTIMEOUTS timeouts{};
};

namespace {

using SteadyClock = std::chrono::steady_clock;

// A read of bytes the driver already holds completes at once; this only bounds it.
constexpr DWORD kQueuedReadMs = 200;
// The device namespace prefix, and the longest path it is put in front of a name for.
constexpr char kDevicePrefix[] = "\\\\.\\";
constexpr std::size_t kPathMax = MAX_PATH;

// The name a port is known by: without the device namespace prefix users may type
// (needed there for COM10 and up) and in upper case, so that "COM7", "com7" and
// "\\.\COM7" are one port, its path and its event names alike.
std::string PortName(const char* deviceName, std::size_t length) {
    const std::size_t prefixLength = sizeof kDevicePrefix - 1;
    if (length >= prefixLength && std::memcmp(deviceName, kDevicePrefix, prefixLength) == 0) {
        deviceName += prefixLength;
        length -= prefixLength;
    }
    std::string name(deviceName, length);
    for (char& c : name) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return name;
}

// Start bit, data bits, parity bit and stop bits of one character (one and a half stop
// bits counted as two).
unsigned BitsPerChar(const DCB& dcb) {
    return 1u + dcb.ByteSize + (dcb.Parity != NOPARITY ? 1u : 0u) +
           (dcb.StopBits == ONESTOPBIT ? 1u : 2u);
}

// Codes with which reads fail once the device has gone. Serial drivers whose USB adapter
// was pulled out give one of the first six (pending reads end with the abort one; this
// class cancels its own reads only after a wait ran out, which is never counted). Wine's
// port over a pseudo-terminal whose peer closed ends a pending read with the broken pipe
// and fails every later call as not ready.
bool IsDeviceGone(DWORD err) {
    switch (err) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_OPERATION_ABORTED:
    case ERROR_BROKEN_PIPE:
    case ERROR_NOT_READY:
        return true;
    default:
        return false;
    }
}

// Fresh record for the next operation, keeping its event.
void Rearm(OVERLAPPED& overlapped) {
    const HANDLE event = overlapped.hEvent;
    overlapped = OVERLAPPED{};
    overlapped.hEvent = event;
}

// Ends an operation whose wait ran out: cancels it and waits until the system has
// finished with it, so the record and the buffer are free again. Returns the bytes it
// moved before it ended: a cancelled operation keeps its count of what it had moved.
DWORD CancelAndFinish(HANDLE handle, OVERLAPPED& overlapped) {
    (void)CancelIoEx(handle, &overlapped); // fails when it has just ended by itself
    DWORD moved = 0;
    if (!GetOverlappedResult(handle, &overlapped, &moved, TRUE)) {
        moved = static_cast<DWORD>(overlapped.InternalHigh);
    }
    return moved;
}

// How many received bytes the driver holds. On failure err is the system's code.
bool QueuedInput(HANDLE handle, DWORD& queued, DWORD& err) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handle, &errors, &status)) {
        err = GetLastError();
        queued = 0;
        return false;
    }
    queued = status.cbInQue;
    return true;
}

// One overlapped read of up to count bytes on the read record, waited for at most waitMs
// (INFINITE: no limit). A read whose wait runs out is cancelled and seen to its end; got
// holds what it took in all the same. False with err when the read failed.
bool ReadPart(Win32Port& port, std::uint8_t* dest, DWORD count, DWORD waitMs, DWORD& got,
              DWORD& err) {
    OVERLAPPED& overlapped = port.readOverlapped;
    Rearm(overlapped);
    got = 0;
    if (!ReadFile(port.handle, dest, count, nullptr, &overlapped)) {
        err = GetLastError();
        if (err != ERROR_IO_PENDING) {
            return false;
        }
        if (WaitForSingleObject(overlapped.hEvent, waitMs) != WAIT_OBJECT_0) {
            got = CancelAndFinish(port.handle, overlapped);
            return true;
        }
    }
    if (!GetOverlappedResult(port.handle, &overlapped, &got, FALSE)) {
        err = GetLastError();
        got = 0;
        return false;
    }
    return true;
}

void CloseEvent(OVERLAPPED& overlapped) {
    if (overlapped.hEvent != nullptr) {
        CloseHandle(overlapped.hEvent);
        overlapped.hEvent = nullptr;
    }
}

} // namespace

SerialPort::SerialPort() : win_(std::make_unique<Win32Port>()) {}

// Here, where the system's side of the port is a complete type.
SerialPort::~SerialPort() {
    Close();
}

bool SerialPort::DeviceOpen(const char* deviceName, std::uint32_t baudRate, std::uint32_t parity) {
    if (isOpen_) {
        return false;
    }
    Win32Port& port = *win_;
    const std::string name =
        deviceName == nullptr ? std::string() : PortName(deviceName, std::strlen(deviceName));
    if (deviceName == nullptr || name.size() + sizeof kDevicePrefix > kPathMax) {
        RecordError(ERROR_INVALID_NAME);
        return false;
    }
    const std::string path = kDevicePrefix + name;

    // Opened without sharing and not inherited: a child process must not keep the
    // port held after this one has closed it.
    SECURITY_ATTRIBUTES security{};
    security.nLength = sizeof security;
    security.bInheritHandle = FALSE;
    SetLastError(0);
    port.handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, &security,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (port.handle == INVALID_HANDLE_VALUE) {
        RecordError(static_cast<int>(GetLastError()));
        return false;
    }

    // The events are named after the port (never its path: a name with a backslash is
    // no event name), so an event that exists already belongs to another port holding
    // the same device. The system refuses a second open of a held device by itself (and
    // the refusal is reported as such here too), but not every implementation of the
    // interface does, and two holders would wake each other's waits; so the device is
    // turned away before anything of it is changed.
    OVERLAPPED* const records[] = {&port.readOverlapped, &port.writeOverlapped};
    const char* const suffixes[] = {"SerialPortReadEvent", "SerialPortWriteEvent"};
    for (int i = 0; i < 2; ++i) {
        const std::string eventName = name + suffixes[i];
        SetLastError(0);
        records[i]->hEvent = CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
        const DWORD err = GetLastError();
        if (records[i]->hEvent == nullptr) {
            return FailOpen(err);
        }
        if (err == ERROR_ALREADY_EXISTS) {
            return FailOpen(ERROR_ACCESS_DENIED);
        }
    }

    port.dcb = DCB{};
    port.dcb.DCBlength = sizeof port.dcb;
    if (!GetCommState(port.handle, &port.dcb)) {
        return FailOpen(GetLastError());
    }
    port.dcb.BaudRate = baudRate;
    port.dcb.Parity = parity == 1 ? ODDPARITY : parity == 3 ? EVENPARITY : NOPARITY;
    port.dcb.StopBits = ONESTOPBIT;
    port.dcb.ByteSize = 8;
    // Every byte value passes unchanged: binary mode, no byte taken out as XON/XOFF or
    // as a null, none replaced on a parity error.
    port.dcb.fBinary = TRUE;
    port.dcb.fOutX = FALSE;
    port.dcb.fInX = FALSE;
    port.dcb.fNull = FALSE;
    port.dcb.fErrorChar = FALSE;
    port.dcb.fOutxCtsFlow = FALSE;
    port.dcb.fOutxDsrFlow = FALSE;
    port.dcb.fRtsControl = RTS_CONTROL_DISABLE;
    port.dcb.fDtrControl = DTR_CONTROL_DISABLE;
    port.dcb.fDsrSensitivity = FALSE;
    port.dcb.fAbortOnError = FALSE;
    if (!SetCommState(port.handle, &port.dcb)) {
        return FailOpen(GetLastError());
    }
    if (!ApplyTimeouts()) {
        return FailOpen(lastError_);
    }
    // Only the input side is flushed: clearing the output side would throw away what an
    // earlier holder wrote and the peer has not read yet.
    if (!PurgeComm(port.handle, PURGE_RXCLEAR)) {
        return FailOpen(GetLastError());
    }
    isOpen_ = true;
    return true;
}

bool SerialPort::FailOpen(unsigned long err) {
    Win32Port& port = *win_;
    RecordError(static_cast<int>(err));
    if (port.handle != INVALID_HANDLE_VALUE) {
        CloseHandle(port.handle);
        port.handle = INVALID_HANDLE_VALUE;
    }
    CloseEvent(port.readOverlapped);
    CloseEvent(port.writeOverlapped);
    return false;
}

bool SerialPort::ApplyTimeouts() {
    Win32Port& port = *win_;
    if (port.handle == INVALID_HANDLE_VALUE) {
        return true;
    }
    if (!GetCommTimeouts(port.handle, &port.timeouts)) {
        RecordError(static_cast<int>(GetLastError()));
        return false;
    }
    if (blocking_) {
        // A read stays pending until a first byte came, then ends at the first gap of more
        // than a millisecond or when the buffer is full. Write waits are bounded by Write.
        port.timeouts.ReadIntervalTimeout = 1;
        port.timeouts.ReadTotalTimeoutMultiplier = 0;
        port.timeouts.ReadTotalTimeoutConstant = MAXDWORD;
        port.timeouts.WriteTotalTimeoutMultiplier = 0;
        port.timeouts.WriteTotalTimeoutConstant = MAXDWORD;
    } else {
        // A read completes at once with what the driver holds, possibly nothing.
        port.timeouts.ReadIntervalTimeout = MAXDWORD;
        port.timeouts.ReadTotalTimeoutMultiplier = 0;
        port.timeouts.ReadTotalTimeoutConstant = 0;
        port.timeouts.WriteTotalTimeoutMultiplier = 2000;
        port.timeouts.WriteTotalTimeoutConstant = 2000;
    }
    if (!SetCommTimeouts(port.handle, &port.timeouts)) {
        RecordError(static_cast<int>(GetLastError()));
        return false;
    }
    return true;
}

void SerialPort::DeviceClose() {
    Win32Port& port = *win_;
    // No operation is ever left pending (Read and Write see every one to its end), so
    // nothing still refers to the records or to a caller's buffer.
    if (port.handle != INVALID_HANDLE_VALUE) {
        CloseHandle(port.handle);
        port.handle = INVALID_HANDLE_VALUE;
    }
    CloseEvent(port.readOverlapped);
    CloseEvent(port.writeOverlapped);
    isOpen_ = false;
}

bool SerialPort::DeviceIsOpen() const {
    return win_->handle != INVALID_HANDLE_VALUE;
}

bool SerialPort::DeviceRead(std::uint8_t* dest, std::uint32_t capacity, std::uint32_t& received,
                      std::uint32_t waitMs) {
    received = 0;
    hungUp_ = false;
    Win32Port& port = *win_;
    if (port.handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    if (capacity == 0) {
        return true;
    }
    // Reads never ask for more than the driver reports it holds, except the one-byte read
    // that waits for a first byte with the blocking set. So a read with the non-blocking
    // set completes at once even where the driver keeps an overlapped read pending
    // regardless of the time-outs (wine does), and a burst ends at a quiet gap measured
    // here rather than by the driver's interval time-out, which wine does not apply to
    // overlapped reads either.
    DWORD err = 0;
    DWORD queued = 0;
    if (!QueuedInput(port.handle, queued, err)) {
        hungUp_ = IsDeviceGone(err);
        return false;
    }
    if (queued == 0) {
        if (!blocking_) {
            return true;
        }
        DWORD got = 0;
        if (!ReadPart(port, dest, 1, waitMs, got, err)) {
            hungUp_ = IsDeviceGone(err);
            return false;
        }
        if (got == 0) {
            return false; // the wait ran out
        }
        received = got;
    }
    // Take in what is there and, with the blocking set, what follows until a quiet gap.
    // A failure after some bytes came hands those over; the next read reports it.
    bool waitedGap = false;
    while (received < capacity) {
        if (!QueuedInput(port.handle, queued, err)) {
            break;
        }
        if (queued == 0) {
            if (!blocking_ || waitedGap) {
                break;
            }
            waitedGap = true;
            Sleep(kReadGapMs);
            continue;
        }
        waitedGap = false;
        DWORD got = 0;
        const DWORD want = std::min<DWORD>(queued, capacity - received);
        if (!ReadPart(port, dest + received, want, kQueuedReadMs, got, err) && received == 0) {
            hungUp_ = IsDeviceGone(err);
            return false;
        }
        if (got == 0) {
            break;
        }
        received += got;
    }
    return true;
}

bool SerialPort::DeviceWrite(const std::uint8_t* src, std::uint32_t count, std::uint32_t* written) {
    if (written != nullptr) {
        *written = 0;
    }
    Win32Port& port = *win_;
    if (port.handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    OVERLAPPED& overlapped = port.writeOverlapped;
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(kWriteLimitMs);
    // A write the driver ends early (its own time-out) is carried on with the rest
    // until the limit.
    std::uint32_t done = 0;
    while (done < count) {
        Rearm(overlapped);
        if (!WriteFile(port.handle, src + done, count - done, nullptr, &overlapped)) {
            if (GetLastError() != ERROR_IO_PENDING) {
                return false;
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                                  deadline - SteadyClock::now())
                                  .count();
            const DWORD waitMs = static_cast<DWORD>(std::clamp<long long>(left, 0, kWriteLimitMs));
            if (WaitForSingleObject(overlapped.hEvent, waitMs) != WAIT_OBJECT_0) {
                (void)CancelAndFinish(port.handle, overlapped);
                return false;
            }
        }
        DWORD moved = 0;
        if (!GetOverlappedResult(port.handle, &overlapped, &moved, FALSE)) {
            return false;
        }
        done += moved;
        if (done < count && SteadyClock::now() >= deadline) {
            return false;
        }
    }
    if (written != nullptr) {
        *written = done;
    }
    return true;
}

bool SerialPort::DeviceSetBaudRate(std::uint32_t rate) {
    Win32Port& port = *win_;
    if (port.handle == INVALID_HANDLE_VALUE) {
        RecordError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (!GetCommState(port.handle, &port.dcb)) {
        RecordError(static_cast<int>(GetLastError()));
        return false;
    }
    // What was written before goes out at the old rate: callers change the rate right
    // after sending a command that moves the peer to the new rate. But the wait for it is
    // bounded (a line whose output is held up must not hold the caller), and the rate
    // changes when the bound is reached all the same.
    DWORD errors = 0;
    COMSTAT status{};
    if (ClearCommError(port.handle, &errors, &status) && status.cbOutQue > 0) {
        const auto drainEnd =
            SteadyClock::now() + DrainLimit(status.cbOutQue, port.dcb.BaudRate, BitsPerChar(port.dcb));
        while (SteadyClock::now() < drainEnd) {
            std::this_thread::sleep_for(kDrainPoll);
            if (!ClearCommError(port.handle, &errors, &status) || status.cbOutQue == 0) {
                break;
            }
        }
    }
    port.dcb.BaudRate = rate;
    if (!SetCommState(port.handle, &port.dcb)) {
        RecordError(static_cast<int>(GetLastError()));
        return false;
    }
    return true;
}

void SerialPort::DeviceSetBlocking(bool blocking) {
    if (blocking == blocking_) {
        return;
    }
    blocking_ = blocking;
    (void)ApplyTimeouts();
}

void SerialPort::DevicePurge() {
    if (win_->handle != INVALID_HANDLE_VALUE) {
        (void)PurgeComm(win_->handle, PURGE_RXCLEAR);
    }
}

void SerialPort::RecordError(int err) {
    lastError_ = static_cast<std::uint32_t>(err);
    // Messages may hold inserts; with no arguments to fill them they are kept as written.
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       lastError_, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), errorText_,
                       sizeof errorText_, nullptr);
    std::size_t end = std::min<std::size_t>(length, sizeof errorText_ - 1);
    if (length == 0) {
        std::snprintf(errorText_, sizeof errorText_, "System error %lu",
                      static_cast<unsigned long>(lastError_));
        return;
    }
    // The system's texts end in a line break; callers put them on one line.
    while (end > 0 && (errorText_[end - 1] == '\r' || errorText_[end - 1] == '\n' ||
                       errorText_[end - 1] == ' ')) {
        --end;
    }
    errorText_[end] = '\0';
}
