// The serial port over the terminal interface of POSIX systems.
#include "serial/Serialport.h"

#include "serial/Netport.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

using SteadyClock = std::chrono::steady_clock;
using Deadline = std::optional<SteadyClock::time_point>;

struct RateEntry {
    std::uint32_t rate;
    speed_t speed;
};

// Every rate the terminal interface names. Other rates are refused rather than
// rounded, so the port never runs at a rate the caller did not ask for.
constexpr RateEntry kRates[] = {
    {50, B50},           {75, B75},         {110, B110},       {134, B134},     {150, B150},
    {200, B200},         {300, B300},       {600, B600},       {1200, B1200},   {1800, B1800},
    {2400, B2400},       {4800, B4800},     {9600, B9600},     {19200, B19200}, {38400, B38400},
    {57600, B57600},     {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B3500000
    {3500000, B3500000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

std::optional<speed_t> SpeedFor(std::uint32_t rate) {
    for (const RateEntry& entry : kRates) {
        if (entry.rate == rate) {
            return entry.speed;
        }
    }
    return std::nullopt;
}

std::uint32_t RateOf(speed_t speed) {
    for (const RateEntry& entry : kRates) {
        if (entry.speed == speed) {
            return entry.rate;
        }
    }
    return 0;
}

// Start bit, data bits, parity bit and stop bits of one character.
unsigned BitsPerChar(const termios& settings) {
    unsigned data = 8;
    switch (settings.c_cflag & CSIZE) {
    case CS5:
        data = 5;
        break;
    case CS6:
        data = 6;
        break;
    case CS7:
        data = 7;
        break;
    default:
        break;
    }
    return 1 + data + ((settings.c_cflag & PARENB) != 0 ? 1 : 0) +
           ((settings.c_cflag & CSTOPB) != 0 ? 2 : 1);
}

// Whether the driver still holds output: bytes queued, or a character in the transmitter.
bool OutputPending(int fd) {
    int queued = 0;
    if (ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0) {
        return true;
    }
#ifdef TIOCSERGETLSR
    unsigned int lsr = 0;
    if (ioctl(fd, TIOCSERGETLSR, &lsr) == 0 && (lsr & TIOCSER_TEMT) == 0) {
        return true;
    }
#endif
    return false;
}

// strerror_r comes in a GNU form (returns the text) and a POSIX form (fills the
// buffer); these pick the text from whichever the C library provides.
[[maybe_unused]] const char* ErrorTextOf(int result, const char* buffer) {
    return result == 0 ? buffer : "Unknown error";
}
[[maybe_unused]] const char* ErrorTextOf(const char* result, const char*) {
    return result;
}

// Waits until fd is ready for events or the deadline (none: no limit) passes.
// Returns 1 when ready (revents filled), 0 when the deadline passed, -1 on failure.
int WaitFor(int fd, short events, const Deadline& deadline, short& revents) {
    for (;;) {
        int timeoutMs = -1;
        if (deadline) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(*deadline - SteadyClock::now())
                    .count();
            timeoutMs = static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
        }
        pollfd entry{fd, events, 0};
        const int ready = poll(&entry, 1, timeoutMs);
        if (ready > 0) {
            revents = entry.revents;
            return 1;
        }
        if (ready == 0) {
            if (timeoutMs == 0 || SteadyClock::now() >= *deadline) {
                return 0;
            }
            continue; // a wait longer than poll can express in one call
        }
        if (errno != EINTR) {
            return -1;
        }
    }
}

// One read() that treats "nothing there" as 0 bytes. Returns -1 on failure.
ssize_t ReadAvailable(int fd, std::uint8_t* dest, std::size_t capacity) {
    for (;;) {
        const ssize_t n = read(fd, dest, capacity);
        if (n >= 0) {
            return n;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return 0;
        }
        if (errno != EINTR) {
            return -1;
        }
    }
}

} // namespace

SerialPort::SerialPort() = default;

// Here, where the system's side of the port is a complete type.
SerialPort::~SerialPort() {
    Close();
}

bool SerialPort::DeviceOpen(const char* deviceName, std::uint32_t baudRate, std::uint32_t parity) {
    if (isOpen_) {
        return false;
    }
    if (deviceName == nullptr) {
        RecordError(EINVAL);
        return false;
    }
    // Non-blocking so that opening never waits for a carrier and reads and writes
    // can be bounded with poll; no controlling terminal, since this is a data line.
    fd_ = open(deviceName, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        RecordError(errno);
        return false;
    }

    // Hold the device alone. TIOCEXCL turns away later opens by ordinary users, but
    // root passes it, so an advisory lock taken by every SerialPort covers that case.
    // A lock held elsewhere is reported as a busy device, as TIOCEXCL would have been.
    // Until TIOCEXCL is ours, a failure must not clear it: it may be the holder's.
    if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        return FailOpen(errno == EWOULDBLOCK ? EBUSY : errno, false);
    }
    if (ioctl(fd_, TIOCEXCL) != 0) {
        return FailOpen(errno, false);
    }

    const std::optional<speed_t> speed = SpeedFor(baudRate);
    if (!speed) {
        return FailOpen(EINVAL);
    }
    termios settings{};
    if (tcgetattr(fd_, &settings) != 0) {
        return FailOpen(errno);
    }
    // Raw bytes both ways: no input or output processing, no echo, no signals,
    // no software or hardware flow control, 8 data bits, 1 stop bit, modem status
    // lines ignored, receiver on.
    settings.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                               ICRNL | IXON | IXOFF | IXANY | INPCK);
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    if (parity == 1) {
        settings.c_cflag |= PARENB | PARODD;
    } else if (parity == 3) {
        settings.c_cflag |= PARENB;
    }
    // Reads return at once with what is there; Read does its own waiting.
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (cfsetispeed(&settings, *speed) != 0 || cfsetospeed(&settings, *speed) != 0) {
        return FailOpen(errno);
    }
    if (tcsetattr(fd_, TCSANOW, &settings) != 0) {
        return FailOpen(errno);
    }
    // tcsetattr succeeds when any part of the change took; make sure the rate did.
    termios applied{};
    if (tcgetattr(fd_, &applied) != 0) {
        return FailOpen(errno);
    }
    if (cfgetospeed(&applied) != *speed) {
        return FailOpen(EINVAL);
    }

    // DTR and RTS off. Pseudo-terminals have no modem lines and refuse this; that
    // is no reason to refuse the port.
    int lines = TIOCM_DTR | TIOCM_RTS;
    (void)ioctl(fd_, TIOCMBIC, &lines);

    // Only the input side is flushed: on a pseudo-terminal flushing our output
    // side would discard what the peer has not read yet.
    if (tcflush(fd_, TCIFLUSH) != 0) {
        return FailOpen(errno);
    }
    isOpen_ = true;
    return true;
}

