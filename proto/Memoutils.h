#pragma once
// The receiver's binary protocol, toolkit-free: the two receive state machines that cut
// the byte stream into binary frames and text lines, the builders of every frame the
// program sends, the readers of the two reports it uses, and the correction channel
// conversions.
//
// Binary frame (both directions), N = total length including header and trailer:
//   0 "$"   1 "x"   2 id   3 N (10..255)   4 "x"   5 "$"   6.. payload (N - 10 bytes)
//   N-4 CRC low   N-3 CRC high   N-2 CR   N-1 LF
// The CRC (proto/Crc.h) covers bytes 0 to N-5. There is no escaping: payload and CRC
// bytes may take any value, only the length byte delimits a frame. Multi-byte payload
// fields are little-endian and unaligned.
//
// Text line: any bytes ending in CR LF, delivered with the CR LF, at most 1200 bytes.

#include "proto/Crc.h"

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------------------
// Frame layout

inline constexpr std::uint8_t kFrameStart = '$';
inline constexpr std::uint8_t kFrameMark = 'x';
inline constexpr std::size_t kFrameHeaderSize = 6; // "$x", id, N, "x$"
inline constexpr std::size_t kFrameOverhead = 10;  // header + CRC + CR LF
inline constexpr std::size_t kFrameIdOffset = 2;
inline constexpr std::size_t kFrameLengthOffset = 3;
inline constexpr std::size_t kPayloadOffset = 6;
inline constexpr std::size_t kMinFrameLen = 10;
inline constexpr std::size_t kMaxFrameLen = 255;
inline constexpr std::size_t kMaxPayloadLen = kMaxFrameLen - kFrameOverhead; // 245
inline constexpr std::size_t kMaxLineLen = 1200;

// Message ids.
inline constexpr std::uint8_t kMsgOutputRequest = 0xFF;  // to receiver, N = 11
inline constexpr std::uint8_t kMsgPortConfig = 0x82;     // Output configuration, N = 44
inline constexpr std::uint8_t kMsgCorrections = 0x81;    // Corrections command, N = 18
inline constexpr std::uint8_t kMsgNavRate = 0x83;        // Navigation rate command, N = 11
inline constexpr std::uint8_t kMsgConfigReport = 4;      // Configuration report (received)
inline constexpr std::uint8_t kMsgCorrectionsReport = 1; // Corrections status report

// Frame lengths of the commands the program sends.
inline constexpr std::uint8_t kRequestMsgLen = 11;
inline constexpr std::uint8_t kPortConfigMsgLen = 44;
inline constexpr std::uint8_t kCorrectionsMsgLen = 18;
inline constexpr std::uint8_t kNavRateMsgLen = 11;

// Payload lengths and offsets of those commands.
inline constexpr std::size_t kRequestPayloadLen = kRequestMsgLen - kFrameOverhead; // 1
inline constexpr std::size_t kRequestedId = 0; // the id of the message asked for

inline constexpr std::size_t kPortConfigPayloadLen = kPortConfigMsgLen - kFrameOverhead; // 34
inline constexpr std::size_t kPortCfgReserved = 2; // reserved word, always 0
inline constexpr std::size_t kPortCfgBinaryFlags = 6;
inline constexpr std::size_t kPortCfgNmeaFlags = 10;
inline constexpr std::size_t kPortCfgBaudRate = 14;

inline constexpr std::size_t kCorrectionsPayloadLen = kCorrectionsMsgLen - kFrameOverhead; // 8
inline constexpr std::size_t kCorrCmdFrequencyMode = 0;     // 1 alternate, 0 default
inline constexpr std::size_t kCorrCmdFrequencyModeCopy = 1; // the same value again
inline constexpr std::size_t kCorrCmdChannel = 2;           // only with the alternate frequency
inline constexpr std::size_t kCorrCmdWaas = 6;              // 1 on, 0 off
inline constexpr std::size_t kCorrCmdCorrections = 7;       // 0 on, 1 off

