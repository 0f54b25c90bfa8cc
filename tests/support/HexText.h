#pragma once
// The trace's hex text (protocol/HexText.h), and the long runs of zeros of 64-byte packets.
#include "protocol/HexText.h"

// n zero bytes in trace form.
inline std::string Zeros(std::size_t nCount)
{
    std::string strText;
    for (std::size_t i = 0; i < nCount; ++i)
        strText += i ? " 00" : "00";
    return strText;
}
