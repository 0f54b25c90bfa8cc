// The bootloader client: the request layouts, the chip table and the update sequence.
#include "firmware/BootLoader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "firmware/ChipTable.h"
#include "protocol/BootloaderCommands.h"
#include "protocol/CommandSet.h"
#include "protocol/DebugOutput.h"
#include "protocol/Status.h"

namespace
{
constexpr int REPLY_LENGTH = 64;
constexpr int ID_REPLY_LENGTH = 9;
constexpr int CHIP_ID_ADDRESS = 0x3FFFFE;

// Serial number: character i at SERIAL_ADDRESS + 2i, inside the erase block SERIAL_BLOCK.
constexpr int SERIAL_ADDRESS = 0x7F0;
constexpr int SERIAL_LENGTH = 8;
constexpr int SERIAL_BLOCK = 0x7C0;
constexpr int SERIAL_BLOCK_END = 0x800;
constexpr int SERIAL_READ_COUNT = 16;

constexpr std::int32_t DEFAULT_WRITE_BLOCK = 16;
constexpr std::int32_t DEFAULT_ERASE_BLOCK = 64;
constexpr std::int32_t DEFAULT_EEPROM_START = 0;
constexpr std::int32_t DEFAULT_ID_START = 0x200000;
constexpr std::int32_t DEFAULT_ID_END = 0x20000F;
// Reply bytes an identification must bring: the 5-byte header and the two ID bytes.
constexpr int ID_REPLY_MIN = 7;
// Tries of the serial number's block rewrite: the first and up to three more.
constexpr int SERIAL_WRITE_TRIES = 4;

// Requests of nBlock bytes that cover [nFirst, nEnd).
std::int64_t Blocks(std::int64_t nFirst, std::int64_t nEnd, std::int64_t nBlock)
{
    return nFirst < nEnd && nBlock > 0 ? (nEnd - nFirst + nBlock - 1) / nBlock : 0;
}

// Header of every request but restart: code, count byte, 24-bit address low byte first.
void PutHeader(Packet& buffer, std::uint8_t byCommand, int nCount, int nAddress)
{
    buffer[0] = byCommand;
    buffer[1] = static_cast<std::uint8_t>(nCount);
    buffer[2] = static_cast<std::uint8_t>(nAddress);
    buffer[3] = static_cast<std::uint8_t>(nAddress >> 8);
    buffer[4] = static_cast<std::uint8_t>(nAddress >> 16);
}
} // namespace

CBootLoader::CBootLoader(CBoardLink link, const std::string& strHexPath)
    : m_lnkBoard(std::move(link)), m_strHexPath(strHexPath)
{
}

CBootLoader::~CBootLoader() = default;

int CBootLoader::SendPacket(std::uint8_t* pBuffer, int nLength)
{
    if (nLength < 0 || m_lnkBoard.Write(pBuffer, static_cast<std::size_t>(nLength)) != EStatus::Ok)
    {
        DebugOutput("Failed write\n");
        return -1;
    }
    return nLength;
}

int CBootLoader::GetPacket(std::uint8_t* pBuffer, int nLength)
{
    std::size_t nMoved = 0;
    if (nLength < 0 ||
        m_lnkBoard.Read(pBuffer, static_cast<std::size_t>(nLength), nMoved) != EStatus::Ok)
    {
        DebugOutput("Failed read\n");
        return -1;
    }
    return static_cast<int>(nMoved);
}

int CBootLoader::SendGetPacket(std::uint8_t* pBuffer, int nSendLength, int nReplyLength)
{
    const int nSent = SendPacket(pBuffer, nSendLength);
    if (nSent < 0)
    {
        return nSent;
    }
    return GetPacket(pBuffer, nReplyLength);
}

int CBootLoader::ReadDeviceId()
{
    Packet buffer{};
    PutHeader(buffer, BL_READ_MEMORY, 2, CHIP_ID_ADDRESS);
    // A reply too short to hold the ID word carries no chip: its bytes are the request's.
    if (SendGetPacket(buffer.data(), BL_REQUEST_HEADER, ID_REPLY_LENGTH) < ID_REPLY_MIN)
    {
        return -1;
    }
    const int nLow = buffer[5];
    const int nHigh = buffer[6];
    m_nRevision = nLow & 0x1F;
    return ((nHigh << 8) | nLow) >> 5;
}

