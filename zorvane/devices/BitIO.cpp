#include "zorvane/devices/BitIO.h"

#include "zorvane/serial/Serial.h"
#include "zorvane/serial/SerialText.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace
{
constexpr std::int32_t WAITING_REPLY_MAX = 64; // what an output operation takes and counts
constexpr std::int32_t BIT_REPLY_MAX = 10;     // what a bit read takes
constexpr std::int32_t BIT_READ_VALUE = 0x31;  // what a bit read delivers when anything came
constexpr std::size_t REPLY_TEXT_MAX = 255;    // an unfinished reply is never longer

std::uint8_t LowByte(std::int32_t nValue)
{
    return static_cast<std::uint8_t>(nValue & 0xFF);
}
} // namespace

CBitIO::CBitIO()
    : m_byPortC(0), m_byPortB(0), m_byPortA(0), m_byDirC(0xFF), m_byDirB(0xFF), m_byDirA(0xFF),
      m_byInvA(0), m_byInvB(0), m_byInvC(0), m_pSerial(nullptr)
{
}

CBitIO::CBitIO(const char* pszName) : CBitIO()
{
    m_pSerial = new CSerial(pszName, 9600, 0, 8, 0);
}

CBitIO::~CBitIO()
{
    delete m_pSerial;
}

std::int32_t CBitIO::ConfigurePortsEx(std::int32_t nDirA, std::int32_t nDirB, std::int32_t nDirC,
                                      std::int32_t /*nDirD*/, std::int32_t /*nDirE*/,
                                      std::int32_t /*nUnused*/)
{
    return SendConfiguration(nDirA, nDirB, nDirC);
}

std::int32_t CBitIO::ConfigurePorts(std::int32_t nDirA, std::int32_t nDirB, std::int32_t nDirC,
                                    std::int32_t /*nUnused*/)
{
    return SendConfiguration(nDirA, nDirB, nDirC);
}

std::int32_t CBitIO::WriteBytePortA(std::int32_t nValue)
{
    if (!m_pSerial)
        return 0;
    m_byPortA = LowByte(nValue);
    return SendOutputs();
}

std::int32_t CBitIO::WriteBytePortB(std::int32_t nValue)
{
    if (!m_pSerial)
        return 0;
    m_byPortB = LowByte(nValue);
    return SendOutputs();
}

std::int32_t CBitIO::WriteBytePortC(std::int32_t nValue)
{
    if (!m_pSerial)
        return 0;
    m_byPortC = LowByte(nValue);
    return SendOutputs();
}

std::int32_t CBitIO::WriteBytePortD(std::int32_t /*nValue*/)
{
    return 0;
}

std::int32_t CBitIO::WriteBytePortE(std::int32_t /*nValue*/)
{
    return 0;
}

std::int32_t CBitIO::WriteBitPortA(std::int32_t nBit, std::int32_t nValue)
{
    return SendBit('A', m_byPortA, nBit, nValue);
}

std::int32_t CBitIO::WriteBitPortB(std::int32_t nBit, std::int32_t nValue)
{
    return SendBit('B', m_byPortB, nBit, nValue);
}

std::int32_t CBitIO::WriteBitPortC(std::int32_t nBit, std::int32_t nValue)
{
    return SendBit('C', m_byPortC, nBit, nValue);
}

std::int32_t CBitIO::ReadAllPorts(std::uint8_t* pbyA, std::uint8_t* pbyB, std::uint8_t* pbyC,
                                  std::uint8_t* pbyD, std::uint8_t* pbyE)
{
    // A COM-port board has no ports D and E.
    if (pbyD)
        *pbyD = 0;
    if (pbyE)
        *pbyE = 0;
    return ReadBytePorts(pbyA, pbyB, pbyC);
}

