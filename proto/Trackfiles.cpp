#include "proto/Trackfiles.h"

#include "proto/Numbertext.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>

namespace {

constexpr std::int64_t kDayMs = 86'400'000;


std::string Latitude(double degrees) {
    return FixedText(degrees, 8);
}

// GPX takes longitudes from -180 up to, not including, 180.
std::string Longitude(double degrees) {
    double rounded = std::round(degrees * 1e8) / 1e8;
    if (rounded >= 180.0) {
        rounded -= 360.0;
    }
    return FixedText(rounded, 8);
}

// "2026-12-09T16:57:20.000Z" from milliseconds since 1970.
std::string IsoTime(std::int64_t utcMs) {
    std::int64_t days = utcMs / kDayMs;
    std::int64_t ms = utcMs % kDayMs;
    if (ms < 0) {
        ms += kDayMs;
        --days;
    }
    // The civil date of a day count (proleptic Gregorian).
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t dayOfEra = z - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;
    const std::int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", static_cast<int>(year),
                  static_cast<int>(month), static_cast<int>(day), static_cast<int>(ms / 3'600'000),
                  static_cast<int>(ms / 60'000 % 60), static_cast<int>(ms / 1000 % 60),
                  static_cast<int>(ms % 1000));
    return buf;
}

// "16:57:20.000Z": the time of day, when the date is not known.
std::string IsoTimeOfDay(std::int32_t timeMs) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03dZ", static_cast<int>(timeMs / 3'600'000),
                  static_cast<int>(timeMs / 60'000 % 60), static_cast<int>(timeMs / 1000 % 60),
                  static_cast<int>(timeMs % 1000));
    return buf;
}

// GPX's fix type: differential from the GGA's quality, else the GSA's mode.
const char* FixType(const FixEpoch& e) {
    if (e.quality == 2) {
        return "dgps";
    }
    if (e.fixMode == 3) {
        return "3d";
    }
    if (e.fixMode == 2) {
        return "2d";
    }
    return nullptr;
}

// A reference station id as GPX takes it (0 to 1023).
std::optional<int> StationId(const FixEpoch& e) {
    if (e.correctionStation && *e.correctionStation >= 0 && *e.correctionStation <= 1023) {
        return e.correctionStation;
    }
    return std::nullopt;
}

std::string XmlText(const std::string& text) {
    std::string s;
    for (const char c : text) {
        switch (c) {
        case '&':
            s += "&amp;";
            break;
        case '<':
            s += "&lt;";
            break;
        case '>':
            s += "&gt;";
            break;
        case '"':
            s += "&quot;";
            break;
        case '\'':
            s += "&apos;";
            break;
        default:
            // Control characters have no place in XML 1.0.
            if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') {
                s += c;
            }
        }
    }
    return s;
}

} // namespace

bool WriteGpx(std::ostream& out, const std::deque<FixEpoch>& epochs, const std::string& creator) {
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<gpx version=\"1.1\" creator=\"" << XmlText(creator)
        << "\" xmlns=\"http://www.topografix.com/GPX/1/1\""
           " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
           " xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1"
           " http://www.topografix.com/GPX/1/1/gpx.xsd\">\n"
        << "  <trk>\n    <trkseg>\n";
    for (const FixEpoch& e : epochs) {
        if (!e.valid) {
            continue;
        }
        std::string p = "      <trkpt lat=\"" + Latitude(e.latitude) + "\" lon=\"" +
                        Longitude(e.longitude) + "\">\n";
        const auto element = [&p](const char* name, const std::string& value) {
            p += std::string("        <") + name + ">" + value + "</" + name + ">\n";
        };
        if (e.altitude) {
            element("ele", ShortestText(*e.altitude));
        }
        if (e.utcMs) {
            element("time", IsoTime(*e.utcMs));
        }
        if (const char* fix = FixType(e)) {
            element("fix", fix);
        }
        if (e.satellitesUsed && *e.satellitesUsed >= 0) {
            element("sat", std::to_string(*e.satellitesUsed));
        }
        if (e.hdop) {
            element("hdop", ShortestText(*e.hdop));
        }
        if (e.vdop) {
            element("vdop", ShortestText(*e.vdop));
        }
        if (e.pdop) {
            element("pdop", ShortestText(*e.pdop));
        }
        if (e.correctionAge) {
            element("ageofdgpsdata", ShortestText(*e.correctionAge));
        }
        if (const auto station = StationId(e)) {
            element("dgpsid", std::to_string(*station));
        }
        out << p << "      </trkpt>\n";
    }
    out << "    </trkseg>\n  </trk>\n</gpx>\n";
    out.flush();
    return static_cast<bool>(out);
}

bool WriteCsv(std::ostream& out, const std::deque<FixEpoch>& epochs) {
    out << "time,latitude,longitude,altitude_m,fix,satellites,hdop,vdop,pdop,dgps_age_s,"
           "dgps_station\r\n";
    for (const FixEpoch& e : epochs) {
        if (!e.valid) {
            continue;
        }
        const char* fix = FixType(e);
        const auto station = StationId(e);
        out << (e.utcMs ? IsoTime(*e.utcMs) : IsoTimeOfDay(e.timeMs)) << ',' << Latitude(e.latitude)
            << ',' << Longitude(e.longitude) << ',' << (e.altitude ? ShortestText(*e.altitude) : "")
            << ',' << (fix ? fix : "") << ','
            << (e.satellitesUsed ? std::to_string(*e.satellitesUsed) : "") << ','
            << (e.hdop ? ShortestText(*e.hdop) : "") << ',' << (e.vdop ? ShortestText(*e.vdop) : "") << ','
            << (e.pdop ? ShortestText(*e.pdop) : "") << ','
            << (e.correctionAge ? ShortestText(*e.correctionAge) : "") << ','
            << (station ? std::to_string(*station) : "") << "\r\n";
    }
    out.flush();
    return static_cast<bool>(out);
}
