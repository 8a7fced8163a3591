// Replaying a recording. The file is read in blocks; each block is given out as the
// reader asks for it, held back at every sentence whose UTC time is not due yet.
//
// Looking ahead. A sentence's time decides whether its first byte may go, so before a
// "$" is given out the whole line from it is looked at (at most kLookahead bytes: a
// longer one carries no time that is trusted). The block is topped up from the file
// whenever fewer bytes than that remain in it, so a sentence cut by a block boundary is
// seen whole.
//
// Line ends. Whether a file is text is decided once, from its first block: it is text
// when it holds no frame of the receiver and almost nothing but printable ASCII, tabs
// and line ends. Only then are lines ended by LF alone (or by LF CR) given CR LF; in any
// other file every byte goes out as it stands, for a frame's payload and CRC may hold
// any byte, LF included. Even in a text file the bytes of anything that starts like a
// frame ("$x", id, length, "x$") are left as they are.

#include "proto/Replay.h"

#include "proto/Memoutils.h"
#include "proto/Nmea.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

namespace {

// Read from the file at a time; the first block also decides what kind of file it is.
constexpr std::size_t kBlockSize = 64 * 1024;
// How far a sentence is looked at from its "$" (no sentence of ours comes near it).
constexpr std::size_t kLookahead = 256;
// A file whose first block holds more than one byte in this many that is neither
// printable ASCII nor a tab or line end is not text.
constexpr std::size_t kTextShare = 50;
constexpr std::int64_t kDayMs = 86'400'000;

constexpr std::uint8_t kCR = 0x0D;
constexpr std::uint8_t kLF = 0x0A;

bool IsTextByte(std::uint8_t b) {
    return (b >= 0x20 && b < 0x7F) || b == '\t' || b == kCR || b == kLF;
}

bool IsUpper(std::uint8_t b) {
    return b >= 'A' && b <= 'Z';
}

bool IsAddressByte(std::uint8_t b) {
    return IsUpper(b) || (b >= '0' && b <= '9');
}

bool IsDigit(std::uint8_t b) {
    return b >= '0' && b <= '9';
}

// Whether p (n bytes, from a "$" or "!") begins a sentence: an address of 3 to 6
// capitals or digits, a comma, then printable text up to a CR or LF. Used only to tell
// a recording from something else.
bool SentenceAt(const std::uint8_t* p, std::size_t n) {
    std::size_t i = 1;
    while (i < n && i <= 6 && IsAddressByte(p[i])) {
        ++i;
    }
    if (i < 4 || i >= n || p[i] != ',') {
        return false;
    }
    for (++i; i < n && i < kMaxLineLen; ++i) {
        if (p[i] == kCR || p[i] == kLF) {
            return true;
        }
        if (p[i] < 0x20 || p[i] >= 0x7F) {
            return false;
        }
    }
    return false;
}

// The length of a frame of the receiver whose header starts p, or 0 when p does not
// start one. Only the header is looked at.
std::size_t FrameHeaderAt(const std::uint8_t* p, std::size_t n) {
    if (n < kFrameHeaderSize || p[0] != kFrameStart || p[1] != kFrameMark || p[4] != kFrameMark ||
        p[5] != kFrameStart) {
        return 0;
    }
    const std::size_t length = p[kFrameLengthOffset];
    return length >= kMinFrameLen ? length : 0;
}

enum class TimeScan : std::uint8_t { None, Time, NeedMore };

// The UTC time of day a GGA, RMC or ZDA of any talker (not a proprietary sentence)
// carries, when p (n bytes, from its "$") holds the whole well-formed line: printable,
// its checksum (if any) right, its time hhmmss[.fff] in range. NeedMore when the line
// may go on beyond the n bytes and more can be had (complete false).
TimeScan SentenceTime(const std::uint8_t* p, std::size_t n, bool complete, std::int32_t& timeMs) {
    // "$", talker, type, ",", then at least the six digits of the time.
    if (n < 7) {
        return complete ? TimeScan::None : TimeScan::NeedMore;
    }
    if (!IsUpper(p[1]) || !IsUpper(p[2]) || p[1] == 'P' || p[6] != ',') {
        return TimeScan::None;
    }
    const auto type = [p](const char* t) { return std::memcmp(p + 3, t, 3) == 0; };
    if (!type("GGA") && !type("RMC") && !type("ZDA")) {
        return TimeScan::None;
    }
    const std::size_t limit = std::min(n, kLookahead);
    std::size_t end = 0;
    while (end < limit && p[end] != kCR && p[end] != kLF) {
        ++end;
    }
    if (end == limit) {
        return limit == n && !complete && n < kLookahead ? TimeScan::NeedMore : TimeScan::None;
    }
    if (end < 13) {
        return TimeScan::None;
    }
    std::uint8_t sum = 0;
    std::size_t star = end;
    for (std::size_t i = 1; i < end; ++i) {
        if (p[i] < 0x20 || p[i] >= 0x7F || p[i] == '$') {
            return TimeScan::None;
        }
        if (p[i] == '*') {
            star = i;
            break;
        }
        sum ^= p[i];
    }
    if (star != end) {
        if (!NmeaChecksumMatches(p + star, end - star, sum)) {
            return TimeScan::None;
        }
    }
    const std::uint8_t* t = p + 7;
    for (int i = 0; i < 6; ++i) {
        if (!IsDigit(t[i])) {
            return TimeScan::None;
        }
    }
    const int hour = (t[0] - '0') * 10 + (t[1] - '0');
    const int minute = (t[2] - '0') * 10 + (t[3] - '0');
    const int second = (t[4] - '0') * 10 + (t[5] - '0');
    if (hour > 23 || minute > 59 || second > 60) {
        return TimeScan::None;
    }
    int millisecond = 0;
    std::size_t i = 13;
    if (i < star && p[i] == '.') {
        int scale = 100;
        for (++i; i < star && IsDigit(p[i]); ++i) {
            millisecond += (p[i] - '0') * scale;
            scale /= 10;
        }
    }
    if (i < star && p[i] != ',') {
        return TimeScan::None;
    }
    timeMs = ((hour * 60 + minute) * 60 + second) * 1000 + millisecond;
    return TimeScan::Time;
}

} // namespace