inline constexpr std::size_t kNavRatePayloadLen = kNavRateMsgLen - kFrameOverhead; // 1
// The navigation rate, 1 or 5.
inline constexpr std::size_t kNavRateValue = 0;

// NMEA output flags: one bit per sentence the receiver is to output.
inline constexpr std::uint32_t kNmeaGGA = 0x01;
inline constexpr std::uint32_t kNmeaGSA = 0x02;
inline constexpr std::uint32_t kNmeaZDA = 0x04;
inline constexpr std::uint32_t kNmeaVTG = 0x08;
inline constexpr std::uint32_t kNmeaRMC = 0x10;
inline constexpr std::uint32_t kNmeaFlagsMask = 0x1F;

// Binary message flags: one bit per binary message the receiver is to output.
// Bit 4 and the bits above 5 are unused.
inline constexpr std::uint32_t kBinQX = 0x01;
inline constexpr std::uint32_t kBinGPS = 0x02;
inline constexpr std::uint32_t kBinSATS = 0x04;
inline constexpr std::uint32_t kBinSYS = 0x08;
inline constexpr std::uint32_t kBinREFMON = 0x20;
inline constexpr std::uint32_t kBinaryFlagsMask = 0x2F;

// ---------------------------------------------------------------------------------------
// Receive state machines. Each is given one byte, its caller-owned state record, buffer
// and buffer capacity, stores the byte and answers with a result code. A message always
// begins at buffer position 0 and stays there, complete, until the next byte is fed.
//
// The problem. One serial line carries two kinds of traffic, freely interleaved: binary
// frames of a fixed layout and text lines ending in CR LF. Nothing marks where one ends
// and the other begins, and a binary frame is not escaped, so its payload and CRC may
// contain "$", "x", CR and LF. Each kind therefore has its own framer, and both are fed
// every byte. A framer must never trust what it is given: bytes may be lost, garbled or
// arrive at the wrong baud rate, a frame may be cut short by the next one, and a line
// may never end.
//
// The binary framer recognises a frame by its six header bytes "$", "x", id, N, "x",
// "$", takes the remaining N - 6 bytes on the strength of the length byte alone, and
// accepts the frame only when the CRC over its first N - 4 bytes matches and CR LF
// follow. A byte that does not fit the header sends the machine back to hunting; when
// that byte is itself a "$" it is taken as the first byte of a new frame, so a frame
// right after a stray "$" or a truncated header is not lost.
//
// The line framer stores bytes until CR LF. A CR followed by anything but LF or CR
// abandons the line so far (that byte included); a line that fills its buffer is
// abandoned and the byte that met the full buffer is lost.
//
// A CR right after a CR is taken again as the possible start of a line end: the line so
// far is abandoned and that CR alone begins the next one, so CR CR LF completes the line
// CR LF and whatever follows starts clean. This matters because a binary frame whose
// CRC high byte is 0x0D ends 0D 0D 0A; were the second CR abandoned with the first, the
// LF would begin the next line and the sentence after the frame would be lost. If the
// byte after such a CR is not LF it is examined as if the framer were idle, which is
// where a CR CR would leave it without this rule. And the line that follows CR CR LF
// gets one byte less room, as it had when that LF was its first byte, so an over-long
// line is cut at the same byte either way. The rule thus adds the line CR LF and the
// clean start after it, and cuts every other line where it was cut before: no sentence
// is lost to it.
//
// Both machines keep every message at the start of the caller's buffer. After a
// message or an abandoned attempt the next byte starts again at position 0, so the
// buffer never holds more than one message and the count can never pass the capacity.

enum class DiagState : std::uint8_t {
    Hunting,
    AfterDollar,
    AfterX,
    AfterId,
    AfterLength,
    AfterSecondX,
    Body,
    AwaitCR,
    AwaitLF,
};

struct DiagFrameState {
    DiagState state = DiagState::Hunting;
    std::uint16_t length = 0; // N of the frame in progress (or just completed)
    std::uint16_t count = 0;  // bytes stored so far
};

