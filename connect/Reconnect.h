#pragma once
// Reopening the port when its device comes back.
//
// The problem: a USB serial adapter knocked out of its socket and put back, or a network
// server restarted, leaves the program with a closed port (the poll saw the line hang
// up) while the receiver is there again and talking. The technician expects reception to
// resume by itself, as if the cable had never moved.
//
// After the open port hung up, the Reconnector watches the device by the name it had been
// opened under, as given: a link such as a /dev/serial/by-id name is tried as that name,
// not as the tty it pointed to, so an adapter that comes back as another ttyUSB behind the
// same link is found; on Windows it is the same COM name. Every kRetryMs on the clock it
// tries to open that name at the rate the port had, as the Open Port dialog opens a port
// (no parity, then the non-blocking time-out set). Trying is the test of whether the
// device is there: a name that names nothing, or a device the system has not yet handed
// over (its permissions still being set), fails to open at once and is tried again. So a
// device back in the system is open again within about half a second of its return.
//
// A network port (rfc2217://, tcp://) whose connection closed is tried the same way, but a
// connection that is not refused outright can take seconds to fail, and every try holds
// the caller's thread; after each failure its tries are spaced twice as far apart, up to
// kNetworkRetryMaxMs.
//
// The watch ends when the port is open again, or is cancelled: by the owner (the user
// opened or closed a port, a search or a load began, the watch was switched off), or by a
// step that finds the port open already, which someone else has done meanwhile. A port
// that stood on a source (a replayed recording) is not watched: its owner starts no watch
// for it, since a recording that cannot be read any more does not come back.
//
// The class has no timer of its own: its owner calls Check() from its periodic tick. The
// clock is the calendar one; a clock set back does not stall the watch, the next try is
// never further off than one interval.

#include "base/Clock.h"
#include "serial/Serialport.h"

#include <cstdint>
#include <string>

class Reconnector {
public:
    // How often a device is tried while it is away.
    static constexpr std::int64_t kRetryMs = 500;
    // The longest a network port waits between tries.
    static constexpr std::int64_t kNetworkRetryMaxMs = 30000;

    enum class Result : std::uint8_t {
        Idle,     // nothing is watched
        Waiting,  // the device is watched and not back yet
        Reopened, // this step opened the port again; the watch is over
    };

    Reconnector(SerialPort& port, Clock& clock);

    // Switched on after construction. Switching it off cancels a watch.
    void SetEnabled(bool enabled);
    bool Enabled() const { return enabled_; }

    // The port hung up on device, the name it had been opened under, at rate: starts the
    // watch, its first try kRetryMs from now. False, with nothing watched, when switched
    // off, without a name, or while the port is open.
    bool Start(const std::string& device, std::uint32_t rate);
    void Cancel();

    // One step, as described above.
    Result Check();

    bool Watching() const { return watching_; }
    const std::string& Device() const { return device_; }
    std::uint32_t Rate() const { return rate_; }

    // The clock the tries are timed by.
    void SetClock(Clock& clock) { clock_ = &clock; }

private:
    SerialPort& port_;
    Clock* clock_;
    bool enabled_ = true;
    bool watching_ = false;
    bool network_ = false;
    std::string device_;
    std::uint32_t rate_ = 0;
    std::int64_t interval_ = kRetryMs;
    std::int64_t nextTry_ = 0;
};
