#include "proto/Nmea.h"

#include <cstring>

namespace {

// Fields past the last one a known type has are not looked at; later NMEA versions
// append some (RMC's navigational status, GSA's system id). GSA's precisions come after
// as many satellite slots as the receiver has (twelve, some send 24), so room is left
// for 34 slots; a GSA with more fields than that is refused.
constexpr std::size_t kMaxFields = 40;
// Digits of a number's mantissa: more than a double holds, fewer than an int64 overflows.
constexpr int kMaxDigits = 17;

struct Field {
    const char* text = nullptr;
    std::size_t length = 0;
    bool Empty() const { return length == 0; }
};

struct Fields {
    std::array<Field, kMaxFields> at;
    std::size_t count = 0; // kept in at
    std::size_t total = 0; // in the sentence
    bool checked = false;  // the sentence carried a checksum, and it matched

    // Whether the layout's first n fields can be read by their positions: all there, or
    // fewer in a sentence whose checksum vouches that the receiver sent no more (the
    // missing ones then read as empty).
    bool Readable(std::size_t n) const { return count >= n || checked; }
};

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Digits only, at most 9 of them.
bool ParseUnsigned(const Field& f, int& value) {
    if (f.Empty() || f.length > 9)
        return false;
    int v = 0;
    for (std::size_t i = 0; i < f.length; ++i) {
        if (!IsDigit(f.text[i]))
            return false;
        v = v * 10 + (f.text[i] - '0');
    }
    value = v;
    return true;
}

// [+-] digits [. digits], at least one digit. One correctly rounded division by a power
// of ten, so "3715.6616" gives the double nearest to 3715.6616, whatever the locale.
bool ParseDecimal(const Field& f, double& value) {
    std::size_t i = 0;
    bool negative = false;
    if (i < f.length && (f.text[i] == '+' || f.text[i] == '-')) {
        negative = f.text[i] == '-';
        ++i;
    }
    std::int64_t mantissa = 0;
    int digits = 0;
    int decimals = 0;
    bool point = false;
    bool anyDigit = false;
    for (; i < f.length; ++i) {
        const char c = f.text[i];
        if (c == '.' && !point) {
            point = true;
        } else if (IsDigit(c)) {
            anyDigit = true;
            if (digits == 0 && c == '0' && !point) {
                continue; // leading zeros of the integer part count for nothing
            }
            if (++digits > kMaxDigits)
                return false;
            mantissa = mantissa * 10 + (c - '0');
            if (point)
                ++decimals;
        } else {
            return false;
        }
    }
    if (!anyDigit)
        return false;
    double scale = 1.0;
    for (int d = 0; d < decimals; ++d)
        scale *= 10.0;
    const double v = static_cast<double>(mantissa) / scale;
    value = negative ? -v : v;
    return true;
}

bool ParseNonNegative(const Field& f, double& value) {
    return ParseDecimal(f, value) && value >= 0.0 && f.text[0] != '-';
}

// "hhmmss" with an optional fraction of the second.
bool ParseTime(const Field& f, NmeaTime& t) {
    if (f.length < 6)
        return false;
    for (std::size_t i = 0; i < 6; ++i)
        if (!IsDigit(f.text[i]))
            return false;
    const int hh = (f.text[0] - '0') * 10 + (f.text[1] - '0');
    const int mm = (f.text[2] - '0') * 10 + (f.text[3] - '0');
    const int ss = (f.text[4] - '0') * 10 + (f.text[5] - '0');
    if (hh > 23 || mm > 59 || ss > 60) // 60: a leap second
        return false;
    int ms = 0;
    int kept = 0;
    if (f.length > 6) {
        if (f.text[6] != '.' || f.length > 6 + 1 + 9)
            return false;
        int scale = 100;
        for (std::size_t i = 7; i < f.length; ++i) {
            if (!IsDigit(f.text[i]))
                return false;
            if (kept < 3) {
                ms += (f.text[i] - '0') * scale;
                scale /= 10;
                ++kept;
            }
        }
    }
    t.hour = hh;
    t.minute = mm;
    t.second = ss;
    t.millisecond = ms;
    t.fractionDigits = kept;
    return true;
}

bool LeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Days of the month; February's 29th only in a leap year, or when the year is not known.
int DaysInMonth(int month, std::optional<int> year) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2 && (!year || LeapYear(*year)))
        return 29;
    return kDays[month - 1];
}