struct ReplayFile::State {
    std::FILE* file = nullptr;
    std::string path;
    Clock* clock = nullptr;
    std::uint64_t size = 0;

    // The bytes read from the file and not given out yet are block[begin, end).
    std::vector<std::uint8_t> block = std::vector<std::uint8_t>(kBlockSize + kLookahead);
    std::size_t begin = 0;
    std::size_t end = 0;
    bool atEnd = false;    // the file has been read to its end
    std::string readError; // a failed read, reported once what was read is given out
    std::uint64_t position = 0;

    // Line ends (text files only).
    bool text = false;
    bool lastWasCr = false;     // the last byte given out was a CR
    bool crInserted = false;    // a CR was given out for the bare LF at begin
    bool afterBareLf = false;   // the last byte of the file given out was a bare LF
    std::uint64_t frameEnd = 0; // the file offset where something like a frame ends

    // Pace.
    double speed = 1.0;
    bool paused = false;
    std::optional<std::int32_t> lastTime; // of the latest time given out
    std::uint64_t settled = UINT64_MAX;   // file offset of the "$" last looked at
    bool holding = false;                 // the sentence at begin waits
    std::int64_t holdMs = 0;              // for this much of the recording's time
    double coveredMs = 0.0;               // the recording's time gone by since the latest time
    std::int64_t lastClockMs = 0;

