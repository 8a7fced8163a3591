#pragma once
// How precise the receiver's fixes were: the figures an installation is accepted by.
//
// Valid fixes are the epochs with a valid position. Their mean position is the mean of
// their latitudes, longitudes and altitudes (longitudes taken about the first fix's, so a
// track across 180 degrees is not torn apart); each fix is placed east and north of the
// mean on the plane touching the WGS-84 ellipsoid there, and up by its altitude above the
// mean altitude. Then:
//   - CEP50, CEP95: the smallest horizontal distance from the mean that at least 50 % /
//     95 % of the fixes do not exceed (nearest rank over the sorted distances);
//   - sigma east, north, up: sample standard deviations (n - 1), from 2 fixes on;
//   - 2DRMS = 2 * sqrt(sigmaE^2 + sigmaN^2);
//   - vertical 95 %: nearest rank of the absolute heights above or below the mean;
//   - availability: valid fixes of all epochs, in percent;
//   - longest gap: the longest time between two consecutive valid fixes (or from the
//     first epoch to the first fix, or the last fix to the last epoch);
//   - shares of fix quality (no fix 0, GPS 1, differential 2, estimated 6, other or not
//     given) and of mode (2D, 3D, no fix, not given) among all epochs;
//   - HDOP and satellites used: mean and maximum over the valid fixes that carry them.
// Times are the epochs' UTC times; a step back in time from one epoch to the next (a
// recording appended to another) counts as no time at all.

#include "proto/Epochs.h"

#include <cstddef>
#include <deque>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

struct PrecisionFigures {
    std::size_t epochs = 0;
    std::size_t fixes = 0;                 // valid
    std::size_t differentialFixes = 0;     // valid, of quality 2
    double spanSeconds = 0.0;              // first to last epoch
    std::optional<double> meanLatitude, meanLongitude, meanAltitude;
    std::optional<double> cep50, cep95, drms2;
    std::optional<double> sigmaEast, sigmaNorth, sigmaUp;
    std::optional<double> vertical95;
    double availability = 0.0;             // percent
    double longestGapSeconds = 0.0;
    double shareNoFix = 0.0, shareGps = 0.0, shareDifferential = 0.0, shareEstimated = 0.0,
           shareOtherQuality = 0.0;        // percent of epochs
    double share2D = 0.0, share3D = 0.0, shareModeNoFix = 0.0, shareModeUnknown = 0.0;
    std::optional<double> meanHdop, maxHdop;
    std::optional<double> meanSatellites;
    std::optional<int> maxSatellites;
};

PrecisionFigures ComputePrecision(const std::deque<FixEpoch>& epochs);

struct PrecisionCriteria {
    std::optional<double> maxCep95;        // metres
    std::optional<double> minAvailability; // percent
    bool requireDifferential = false;      // every valid fix differential
};

// The criteria that do not hold, each as a line for the user ("CEP95 1.42 m is over
// 1.00 m"); empty when all hold. No epoch at all fails whatever the criteria.
std::vector<std::string> FailedCriteria(const PrecisionFigures& figures,
                                        const PrecisionCriteria& criteria);

// The report as text for a terminal, and as one JSON object: keys in snake_case with
// their unit (cep95_m), null for a value not known, "passed" and "failed" (the lines).
void WritePrecisionText(std::ostream& out, const PrecisionFigures& figures);
void WritePrecisionJson(std::ostream& out, const PrecisionFigures& figures,
                        const std::vector<std::string>& failed);