// A day that exists in its month (the Gregorian calendar).
bool ValidDate(int day, int month, std::optional<int> year) {
    return month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(month, year);
}

// RMC's "ddmmyy".
bool ParseShortDate(const Field& f, NmeaDate& d) {
    int v = 0;
    if (f.length != 6 || !ParseUnsigned(f, v))
        return false;
    d.day = v / 10000;
    d.month = v / 100 % 100;
    const int yy = v % 100;
    d.year = yy >= 80 ? 1900 + yy : 2000 + yy;
    return ValidDate(d.day, d.month, d.year);
}

enum class Coordinate {
    Read,       // into the coordinate, or unknown when a field is empty
    OutOfRange, // well formed, but minutes of 60 or more or degrees past 90 or 180
    Bad,        // not a coordinate
};

// "ddmm.mmm" (latitude, 2 degree digits) or "dddmm.mmm" (longitude, 3) and its
// hemisphere. Either field empty leaves the coordinate unknown.
Coordinate ReadCoordinate(const Field& value, const Field& side, int degreeDigits, char positive,
                          char negative, std::optional<NmeaCoordinate>& out) {
    if (!side.Empty() &&
        (side.length != 1 || (side.text[0] != positive && side.text[0] != negative)))
        return Coordinate::Bad;
    if (value.Empty()) {
        out.reset();
        return Coordinate::Read;
    }
    const std::size_t whole = static_cast<std::size_t>(degreeDigits) + 2;
    if (value.length < whole)
        return Coordinate::Bad;
    for (std::size_t i = 0; i < whole; ++i)
        if (!IsDigit(value.text[i]))
            return Coordinate::Bad;
    if (value.length > whole && value.text[whole] != '.')
        return Coordinate::Bad;
    const Field minutesField{value.text + degreeDigits, value.length - degreeDigits};
    if (minutesField.length >= sizeof(NmeaCoordinate::minutes))
        return Coordinate::Bad;
    double minutes = 0.0;
    if (!ParseNonNegative(minutesField, minutes))
        return Coordinate::Bad;
    int deg = 0;
    for (int i = 0; i < degreeDigits; ++i)
        deg = deg * 10 + (value.text[i] - '0');
    const double limit = degreeDigits == 2 ? 90.0 : 180.0;
    const double degrees = deg + minutes / 60.0;
    if (minutes >= 60.0 || degrees > limit)
        return Coordinate::OutOfRange;
    if (side.Empty()) {
        out.reset();
        return Coordinate::Read;
    }
    NmeaCoordinate c;
    c.wholeDegrees = deg;
    std::memcpy(c.minutes, minutesField.text, minutesField.length);
    c.minutes[minutesField.length] = '\0';
    c.hemisphere = side.text[0];
    c.degrees = c.hemisphere == negative ? -degrees : degrees;
    out = c;
    return Coordinate::Read;
}

// Latitude, N/S, longitude, E/W. A coordinate out of its range refuses the sentence,
// unless the sentence reports no fix: receivers without one fill the position with a
// placeholder such as 89° 60' N or 360° E, and the position is then unknown.
bool ReadPosition(const Field* a, bool noFix, NmeaState& s) {
    const Coordinate latitude = ReadCoordinate(a[0], a[1], 2, 'N', 'S', s.latitude);
    const Coordinate longitude = ReadCoordinate(a[2], a[3], 3, 'E', 'W', s.longitude);
    if (latitude == Coordinate::Bad || longitude == Coordinate::Bad)
        return false;
    if (latitude == Coordinate::OutOfRange || longitude == Coordinate::OutOfRange) {
        if (!noFix)
            return false;
        s.latitude.reset();
        s.longitude.reset();
    }
    return true;
}

// Empty, or exactly the letter.
bool LetterOrEmpty(const Field& f, char letter) {
    return f.Empty() || (f.length == 1 && f.text[0] == letter);
}