enum DiagFrameResult : int {
    kDiagNoFrame = 0,       // byte taken, no frame yet (or a frame silently abandoned)
    kDiagFrameComplete = 1, // buffer holds exactly N bytes, CRC correct
    kDiagOverflow = 2,      // buffer full or length byte out of range; frame abandoned
    kDiagBadCrc = 3,        // CRC mismatch; frame abandoned
    kDiagBadState = 4,      // the state record held an impossible state
};

enum class LineState : std::uint8_t {
    Idle,
    InLine,
    AfterCR,
    AfterRepeatedCR, // a CR right after a CR, held alone at position 0
};

struct LineFrameState {
    LineState state = LineState::Idle;
    std::uint16_t count = 0; // bytes stored so far, CR LF included once complete
    bool afterCrCrLf = false; // the line under way follows CR CR LF: one byte less room
};

enum LineFrameResult : int {
    kLineNone = 0,     // byte taken, no line yet (or a line silently abandoned)
    kLineComplete = 1, // buffer holds the line with its CR LF
    kLineOverflow = 2, // buffer full; line abandoned, this byte lost
    kLineBadState = 3, // the state record held an impossible state
};

// The two machines are inline: every received byte goes through both, and a call per byte
// would cost as much as the framing.
namespace memoutils_detail {

inline constexpr std::uint8_t kCR = 0x0D;
inline constexpr std::uint8_t kLF = 0x0A;

// A "$" where the header wanted an "x" is not lost: it begins the next frame, at
// position 0.
inline void RestartAtDollar(DiagState& state, unsigned& count, std::uint8_t* buffer) {
    buffer[0] = kFrameStart;
    count = 1;
    state = DiagState::AfterDollar;
}

} // namespace memoutils_detail

inline int FrameDiagByte(std::uint8_t byte, DiagFrameState& st, std::uint8_t* buffer,
                         std::uint16_t capacity) {
    // Worked on in locals and written back once: as far as the compiler knows the buffer
    // may alias the record, and reloading it after every store would cost more than the
    // framing itself.
    using namespace memoutils_detail;
    DiagState state = st.state;
    unsigned count = st.count;
    int result = kDiagNoFrame;

    // A frame always starts at position 0; a byte that did not start one is overwritten.
    if (count == 0) {
        state = DiagState::Hunting;
    } else if (state == DiagState::Hunting) {
        count = 0;
    }
    if (count >= capacity) {
        st.state = DiagState::Hunting;
        return kDiagOverflow;
    }
    buffer[count++] = byte;

    switch (state) {
    case DiagState::Hunting:
        if (byte == kFrameStart) {
            state = DiagState::AfterDollar;
        }
        break;
    case DiagState::AfterDollar:
        if (byte == kFrameMark) {
            state = DiagState::AfterX;
        } else if (byte == kFrameStart) {
            RestartAtDollar(state, count, buffer);
        } else {
            state = DiagState::Hunting;
        }
        break;
    case DiagState::AfterX: // the message id: any value
        state = DiagState::AfterId;
        break;
    case DiagState::AfterId: // the length byte
        if (byte < kMinFrameLen || byte > capacity) {
            state = DiagState::Hunting;
            result = kDiagOverflow;
        } else {
            st.length = byte;
            state = DiagState::AfterLength;
        }
        break;
    case DiagState::AfterLength:
        if (byte == kFrameMark) {
            state = DiagState::AfterSecondX;
        } else if (byte == kFrameStart) {
            RestartAtDollar(state, count, buffer);
        } else {
            state = DiagState::Hunting;
        }
        break;
    case DiagState::AfterSecondX:
        state = byte == kFrameStart ? DiagState::Body : DiagState::Hunting;
        break;
    case DiagState::Body: {
        const unsigned length = st.length;
        // The length was checked when it arrived; a record whose length was changed
        // behind our back is treated as corrupt rather than trusted for the CRC offsets.
        if (length < kMinFrameLen || length > capacity) {
            state = DiagState::Hunting;
            result = kDiagBadState;
        } else if (count >= length - 2) { // the byte just stored is the high CRC byte
            const std::uint16_t crc = CalcCrc(buffer, length - 4);
            if (buffer[length - 4] == (crc & 0xFF) && buffer[length - 3] == (crc >> 8)) {
                state = DiagState::AwaitCR;
            } else {
                state = DiagState::Hunting;
                result = kDiagBadCrc;
            }
        }
        break;
    }
    case DiagState::AwaitCR:
        state = byte == kCR ? DiagState::AwaitLF : DiagState::Hunting;
        break;
    case DiagState::AwaitLF:
        state = DiagState::Hunting;
        result = byte == kLF ? kDiagFrameComplete : kDiagNoFrame;
        break;
    default:
        state = DiagState::Hunting;
        result = kDiagBadState;
        break;
    }

    st.state = state;
    st.count = static_cast<std::uint16_t>(count);
    return result;
}

