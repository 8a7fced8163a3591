#pragma once
// What the receive monitor makes of a received text line, shared by the main window and
// kestrane-cli's monitor so that both show and log exactly the same thing.
//
// Only the receiver's own sentences count: a line that begins "$GP". It is shown without
// its CR LF, printable ASCII as it is and every other byte (NUL, control characters,
// bytes above 0x7E) as the replacement character U+FFFD, so a damaged sentence stays one
// readable line. The log keeps the sentence's exact bytes, each followed by CR LF, and is
// flushed after every sentence so that a log read while it grows, or left behind by a
// program that was killed, ends with a whole sentence.
//
// Standard C++ only.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

// The sentence a received line carries (without its CR LF), or false when the line is not
// one of the receiver's sentences. line is a whole line as the line framer hands it over,
// its CR LF included.
bool ReceivedSentence(const std::uint8_t* line, std::size_t length, std::string_view& sentence);

// The sentence as the monitor shows it, in UTF-8.
std::string SentenceDisplayText(std::string_view sentence);

// The monitor's text for a binary frame of the given message id: "Proprietary ID 4".
std::string FrameDisplayText(int id);

// Appends the sentence and CR LF to the log and flushes it. False when any of it could
// not be written (errno then tells why).
bool WriteSentenceLog(std::FILE* log, std::string_view sentence);