// Optional fields: empty gives nothing, a present one must parse.
template <typename T, typename Parse>
bool Optional(const Field& f, std::optional<T>& out, Parse parse) {
    if (f.Empty()) {
        out.reset();
        return true;
    }
    T v{};
    if (!parse(f, v))
        return false;
    out = v;
    return true;
}

bool OptionalDecimal(const Field& f, std::optional<double>& out) {
    return Optional(f, out, ParseDecimal);
}
bool OptionalNonNegative(const Field& f, std::optional<double>& out) {
    return Optional(f, out, ParseNonNegative);
}
bool OptionalUnsigned(const Field& f, std::optional<int>& out) {
    return Optional(f, out, ParseUnsigned);
}
bool OptionalCourse(const Field& f, std::optional<double>& out) {
    return OptionalNonNegative(f, out) && (!out || *out <= 360.0);
}

constexpr double kKmhPerKnot = 1.852;

// GGA: time, lat, N/S, lon, E/W, quality, satellites, HDOP, altitude, M, geoid
// separation, M, age of corrections, station.
bool DecodeGga(const Fields& f, NmeaState& s, bool& validPosition) {
    if (!f.Readable(14))
        return false;
    const Field* a = f.at.data();
    if (!Optional(a[0], s.time, ParseTime) || !OptionalUnsigned(a[5], s.quality) ||
        !ReadPosition(a + 1, s.quality && *s.quality == 0, s) ||
        !OptionalUnsigned(a[6], s.satellitesUsed) ||
        !OptionalNonNegative(a[7], s.hdop) || !OptionalDecimal(a[8], s.altitude) ||
        !LetterOrEmpty(a[9], 'M') || !OptionalDecimal(a[10], s.geoidSeparation) ||
        !LetterOrEmpty(a[11], 'M') || !OptionalNonNegative(a[12], s.correctionAge) ||
        !OptionalUnsigned(a[13], s.correctionStation))
        return false;
    validPosition = s.quality && *s.quality != 0 && s.latitude && s.longitude;
    return true;
}

// NMEA 4.1's system id, the last field of a GSA: one hex digit (1 GPS, 2 GLONASS, ...),
// or left empty.
bool IsSystemId(const Field& f) {
    return f.Empty() ||
           (f.length == 1 && ((f.text[0] >= '1' && f.text[0] <= '9') ||
                              (f.text[0] >= 'A' && f.text[0] <= 'F')));
}

// GSA: selection mode A/M, fix mode 1..3, the PRNs of the satellites used in twelve or
// more slots, PDOP, HDOP, VDOP, [system id]. The precisions are the last three fields,
// or the three before a system id: a last field that is a system id in a GSA with room
// for one (18 fields or more) is taken for one. PRNs past kNmeaMaxPrns are checked and
// not kept.
bool DecodeGsa(const Fields& f, NmeaState& s) {
    if (f.count < 17 || f.total > kMaxFields)
        return false;
    const Field* a = f.at.data();
    if (!a[0].Empty() && !(a[0].length == 1 && (a[0].text[0] == 'A' || a[0].text[0] == 'M')))
        return false;
    if (!OptionalUnsigned(a[1], s.fixMode) || (s.fixMode && (*s.fixMode < 1 || *s.fixMode > 3)))
        return false;
    const std::size_t end = f.count >= 18 && IsSystemId(a[f.count - 1]) ? f.count - 1 : f.count;
    s.prnCount = 0;
    for (std::size_t i = 2; i < end - 3; ++i) {
        const Field& p = a[i];
        if (p.Empty())
            continue;
        int prn = 0;
        if (!ParseUnsigned(p, prn) || prn < 1 || prn > 999)
            return false;
        if (s.prnCount < kNmeaMaxPrns)
            s.prns[s.prnCount++] = prn;
    }
    s.prnsKnown = true;
    return OptionalNonNegative(a[end - 3], s.pdop) && OptionalNonNegative(a[end - 2], s.hdop) &&
           OptionalNonNegative(a[end - 1], s.vdop);
}