std::int32_t CBitIO::ReadBytePorts(std::uint8_t* pbyA, std::uint8_t* pbyB, std::uint8_t* pbyC)
{
    if (!ExchangeInputs())
        return 0;
    if (pbyA)
        *pbyA = m_byPortA;
    if (pbyB)
        *pbyB = m_byPortB;
    if (pbyC)
        *pbyC = m_byPortC;
    return 1;
}

std::int32_t CBitIO::ReadBytePortA(std::uint8_t* pbyValue)
{
    return ReadOnePort(m_byPortA, pbyValue);
}

std::int32_t CBitIO::ReadBytePortB(std::uint8_t* pbyValue)
{
    return ReadOnePort(m_byPortB, pbyValue);
}

std::int32_t CBitIO::ReadBytePortC(std::uint8_t* pbyValue)
{
    return ReadOnePort(m_byPortC, pbyValue);
}

std::int32_t CBitIO::ReadBytePortD(std::uint8_t* /*pbyValue*/)
{
    return 0;
}

std::int32_t CBitIO::ReadBytePortE(std::uint8_t* /*pbyValue*/)
{
    return 0;
}

std::int32_t CBitIO::ReadBitPortA(std::int32_t nBit, std::int32_t* pnValue)
{
    return AskBit('A', nBit, pnValue);
}

std::int32_t CBitIO::ReadBitPortB(std::int32_t nBit, std::int32_t* pnValue)
{
    return AskBit('B', nBit, pnValue);
}

std::int32_t CBitIO::ReadBitPortC(std::int32_t nBit, std::int32_t* pnValue)
{
    return AskBit('C', nBit, pnValue);
}

std::int32_t CBitIO::Open()
{
    return m_pSerial && m_pSerial->Open() == 0 ? 1 : 0;
}

std::int32_t CBitIO::AddVirtualPort(const char* /*pszName*/, std::int32_t /*nStart*/,
                                    std::int32_t /*nWidth*/, std::int32_t /*nInput*/)
{
    return 0;
}

std::int32_t CBitIO::RemoveVirtualPort(const char* /*pszName*/)
{
    return 0;
}

std::int32_t CBitIO::RemoveAllVirtualPorts()
{
    return 0;
}

std::int32_t CBitIO::WriteVirtualPort(const char* /*pszName*/, std::int32_t /*nValue*/)
{
    return 0;
}

std::int32_t CBitIO::ReadVirtualPort(const char* /*pszName*/, std::int32_t* /*pnValue*/)
{
    return 0;
}

std::int32_t CBitIO::SendConfiguration(std::int32_t nDirA, std::int32_t nDirB, std::int32_t nDirC)
{
    if (!m_pSerial)
        return 0;
    m_byDirA = LowByte(nDirA);
    m_byDirB = LowByte(nDirB);
    m_byDirC = LowByte(nDirC);
    return m_pSerial->WriteString(FormatConfigureLine(m_byDirA, m_byDirB, m_byDirC).c_str());
}

std::int32_t CBitIO::SendOutputs()
{
    m_bLineSent =
        m_pSerial->WriteString(FormatOutputLine(m_byPortA, m_byPortB, m_byPortC).c_str()) != 0;
    if (!m_bLineSent)
        return 0;
    return TakeWaitingReply();
}

std::int32_t CBitIO::SendBit(char cPort, std::uint8_t& byPort, std::int32_t nBit,
                             std::int32_t nValue)
{
    if (!m_pSerial)
        return 0;
    // Bits 0 to 7 are the caller's to keep; a number outside changes no cached bit.
    const unsigned nBitNumber = static_cast<unsigned>(nBit) & 0xFF;
    if (nBitNumber < 8)
    {
        const auto byMask = static_cast<std::uint8_t>(1u << nBitNumber);
        byPort = nValue ? byPort | byMask : byPort & ~byMask;
    }
    m_bLineSent = m_pSerial->WriteString(FormatBitOutputLine(cPort, nBit, nValue).c_str()) != 0;
    if (!m_bLineSent)
        return 0;
    return TakeWaitingReply();
}

