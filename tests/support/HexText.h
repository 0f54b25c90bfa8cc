#pragma once
// The trace's hex text (protocol/HexText.h), and the long runs of zeros of 64-byte packets.
#include "protocol/HexText.h"

#include <vector>

// n zero bytes in trace form.
inline std::string Zeros(std::size_t nCount)
{
    return HexText(std::vector<std::uint8_t>(nCount).data(), nCount);
}

// A trace line whose bytes are the given ones followed by zeros up to nLength.
inline std::string Line(const char* pszPrefix, std::initializer_list<std::uint8_t> bytes,
                        std::size_t nLength)
{
    std::vector<std::uint8_t> all(bytes);
    all.resize(nLength, 0);
    return std::string(pszPrefix) + " " + HexText(all.data(), all.size());
}