void CBootLoader::SetDeviceType(int nDeviceCode)
{
    m_nWriteBlock = DEFAULT_WRITE_BLOCK;
    m_nEraseBlock = DEFAULT_ERASE_BLOCK;
    m_nEepromStart = DEFAULT_EEPROM_START;
    m_nIdStart = DEFAULT_ID_START;
    m_nIdEnd = DEFAULT_ID_END;
    const SChipMap* pChip = FindChip(nDeviceCode);
    const SChipMap& chip = pChip != nullptr ? *pChip : UnknownChip();
    m_nDeviceCode = nDeviceCode;
    m_bKnownChip = pChip != nullptr;
    m_strChipName = chip.pszName;
    m_nAppStart = chip.nAppStart;
    m_nProgramEnd = chip.nProgramEnd;
    m_nEepromSize = chip.nEepromSize;
}

EStatus CBootLoader::IdentifyChip()
{
    // Without a chip ID the board's memory map is unknown; the unknown-chip row would erase and
    // write from 0x200, inside a known chip's boot block, so nothing more is sent.
    const int nDeviceCode = ReadDeviceId();
    if (nDeviceCode < 0)
    {
        return EStatus::Usb;
    }
    SetDeviceType(nDeviceCode);
    DebugOutputFormat("Device type is %s revision %d\n", m_strChipName.c_str(), m_nRevision);
    if (m_bKnownChipsOnly && !m_bKnownChip)
    {
        char szRefusal[64];
        std::snprintf(szRefusal, sizeof szRefusal, "unknown chip (device code 0x%03x)",
                      static_cast<unsigned>(nDeviceCode));
        m_strRefusal = szRefusal;
        return EStatus::UnknownChip;
    }
    return EStatus::Ok;
}

EStatus CBootLoader::LoadAndFit(const std::string_view* pText)
{
    EStatus eStatus = pText != nullptr ? LoadHexText(*pText) : LoadHexFile();
    if (eStatus != EStatus::Ok)
    {
        return eStatus;
    }
    // Found out now, not at the read-back: nothing has been erased yet.
    const SChipMap chip{m_nDeviceCode, m_strChipName.c_str(), m_nAppStart, m_nProgramEnd,
                        m_nEepromSize};
    m_strRefusal = m_hexImage.FitProblem(chip);
    if (!m_strRefusal.empty())
    {
        DebugOutputFormat("Image does not fit %s: %s\n", m_strChipName.c_str(),
                          m_strRefusal.c_str());
        return EStatus::NoFit;
    }
    return EStatus::Ok;
}

EStatus CBootLoader::EraseRange(int nFirst, int nLast)
{
    Packet buffer{};
    for (std::int64_t nAddress = nFirst; nAddress <= nLast; nAddress += m_nEraseBlock)
    {
        if (m_bStop)
        {
            return Failed(EStatus::Stopped, nAddress);
        }
        PutHeader(buffer, BL_ERASE_MEMORY, 1, static_cast<int>(nAddress));
        if (SendGetPacket(buffer.data(), BL_REQUEST_HEADER, REPLY_LENGTH) < 0)
        {
            return Failed(EStatus::Usb, nAddress);
        }
        Advance(std::min<std::int64_t>(m_nEraseBlock, nLast + 1 - nAddress), 1);
        if (m_nEraseBlock <= 0)
        {
            break; // a step that cannot advance erases its first block only
        }
    }
    return EStatus::Ok;
}