inline int FrameLineByte(std::uint8_t byte, LineFrameState& st, std::uint8_t* buffer,
                         std::uint16_t capacity) {
    using namespace memoutils_detail;
    LineState state = st.state;
    unsigned count = st.count;
    bool afterCrCrLf = st.afterCrCrLf;
    int result = kLineNone;

    // A repeated CR not followed by LF leaves this byte to be examined as if idle.
    if (state == LineState::Idle || (state == LineState::AfterRepeatedCR && byte != kLF) ||
        count == 0) {
        state = LineState::InLine;
        count = 0;
    }
    if (count + (afterCrCrLf ? 1u : 0u) >= capacity) {
        st.state = LineState::Idle;
        st.afterCrCrLf = false;
        return kLineOverflow;
    }
    buffer[count++] = byte;

    switch (state) {
    case LineState::InLine:
        if (byte == kCR) {
            state = LineState::AfterCR;
        }
        break;
    case LineState::AfterCR:
        if (byte == kCR) {
            // Perhaps this CR is the line end: it begins the next line on its own.
            buffer[0] = byte;
            count = 1;
            state = LineState::AfterRepeatedCR;
            afterCrCrLf = false;
            break;
        }
        // Either the line is complete or the CR was not a line end and the line so far,
        // this byte included, is abandoned.
        state = LineState::Idle;
        result = byte == kLF ? kLineComplete : kLineNone;
        afterCrCrLf = false;
        break;
    case LineState::AfterRepeatedCR: // only an LF comes here: the line CR LF
        state = LineState::Idle;
        result = kLineComplete;
        afterCrCrLf = true;
        break;
    default:
        state = LineState::Idle;
        result = kLineBadState;
        afterCrCrLf = false;
        break;
    }
    st.state = state;
    st.count = static_cast<std::uint16_t>(count);
    st.afterCrCrLf = afterCrCrLf;
    return result;
}

// ---------------------------------------------------------------------------------------
// Builders. Each writes a frame into a caller-owned buffer, which must hold the whole
// frame, and returns its total length N; the caller writes exactly N bytes to the port.

// "$", "x", id, length, "x", "$" at output[0..5].
void BuildMsgHeader(std::uint8_t id, std::uint8_t length, std::uint8_t* output);
// CR, LF at output[0..1].
void AddCrLf(std::uint8_t* output);
// CRC of frame[0 .. length-5], low byte first, at output[0..1].
void PutMsgCrc(const std::uint8_t* frame, std::uint8_t length, std::uint8_t* output);
// A complete frame of N = payloadLen + 10 bytes. A payload longer than 245 bytes does
// not fit the length byte: nothing is written and 0 is returned.
std::uint8_t BuildMsg(std::uint8_t id, const std::uint8_t* payload, std::size_t payloadLen,
                      std::uint8_t* output);
// Output request (id 0xFF) asking the receiver for message requestedId; returns 11.
std::uint8_t BuildRequestMsg(std::uint8_t requestedId, std::uint8_t* output);
// Output configuration command (id 0x82); returns 44. Reserved bytes are zero.
std::uint8_t BuildPortConfigMsg(std::uint32_t reserved, std::uint32_t binaryFlags,
                                std::uint32_t nmeaFlags, std::uint32_t baudRate,
                                std::uint8_t* output);
