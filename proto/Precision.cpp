#include "proto/Precision.h"
#include "proto/Jsontext.h"

#include "proto/Numbertext.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace {

constexpr double kPi = 3.14159265358979323846;
// WGS-84.
constexpr double kSemiMajorAxis = 6378137.0;
constexpr double kEccentricitySquared = 6.69437999014e-3;
constexpr std::int64_t kDayMs = 86'400'000;

double Radians(double degrees) {
    return degrees * kPi / 180.0;
}

// The step of UTC time from one epoch to the next, in milliseconds. Without both dates,
// the times of day, a step back by more than half a day being midnight passed. A step
// back counts as none.
std::int64_t StepMs(const FixEpoch& from, const FixEpoch& to) {
    std::int64_t d;
    if (from.utcMs && to.utcMs) {
        d = *to.utcMs - *from.utcMs;
    } else {
        d = static_cast<std::int64_t>(to.timeMs) - from.timeMs;
        if (d < -kDayMs / 2) {
            d += kDayMs;
        }
    }
    return d < 0 ? 0 : d;
}

// The value at rank ceil(n * percent / 100) of the sorted values (n > 0).
double NearestRank(const std::vector<double>& sorted, std::size_t percent) {
    const std::size_t n = sorted.size();
    std::size_t rank = (n * percent + 99) / 100;
    rank = std::clamp<std::size_t>(rank, 1, n);
    return sorted[rank - 1];
}

// The sample standard deviation (n - 1) of values, from 2 on.
std::optional<double> SampleDeviation(const std::vector<double>& values) {
    if (values.size() < 2) {
        return std::nullopt;
    }
    double sum = 0.0;
    for (const double v : values) {
        sum += v;
    }
    const double mean = sum / static_cast<double>(values.size());
    double squares = 0.0;
    for (const double v : values) {
        squares += (v - mean) * (v - mean);
    }
    return std::sqrt(squares / static_cast<double>(values.size() - 1));
}

double Percent(std::size_t part, std::size_t whole) {
    return whole == 0 ? 0.0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole);
}


// A limit the user gave: as given (the shortest text that reads back as it), with at
// least two decimals.
std::string Limit(double limit) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, limit, std::chars_format::fixed);
    std::string text(buf, r.ptr);
    const std::size_t point = text.find('.');
    const std::size_t decimals = point == std::string::npos ? 0 : text.size() - point - 1;
    if (decimals < 2) {
        text = FixedText(limit, 2);
    }
    return text;
}

// A value against its limit: to as many decimals as the limit, and more (up to 6) while
// the two would read the same.
std::string Against(double value, const std::string& limit) {
    const std::size_t point = limit.find('.');
    int decimals = point == std::string::npos ? 0 : static_cast<int>(limit.size() - point - 1);
    while (decimals < 6 && FixedText(value, decimals) == limit) {
        ++decimals;
    }
    return FixedText(value, decimals);
}

} // namespace

