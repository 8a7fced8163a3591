#include "sim/Simnmea.h"

#include "proto/Memoutils.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kMetresPerDegLat = 111320.0;
constexpr double kKnotsPerMs = 1.943844;
constexpr int kPrns[] = {2, 5, 7, 9, 13, 15, 18, 20, 21, 26, 29, 30};
constexpr int kPrnCount = static_cast<int>(sizeof(kPrns) / sizeof(kPrns[0]));

std::uint64_t NextRandom(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// A uniform value in [lo, hi).
double Uniform(std::uint64_t& state, double lo, double hi) {
    return lo + (hi - lo) * static_cast<double>(NextRandom(state) >> 11) / 9007199254740992.0;
}

// "ddmm.mmmmm,N" or "dddmm.mmmmm,E" with the hemisphere letter.
std::string Coordinate(double deg, int degreeDigits, char positive, char negative) {
    const char hemisphere = deg < 0 ? negative : positive;
    deg = std::fabs(deg);
    int whole = static_cast<int>(deg);
    // Minutes rounded to five decimals may reach 60: carry into the degrees.
    long long minutes100k = std::llround((deg - whole) * 60.0 * 100000.0);
    if (minutes100k >= 60LL * 100000) {
        minutes100k -= 60LL * 100000;
        ++whole;
    }
    char buf[40];
    std::snprintf(buf, sizeof buf, "%0*d%02lld.%05lld,%c", degreeDigits, whole,
                  minutes100k / 100000, minutes100k % 100000, hemisphere);
    return buf;
}

} // namespace

std::uint8_t NmeaChecksum(std::string_view body) {
    std::uint8_t sum = 0;
    for (char c : body) {
        sum = static_cast<std::uint8_t>(sum ^ static_cast<std::uint8_t>(c));
    }
    return sum;
}

std::string NmeaSentence(std::string_view body) {
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", NmeaChecksum(body));
    std::string s;
    s.reserve(body.size() + 6);
    s += '$';
    s += body;
    s += tail;
    return s;
}

NmeaGenerator::NmeaGenerator(std::uint64_t seed) : rng_(seed) {
    // Somewhere in the open country of the northern hemisphere, west of Greenwich.
    latDeg_ = 47.0 + Uniform(rng_, 0.0, 1.0);
    lonDeg_ = -(122.0 + Uniform(rng_, 0.0, 1.0));
    altM_ = Uniform(rng_, 40.0, 120.0);
    headingDeg_ = Uniform(rng_, 0.0, 360.0);
    speedMs_ = Uniform(rng_, 1.0, 3.0);
    turnDegPerS_ = Uniform(rng_, -2.0, 2.0);
}

void NmeaGenerator::Move(double seconds) {
    if (seconds <= 0.0 || seconds > 3600.0) {
        return;
    }
    const double dist = speedMs_ * seconds;
    const double rad = headingDeg_ * kPi / 180.0;
    latDeg_ += dist * std::cos(rad) / kMetresPerDegLat;
    lonDeg_ += dist * std::sin(rad) / (kMetresPerDegLat * std::cos(latDeg_ * kPi / 180.0));
    headingDeg_ = std::fmod(headingDeg_ + turnDegPerS_ * seconds + 360.0, 360.0);
    speedMs_ = std::clamp(speedMs_ + Uniform(rng_, -0.1, 0.1), 0.5, 4.0);
    altM_ = std::clamp(altM_ + Uniform(rng_, -0.2, 0.2), 0.0, 500.0);
    if (Uniform(rng_, 0.0, 1.0) < 0.01) {
        turnDegPerS_ = Uniform(rng_, -2.0, 2.0);
    }
}