bool SerialPort::FailOpen(int err, bool exclusive) {
    RecordError(err);
    if (exclusive) {
        (void)ioctl(fd_, TIOCNXCL);
    }
    close(fd_);
    fd_ = -1;
    return false;
}

void SerialPort::DeviceClose() {
    if (fd_ >= 0) {
        // The exclusive flag belongs to the terminal, not to this descriptor, and a
        // pseudo-terminal outlives our descriptor while its master is open; clear it
        // so the device can be opened again. Closing releases the lock.
        (void)ioctl(fd_, TIOCNXCL);
        close(fd_);
        fd_ = -1;
    }
    isOpen_ = false;
}

bool SerialPort::DeviceIsOpen() const {
    return fd_ >= 0;
}

bool SerialPort::DeviceRead(std::uint8_t* dest, std::uint32_t capacity, std::uint32_t& received,
                      std::uint32_t waitMs) {
    received = 0;
    hungUp_ = false;
    if (fd_ < 0) {
        return false;
    }
    if (capacity == 0) {
        return true;
    }

    short revents = 0;
    if (blocking_) {
        Deadline deadline;
        if (waitMs != kNoLimit) {
            deadline = SteadyClock::now() + std::chrono::milliseconds(waitMs);
        }
        // Nothing has been taken from the device when the wait runs out, so no
        // read is left pending behind the caller's back.
        if (WaitFor(fd_, POLLIN, deadline, revents) != 1) {
            return false;
        }
    } else {
        // A quiet line completes at once with 0 bytes, whatever the wait limit.
        const int ready = WaitFor(fd_, POLLIN, SteadyClock::now(), revents);
        if (ready < 0) {
            return false;
        }
        if (ready == 0) {
            return true;
        }
    }
    const ssize_t first = (revents & POLLIN) != 0 ? ReadAvailable(fd_, dest, capacity) : 0;
    if (first < 0) {
        // A terminal whose other side has closed, or whose device has been removed,
        // fails its reads this way until it is closed.
        hungUp_ = errno == EIO || errno == ENXIO || errno == ENODEV;
        return false;
    }
    if (first == 0 && (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        // Hung up or failed with nothing left to read: the line is gone (the peer
        // of a pseudo-terminal closed, a USB adapter pulled out).
        hungUp_ = true;
        return false;
    }
    received = static_cast<std::uint32_t>(first);

    // Take in what follows: with the blocking set until a quiet gap, with the
    // non-blocking set only what the driver already holds.
    const int gapMs = blocking_ ? static_cast<int>(kReadGapMs) : 0;
    while (first > 0 && received < capacity) {
        pollfd entry{fd_, POLLIN, 0};
        const int ready = poll(&entry, 1, gapMs);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0 || (entry.revents & POLLIN) == 0) {
            break;
        }
        const ssize_t more = ReadAvailable(fd_, dest + received, capacity - received);
        if (more <= 0) {
            break;
        }
        received += static_cast<std::uint32_t>(more);
    }
    return true;
}

