#pragma once
// The pseudo-terminal a simulated receiver sits on. The receiver holds the master side;
// the PC (the program, a test, or a plain `cat`) opens the slave, DevicePath, as it
// would open a serial device. Until the PC sets its own, the slave is raw at the
// receiver's rate, so even a `cat` of the device shows the sentences; a slave left in its
// cooked default would also echo the receiver's output straight back at it.
//
// The receiver's thread sleeps in Wait until the PC sends bytes, another thread calls
// Wake, or its time is up, and then learns whether the PC holds the slave open and
// whether bytes wait. The master is watched edge-triggered: a hang-up would otherwise be
// reported on every wait and keep the thread spinning while no one holds the slave open.
// The PC opening the slave raises no event, so a thread that finds the PC gone has to
// look again now and then.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include <sys/types.h>

class SimPty {
public:
    SimPty() = default;
    ~SimPty() { Close(); }
    SimPty(const SimPty&) = delete;
    SimPty& operator=(const SimPty&) = delete;

    // Creates the pseudo-terminal with its slave raw at `rate`. False, with the system's
    // error number in `error`, when it cannot be had.
    bool Open(std::uint32_t rate, int& error);
    // Closes it, which hangs up the PC side.
    void Close();
    // The slave device, e.g. /dev/pts/3; empty before the first Open, kept after Close.
    const std::string& Path() const { return path_; }

    // The rate the PC set on its side; 0 when closed, or for a rate not known here.
    std::uint32_t PcRate() const;

    // Makes a Wait under way return at once.
    void Wake();
    struct State {
        bool hungUp;   // no one holds the slave open
        bool readable; // bytes from the PC wait
    };
    // Sleeps up to `sleep`, less when bytes arrive or Wake is called; then the master's
    // state as it is now.
    State Wait(std::chrono::nanoseconds sleep);
    // Bytes from the PC, up to n; 0 or less when none wait (or the PC has gone), which
    // re-arms the edge.
    ssize_t Read(std::uint8_t* buffer, std::size_t n);
    // Bytes for the PC; what its input queue cannot take is lost, as on an overrun.
    void Write(const std::uint8_t* data, std::size_t n);

private:
    int master_ = -1;
    int wake_ = -1;
    int epoll_ = -1;
    std::string path_;
};