EStatus CBootLoader::WriteRangeMem(int nCommand, int nBlock, int nFirst, int nEnd,
                                   const std::uint8_t* pSource)
{
    if (nFirst >= nEnd)
    {
        return EStatus::Ok;
    }
    if (nBlock < 1 || nBlock > static_cast<int>(PACKET_SIZE) - BL_REQUEST_HEADER)
    {
        return EStatus::Usb; // no such request fits a packet; nothing is sent
    }
    Packet buffer{};
    for (std::int64_t nAddress = nFirst; nAddress < nEnd; nAddress += nBlock)
    {
        const int nAt = static_cast<int>(nAddress);
        const int nCount = static_cast<int>(std::min<std::int64_t>(nBlock, nEnd - nAddress));
        const std::uint8_t* pBlock = pSource + (nAt & 0xFFFF);
        if (m_bStop)
        {
            return Failed(EStatus::Stopped, nAt);
        }

        // The count byte always names the full block; the bytes sent say how many are written.
        PutHeader(buffer, static_cast<std::uint8_t>(nCommand), nBlock, nAt);
        std::memcpy(buffer.data() + BL_REQUEST_HEADER, pBlock, static_cast<std::size_t>(nCount));
        if (SendGetPacket(buffer.data(), BL_REQUEST_HEADER + nCount, REPLY_LENGTH) < 0)
        {
            DebugOutput("Failed SendGetPacket while writing data in WriteRangeMem\n");
            return Failed(EStatus::Usb, nAt);
        }

        // Zeroed data positions: a short or missing reply cannot pass for the data written.
        PutHeader(buffer, static_cast<std::uint8_t>(nCommand - 1), nBlock, nAt);
        std::memset(buffer.data() + BL_REQUEST_HEADER, 0, static_cast<std::size_t>(nCount));
        if (SendGetPacket(buffer.data(), BL_REQUEST_HEADER, REPLY_LENGTH) < 0)
        {
            DebugOutput("Failed SendGetPacket while verifying data in WriteRangeMem\n");
            return Failed(EStatus::Usb, nAt);
        }
        if (std::memcmp(buffer.data() + BL_REQUEST_HEADER, pBlock,
                        static_cast<std::size_t>(nCount)) != 0)
        {
            DebugOutput("Verify failed\n");
            return Failed(EStatus::Verify, nAt);
        }
        Advance(nCount, 2);
    }
    return EStatus::Ok;
}

EStatus CBootLoader::ReadRangeMem(int nCommand, int nFirst, int nEnd, std::uint8_t* pDest)
{
    const int nBlock = m_nWriteBlock;
    if (nBlock < 1 || nBlock > static_cast<int>(PACKET_SIZE) - BL_REQUEST_HEADER)
    {
        return EStatus::Usb; // no such reply fits a packet; nothing is sent
    }
    Packet buffer{};
    for (std::int64_t nAddress = nFirst; nAddress < nEnd; nAddress += nBlock)
    {
        const int nAt = static_cast<int>(nAddress);
        const int nCount = static_cast<int>(std::min<std::int64_t>(nBlock, nEnd - nAddress));
        if (m_bStop)
        {
            return Failed(EStatus::Stopped, nAt);
        }
        PutHeader(buffer, static_cast<std::uint8_t>(nCommand), nBlock, nAt);
        // Zeroed data positions: a short reply cannot pass for the memory read.
        std::memset(buffer.data() + BL_REQUEST_HEADER, 0, static_cast<std::size_t>(nCount));
        if (SendGetPacket(buffer.data(), BL_REQUEST_HEADER, REPLY_LENGTH) < 0)
        {
            return Failed(EStatus::Usb, nAt);
        }
        std::memcpy(pDest + (nAt - nFirst), buffer.data() + BL_REQUEST_HEADER,
                    static_cast<std::size_t>(nCount));
        Advance(nCount, 1);
    }
    return EStatus::Ok;
}