PrecisionFigures ComputePrecision(const std::deque<FixEpoch>& epochs) {
    PrecisionFigures f;
    f.epochs = epochs.size();
    if (epochs.empty()) {
        return f;
    }

    // The epochs on one time line, from the first one.
    std::vector<std::int64_t> at(epochs.size(), 0);
    for (std::size_t i = 1; i < epochs.size(); ++i) {
        at[i] = at[i - 1] + StepMs(epochs[i - 1], epochs[i]);
    }
    f.spanSeconds = static_cast<double>(at.back()) / 1000.0;

    std::size_t quality[5] = {}; // no fix, GPS, differential, estimated, other
    std::size_t mode[4] = {};    // 2D, 3D, no fix, not given
    std::vector<std::size_t> valid;
    std::int64_t longestGap = 0;
    for (std::size_t i = 0; i < epochs.size(); ++i) {
        const FixEpoch& e = epochs[i];
        const int q = e.quality.value_or(-1);
        ++quality[q == 0 ? 0 : q == 1 ? 1 : q == 2 ? 2 : q == 6 ? 3 : 4];
        const int m = e.fixMode.value_or(-1);
        ++mode[m == 2 ? 0 : m == 3 ? 1 : m == 1 ? 2 : 3];
        if (e.valid) {
            longestGap = std::max(longestGap, at[i] - (valid.empty() ? 0 : at[valid.back()]));
            valid.push_back(i);
            f.differentialFixes += q == 2 ? 1 : 0;
        }
    }
    longestGap = std::max(longestGap, at.back() - (valid.empty() ? 0 : at[valid.back()]));
    f.longestGapSeconds = static_cast<double>(longestGap) / 1000.0;
    f.fixes = valid.size();
    f.availability = Percent(f.fixes, f.epochs);
    f.shareNoFix = Percent(quality[0], f.epochs);
    f.shareGps = Percent(quality[1], f.epochs);
    f.shareDifferential = Percent(quality[2], f.epochs);
    f.shareEstimated = Percent(quality[3], f.epochs);
    f.shareOtherQuality = Percent(quality[4], f.epochs);
    f.share2D = Percent(mode[0], f.epochs);
    f.share3D = Percent(mode[1], f.epochs);
    f.shareModeNoFix = Percent(mode[2], f.epochs);
    f.shareModeUnknown = Percent(mode[3], f.epochs);
    if (valid.empty()) {
        return f;
    }

    // The mean position; longitudes about the first fix's.
    const double firstLongitude = epochs[valid.front()].longitude;
    double sumLat = 0.0, sumLon = 0.0, sumAlt = 0.0;
    std::size_t altitudes = 0;
    double sumHdop = 0.0;
    std::size_t hdops = 0;
    double sumSats = 0.0;
    std::size_t sats = 0;
    for (const std::size_t i : valid) {
        const FixEpoch& e = epochs[i];
        sumLat += e.latitude;
        double d = e.longitude - firstLongitude;
        d += d > 180.0 ? -360.0 : d < -180.0 ? 360.0 : 0.0;
        sumLon += d;
        if (e.altitude) {
            sumAlt += *e.altitude;
            ++altitudes;
        }
        if (e.hdop) {
            sumHdop += *e.hdop;
            ++hdops;
            f.maxHdop = std::max(f.maxHdop.value_or(*e.hdop), *e.hdop);
        }
        if (e.satellitesUsed) {
            sumSats += *e.satellitesUsed;
            ++sats;
            f.maxSatellites =
                std::max(f.maxSatellites.value_or(*e.satellitesUsed), *e.satellitesUsed);
        }
    }
    const double n = static_cast<double>(valid.size());
    const double meanLat = sumLat / n;
    double meanLon = firstLongitude + sumLon / n;
    meanLon += meanLon >= 180.0 ? -360.0 : meanLon < -180.0 ? 360.0 : 0.0;
    f.meanLatitude = meanLat;
    f.meanLongitude = meanLon;
    if (altitudes > 0) {
        f.meanAltitude = sumAlt / static_cast<double>(altitudes);
    }
    if (hdops > 0) {
        f.meanHdop = sumHdop / static_cast<double>(hdops);
    }
    if (sats > 0) {
        f.meanSatellites = sumSats / static_cast<double>(sats);
    }

    // Each fix on the ellipsoid, its offset from the mean turned into the mean's east and
    // north.
    const auto onEllipsoid = [](double latitude, double longitude, double xyz[3]) {
        const double sinLat = std::sin(Radians(latitude));
        const double cosLat = std::cos(Radians(latitude));
        const double primeVertical =
            kSemiMajorAxis / std::sqrt(1.0 - kEccentricitySquared * sinLat * sinLat);
        xyz[0] = primeVertical * cosLat * std::cos(Radians(longitude));
        xyz[1] = primeVertical * cosLat * std::sin(Radians(longitude));
        xyz[2] = primeVertical * (1.0 - kEccentricitySquared) * sinLat;
    };
    double origin[3];
    onEllipsoid(meanLat, meanLon, origin);
    const double sinLat = std::sin(Radians(meanLat)), cosLat = std::cos(Radians(meanLat));
    const double sinLon = std::sin(Radians(meanLon)), cosLon = std::cos(Radians(meanLon));
    std::vector<double> east, north, up, distances, heights;
    for (const std::size_t i : valid) {
        const FixEpoch& e = epochs[i];
        double p[3];
        onEllipsoid(e.latitude, e.longitude, p);
        const double dx = p[0] - origin[0], dy = p[1] - origin[1], dz = p[2] - origin[2];
        const double de = -sinLon * dx + cosLon * dy;
        const double dn = -sinLat * cosLon * dx - sinLat * sinLon * dy + cosLat * dz;
        east.push_back(de);
        north.push_back(dn);
        distances.push_back(std::sqrt(de * de + dn * dn));
        if (e.altitude && f.meanAltitude) {
            up.push_back(*e.altitude - *f.meanAltitude);
            heights.push_back(std::fabs(up.back()));
        }
    }
    std::sort(distances.begin(), distances.end());
    f.cep50 = NearestRank(distances, 50);
    f.cep95 = NearestRank(distances, 95);
    f.sigmaEast = SampleDeviation(east);
    f.sigmaNorth = SampleDeviation(north);
    if (f.sigmaEast && f.sigmaNorth) {
        f.drms2 = 2.0 * std::sqrt(*f.sigmaEast * *f.sigmaEast + *f.sigmaNorth * *f.sigmaNorth);
    }
    f.sigmaUp = SampleDeviation(up);
    if (!heights.empty()) {
        std::sort(heights.begin(), heights.end());
        f.vertical95 = NearestRank(heights, 95);
    }
    return f;
}

