#pragma once
// The list of the machine's serial devices that the Open Port dialog offers.
//
// On Linux the names come from sysfs: every entry of /sys/class/tty that a driver
// backs (it has a device/driver link), except legacy 8250 ports (ttyS<n>) whose UART
// type is unknown, i.e. ports that the kernel reserves but that have no hardware
// behind them. They are taken in natural order (ttyS2 before ttyS10, names with
// the same prefix together) and become paths /dev/<name>. The colon-separated
// paths of the environment variable KESTRANE_EXTRA_PORTS follow, in their order;
// this is how a simulated receiver on a pseudo-terminal is offered.
//
// On Windows they are the data of the values of the registry key
// HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM (COM1, COM5, ...), in the order in
// which the registry gives them, followed by the extra ports as on Linux.
//
// An extra port may be a serial line behind a network server, rfc2217://HOST:PORT or
// tcp://HOST:PORT (serial/Netport.h); its own colons do not separate it from the next.
//
// The ordering rule then puts the first serial device (/dev/ttyS0, on Windows COM1)
// first and the second (/dev/ttyS1, COM2) second wherever they were met (either alone
// goes first); every other name keeps its place.

#include <deque>
#include <string>
#include <string_view>
#include <vector>

using DeviceList = std::deque<std::string>;

#ifdef _WIN32
inline constexpr const char* kFirstSerialDevice = "COM1";
inline constexpr const char* kSecondSerialDevice = "COM2";
// Windows has no sysfs: the windows, which take the folder to list from (tests give one
// of their own on Linux), pass this, and the machine's serial map is read.
inline constexpr const char* kDefaultSysfsTtyRoot = "";
inline constexpr const char* kExtraPortsVariable = "KESTRANE_EXTRA_PORTS";
#else
inline constexpr const char* kFirstSerialDevice = "/dev/ttyS0";
inline constexpr const char* kSecondSerialDevice = "/dev/ttyS1";
inline constexpr const char* kDefaultSysfsTtyRoot = "/sys/class/tty";
inline constexpr const char* kExtraPortsVariable = "KESTRANE_EXTRA_PORTS";
#endif

// Appends the names of the extra ports variable's text (nullptr: none), in their order:
// separated by colons, but for the colons of a network port's name.
void AppendExtraPorts(const char* text, std::vector<std::string>& names);

// Replaces list with names in the order of the ordering rule above. The comparison
// with the first and second serial device is exact and case-sensitive.
void OrderDeviceNames(const std::vector<std::string>& names, DeviceList& list);

// True when a is before b in natural order: runs of digits compare by their value,
// everything else byte by byte; names equal that way compare as plain text.
bool NaturalLess(std::string_view a, std::string_view b);

// Replaces list with the devices of the machine. False, with an empty list, when they
// cannot be read (the sysfs directory, or the registry key or one of its values); the
// caller then falls back to the first and second serial device. True otherwise, the
// list possibly empty.
bool EnumerateSerialDevices(DeviceList& list);

#ifdef _WIN32
// The devices to offer the user, read afresh at every call (devices come and go while
// the program runs): the enumeration, or COM1 and COM2 when it fails.
void OfferedSerialDevices(DeviceList& list);
// The same, for the windows' one way of asking on every system; the folder is not used.
inline void OfferedSerialDevices(DeviceList& list, const std::string&) {
    OfferedSerialDevices(list);
}
#else
// The same as EnumerateSerialDevices from a sysfs tty directory of the caller's choice
// and the text of the extra ports variable (nullptr: none).
bool EnumerateSerialDevices(DeviceList& list, const std::string& sysfsRoot, const char* extraPorts);

// The devices to offer the user, read afresh at every call (devices come and go while
// the program runs): the enumeration from sysfsRoot and the extra ports variable as it
// reads now, or /dev/ttyS0 and /dev/ttyS1 when sysfsRoot cannot be read.
void OfferedSerialDevices(DeviceList& list, const std::string& sysfsRoot);
#endif