    // Tops the block up from the file. False when nothing more could be read.
    bool Fill() {
        if (atEnd || !readError.empty()) {
            return false;
        }
        if (begin > 0) {
            std::memmove(block.data(), block.data() + begin, end - begin);
            end -= begin;
            begin = 0;
        }
        const std::size_t room = std::min(block.size() - end, kBlockSize);
        if (room == 0) {
            return false;
        }
        errno = 0;
        const std::size_t n = std::fread(block.data() + end, 1, room, file);
        end += n;
        if (n < room) {
            if (std::ferror(file) != 0) {
                const int err = errno != 0 ? errno : EIO;
                readError = "Error reading " + path + ": " + std::strerror(err);
            } else {
                atEnd = true;
            }
        }
        return n > 0;
    }

    // Counts the recording's time that the clock's move since the last look stands for.
    void Tick() {
        const std::int64_t now = clock->Milliseconds();
        if (!paused && speed > 0 && now > lastClockMs) {
            coveredMs += static_cast<double>(now - lastClockMs) * speed;
        }
        lastClockMs = now;
    }

    // Whether the sentence at begin, of time timeMs, may go now.
    bool Due(std::int32_t timeMs) {
        if (!lastTime) {
            lastTime = timeMs;
            coveredMs = 0;
            return true;
        }
        if (!holding) {
            std::int64_t step = std::int64_t{timeMs} - *lastTime;
            if (step < 0) {
                // Across midnight when the step is short that way round; otherwise the
                // recording went back (another day, another recording appended).
                step += kDayMs;
                if (step > kDayMs / 2) {
                    step = 0;
                }
            }
            holdMs = std::min(step, kLongestWaitMs);
            holding = true;
        }
        if (speed > 0 && coveredMs < static_cast<double>(holdMs)) {
            return false;
        }
        // What the clock moved beyond the wait counts towards the next one, so a reader
        // that looks only every 100 ms does not fall behind the recording.
        coveredMs = speed > 0 ? coveredMs - static_cast<double>(holdMs) : 0.0;
        holding = false;
        lastTime = timeMs;
        return true;
    }

    void Consume() {
        ++begin;
        ++position;
    }
};

ReplayFile::ReplayFile() : state_(std::make_unique<State>()) {}

ReplayFile::~ReplayFile() {
    if (state_->file != nullptr) {
        std::fclose(state_->file);
    }
}

std::unique_ptr<ReplayFile> ReplayFile::Open(const std::string& path, Clock& clock,
                                             std::string& error) {
    std::unique_ptr<ReplayFile> replay(new ReplayFile());
    State& s = *replay->state_;
    s.path = path;
    s.clock = &clock;
    errno = 0;
    s.file = std::fopen(path.c_str(), "rb");
    if (s.file == nullptr) {
        error = "Cannot open " + path + ": " + std::strerror(errno != 0 ? errno : ENOENT);
        return nullptr;
    }
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    s.size = ec ? 0 : static_cast<std::uint64_t>(size);

    s.Fill();
    if (!s.readError.empty()) {
        error = s.readError;
        return nullptr;
    }
    const std::uint8_t* data = s.block.data();
    const std::size_t n = s.end;
    if (n == 0) {
        error = path + " is not a recording: it is empty";
        return nullptr;
    }
    bool sentence = false;
    bool frame = false;
    std::size_t other = 0;
    DiagFrameState framer;
    std::vector<std::uint8_t> frameBuffer(kMaxFrameLen);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t b = data[i];
        other += IsTextByte(b) ? 0 : 1;
        if (!sentence && (b == '$' || b == '!')) {
            sentence = SentenceAt(data + i, n - i);
        }
        if (!frame) {
            frame =
                FrameDiagByte(b, framer, frameBuffer.data(), kMaxFrameLen) == kDiagFrameComplete;
        }
    }
    if (!sentence && !frame) {
        error = path + " is not a recording: no NMEA sentence and no frame of the receiver "
                       "in its first 64 KiB";
        return nullptr;
    }
    s.text = !frame && other * kTextShare <= n;
    s.lastClockMs = clock.Milliseconds();
    return replay;
}

