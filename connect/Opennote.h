#pragma once
// The text of the note that reports a failed manual open of the port.
//
// Its first line is always "Error opening device " and the device name. Below it comes
// the system's reason, when there is one, and a line on what to do where the reason is
// one that users meet often:
// - Linux: a permission refusal, what users of a fresh installation meet most. Serial
//   devices belong to a group (dialout on Debian and its relatives, uucp elsewhere) and
//   only its members may open them, so the note names the group that owns the device
//   and says that the user must belong to it.
// - Windows: access denied, which is what Windows answers for a port that another
//   program holds.

#include <string>

// device: the name that failed to open; error: the system's error code (0: unknown);
// errorText: the system's text for it (may be empty).
std::string OpenFailureNote(const std::string& device, int error, const std::string& errorText);

// The line on what to do about error on device, or empty when there is none.
std::string OpenFailureAdvice(const std::string& device, int error);

#ifndef _WIN32
// The name of the group that owns the file at path, or empty when it cannot be told.
std::string DeviceGroupName(const std::string& path);
#endif
