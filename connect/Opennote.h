#pragma once
// The text of the note that reports a failed manual open of the port.
//
// Its first line is always "Error opening device " and the device name. Below it comes
// the system's reason, when there is one. A permission refusal is what users of a fresh
// Linux installation meet most: serial devices belong to a group (dialout on Debian and
// its relatives, uucp elsewhere) and only its members may open them. So for that reason
// the note also names the group that owns the device and says that the user must belong
// to it.

#include <string>

// device: the path that failed to open; error: the system's error code (0: unknown);
// errorText: the system's text for it (may be empty).
std::string OpenFailureNote(const std::string& device, int error, const std::string& errorText);

// The name of the group that owns the file at path, or empty when it cannot be told.
std::string DeviceGroupName(const std::string& path);