// Corrections command (id 0x81); returns 18. The channel is sent only with the alternate
// frequency; with the default frequency its bytes are zero.
std::uint8_t BuildCorrectionsMsg(bool alternateFrequency, std::int32_t channel, bool waasOn,
                                 bool correctionsOn, std::uint8_t* output);
// Navigation rate command (id 0x83) with the rate (1 or 5); returns 11.
std::uint8_t BuildNavRateMsg(std::uint8_t navRate, std::uint8_t* output);

// ---------------------------------------------------------------------------------------
// Report readers. Each is given a whole received frame (from its "$") and its length,
// checks the id and that the frame's payload reaches every field read, and fills the
// record. A frame of another id, or one too short, is refused (false, record untouched).

struct ConfigurationReport {
    std::uint8_t versionMajor = 0;
    std::uint8_t versionMinor = 0;
    std::uint32_t binaryFlags = 0; // binary message flags in force
    std::uint32_t nmeaFlags = 0;   // NMEA output flags in force
    std::uint8_t navRate = 0;      // navigation rate in force (1 or 5)
    std::uint8_t engineLoadStatus = 0;
    char versionSuffix[4] = {}; // three characters, or empty; NUL-terminated
};

// Payload offsets of the Configuration report.
inline constexpr std::size_t kCfgVersionMajor = 0;
inline constexpr std::size_t kCfgVersionMinor = 1;
inline constexpr std::size_t kCfgBinaryFlags = 18;
inline constexpr std::size_t kCfgNmeaFlags = 26;
inline constexpr std::size_t kCfgNavRate = 30;
inline constexpr std::size_t kCfgEngineLoadStatus = 123;
inline constexpr std::size_t kCfgVersionSuffix = 130;
inline constexpr std::size_t kCfgVersionSuffixLen = 3;
inline constexpr std::size_t kCfgMinPayloadLen = kCfgEngineLoadStatus + 1; // 124
inline constexpr std::size_t kCfgSuffixPayloadLen = kCfgVersionSuffix + kCfgVersionSuffixLen; // 133

bool ReadConfigurationReport(const std::uint8_t* frame, int length, ConfigurationReport& out);

struct CorrectionsStatusReport {
    std::int32_t channel = 0;          // correction channel number in force
    std::uint8_t frequencyMode = 0;    // 0 default, anything else alternate
    std::uint8_t waasState = 0;        // 1 on, 0 off, anything else not available
    std::uint8_t correctionsState = 0; // 0 on, anything else off

    bool AlternateFrequency() const { return frequencyMode != 0; }
    bool WaasAvailable() const { return waasState == 0 || waasState == 1; }
    bool WaasOn() const { return waasState == 1; }
    bool CorrectionsOn() const { return correctionsState == 0; }
};

// Payload offsets of the Corrections status report.
inline constexpr std::size_t kCorrChannel = 2;
inline constexpr std::size_t kCorrFrequencyMode = 45;
inline constexpr std::size_t kCorrWaasState = 70;
inline constexpr std::size_t kCorrCorrectionsState = 71;
inline constexpr std::size_t kCorrMinPayloadLen = kCorrCorrectionsState + 1; // 72

bool ReadCorrectionsStatusReport(const std::uint8_t* frame, int length,
                                 CorrectionsStatusReport& out);

// ---------------------------------------------------------------------------------------
// Correction channel: steps of 0.5 kHz above 1525 MHz, signed 32-bit.

inline constexpr double kChannelBaseMHz = 1525.0;
inline constexpr double kChannelsPerMHz = 2000.0;

// 1525 + 0.0005 * channel.
double ChannelToMHz(std::int32_t channel);
// (mhz - 1525) * 2000 rounded to the nearest channel (halves away from zero), so every
// channel's frequency reads back as that channel. A frequency that is not a finite number
// or whose channel falls outside the signed 32-bit range is refused (false, channel
// untouched).
bool MHzToChannel(double mhz, std::int32_t& channel);

// Little-endian field access, byte-wise so fields may sit at any offset.
inline std::uint32_t GetLE32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void PutLE32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}