std::vector<std::string> FailedCriteria(const PrecisionFigures& figures,
                                        const PrecisionCriteria& criteria) {
    std::vector<std::string> failed;
    if (figures.epochs == 0) {
        failed.push_back("no fix sentence (GGA or RMC) was received");
    }
    if (criteria.maxCep95) {
        const std::string limit = Limit(*criteria.maxCep95);
        if (!figures.cep95) {
            failed.push_back("CEP95 is not known (no valid fix), at most " + limit + " m required");
        } else if (*figures.cep95 > *criteria.maxCep95) {
            failed.push_back("CEP95 " + Against(*figures.cep95, limit) + " m is over " + limit +
                             " m");
        }
    }
    if (criteria.minAvailability && figures.availability < *criteria.minAvailability) {
        const std::string limit = Limit(*criteria.minAvailability);
        failed.push_back("availability " + Against(figures.availability, limit) + " % is under " +
                         limit + " %");
    }
    if (criteria.requireDifferential) {
        if (figures.fixes == 0) {
            failed.push_back("differential required, but there is no valid fix");
        } else if (figures.differentialFixes < figures.fixes) {
            failed.push_back("differential required, but " +
                             std::to_string(figures.fixes - figures.differentialFixes) + " of " +
                             std::to_string(figures.fixes) + " fixes were without it");
        }
    }
    return failed;
}

namespace {

constexpr int kValueColumn = 24;

void Line(std::ostream& out, const std::string& label, const std::string& value) {
    out << label;
    if (label.size() < static_cast<std::size_t>(kValueColumn)) {
        out << std::string(kValueColumn - label.size(), ' ');
    } else {
        out << ' ';
    }
    out << value << '\n';
}

std::string Unit(const std::optional<double>& value, int decimals, const char* unit) {
    return value ? FixedText(*value, decimals) + " " + unit : std::string("not known");
}

std::string Share(double percent) {
    std::string text = FixedText(percent, 2);
    return std::string(text.size() < 6 ? 6 - text.size() : 0, ' ') + text + " %";
}

std::string Degrees(const std::optional<double>& value, char positive, char negative) {
    if (!value) {
        return "not known";
    }
    return FixedText(std::fabs(*value), 8) + " " + (*value < 0 ? negative : positive);
}

// A number as JSON: the shortest text that reads back as the same double.
std::string JsonNumber(double value) {
    if (!std::isfinite(value)) {
        return "null";
    }
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, r.ptr);
}

std::string JsonNumber(const std::optional<double>& value) {
    return value ? JsonNumber(*value) : std::string("null");
}

} // namespace

