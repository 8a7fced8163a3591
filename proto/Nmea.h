#pragma once
// Decoding the NMEA 0183 sentences of the GPS talker that the receiver sends: GGA, GSA,
// RMC, VTG and ZDA. Toolkit-free; the Receiver Status window and any other reader of the
// receiver's position share it.
//
// The problem. A sentence is "$", an address ("GP" and three letters), comma-separated
// fields and, usually, "*" with two hex digits: the XOR of every byte between "$" and
// "*". It reaches us as a line cut by the text framer, so it may be damaged in any way a
// serial line damages text: bytes lost (a sentence cut short, two run together), bytes
// changed, noise. Receivers of different NMEA versions send more or fewer trailing
// fields, and leave a field empty when they do not know its value.
//
// The rules, sentence by sentence:
//   - The line may end in CR LF; nothing else follows the checksum.
//   - Every byte between "$" and the end (or "*") is printable ASCII, and neither "$"
//     nor "*" (a "$" inside a line is the start of a second sentence run into the first).
//   - A checksum, when there is one, is two hex digits (either case) that match. A
//     sentence without one is taken (NMEA makes it optional), but it must still carry
//     every field its type has, so a sentence cut short is refused either way. A
//     sentence whose checksum matches is as the receiver sent it: fields it leaves off
//     at the end read as empty (GSA excepted, whose precisions are its last fields).
//   - Each field is read by its position. An empty field is "unknown": the value it
//     would set becomes unknown, never zero.
//   - A field that is present but does not parse (a letter in a number, minutes of 60 or
//     more, a hemisphere that is not N/S or E/W, month 13, a day its month does not
//     have such as 31 February or 29 February 2100, ...) refuses the sentence. One
//     exception: a GGA of quality 0 or an RMC of status V or mode N whose position is
//     out of range (a receiver's placeholder before its first fix, 89° 60' N or 360° E)
//     is taken with its position unknown.
//   - A refused sentence changes nothing of the decoded state and is counted as
//     unusable; a GP sentence of another type (GSV, GLL, TXT, ...) is counted as other
//     and changes nothing either. Lines of other talkers are not given to the decoder.
// Decoding works on the caller's bytes and the decoder's own fixed members: it never
// allocates.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

// Fields of one coordinate as the receiver sends it, and its value.
struct NmeaCoordinate {
    double degrees = 0.0;  // signed decimal degrees: north and east positive
    int wholeDegrees = 0;  // the degrees as sent (2 digits of latitude, 3 of longitude)
    char minutes[12] = {}; // the decimal minutes as sent, e.g. "15.6616"
    char hemisphere = 0;   // 'N', 'S', 'E' or 'W'
};

struct NmeaDate {
    int day = 0;
    int month = 0;
    int year = 0; // four digits; RMC's two-digit years 80..99 are 1980..1999
};

// UTC time of day; second 60 is a leap second.
struct NmeaTime {
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    int fractionDigits = 0; // digits after the seconds as sent, at most 3 kept
    // Milliseconds since midnight (a leap second runs into the next minute's first).
    std::int32_t Milliseconds() const {
        return ((hour * 60 + minute) * 60 + second) * 1000 + millisecond;
    }
};

inline constexpr std::size_t kNmeaMaxPrns = 12;

// The receiver's state as the decoded sentences tell it; each field holds the value of
// the latest sentence that carries it, or nothing when that sentence left it empty.
struct NmeaState {
    std::optional<NmeaTime> time;             // GGA, RMC, ZDA
    std::optional<NmeaDate> date;             // RMC, ZDA
    std::optional<int> quality;               // GGA: 0 no fix, 1 GPS, 2 differential, ...
    std::optional<int> fixMode;               // GSA: 1 no fix, 2 2D, 3 3D
    std::optional<int> satellitesUsed;        // GGA
    std::array<int, kNmeaMaxPrns> prns = {};  // GSA: satellites used, in the order sent
                                              // (the first twelve of a longer GSA)
    std::size_t prnCount = 0;
    bool prnsKnown = false;                   // a GSA has been decoded
    std::optional<double> pdop;               // GSA
    std::optional<double> hdop;               // GSA, GGA
    std::optional<double> vdop;               // GSA
    std::optional<NmeaCoordinate> latitude;   // GGA, RMC
    std::optional<NmeaCoordinate> longitude;  // GGA, RMC
    std::optional<double> altitude;           // GGA: metres above mean sea level
    std::optional<double> geoidSeparation;    // GGA: metres
    std::optional<double> speedKnots;         // RMC, VTG
    std::optional<double> speedKmh;           // RMC (from knots), VTG
    std::optional<double> course;             // RMC, VTG: degrees true
    std::optional<double> correctionAge;      // GGA: seconds since the last correction
    std::optional<int> correctionStation;     // GGA: reference station id
};

enum class NmeaType { None, GGA, GSA, RMC, VTG, ZDA };

enum class NmeaOutcome {
    Used,      // decoded into the state
    Unusable,  // refused: damaged, bad checksum, a field that does not parse
    Other,     // a GP sentence of a type not decoded here, or not a GP sentence at all
};

struct NmeaResult {
    NmeaOutcome outcome = NmeaOutcome::Other;
    NmeaType type = NmeaType::None;
    // A GGA or RMC that reported a fix (GGA quality known and not 0; RMC status A and
    // its mode, if sent, not N) with both coordinates known.
    bool validPosition = false;
};

// Whether [tail, tail + length) is the checksum that ends a sentence: "*" and two hex
// digits (either case) and nothing more, whose value is sum, the XOR of every byte
// between "$" and "*". The one reading of a checksum for every reader of sentences.
bool NmeaChecksumMatches(const std::uint8_t* tail, std::size_t length, std::uint8_t sum);

class NmeaDecoder {
public:
    // Decodes one line, with or without its CR LF.
    NmeaResult Decode(const std::uint8_t* line, std::size_t length);

    const NmeaState& State() const { return state_; }
    std::uint64_t UsedCount() const { return used_; }
    std::uint64_t UnusableCount() const { return unusable_; }
    std::uint64_t OtherCount() const { return other_; }

    // Forgets the state and the counts.
    void Reset();

private:
    NmeaState state_;
    std::uint64_t used_ = 0;
    std::uint64_t unusable_ = 0;
    std::uint64_t other_ = 0;
};