std::int32_t CBitIO::TakeWaitingReply()
{
    std::uint8_t byReply[WAITING_REPLY_MAX] = {};
    return m_pSerial->Read(byReply, WAITING_REPLY_MAX);
}

bool CBitIO::ExchangeInputs()
{
    if (!m_pSerial)
        return false;
    // Whatever waits now answers something earlier (a bit read, a request whose reply came
    // after its bound): only what arrives after this request can be its reply.
    m_pSerial->DiscardInput();
    if (!m_pSerial->WriteString(INPUT_REQUEST_LINE))
        return false;
    // A 9600-baud board needs a dozen milliseconds for its reply, which may come in pieces:
    // join them until a line ends, or until a reply without its line end stops growing,
    // within a bound, sleeping in between.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(REPLY_WAIT_MS);
    std::string strPending;
    std::uint8_t byA = 0;
    std::uint8_t byB = 0;
    std::uint8_t byC = 0;
    while (true)
    {
        std::uint8_t byChunk[WAITING_REPLY_MAX];
        const std::int32_t nTaken = m_pSerial->Read(byChunk, WAITING_REPLY_MAX);
        strPending.append(reinterpret_cast<const char*>(byChunk), static_cast<std::size_t>(nTaken));
        std::string strLine;
        bool bParsed = false;
        while (!bParsed && TakeLine(strPending, strLine))
            bParsed = ParseReply(strLine, byA, byB, byC); // a line without a comma is no reply
        if (bParsed)
            break;
        if (strPending.size() > REPLY_TEXT_MAX)
            strPending.erase(0, strPending.size() - REPLY_TEXT_MAX);
        const auto remaining =
            std::chrono::ceil<std::chrono::microseconds>(deadline - Clock::now());
        const auto wait =
            HasAllReplyFields(strPending) ? std::min(remaining, REPLY_QUIET) : remaining;
        if (remaining.count() <= 0 || !m_pSerial->WaitForInput(wait))
        {
            // Quiet after a whole reply, or the bound: what came is the reply, if it is one.
            if (!ParseReply(strPending, byA, byB, byC))
                return false;
            break;
        }
    }
    m_byPortA = byA;
    m_byPortB = byB;
    m_byPortC = byC;
    return true;
}

std::int32_t CBitIO::AskBit(char cPort, std::int32_t nBit, std::int32_t* pnValue)
{
    if (!m_pSerial || !m_pSerial->WriteString(FormatBitInputLine(cPort, nBit).c_str()))
        return 0;
    // The reply is taken here, up to its line end, a quiet gap or the bound: left waiting it
    // would reach the next reader as if it answered that one.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(BIT_REPLY_WAIT_MS);
    std::uint8_t byReply[BIT_REPLY_MAX] = {};
    std::int32_t nTaken = 0;
    while (nTaken < BIT_REPLY_MAX)
    {
        nTaken += m_pSerial->Read(byReply + nTaken, BIT_REPLY_MAX - nTaken);
        if (std::find_if(byReply, byReply + nTaken,
                         [](std::uint8_t by)
                         { return by == '\n' || by == '\r'; }) != byReply + nTaken)
            break;
        const auto remaining =
            std::chrono::ceil<std::chrono::microseconds>(deadline - Clock::now());
        const auto wait = nTaken > 0 ? std::min(remaining, REPLY_QUIET) : remaining;
        if (remaining.count() <= 0 || !m_pSerial->WaitForInput(wait))
            break;
    }
    if (nTaken == 0)
        return 0;
    // The reply is not parsed; any answer reads as the character '1'.
    if (pnValue)
        *pnValue = BIT_READ_VALUE;
    return 1;
}

std::int32_t CBitIO::ReadOnePort(const std::uint8_t& byPort, std::uint8_t* pbyValue)
{
    if (!ExchangeInputs())
        return 0;
    if (pbyValue)
        *pbyValue = byPort;
    return 1;
}
