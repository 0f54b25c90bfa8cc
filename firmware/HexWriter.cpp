#include "firmware/HexWriter.h"

#include <algorithm>

namespace
{
constexpr int HEX_DATA = 0x00;
constexpr int HEX_END_OF_FILE = 0x01;
constexpr int HEX_EXTENDED_LINEAR = 0x04;
constexpr std::size_t HEX_RECORD_DATA = 16;

void PutByte(std::string& strText, std::uint8_t by)
{
    static constexpr char DIGITS[] = "0123456789ABCDEF";
    strText += DIGITS[by >> 4];
    strText += DIGITS[by & 0x0F];
}
} // namespace

std::string HexRecord(int nType, std::uint16_t wAddress, const std::uint8_t* pData,
                      std::size_t nCount)
{
    const std::uint8_t byHead[] = {
        static_cast<std::uint8_t>(nCount), static_cast<std::uint8_t>(wAddress >> 8),
        static_cast<std::uint8_t>(wAddress), static_cast<std::uint8_t>(nType)};
    std::string strRecord = ":";
    std::uint8_t bySum = 0;
    for (const std::uint8_t by : byHead)
    {
        PutByte(strRecord, by);
        bySum = static_cast<std::uint8_t>(bySum + by);
    }
    for (std::size_t i = 0; i < nCount; ++i)
    {
        PutByte(strRecord, pData[i]);
        bySum = static_cast<std::uint8_t>(bySum + pData[i]);
    }
    PutByte(strRecord, static_cast<std::uint8_t>(-bySum));
    return strRecord;
}

void CHexWriter::Record(int nType, std::uint16_t wAddress, const std::uint8_t* pData,
                        std::size_t nCount)
{
    m_strText += HexRecord(nType, wAddress, pData, nCount);
    m_strText += m_strLineEnd;
}

void CHexWriter::Data(std::uint32_t nAddress, const std::uint8_t* pData, std::size_t nCount)
{
    while (nCount > 0)
    {
        const long nUpper = static_cast<long>(nAddress >> 16);
        if (nUpper != m_nUpper)
        {
            const std::uint8_t byUpper[] = {static_cast<std::uint8_t>(nUpper >> 8),
                                            static_cast<std::uint8_t>(nUpper)};
            Record(HEX_EXTENDED_LINEAR, 0, byUpper, sizeof byUpper);
            m_nUpper = nUpper;
        }
        // A record never crosses a 64 KB boundary: its address has 16 bits.
        const std::size_t nToBoundary = 0x10000 - (nAddress & 0xFFFF);
        const std::size_t nChunk = std::min({nCount, HEX_RECORD_DATA, nToBoundary});
        Record(HEX_DATA, static_cast<std::uint16_t>(nAddress), pData, nChunk);
        nAddress += static_cast<std::uint32_t>(nChunk);
        pData += nChunk;
        nCount -= nChunk;
    }
}

void CHexWriter::End()
{
    Record(HEX_END_OF_FILE, 0, nullptr, 0);
}