// RMC: time, status A/V, lat, N/S, lon, E/W, knots, course, ddmmyy, magnetic variation,
// E/W, [mode]. Some receivers send 11 fields with the mode where the variation's E/W
// belongs: a mode letter there other than E is taken for the mode.
bool DecodeRmc(const Fields& f, NmeaState& s, bool& validPosition) {
    if (!f.Readable(11))
        return false;
    const Field* a = f.at.data();
    if (!a[1].Empty() && !(a[1].length == 1 && (a[1].text[0] == 'A' || a[1].text[0] == 'V')))
        return false;
    const bool modeForSide =
        f.count == 11 && a[10].length == 1 && std::strchr("ADFMNPRS", a[10].text[0]) != nullptr;
    const Field* modeField = modeForSide ? &a[10] : (f.count > 11 ? &a[11] : nullptr);
    char mode = 0;
    if (modeField != nullptr && !modeField->Empty()) {
        if (modeField->length != 1 || std::strchr("ADEFMNPRS", modeField->text[0]) == nullptr)
            return false;
        mode = modeField->text[0];
    }
    const bool noFix = (a[1].length == 1 && a[1].text[0] == 'V') || mode == 'N';
    std::optional<double> variation;
    if (!Optional(a[0], s.time, ParseTime) || !ReadPosition(a + 2, noFix, s) ||
        !OptionalNonNegative(a[6], s.speedKnots) || !OptionalCourse(a[7], s.course) ||
        !Optional(a[8], s.date, ParseShortDate) || !OptionalNonNegative(a[9], variation) ||
        (!modeForSide && !(LetterOrEmpty(a[10], 'E') || LetterOrEmpty(a[10], 'W'))))
        return false;
    if (s.speedKnots)
        s.speedKmh = *s.speedKnots * kKmhPerKnot;
    else
        s.speedKmh.reset();
    validPosition = a[1].length == 1 && a[1].text[0] == 'A' && mode != 'N' && s.latitude &&
                    s.longitude;
    return true;
}

// VTG: course true, T, course magnetic, M, knots, N, km/h, K, [mode].
bool DecodeVtg(const Fields& f, NmeaState& s) {
    if (!f.Readable(8))
        return false;
    const Field* a = f.at.data();
    std::optional<double> magnetic;
    std::optional<double> knots;
    std::optional<double> kmh;
    if (!OptionalCourse(a[0], s.course) || !LetterOrEmpty(a[1], 'T') ||
        !OptionalCourse(a[2], magnetic) || !LetterOrEmpty(a[3], 'M') ||
        !OptionalNonNegative(a[4], knots) || !LetterOrEmpty(a[5], 'N') ||
        !OptionalNonNegative(a[6], kmh) || !LetterOrEmpty(a[7], 'K'))
        return false;
    if (f.count > 8 && !a[8].Empty() &&
        (a[8].length != 1 || std::strchr("ADEFMNPRS", a[8].text[0]) == nullptr))
        return false;
    // Each unit from its own field; a receiver that sends only one gives the other too.
    s.speedKnots = knots ? knots : (kmh ? std::optional<double>(*kmh / kKmhPerKnot) : knots);
    s.speedKmh = kmh ? kmh : (knots ? std::optional<double>(*knots * kKmhPerKnot) : kmh);
    return true;
}

// ZDA: time, day, month, year, local zone hours, local zone minutes.
bool DecodeZda(const Fields& f, NmeaState& s) {
    if (!f.Readable(6))
        return false;
    const Field* a = f.at.data();
    int day = 0;
    int month = 0;
    int year = 0;
    const bool hasDay = !a[1].Empty();
    const bool hasMonth = !a[2].Empty();
    const bool hasYear = !a[3].Empty();
    if ((hasDay && !ParseUnsigned(a[1], day)) || (hasMonth && !ParseUnsigned(a[2], month)) ||
        (hasYear && (a[3].length != 4 || !ParseUnsigned(a[3], year))))
        return false;
    if ((hasDay && (day < 1 || day > 31)) || (hasMonth && (month < 1 || month > 12)) ||
        (hasDay && hasMonth &&
         !ValidDate(day, month, hasYear ? std::optional<int>(year) : std::nullopt)))
        return false;
    double zone = 0.0;
    if ((!a[4].Empty() && (!ParseDecimal(a[4], zone) || zone < -13.0 || zone > 13.0)) ||
        (!a[5].Empty() && (!ParseDecimal(a[5], zone) || zone < 0.0 || zone > 59.0)))
        return false;
    if (!Optional(a[0], s.time, ParseTime))
        return false;
    if (hasDay && hasMonth && hasYear)
        s.date = NmeaDate{day, month, year};
    else
        s.date.reset();
    return true;
}

