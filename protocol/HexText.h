#pragma once
// Bytes as the simulated bus's trace and the simulated boards print them: two-digit lower-case
// hexadecimal separated by single spaces, "37 00 0f".
#include <cstddef>
#include <cstdint>
#include <string>

std::string HexText(const std::uint8_t* pBytes, std::size_t nLength);
