#pragma once
// The time-of-day text with which every line of the receive display begins.
// Single-threaded use only: FormatTimeOfDay keeps its text in one shared buffer,
// which the next call overwrites.

#include <cstdint>
#include <string>

// Local time of day of a calendar time in whole seconds as "HH:MM:SS" (hour 0-23).
// 0 means now. The text lives in a static buffer until the next call. A time that
// the system cannot convert to local time gives "--:--:--".
const char* FormatTimeOfDay(std::int64_t seconds);

// FormatTimeOfDay of the current time, copied so it survives later calls.
std::string TimeOfDayText();
