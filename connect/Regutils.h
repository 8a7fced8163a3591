#pragma once
// The list of the machine's serial devices that the Open Port dialog offers.
//
// The names come from sysfs: every entry of /sys/class/tty that a driver backs
// (it has a device/driver link), except legacy 8250 ports (ttyS<n>) whose UART
// type is unknown, i.e. ports that the kernel reserves but that have no hardware
// behind them. They are taken in natural order (ttyS2 before ttyS10, names with
// the same prefix together) and become paths /dev/<name>. The colon-separated
// paths of the environment variable KESTRANE_EXTRA_PORTS follow, in their order;
// this is how a simulated receiver on a pseudo-terminal is offered.
//
// The ordering rule then puts /dev/ttyS0 first and /dev/ttyS1 second wherever they
// were met (either alone goes first); every other name keeps its place.

#include <deque>
#include <string>
#include <string_view>
#include <vector>

using DeviceList = std::deque<std::string>;

inline constexpr const char* kFirstSerialDevice = "/dev/ttyS0";
inline constexpr const char* kSecondSerialDevice = "/dev/ttyS1";
inline constexpr const char* kDefaultSysfsTtyRoot = "/sys/class/tty";
inline constexpr const char* kExtraPortsVariable = "KESTRANE_EXTRA_PORTS";

// Replaces list with names in the order of the ordering rule above. The comparison
// with /dev/ttyS0 and /dev/ttyS1 is exact and case-sensitive.
void OrderDeviceNames(const std::vector<std::string>& names, DeviceList& list);

// True when a is before b in natural order: runs of digits compare by their value,
// everything else byte by byte; names equal that way compare as plain text.
bool NaturalLess(std::string_view a, std::string_view b);

// Replaces list with the devices of the machine (sysfs root /sys/class/tty and the
// environment variable). False, with an empty list, when the sysfs directory cannot
// be read; the caller then falls back to /dev/ttyS0 and /dev/ttyS1. True otherwise,
// the list possibly empty.
bool EnumerateSerialDevices(DeviceList& list);

// The same from a sysfs tty directory of the caller's choice and the text of the
// extra ports variable (nullptr: none).
bool EnumerateSerialDevices(DeviceList& list, const std::string& sysfsRoot, const char* extraPorts);

// The devices to offer the user, read afresh at every call (devices come and go while
// the program runs): the enumeration from sysfsRoot and the extra ports variable as it
// reads now, or /dev/ttyS0 and /dev/ttyS1 when sysfsRoot cannot be read.
void OfferedSerialDevices(DeviceList& list, const std::string& sysfsRoot);
