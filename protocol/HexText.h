#pragma once
// Bytes as the simulated bus's trace and the simulated boards print them: two-digit lower-case
// hexadecimal separated by single spaces, "37 00 0f".
#include <cstddef>
#include <cstdint>
#include <string>

inline std::string HexText(const std::uint8_t* pBytes, std::size_t nLength)
{
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string strText;
    strText.reserve(nLength * 3);
    for (std::size_t i = 0; i < nLength; ++i)
    {
        if (i != 0)
            strText += ' ';
        strText += DIGITS[pBytes[i] >> 4];
        strText += DIGITS[pBytes[i] & 0x0F];
    }
    return strText;
}
