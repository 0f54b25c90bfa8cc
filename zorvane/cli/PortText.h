#pragma once
// The tool's words for ports and values: port letters A to E, numbers in decimal or "0x" hex,
// and the scriptable "A=0x5a" form. Pure text; a bad word is a CUsageError.
#include "protocol/PortTypes.h"

#include <cstdint>
#include <string>

// "A" to "E" in either case: 0 to 4.
int ParsePortLetter(const std::string& strText);
char PortLetter(int nPort);

// A whole number from 0 to nMax in decimal ("90") or hexadecimal ("0x5a", "0X5A"); pszWhat
// names it in the error.
std::uint32_t ParseNumber(const std::string& strText, std::uint32_t nMax, const char* pszWhat);

// "A=0x5a": the letter and two lower-case hex digits.
std::string FormatPortValue(int nPort, std::uint8_t byValue);
