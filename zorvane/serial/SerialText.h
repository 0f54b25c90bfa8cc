#pragma once
// The text protocol of COM-port boards: the command lines a host sends and the reply to an
// input request. Pure formatting and parsing; CSerial moves the characters.
//
//   "C,%d,%d,%d,%d\n"  directions of ports A, B, C, then 0
//   "O,%d,%d,%d\n"     values of ports A, B, C
//   "PO,A,%d,%d\n"     bit number, value as given (ports A, B, C)
//   "I\n"              input request; the reply is "tag,A,B,C" and a line end
//   "PI,A,%d\n"        bit number (ports A, B, C)
#include <cstdint>
#include <string>

inline constexpr char INPUT_REQUEST_LINE[] = "I\n";

std::string FormatConfigureLine(std::uint8_t byDirA, std::uint8_t byDirB, std::uint8_t byDirC);
std::string FormatOutputLine(std::uint8_t byPortA, std::uint8_t byPortB, std::uint8_t byPortC);
// cPort is 'A', 'B' or 'C'; the line carries the low 8 bits of nBit.
std::string FormatBitOutputLine(char cPort, std::int32_t nBit, std::int32_t nValue);
std::string FormatBitInputLine(char cPort, std::int32_t nBit);

// An input reply: a tag up to the first ',', then the three port values in decimal, each the
// number at the start of its field (white space and a sign allowed, no digits give 0) cut to
// its low 8 bits; a missing field repeats the one before ("I,7" gives 7, 7, 7). Trailing
// white space is ignored. False, and nothing stored, for a text without a comma.
bool ParseReply(const std::string& strText, std::uint8_t& byPortA, std::uint8_t& byPortB,
                std::uint8_t& byPortC);

// True when the text holds a whole input reply even without its line end: a tag and three
// fields, the last with at least one digit ("I,1,2,3"; not "I,1,2" nor "I,1,2,").
bool HasAllReplyFields(const std::string& strText);

// Moves the first complete line (ended by '\n' or '\r') out of strPending into strLine,
// without its end. False when strPending holds no line end yet.
bool TakeLine(std::string& strPending, std::string& strLine);