EStatus CBootLoader::ReadFirmware(SFirmwareMemory& memory)
{
    m_prgCurrent = {};
    BeginPhase(EBootPhase::Identify, 0);
    EStatus eStatus = IdentifyChip();
    if (eStatus != EStatus::Ok)
    {
        return eStatus;
    }
    memory.nProgramStart = m_nAppStart;
    memory.vecProgram.assign(static_cast<std::size_t>(std::max(m_nProgramEnd + 1 - m_nAppStart, 0)),
                             0xFF);
    memory.vecEeprom.assign(static_cast<std::size_t>(m_nEepromSize), 0xFF);
    memory.arrId.fill(0xFF);
    const int nIdSize = static_cast<int>(memory.arrId.size());
    const std::int64_t nBytes =
        static_cast<std::int64_t>(memory.vecProgram.size() + memory.vecEeprom.size()) + nIdSize;
    m_prgCurrent.nStepsDone = 1;
    m_prgCurrent.nStepsTotal =
        1 + Blocks(0, static_cast<std::int64_t>(memory.vecProgram.size()), m_nWriteBlock) +
        Blocks(0, m_nEepromSize, m_nWriteBlock) + Blocks(0, nIdSize, m_nWriteBlock);
    BeginPhase(EBootPhase::Read, nBytes);

    eStatus =
        ReadRangeMem(BL_READ_MEMORY, m_nAppStart, m_nProgramEnd + 1, memory.vecProgram.data());
    if (eStatus == EStatus::Ok)
    {
        eStatus = ReadRangeMem(BL_READ_EEPROM, 0, m_nEepromSize, memory.vecEeprom.data());
    }
    if (eStatus == EStatus::Ok)
    {
        eStatus =
            ReadRangeMem(BL_READ_MEMORY, m_nIdStart, m_nIdStart + nIdSize, memory.arrId.data());
    }
    return eStatus;
}

EStatus CBootLoader::VerifyFirmware(std::string_view strHexText)
{
    m_prgCurrent = {};
    BeginPhase(EBootPhase::Identify, 0);
    EStatus eStatus = IdentifyChip();
    if (eStatus == EStatus::Ok)
    {
        eStatus = LoadAndFit(&strHexText);
    }
    if (eStatus != EStatus::Ok)
    {
        return eStatus;
    }
    // What an update writes, and nothing else: the program from the application start to the
    // image's end, the EEPROM from 0, the 15 ID locations an update writes when it has ID data.
    struct SArea
    {
        int nCommand;
        std::int32_t nFirst;
        std::int32_t nEnd;
        const std::uint8_t* pImage; // indexed by address & 0xFFFF
    };
    const SArea areas[] = {
        {BL_READ_MEMORY, m_nAppStart, m_nProgramExtent, m_pProgramImage.get()},
        {BL_READ_EEPROM, m_nEepromStart, m_nEepromExtent, m_pEepromImage.get()},
        {BL_READ_MEMORY, m_nIdStart, m_nIdExtent != 0 ? m_nIdEnd : m_nIdStart, m_idImage.data()},
    };
    std::int64_t nBytes = 0;
    m_prgCurrent.nStepsDone = 1;
    m_prgCurrent.nStepsTotal = 1;
    for (const SArea& area : areas)
    {
        nBytes += std::max(area.nEnd - area.nFirst, 0);
        m_prgCurrent.nStepsTotal += Blocks(area.nFirst, area.nEnd, m_nWriteBlock);
    }
    BeginPhase(EBootPhase::Verify, nBytes);
    std::vector<std::uint8_t> byBoard;
    for (const SArea& area : areas)
    {
        if (area.nFirst >= area.nEnd)
        {
            continue;
        }
        byBoard.assign(static_cast<std::size_t>(area.nEnd - area.nFirst), 0);
        eStatus = ReadRangeMem(area.nCommand, area.nFirst, area.nEnd, byBoard.data());
        if (eStatus != EStatus::Ok)
        {
            return eStatus;
        }
        for (std::int32_t nAt = area.nFirst; nAt < area.nEnd; ++nAt)
        {
            if (byBoard[static_cast<std::size_t>(nAt - area.nFirst)] != area.pImage[nAt & 0xFFFF])
            {
                return Failed(EStatus::Verify, nAt);
            }
        }
    }
    return EStatus::Ok;
}

EStatus CBootLoader::UpdateFirmware()
{
    return Update(nullptr);
}

EStatus CBootLoader::UpdateFirmware(std::string_view strHexText)
{
    return Update(&strHexText);
}

