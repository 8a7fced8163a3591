#pragma once
// The receiver's fixes written for other programs: a GPX 1.1 track and a CSV table.
//
// GPX: one trk with one trkseg of a trkpt per valid fix, with ele, time (when the date
// is known), fix ("2d", "3d" or "dgps"), sat, hdop, vdop, pdop, ageofdgpsdata and
// dgpsid where known, in the order GPX 1.1 gives them.
// CSV: a header row, then one row per valid fix: UTC time in ISO 8601, latitude and
// longitude in decimal degrees to 8 places, and the same values as the GPX; an unknown
// value is an empty field. A fix whose date is not known has its UTC time of day
// ("16:57:20.000Z"). Rows end in CR LF, as RFC 4180 has them.
// Times are written to the millisecond (2026-12-09T16:57:20.000Z); coordinates of both
// to 8 places (about a millimetre), other numbers as the sentence gave them.

#include "proto/Epochs.h"

#include <deque>
#include <ostream>
#include <string>

// Both write to out and report whether out took everything.
bool WriteGpx(std::ostream& out, const std::deque<FixEpoch>& epochs, const std::string& creator);
bool WriteCsv(std::ostream& out, const std::deque<FixEpoch>& epochs);