void WritePrecisionText(std::ostream& out, const PrecisionFigures& f) {
    Line(out, "Epochs", std::to_string(f.epochs));
    Line(out, "Valid fixes", std::to_string(f.fixes));
    Line(out, "Time span", FixedText(f.spanSeconds, 1) + " s");
    Line(out, "Mean latitude", Degrees(f.meanLatitude, 'N', 'S'));
    Line(out, "Mean longitude", Degrees(f.meanLongitude, 'E', 'W'));
    Line(out, "Mean altitude", Unit(f.meanAltitude, 2, "m"));
    Line(out, "CEP50", Unit(f.cep50, 3, "m"));
    Line(out, "CEP95", Unit(f.cep95, 3, "m"));
    Line(out, "2DRMS", Unit(f.drms2, 3, "m"));
    Line(out, "Sigma east", Unit(f.sigmaEast, 3, "m"));
    Line(out, "Sigma north", Unit(f.sigmaNorth, 3, "m"));
    Line(out, "Sigma up", Unit(f.sigmaUp, 3, "m"));
    Line(out, "Vertical 95 %", Unit(f.vertical95, 3, "m"));
    Line(out, "Availability", Share(f.availability));
    Line(out, "Longest gap", FixedText(f.longestGapSeconds, 1) + " s");
    out << "Fix quality (time)\n";
    Line(out, "  no fix", Share(f.shareNoFix));
    Line(out, "  GPS", Share(f.shareGps));
    Line(out, "  differential", Share(f.shareDifferential));
    Line(out, "  estimated", Share(f.shareEstimated));
    Line(out, "  other, not given", Share(f.shareOtherQuality));
    out << "Fix mode (time)\n";
    Line(out, "  2D", Share(f.share2D));
    Line(out, "  3D", Share(f.share3D));
    Line(out, "  no fix", Share(f.shareModeNoFix));
    Line(out, "  not given", Share(f.shareModeUnknown));
    Line(out, "HDOP",
         f.meanHdop ? "mean " + FixedText(*f.meanHdop, 2) + ", max " + FixedText(*f.maxHdop, 2)
                    : std::string("not known"));
    Line(out, "Satellites used",
         f.meanSatellites
             ? "mean " + FixedText(*f.meanSatellites, 1) + ", max " + std::to_string(*f.maxSatellites)
             : std::string("not known"));
}

void WritePrecisionJson(std::ostream& out, const PrecisionFigures& f,
                        const std::vector<std::string>& failed) {
    // Integers by to_string too: the stream's locale must not group their digits.
    out << "{\"epochs\": " << std::to_string(f.epochs) << ", \"fixes\": " << std::to_string(f.fixes)
        << ", \"differential_fixes\": " << std::to_string(f.differentialFixes)
        << ", \"span_s\": " << JsonNumber(f.spanSeconds)
        << ", \"mean_latitude_deg\": " << JsonNumber(f.meanLatitude)
        << ", \"mean_longitude_deg\": " << JsonNumber(f.meanLongitude)
        << ", \"mean_altitude_m\": " << JsonNumber(f.meanAltitude)
        << ", \"cep50_m\": " << JsonNumber(f.cep50) << ", \"cep95_m\": " << JsonNumber(f.cep95)
        << ", \"drms2_m\": " << JsonNumber(f.drms2)
        << ", \"sigma_east_m\": " << JsonNumber(f.sigmaEast)
        << ", \"sigma_north_m\": " << JsonNumber(f.sigmaNorth)
        << ", \"sigma_up_m\": " << JsonNumber(f.sigmaUp)
        << ", \"vertical95_m\": " << JsonNumber(f.vertical95)
        << ", \"availability_percent\": " << JsonNumber(f.availability)
        << ", \"longest_gap_s\": " << JsonNumber(f.longestGapSeconds)
        << ", \"quality_percent\": {\"no_fix\": " << JsonNumber(f.shareNoFix)
        << ", \"gps\": " << JsonNumber(f.shareGps)
        << ", \"differential\": " << JsonNumber(f.shareDifferential)
        << ", \"estimated\": " << JsonNumber(f.shareEstimated)
        << ", \"other\": " << JsonNumber(f.shareOtherQuality) << "}"
        << ", \"mode_percent\": {\"2d\": " << JsonNumber(f.share2D)
        << ", \"3d\": " << JsonNumber(f.share3D) << ", \"no_fix\": " << JsonNumber(f.shareModeNoFix)
        << ", \"not_given\": " << JsonNumber(f.shareModeUnknown) << "}"
        << ", \"hdop_mean\": " << JsonNumber(f.meanHdop)
        << ", \"hdop_max\": " << JsonNumber(f.maxHdop)
        << ", \"satellites_mean\": " << JsonNumber(f.meanSatellites) << ", \"satellites_max\": "
        << (f.maxSatellites ? std::to_string(*f.maxSatellites) : std::string("null"))
        << ", \"passed\": " << (failed.empty() ? "true" : "false") << ", \"failed\": [";
    for (std::size_t i = 0; i < failed.size(); ++i) {
        out << (i > 0 ? ", " : "") << JsonString(failed[i]);
    }
    out << "]}\n";
}
