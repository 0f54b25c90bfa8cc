#pragma once
// Intel HEX as the chip's build tools write it: an extended linear address record wherever the
// upper address word changes, data records of at most 16 bytes, the end-of-file record last.
#include <cstddef>
#include <cstdint>
#include <string>

// One record, ':' to checksum, upper-case digits, no line end.
std::string HexRecord(int nType, std::uint16_t wAddress, const std::uint8_t* pData,
                      std::size_t nCount);

class CHexWriter
{
public:
    // Every record ends with strLineEnd ("\n", or "\r\n" as the chip's tools write).
    explicit CHexWriter(std::string strLineEnd = "\n") : m_strLineEnd(std::move(strLineEnd)) {}

    // nCount bytes from the linear address nAddress.
    void Data(std::uint32_t nAddress, const std::uint8_t* pData, std::size_t nCount);
    // The end-of-file record.
    void End();
    // The records written so far.
    const std::string& Text() const { return m_strText; }

private:
    void Record(int nType, std::uint16_t wAddress, const std::uint8_t* pData, std::size_t nCount);

    std::string m_strLineEnd;
    std::string m_strText;
    long m_nUpper = -1; // upper address word of the last extended linear address record
};