void NmeaGenerator::Fix(std::chrono::system_clock::time_point when, std::uint32_t nmeaFlags,
                        bool otherTalkers, bool differential, std::vector<std::string>& out,
                        bool noFix) {
    using namespace std::chrono;
    if (started_) {
        Move(duration<double>(when - last_).count());
    }
    started_ = true;
    last_ = when;
    ++fixCount_;
    // Every twenty fixes or so a satellite rises or sets.
    if (fixCount_ % 20 == 0) {
        satsUsed_ = std::clamp(satsUsed_ + (NextRandom(rng_) % 2 == 0 ? 1 : -1), 6, kPrnCount);
    }

    const auto sinceEpoch = duration_cast<milliseconds>(when.time_since_epoch()).count();
    const std::time_t secs = static_cast<std::time_t>(sinceEpoch / 1000);
    const int centis = static_cast<int>((sinceEpoch % 1000) / 10);
    std::tm utc{};
    gmtime_r(&secs, &utc);
    char timeText[16];
    std::snprintf(timeText, sizeof timeText, "%02d%02d%02d.%02d", utc.tm_hour, utc.tm_min,
                  utc.tm_sec, centis);
    const std::string lat = Coordinate(latDeg_, 2, 'N', 'S');
    const std::string lon = Coordinate(lonDeg_, 3, 'E', 'W');
    const double hdop = 0.7 + 6.0 / satsUsed_ + Uniform(rng_, 0.0, 0.2);
    const double pdop = hdop * 1.6;
    const double vdop = hdop * 1.25;
    const double knots = speedMs_ * kKnotsPerMs;
    const char mode = differential ? 'D' : 'A';
    char body[160];

    if (noFix) {
        // The same sentences, saying there is no fix.
        if (nmeaFlags & kNmeaGGA) {
            std::snprintf(body, sizeof body, "GPGGA,%s,,,,,0,00,,,M,,M,,", timeText);
            out.push_back(NmeaSentence(body));
        }
        if (nmeaFlags & kNmeaGSA) {
            out.push_back(NmeaSentence("GPGSA,A,1,,,,,,,,,,,,,,,"));
        }
        if (nmeaFlags & kNmeaRMC) {
            std::snprintf(body, sizeof body, "GPRMC,%s,V,,,,,,,%02d%02d%02d,,,N", timeText,
                          utc.tm_mday, utc.tm_mon + 1, utc.tm_year % 100);
            out.push_back(NmeaSentence(body));
        }
        if (nmeaFlags & kNmeaVTG) {
            out.push_back(NmeaSentence("GPVTG,,T,,M,,N,,K,N"));
        }
        nmeaFlags &= kNmeaZDA;
    }
    if (nmeaFlags & kNmeaGGA) {
        std::snprintf(body, sizeof body, "GPGGA,%s,%s,%s,%d,%02d,%.1f,%.1f,M,-17.2,M,%s,%s",
                      timeText, lat.c_str(), lon.c_str(), differential ? 2 : 1, satsUsed_, hdop,
                      altM_, differential ? "1.0" : "", differential ? "0131" : "");
        out.push_back(NmeaSentence(body));
    }
    std::string prnList;
    for (int i = 0; i < 12; ++i) {
        if (i < satsUsed_) {
            char prn[8];
            std::snprintf(prn, sizeof prn, "%02d", kPrns[i]);
            prnList += prn;
        }
        prnList += ',';
    }
    if (nmeaFlags & kNmeaGSA) {
        std::snprintf(body, sizeof body, "GPGSA,A,3,%s%.1f,%.1f,%.1f", prnList.c_str(), pdop, hdop,
                      vdop);
        out.push_back(NmeaSentence(body));
    }
    if (nmeaFlags & kNmeaRMC) {
        std::snprintf(body, sizeof body, "GPRMC,%s,A,%s,%s,%.2f,%.1f,%02d%02d%02d,15.6,E,%c",
                      timeText, lat.c_str(), lon.c_str(), knots, headingDeg_, utc.tm_mday,
                      utc.tm_mon + 1, utc.tm_year % 100, mode);
        out.push_back(NmeaSentence(body));
    }
    if (nmeaFlags & kNmeaVTG) {
        std::snprintf(body, sizeof body, "GPVTG,%.1f,T,%.1f,M,%.2f,N,%.2f,K,%c", headingDeg_,
                      std::fmod(headingDeg_ - 15.6 + 360.0, 360.0), knots, speedMs_ * 3.6, mode);
        out.push_back(NmeaSentence(body));
    }
    if (nmeaFlags & kNmeaZDA) {
        std::snprintf(body, sizeof body, "GPZDA,%s,%02d,%02d,%04d,00,00", timeText, utc.tm_mday,
                      utc.tm_mon + 1, utc.tm_year + 1900);
        out.push_back(NmeaSentence(body));
    }
    if (otherTalkers) {
        std::snprintf(body, sizeof body, "GNGSA,A,3,%s%.1f,%.1f,%.1f", prnList.c_str(), pdop, hdop,
                      vdop);
        out.push_back(NmeaSentence(body));
        std::snprintf(body, sizeof body, "GLGSV,1,1,03,65,%02d,045,38,72,31,118,41,81,12,260,33",
                      static_cast<int>(20 + fixCount_ / 60 % 40));
        out.push_back(NmeaSentence(body));
    }
}
