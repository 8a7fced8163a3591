#pragma once
// A serial line reached through a serial-to-network server: Telnet (RFC 854) with its
// binary transmission (RFC 856) and COM-PORT-OPTION (RFC 2217), the part a client needs.
//
// The problem: on the network the receiver's bytes and the server's Telnet commands
// share one TCP stream. A command starts with IAC (255); a data byte of 255 is sent as
// IAC IAC, both ways, and a binary frame of the receiver may hold 255 anywhere. Options
// are negotiated with WILL, WONT, DO and DONT; COM-PORT-OPTION commands travel inside
// a subnegotiation IAC SB 44 <command> <value> IAC SE, where the value is escaped the
// same way. The server answers each of our commands (SET-BAUDRATE is 1, its answer
// 101) with the value it put into effect.
//
// The decoder takes the server's bytes in whatever pieces they come: states in one
// enum, one switch per byte. Data bytes come out unescaped. A negotiation that needs an
// answer queues it; a COM-PORT-OPTION answer is kept for the caller. A subnegotiation
// longer than its room is dropped up to its IAC SE; a stray byte after IAC that names
// no command is dropped with it. Nothing the server sends can make it read or write
// out of bounds.
//
// Binary transmission is asked for both ways, so a CR travels as it is. Standard C++ only.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace telnet {

inline constexpr std::uint8_t kIac = 255;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kSe = 240;

// Options.
inline constexpr std::uint8_t kBinary = 0;
inline constexpr std::uint8_t kSuppressGoAhead = 3;
inline constexpr std::uint8_t kComPort = 44;

// COM-PORT-OPTION commands from the client; the server answers each with the same
// command plus kServerOffset.
inline constexpr std::uint8_t kSetBaudRate = 1;
inline constexpr std::uint8_t kSetDataSize = 2;
inline constexpr std::uint8_t kSetParity = 3;
inline constexpr std::uint8_t kSetStopSize = 4;
inline constexpr std::uint8_t kSetControl = 5;
inline constexpr std::uint8_t kPurgeData = 12;
inline constexpr std::uint8_t kServerOffset = 100;

// Values.
inline constexpr std::uint8_t kDataSize8 = 8;
inline constexpr std::uint8_t kParityNone = 1;
inline constexpr std::uint8_t kStopSize1 = 1;
inline constexpr std::uint8_t kControlNoFlowControl = 1;
inline constexpr std::uint8_t kControlDtrOff = 9;
inline constexpr std::uint8_t kControlRtsOff = 12;
inline constexpr std::uint8_t kPurgeReceiveBuffer = 1; // what the server received from the line

} // namespace telnet

// What a client sends.
namespace rfc2217 {

// Data for the line, each 255 doubled.
void AppendData(std::vector<std::uint8_t>& out, const std::uint8_t* data, std::size_t n);
// IAC verb option.
void AppendNegotiation(std::vector<std::uint8_t>& out, std::uint8_t verb, std::uint8_t option);
// IAC SB COM-PORT-OPTION command value IAC SE, the value escaped.
void AppendComPort(std::vector<std::uint8_t>& out, std::uint8_t command,
                   const std::uint8_t* value, std::size_t n);
// SET-BAUDRATE with the rate in network order.
void AppendSetBaudRate(std::vector<std::uint8_t>& out, std::uint32_t rate);
// One-byte commands (SET-DATASIZE, SET-PARITY, SET-STOPSIZE, SET-CONTROL, PURGE-DATA).
void AppendComPortByte(std::vector<std::uint8_t>& out, std::uint8_t command, std::uint8_t value);

// What a client says when it connects: it will use COM-PORT-OPTION, and binary
// transmission and no go-ahead both ways.
std::vector<std::uint8_t> Greeting();

} // namespace rfc2217

class TelnetDecoder {
public:
    // Where each option stands, as far as the server has told.
    enum class Agreement : std::uint8_t { Open, Yes, No };

    // Takes the server's next bytes; appends the data among them to data, unescaped.
    void Feed(const std::uint8_t* in, std::size_t n, std::vector<std::uint8_t>& data);

    // Answers the negotiation calls for, to be sent to the server; taken once.
    std::vector<std::uint8_t> TakeAnswers();

    // Whether the server does COM-PORT-OPTION (it answered our WILL with DO or DONT),
    // and binary transmission to us (WILL BINARY) and from us (DO BINARY).
    Agreement ComPort() const { return comPort_; }
    Agreement BinaryFromServer() const { return binaryFromServer_; }
    Agreement BinaryToServer() const { return binaryToServer_; }

    // The last answer to a COM-PORT-OPTION command: its command number (the client's,
    // without the server offset), and its value when it was one byte or four. count
    // grows with every answer, so a caller can wait for the next one.
    struct Answer {
        std::uint8_t command = 0;
        std::uint32_t value = 0;
        std::uint64_t count = 0;
    };
    const Answer& LastAnswer() const { return answer_; }
    // The answer count for one command.
    std::uint64_t AnswersTo(std::uint8_t command) const {
        return command < kCommands ? answersTo_[command] : 0;
    }

private:
    enum class State : std::uint8_t {
        Data,        // data bytes
        Iac,         // after IAC
        Negotiation, // after IAC WILL/WONT/DO/DONT: the option byte
        Sub,         // inside IAC SB ...
        SubIac,      // IAC inside a subnegotiation
    };
    static constexpr std::size_t kSubRoom = 16;
    static constexpr std::uint8_t kCommands = 16;

    void Negotiate(std::uint8_t verb, std::uint8_t option);
    void Refuse(std::uint8_t verb, std::uint8_t option);
    void EndSub();

    State state_ = State::Data;
    std::uint8_t verb_ = 0;
    std::uint8_t sub_[kSubRoom] = {};
    std::size_t subLength_ = 0;
    bool subOverflow_ = false;
    std::vector<std::uint8_t> answers_;
    Agreement comPort_ = Agreement::Open;
    Agreement binaryFromServer_ = Agreement::Open;
    Agreement binaryToServer_ = Agreement::Open;
    Agreement goAheadFromServer_ = Agreement::Open;
    Answer answer_;
    std::uint64_t answersTo_[kCommands] = {};
    std::uint64_t refused_[8] = {}; // a bit for each option and verb refused once
};
