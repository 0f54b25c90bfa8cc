// The COM-port board's reply, as arbitrary bytes in arbitrary pieces: the reply parser against
// an independent reading of the protocol, line splitting, and the input exchange, whose result
// must not depend on how the bytes were cut into pieces.
#include "zorvane/devices/BitIO.h"
#include "zorvane/serial/Serial.h"
#include "zorvane/serial/SerialText.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace
{
constexpr char SPACES[] = " \t\n\v\f\r";
constexpr std::size_t PENDING_MAX = 255; // the exchange keeps no more of an unfinished line

void Check(bool bHolds)
{
    if (!bHolds)
        std::abort();
}

bool IsSpace(char c)
{
    return c != '\0' && std::strchr(SPACES, c) != nullptr;
}

// The number at the start of a field as strtol reads it (white space, sign, decimal digits,
// saturating at the long range), cut to its low 8 bits.
std::uint8_t LeadingByte(const std::string& strField)
{
    std::size_t i = 0;
    while (i < strField.size() && IsSpace(strField[i]))
        ++i;
    const bool bNegative = i < strField.size() && strField[i] == '-';
    if (i < strField.size() && (strField[i] == '-' || strField[i] == '+'))
        ++i;
    const unsigned long long nLimit =
        bNegative ? 1ULL + LONG_MAX : static_cast<unsigned long long>(LONG_MAX);
    unsigned long long nMagnitude = 0;
    bool bDigits = false;
    bool bOverflow = false;
    for (; i < strField.size() && strField[i] >= '0' && strField[i] <= '9'; ++i)
    {
        const unsigned nDigit = static_cast<unsigned>(strField[i] - '0');
        bDigits = true;
        if (nMagnitude > (nLimit - nDigit) / 10)
            bOverflow = true;
        else
            nMagnitude = nMagnitude * 10 + nDigit;
    }
    if (!bDigits)
        return 0;
    if (bOverflow)
        return bNegative ? 0x00 : 0xFF; // LONG_MIN, LONG_MAX
    return static_cast<std::uint8_t>(bNegative ? 0 - nMagnitude : nMagnitude);
}

// The reply rule: a tag up to the first comma, then up to three fields; a missing field
// repeats the one before; trailing white space does not count; the fields end at a NUL.
std::optional<std::array<std::uint8_t, 3>> ExpectedReply(const std::string& strText)
{
    std::string strTrimmed = strText;
    while (!strTrimmed.empty() && IsSpace(strTrimmed.back()))
        strTrimmed.pop_back();
    const std::size_t nComma = strTrimmed.find(',');
    if (nComma == std::string::npos)
        return std::nullopt;
    const std::string strRest = strTrimmed.c_str() + nComma + 1;
    std::vector<std::string> fields(1);
    for (const char c : strRest)
        if (c == ',')
            fields.emplace_back();
        else
            fields.back() += c;
    std::array<std::uint8_t, 3> byValues{};
    for (std::size_t i = 0; i < 3; ++i)
        byValues[i] = LeadingByte(fields[std::min(i, fields.size() - 1)]);
    return byValues;
}

std::optional<std::array<std::uint8_t, 3>> Parsed(const std::string& strText)
{
    std::array<std::uint8_t, 3> byValues{0x11, 0x22, 0x33};
    if (!ParseReply(strText, byValues[0], byValues[1], byValues[2]))
    {
        Check(byValues == (std::array<std::uint8_t, 3>{0x11, 0x22, 0x33})); // nothing stored
        return std::nullopt;
    }
    return byValues;
}

// A COM port whose board answers with the given pieces, one Read at a time (a piece longer
// than the reader's buffer goes out over several). It never waits: input is there while
// pieces remain.
class CPieceSerial : public CSerial
{
public:
    explicit CPieceSerial(std::vector<std::string> pieces)
        : CSerial("COM1", 9600, 0, 8, 0), m_pieces(std::move(pieces))
    {
    }

    std::int32_t Write(const std::uint8_t* pData, std::int32_t nLength) override
    {
        m_strSent.append(reinterpret_cast<const char*>(pData), static_cast<std::size_t>(nLength));
        return nLength;
    }
    std::int32_t Read(std::uint8_t* pBuffer, std::int32_t nLength) override
    {
        if (m_nPiece >= m_pieces.size() || nLength <= 0)
            return 0;
        const std::string& strPiece = m_pieces[m_nPiece];
        const std::size_t nTaken =
            std::min(static_cast<std::size_t>(nLength), strPiece.size() - m_nOffset);
        std::memcpy(pBuffer, strPiece.data() + m_nOffset, nTaken);
        m_nOffset += nTaken;
        if (m_nOffset == strPiece.size())
        {
            ++m_nPiece;
            m_nOffset = 0;
        }
        return static_cast<std::int32_t>(nTaken);
    }
    bool WaitForInput(std::chrono::microseconds) override { return m_nPiece < m_pieces.size(); }

    const std::string& Sent() const { return m_strSent; }

private:
    std::vector<std::string> m_pieces;
    std::size_t m_nPiece = 0;
    std::size_t m_nOffset = 0;
    std::string m_strSent;
};

// What the exchange must make of the whole text when no unfinished line ever outgrows what it
// keeps: the first line with a comma, else the text after the last line end.
std::optional<std::array<std::uint8_t, 3>> ExpectedExchange(std::string strText)
{
    std::string strLine;
    while (TakeLine(strText, strLine))
        if (auto reply = ExpectedReply(strLine))
            return reply;
    return ExpectedReply(strText);
}

void CheckLines(const std::string& strText)
{
    std::string strPending = strText;
    std::string strLine;
    std::size_t nConsumed = 0;
    while (TakeLine(strPending, strLine))
    {
        Check(strLine.find_first_of("\r\n") == std::string::npos);
        Check(strText.compare(nConsumed, strLine.size(), strLine) == 0);
        nConsumed += strLine.size();
        Check(strText[nConsumed] == '\r' || strText[nConsumed] == '\n');
        ++nConsumed;
        Check(strPending == strText.substr(nConsumed));
    }
    Check(strPending.find_first_of("\r\n") == std::string::npos);
}

std::size_t LongestUnfinishedRun(const std::string& strText)
{
    std::size_t nLongest = 0;
    std::size_t nRun = 0;
    for (const char c : strText)
    {
        nRun = c == '\r' || c == '\n' ? 0 : nRun + 1;
        nLongest = std::max(nLongest, nRun);
    }
    return nLongest;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize)
{
    FuzzedDataProvider provider(pData, nSize);
    std::vector<std::string> pieces;
    std::string strWhole;
    while (provider.remaining_bytes() > 0)
    {
        const std::size_t nLength = provider.ConsumeIntegralInRange<std::size_t>(0, 100);
        pieces.push_back(provider.ConsumeBytesAsString(nLength));
        strWhole += pieces.back();
    }

    Check(Parsed(strWhole) == ExpectedReply(strWhole));
    Check(Parsed(strWhole + " \r\n\t") == Parsed(strWhole));
    CheckLines(strWhole);

    CBitIO board;
    auto* pSerial = new CPieceSerial(pieces);
    board.m_pSerial = pSerial; // the board owns and deletes it
    board.m_byPortA = 0xA1;
    board.m_byPortB = 0xB2;
    board.m_byPortC = 0xC3;
    std::array<std::uint8_t, 3> byRead{0x5A, 0x5A, 0x5A};
    const std::int32_t nResult = board.ReadBytePorts(&byRead[0], &byRead[1], &byRead[2]);
    Check(pSerial->Sent() == INPUT_REQUEST_LINE);
    const std::array<std::uint8_t, 3> byCached{board.m_byPortA, board.m_byPortB, board.m_byPortC};
    if (nResult == 0)
    {
        Check(byCached == (std::array<std::uint8_t, 3>{0xA1, 0xB2, 0xC3}));
        Check(byRead == (std::array<std::uint8_t, 3>{0x5A, 0x5A, 0x5A}));
    }
    else
    {
        Check(nResult == 1 && byRead == byCached);
    }
    if (LongestUnfinishedRun(strWhole) <= PENDING_MAX)
    {
        const auto expected = ExpectedExchange(strWhole);
        Check(expected.has_value() == (nResult == 1));
        Check(!expected || *expected == byRead);
    }
    return 0;
}