void ReplayFile::SetSpeed(double speed) {
    state_->Tick();
    state_->speed = std::isfinite(speed) && speed > 0 ? speed : 0.0;
}

double ReplayFile::Speed() const {
    return state_->speed;
}

void ReplayFile::SetPaused(bool paused) {
    state_->Tick();
    state_->paused = paused;
}

bool ReplayFile::Paused() const {
    return state_->paused;
}

bool ReplayFile::Finished() const {
    const State& s = *state_;
    return s.atEnd && s.begin == s.end;
}

std::uint64_t ReplayFile::Position() const {
    return state_->position;
}

std::uint64_t ReplayFile::Size() const {
    return std::max(state_->size, state_->position);
}

const std::string& ReplayFile::Path() const {
    return state_->path;
}

bool ReplayFile::Read(std::uint8_t* dest, std::uint32_t capacity, std::uint32_t& received,
                      std::string& error) {
    State& s = *state_;
    received = 0;
    s.Tick();
    while (received < capacity && !s.paused) {
        if (s.end - s.begin < kLookahead && s.Fill()) {
            continue;
        }
        if (s.begin == s.end) {
            break;
        }
        const std::uint8_t b = s.block[s.begin];
        const bool complete = s.atEnd || !s.readError.empty();
        if (b == '$' && s.position != s.settled) {
            const std::uint8_t* p = s.block.data() + s.begin;
            const std::size_t n = s.end - s.begin;
            // Only a text file marks frames; in one, a "$" inside a frame is payload.
            const bool inFrame = s.position < s.frameEnd;
            if (s.text && !inFrame) {
                if (const std::size_t length = FrameHeaderAt(p, n); length != 0) {
                    s.frameEnd = s.position + length;
                }
            }
            std::int32_t timeMs = 0;
            if (!inFrame && SentenceTime(p, n, complete, timeMs) == TimeScan::Time &&
                !s.Due(timeMs)) {
                break;
            }
            s.settled = s.position;
        }
        if (s.text && s.position >= s.frameEnd) {
            if (b == kLF && !s.lastWasCr) {
                // A line ended by LF alone: its CR first, then the LF itself.
                dest[received++] = kCR;
                s.lastWasCr = true;
                s.crInserted = true;
                continue;
            }
            if (b == kCR && s.afterBareLf) {
                // A line ended by LF CR: the CR has been given already, before the LF.
                // (LF CR LF is a line and an empty one: that CR stays.)
                if (s.end - s.begin < 2 && !complete) {
                    s.Fill();
                    continue;
                }
                if (s.end - s.begin < 2 || s.block[s.begin + 1] != kLF) {
                    s.afterBareLf = false;
                    s.Consume();
                    continue;
                }
            }
        }
        dest[received++] = b;
        s.afterBareLf = s.crInserted;
        s.crInserted = false;
        s.lastWasCr = b == kCR;
        s.Consume();

        // The run of bytes up to the next one that needs a look goes out at once.
        const std::size_t room = capacity - received;
        const std::size_t limit = s.begin + std::min(room, s.end - s.begin);
        std::size_t i = s.begin;
        if (s.text) {
            while (i < limit && s.block[i] != '$' && s.block[i] != kLF && s.block[i] != kCR) {
                ++i;
            }
        } else if (i < limit) {
            const void* dollar = std::memchr(s.block.data() + i, '$', limit - i);
            i = dollar != nullptr ? static_cast<std::size_t>(
                                        static_cast<const std::uint8_t*>(dollar) - s.block.data())
                                  : limit;
        }
        const std::size_t run = i - s.begin;
        if (run > 0) {
            std::memcpy(dest + received, s.block.data() + s.begin, run);
            received += static_cast<std::uint32_t>(run);
            s.begin += run;
            s.position += run;
            s.afterBareLf = false;
            s.lastWasCr = false;
        }
    }
    if (received == 0 && s.begin == s.end && !s.readError.empty()) {
        error = s.readError;
        return false;
    }
    return true;
}