std::int64_t CBootLoader::PlannedSteps() const
{
    const bool bId = m_nIdExtent != 0;
    return 1 /* identify */ + Blocks(m_nAppStart, std::int64_t(m_nProgramEnd) + 1, m_nEraseBlock) +
           (bId ? Blocks(m_nIdStart, std::int64_t(m_nIdEnd) + 1, m_nEraseBlock) : 0) +
           2 * Blocks(m_nAppStart, m_nProgramExtent, m_nWriteBlock) +
           2 * Blocks(m_nEepromStart, m_nEepromExtent, m_nWriteBlock) +
           (bId ? 2 * Blocks(m_nIdStart, m_nIdEnd, m_nWriteBlock) : 0) + 1 /* restart */;
}

void CBootLoader::BeginPhase(EBootPhase ePhase, std::int64_t nTotal)
{
    m_prgCurrent.ePhase = ePhase;
    m_prgCurrent.nDone = 0;
    m_prgCurrent.nTotal = nTotal;
    if (m_fnProgress)
    {
        m_fnProgress(m_prgCurrent);
    }
}

void CBootLoader::Advance(std::int64_t nBytes, std::int64_t nSteps)
{
    m_prgCurrent.nDone += nBytes;
    m_prgCurrent.nStepsDone += nSteps;
    if (m_fnProgress)
    {
        m_fnProgress(m_prgCurrent);
    }
}

EStatus CBootLoader::Failed(EStatus eStatus, std::int64_t nAddress)
{
    m_nFailedAddress = static_cast<std::int32_t>(nAddress);
    return eStatus;
}

EStatus CBootLoader::Update(const std::string_view* pText)
{
    m_prgCurrent = {};
    BeginPhase(EBootPhase::Identify, 0);
    EStatus eStatus = IdentifyChip();
    if (eStatus != EStatus::Ok)
    {
        return eStatus;
    }
    eStatus = LoadAndFit(pText);
    if (eStatus != EStatus::Ok)
    {
        return eStatus;
    }
    m_prgCurrent.nStepsDone = 1;
    m_prgCurrent.nStepsTotal = PlannedSteps();

    BeginPhase(EBootPhase::Erase,
               std::int64_t(m_nProgramEnd) + 1 - m_nAppStart +
                   (m_nIdExtent != 0 ? std::int64_t(m_nIdEnd) + 1 - m_nIdStart : 0));
    eStatus = EraseRange(m_nAppStart, m_nProgramEnd);
    if (eStatus != EStatus::Ok)
    {
        return eStatus;
    }
    if (m_nIdExtent != 0)
    {
        eStatus = EraseRange(m_nIdStart, m_nIdEnd);
        if (eStatus != EStatus::Ok)
        {
            return eStatus;
        }
    }
    DebugOutput("Device erased\n");

    // From the application start only: the boot block keeps whatever the image holds there.
    BeginPhase(EBootPhase::Program, std::max<std::int64_t>(m_nProgramExtent - m_nAppStart, 0));
    eStatus = WriteRangeMem(BL_WRITE_MEMORY, m_nWriteBlock, m_nAppStart, m_nProgramExtent,
                            m_pProgramImage.get());
    if (eStatus != EStatus::Ok)
    {
        return eStatus;
    }
    if (m_nEepromExtent != 0)
    {
        BeginPhase(EBootPhase::Eeprom, m_nEepromExtent - m_nEepromStart);
        eStatus = WriteRangeMem(BL_WRITE_EEPROM, m_nWriteBlock, m_nEepromStart, m_nEepromExtent,
                                m_pEepromImage.get());
        if (eStatus != EStatus::Ok)
        {
            return eStatus;
        }
    }
    if (m_nIdExtent != 0)
    {
        // The end is exclusive here: 15 of the 16 ID bytes go out (to 0x20000E), the layout
        // the bootloader has always received.
        BeginPhase(EBootPhase::Id, m_nIdEnd - m_nIdStart);
        eStatus =
            WriteRangeMem(BL_WRITE_MEMORY, m_nWriteBlock, m_nIdStart, m_nIdEnd, m_idImage.data());
        if (eStatus != EStatus::Ok)
        {
            return eStatus;
        }
    }

    // The board resets at once and sends no reply; whether the write completed changes nothing.
    BeginPhase(EBootPhase::Restart, 0);
    Restart();
    Advance(0, 1);
    return EStatus::Ok;
}

