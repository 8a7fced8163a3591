#pragma once
// The registry side of the device list on Windows, with the root of the tree as a seam:
// the program reads HKEY_LOCAL_MACHINE, tests a tree of their own that has the same
// HARDWARE\DEVICEMAP\SERIALCOMM below it.

#include "connect/Regutils.h"

#include <windows.h>

// The room for one value: its name (not used) and its data, the device name, which is
// taken as zero-terminated text. A value that does not fit breaks the enumeration off.
inline constexpr DWORD kValueNameCapacity = 100;
inline constexpr DWORD kDeviceNameCapacity = 100;

// Replaces list with the device names under root\HARDWARE\DEVICEMAP\SERIALCOMM, opened
// one level at a time for reading, in the ordering rule's order. False, with an empty
// list, when a level cannot be opened or the enumeration ends on anything but the end of
// the values; nothing read before such an error is kept.
bool EnumerateSerialDevicesUnder(HKEY root, DeviceList& list);
