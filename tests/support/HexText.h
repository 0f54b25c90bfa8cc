#pragma once
// Bytes as the trace writes them: two-digit lower-case hex separated by single spaces.
#include <cstddef>
#include <cstdint>
#include <string>

inline std::string HexText(const std::uint8_t* pBytes, std::size_t nLength)
{
    static const char kHex[] = "0123456789abcdef";
    std::string strText;
    for (std::size_t i = 0; i < nLength; ++i)
    {
        if (i)
            strText += ' ';
        strText += kHex[pBytes[i] >> 4];
        strText += kHex[pBytes[i] & 0x0F];
    }
    return strText;
}

// n zero bytes in trace form, for the long tails of 64-byte packets.
inline std::string Zeros(std::size_t nCount)
{
    std::string strText;
    for (std::size_t i = 0; i < nCount; ++i)
        strText += i ? " 00" : "00";
    return strText;
}