bool SerialPort::DeviceWrite(const std::uint8_t* src, std::uint32_t count, std::uint32_t* written) {
    if (written != nullptr) {
        *written = 0;
    }
    if (fd_ < 0) {
        return false;
    }
    const Deadline deadline = SteadyClock::now() + std::chrono::milliseconds(kWriteLimitMs);
    // The driver may take part of the data at a time; keep going until it has it all.
    std::uint32_t done = 0;
    while (done < count) {
        const ssize_t n = write(fd_, src + done, count - done);
        if (n > 0) {
            done += static_cast<std::uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            short revents = 0;
            if (WaitFor(fd_, POLLOUT, deadline, revents) != 1) {
                return false;
            }
            if ((revents & POLLOUT) == 0) {
                return false; // hung up or failed
            }
            continue;
        }
        return false;
    }
    if (written != nullptr) {
        *written = done;
    }
    return true;
}

bool SerialPort::DeviceSetBaudRate(std::uint32_t rate) {
    if (fd_ < 0) {
        RecordError(EBADF);
        return false;
    }
    const std::optional<speed_t> speed = SpeedFor(rate);
    if (!speed) {
        RecordError(EINVAL);
        return false;
    }
    termios settings{};
    if (tcgetattr(fd_, &settings) != 0) {
        RecordError(errno);
        return false;
    }
    // What was written before goes out at the old rate: callers change the rate right
    // after sending a command that moves the peer to the new rate. But the wait for it is
    // bounded (a line whose output is held up must not hold the caller), and the rate
    // changes when the bound is reached all the same.
    int queued = 0;
    const std::uint32_t oldRate = RateOf(cfgetospeed(&settings));
    if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued < 0) {
        queued = 0;
    }
    const auto drainEnd =
        SteadyClock::now() + DrainLimit(static_cast<std::uint32_t>(queued), oldRate,
                                        BitsPerChar(settings));
    while (OutputPending(fd_) && SteadyClock::now() < drainEnd) {
        std::this_thread::sleep_for(kDrainPoll);
    }
    if (cfsetispeed(&settings, *speed) != 0 || cfsetospeed(&settings, *speed) != 0) {
        RecordError(errno);
        return false;
    }
    int result;
    do {
        result = tcsetattr(fd_, TCSANOW, &settings);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        RecordError(errno);
        return false;
    }
    termios applied{};
    if (tcgetattr(fd_, &applied) != 0) {
        RecordError(errno);
        return false;
    }
    if (cfgetospeed(&applied) != *speed) {
        RecordError(EINVAL);
        return false;
    }
    return true;
}

void SerialPort::DeviceSetBlocking(bool blocking) {
    blocking_ = blocking;
}

void SerialPort::DevicePurge() {
    if (fd_ >= 0) {
        (void)tcflush(fd_, TCIFLUSH);
    }
}

void SerialPort::RecordError(int err) {
    lastError_ = static_cast<std::uint32_t>(err);
    char buffer[sizeof errorText_] = {};
    const char* text = ErrorTextOf(strerror_r(err, buffer, sizeof buffer), buffer);
    std::snprintf(errorText_, sizeof errorText_, "%s", text);
}