EStatus CBootLoader::Restart()
{
    std::uint8_t byRestart = BL_RESTART;
    return SendPacket(&byRestart, 1) < 0 ? EStatus::Usb : EStatus::Ok;
}

std::string CBootLoader::ReadSerNo()
{
    Packet buffer{};
    PutHeader(buffer, BL_READ_MEMORY, SERIAL_READ_COUNT, SERIAL_ADDRESS);
    if (SendGetPacket(buffer.data(), BL_REQUEST_HEADER, REPLY_LENGTH) < 0)
    {
        DebugOutput("Failed SendGetPacket while in ReadSerNo\n");
        return "";
    }
    std::string strSerial;
    for (int i = 0; i < SERIAL_LENGTH; ++i)
    {
        const std::uint8_t byChar = buffer[BL_REQUEST_HEADER + 2 * i];
        if (byChar < SERIAL_CHAR_MIN || byChar > SERIAL_CHAR_MAX)
        {
            return "";
        }
        strSerial += static_cast<char>(byChar);
    }
    return strSerial;
}

bool CBootLoader::WriteSerNo(const std::string& strSerial)
{
    const EStatus eStatus = WriteSerialNumber(strSerial);
    return eStatus == EStatus::Ok || eStatus == EStatus::BootBlock;
}

EStatus CBootLoader::WriteSerialNumber(const std::string& strSerial)
{
    EStatus eStatus = IdentifyChip();
    if (eStatus != EStatus::Ok)
    {
        return eStatus;
    }
    if (strSerial.empty() || strSerial.size() > SERIAL_LENGTH)
    {
        return EStatus::Argument;
    }

    // The whole erase block is read first, so the erase loses nothing but what is rewritten.
    std::vector<std::uint8_t> byBootBlock(SERIAL_BLOCK_END, 0xFF);
    BeginPhase(EBootPhase::Serial, 2 * (SERIAL_BLOCK_END - SERIAL_BLOCK));
    if (ReadRangeMem(BL_READ_MEMORY, SERIAL_BLOCK, SERIAL_BLOCK_END,
                     byBootBlock.data() + SERIAL_BLOCK) != EStatus::Ok)
    {
        DebugOutput("Failed SendGetPacket while verifying data in WriteRangeMem\n");
        return EStatus::Usb;
    }
    for (std::size_t i = 0; i < strSerial.size(); ++i)
    {
        byBootBlock[SERIAL_ADDRESS + 2 * i] = static_cast<std::uint8_t>(strSerial[i]);
    }

    // One erase request at 0x7F0 clears the whole block 0x7C0-0x7FF (the range EraseRange
    // (0x7F0, 0x800) covers). A board that took the request has erased the block whether or
    // not its reply arrives, and the block holds bootloader code: so it is written back unless
    // the request itself failed, and erased and written again while its read-back differs.
    for (int nTry = 0; nTry < SERIAL_WRITE_TRIES; ++nTry)
    {
        Packet buffer{};
        PutHeader(buffer, BL_ERASE_MEMORY, 1, SERIAL_ADDRESS);
        if (SendPacket(buffer.data(), BL_REQUEST_HEADER) < 0)
        {
            if (nTry == 0)
            {
                return EStatus::Usb; // nothing reached the board
            }
            continue;
        }
        GetPacket(buffer.data(), REPLY_LENGTH);
        if (WriteRangeMem(BL_WRITE_MEMORY, m_nWriteBlock, SERIAL_BLOCK, SERIAL_BLOCK_END,
                          byBootBlock.data()) == EStatus::Ok)
        {
            return EStatus::Ok;
        }
        if (m_bStop)
        {
            break;
        }
    }
    DebugOutput("Boot block rewrite failed\n");
    m_nFailedAddress = SERIAL_BLOCK;
    return EStatus::BootBlock;
}