NmeaType TypeOf(const char* address) {
    struct Entry {
        const char* name;
        NmeaType type;
    };
    static constexpr Entry kTypes[] = {{"GGA", NmeaType::GGA},
                                       {"GSA", NmeaType::GSA},
                                       {"RMC", NmeaType::RMC},
                                       {"VTG", NmeaType::VTG},
                                       {"ZDA", NmeaType::ZDA}};
    for (const Entry& e : kTypes)
        if (std::memcmp(address + 2, e.name, 3) == 0)
            return e.type;
    return NmeaType::None;
}

} // namespace

bool NmeaChecksumMatches(const std::uint8_t* tail, std::size_t length, std::uint8_t sum) {
    const auto HexValue = [](std::uint8_t c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    };
    if (length != 3 || tail[0] != '*')
        return false;
    const int high = HexValue(tail[1]);
    const int low = HexValue(tail[2]);
    return high >= 0 && low >= 0 && high * 16 + low == sum;
}

NmeaResult NmeaDecoder::Decode(const std::uint8_t* line, std::size_t length) {
    NmeaResult result;
    if (line == nullptr || length < 3 || line[0] != '$' || line[1] != 'G' || line[2] != 'P') {
        ++other_;
        return result;
    }
    // Without its line end.
    if (length >= 1 && line[length - 1] == '\n')
        --length;
    if (length >= 1 && line[length - 1] == '\r')
        --length;

    // The body runs from after "$" to "*" or the end; its bytes are printable.
    std::size_t end = 1;
    std::uint8_t sum = 0;
    while (end < length && line[end] != '*') {
        const std::uint8_t c = line[end];
        if (c < 0x20 || c > 0x7E || c == '$') {
            ++unusable_;
            result.outcome = NmeaOutcome::Unusable;
            return result;
        }
        sum = static_cast<std::uint8_t>(sum ^ c);
        ++end;
    }
    const bool checked = end < length;
    if (checked) {
        if (!NmeaChecksumMatches(line + end, length - end, sum)) {
            ++unusable_;
            result.outcome = NmeaOutcome::Unusable;
            return result;
        }
    }

    // Address "GPxxx" and a comma, or the address alone.
    const char* body = reinterpret_cast<const char*>(line + 1);
    const std::size_t bodyLength = end - 1;
    if (bodyLength < 5 || (bodyLength > 5 && body[5] != ',')) {
        ++unusable_;
        result.outcome = NmeaOutcome::Unusable;
        return result;
    }
    result.type = TypeOf(body);
    if (result.type == NmeaType::None) {
        ++other_;
        return result;
    }

    Fields fields;
    fields.checked = checked;
    if (bodyLength > 5) {
        std::size_t start = 6;
        for (std::size_t i = 6; i <= bodyLength; ++i) {
            if (i == bodyLength || body[i] == ',') {
                if (fields.count < kMaxFields)
                    fields.at[fields.count++] = Field{body + start, i - start};
                ++fields.total;
                start = i + 1;
            }
        }
    }

    NmeaState next = state_;
    bool ok = false;
    switch (result.type) {
    case NmeaType::GGA:
        ok = DecodeGga(fields, next, result.validPosition);
        break;
    case NmeaType::GSA:
        ok = DecodeGsa(fields, next);
        break;
    case NmeaType::RMC:
        ok = DecodeRmc(fields, next, result.validPosition);
        break;
    case NmeaType::VTG:
        ok = DecodeVtg(fields, next);
        break;
    case NmeaType::ZDA:
        ok = DecodeZda(fields, next);
        break;
    case NmeaType::None:
        break;
    }
    if (!ok) {
        ++unusable_;
        result.outcome = NmeaOutcome::Unusable;
        result.validPosition = false;
        return result;
    }
    state_ = next;
    ++used_;
    result.outcome = NmeaOutcome::Used;
    return result;
}

void NmeaDecoder::Reset() {
    state_ = NmeaState();
    used_ = 0;
    unusable_ = 0;
    other_ = 0;
}
