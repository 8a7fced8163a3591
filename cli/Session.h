#pragma once
// The connection a command works on: the port opened by hand or found by the automatic
// search (connect/Portsearch.h, the Open Port dialog's own sequence), the traffic counted
// as the main window counts it, and the receiver's reports as they arrive.
//
// Time runs in 100 ms ticks, as in the windows: each tick reads the port without waiting
// (cli/Receive.h) and then lets the search take its step.

#include "cli/Receive.h"
#include "proto/Traffic.h"
#include "connect/Regutils.h"
#include "receiver/Rcvrsettings.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>

inline constexpr std::chrono::milliseconds kTick{100};
// How long a command waits for the two reports it asked for.
inline constexpr std::chrono::milliseconds kReportWait{3000};

// The sysfs tty directory to list devices from instead of /sys/class/tty (for tests).
inline constexpr const char* kSysfsTtyVariable = "KESTRANE_SYSFS_TTY";

// The receiver's traffic as a command receives it: counted as the main window counts it
// (proto/Traffic.h), for the search, with what the reports say kept.
class Traffic : public PollSink {
public:
    void FrameReceived(const std::uint8_t* frame, std::size_t length) override;
    void LineReceived(const std::uint8_t* line, std::size_t length) override;
    // Nothing to do: the tick that read the hang-up ends the waiting (RunTicks).
    void PortHungUp() override {}

    // The reports taken so far no longer count; the next of each kind does.
    void ForgetReports();

    TrafficCount count;
    bool configSeen = false;      // a Configuration report since ForgetReports
    bool correctionsSeen = false; // a Corrections status report since ForgetReports
    bool versionKnown = false;    // the Configuration report was long enough for it
    ReceiverSettings settings;
    ConfigurationReport config;

protected:
    // The sentence of the line just received, when it was one of the receiver's.
    bool sentenceReceived = false;
    std::string_view sentence;
};

enum class TickEnd : std::uint8_t { Done, TimedOut, DeviceGone };

// Ticks until done() holds (asked after every tick) or the time runs out. afterTick runs
// at the end of every tick. With watchHangUp the ticks also end when the open port's
// device goes away; the search, which opens and closes the port itself, goes on.
TickEnd RunTicks(Traffic& traffic, const std::function<bool()>& done,
                 std::chrono::milliseconds limit, bool watchHangUp = true,
                 const std::function<void()>& afterTick = {});

// The devices in the Open Port dialog's order; /dev/ttyS0 and /dev/ttyS1 when the
// system gives no list.
DeviceList ListDevices();

// Where to look for the receiver: --port and --baud.
struct PortChoice {
    bool deviceGiven = false;
    bool autoDevice = false; // --port auto
    std::string device;
    bool baudGiven = false;
    std::uint32_t baud = 19200;
};

// The automatic search over devices (by hand: devices holds the one device), at every
// rate or at the one given. Shows each attempt on err. True when found; the port then
// stays open at that combination, which PortDeviceName and PortBaudRate hold.
bool SearchReceiver(const DeviceList& devices, bool deviceManual, const PortChoice& choice,
                    Traffic& traffic, std::ostream& err);

// Opens the port as the choice says: the search for --port auto, else the device given
// (or the first listed) at the rate given (or 19200). False after a message on err.
bool OpenConnection(const PortChoice& choice, Traffic& traffic, std::ostream& err);

// Asks for the Configuration and the Corrections status report and waits for both.
// False after a message on err.
bool ReadReports(Traffic& traffic, std::ostream& err);

// A recording replayed instead of a receiver: FILE, at speed (1 its own pace, 0 as fast
// as possible). OpenReplay opens it as the port (CommPort stands on it; PortDeviceName
// is the file's name). False after a message on err (not a recording, cannot be read).
bool OpenReplay(const std::string& file, double speed, std::ostream& err);

// Runs the open replay through traffic, as RunTicks runs a port, until every byte of the
// file is through (Done), done() holds (Done) or the file cannot be read (DeviceGone).
// At speed 0 it does not tick: it reads as fast as traffic takes the bytes. afterTick
// runs after every tick (or every block at speed 0).
TickEnd RunReplay(Traffic& traffic, const std::function<bool()>& done,
                  const std::function<void()>& afterTick = {});
