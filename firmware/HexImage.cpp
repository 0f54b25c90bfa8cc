// Reading the firmware image from its Intel HEX file into the program, EEPROM and ID images.
#include "firmware/HexImage.h"

#include "firmware/ChipTable.h"
#include "firmware/HexFile.h"
#include "protocol/Status.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

namespace
{
constexpr int HEX_DATA = 0x00;
constexpr int HEX_END_OF_FILE = 0x01;
constexpr int HEX_EXTENDED_LINEAR = 0x04;

// Largest count a record can announce; the record buffer holds that many bytes.
constexpr int HEX_MAX_COUNT = 255;
// Where the ID locations sit in the linear address space.
constexpr unsigned ID_AREA_ADDRESS = 0x200000;
// The program extent before any program record: no program image can be sized from it.
constexpr std::int32_t PROGRAM_EXTENT_NONE = std::numeric_limits<std::int32_t>::min();

enum class EHexArea
{
    None,
    Program,
    Id,
    Config,
    Eeprom,
};

// Memory area by upper address word (the high 16 bits of the linear address).
struct SHexAreaRange
{
    int nFirstUpper;
    int nLastUpper;
    EHexArea eArea;
};

constexpr SHexAreaRange HEX_AREA_TABLE[] = {
    // The chips have at most 32 KB of flash: every program word shares one 64 KB image.
    {0x0000, 0x001F, EHexArea::Program},
    {0x0020, 0x0020, EHexArea::Id},     // 0x200000 on
    {0x0030, 0x0030, EHexArea::Config}, // 0x300000 on: an update never writes configuration
    {0x00F0, 0x00F0, EHexArea::Eeprom}, // 0xF00000 on
};

EHexArea AreaOf(int nUpper)
{
    for (const SHexAreaRange& range : HEX_AREA_TABLE)
    {
        if (nUpper >= range.nFirstUpper && nUpper <= range.nLastUpper)
        {
            return range.eArea;
        }
    }
    return EHexArea::None;
}

// Digit values; NOT_HEX marks every other character, which then counts as 0 in the value.
constexpr unsigned NOT_HEX = 0x10;
constexpr std::array<std::uint8_t, 256> HEX_DIGITS = []
{
    std::array<std::uint8_t, 256> byDigits{};
    byDigits.fill(NOT_HEX);
    for (int i = 0; i < 10; ++i)
    {
        byDigits['0' + i] = static_cast<std::uint8_t>(i);
    }
    for (int i = 0; i < 6; ++i)
    {
        byDigits['A' + i] = static_cast<std::uint8_t>(10 + i);
        byDigits['a' + i] = static_cast<std::uint8_t>(10 + i);
    }
    return byDigits;
}();

// One byte from two characters; a character that is no digit sets NOT_HEX in nFlags.
inline unsigned HexByte(const char* pChars, unsigned& nFlags)
{
    unsigned nHigh = HEX_DIGITS[static_cast<unsigned char>(pChars[0])];
    unsigned nLow = HEX_DIGITS[static_cast<unsigned char>(pChars[1])];
    nFlags |= nHigh | nLow;
    return ((nHigh & 0x0F) << 4) | (nLow & 0x0F);
}

// A type 04 record should carry two bytes; bytes it lacks count as 0, the same in both passes.
int UpperWord(int nCount, const std::uint8_t* pData)
{
    int nHigh = nCount > 0 ? pData[0] : 0;
    int nLow = nCount > 1 ? pData[1] : 0;
    return (nHigh << 8) | nLow;
}

// The record loop that both passes share: end of file ends the pass, type 04 selects the area,
// each data record goes to fnData (area, upper word, address, count, data) and every other type
// does nothing, so a type 02 record does not move later data.
template <class FData> EStatus ForEachDataRecord(CHexFile& file, FData fnData)
{
    std::uint8_t byData[HEX_MAX_COUNT + 1] = {};
    int nUpper = 0;
    EHexArea eArea = AreaOf(nUpper);
    for (;;)
    {
        int nCount = 0;
        int nAddress = 0;
        int nType = 0;
        int nChecksum = 0;
        EStatus eStatus =
            CHexImage::ReadHexRecord(file, nCount, nAddress, nType, byData, nChecksum);
        if (eStatus != EStatus::Ok)
        {
            return eStatus;
        }
        if (nType == HEX_END_OF_FILE)
        {
            // Nothing after the first end record is read, however malformed.
            return EStatus::Ok;
        }
        if (nType == HEX_EXTENDED_LINEAR)
        {
            nUpper = UpperWord(nCount, byData);
            eArea = AreaOf(nUpper);
        }
        else if (nType == HEX_DATA)
        {
            eStatus = fnData(eArea, nUpper, nAddress, nCount, byData);
            if (eStatus != EStatus::Ok)
            {
                return eStatus;
            }
        }
    }
}
} // namespace

EStatus CHexImage::ReadHexRecord(CHexFile& file, int& nCount, int& nAddress, int& nType,
                                 std::uint8_t* pData, int& nChecksum)
{
    if (!file.SkipToMark())
    {
        return EStatus::FileEnd;
    }
    const char* pHead = file.Read(8); // count 2, address 4, type 2
    if (pHead == nullptr)
    {
        return EStatus::FileEnd;
    }
    unsigned nFlags = 0;
    unsigned nAddressHigh = HexByte(pHead + 2, nFlags);
    unsigned nAddressLow = HexByte(pHead + 4, nFlags);
    nCount = static_cast<int>(HexByte(pHead, nFlags));
    nAddress = static_cast<int>((nAddressHigh << 8) | nAddressLow);
    nType = static_cast<int>(HexByte(pHead + 6, nFlags));

    const char* pTail = file.Read(2 * static_cast<std::size_t>(nCount) + 2); // data, checksum
    if (pTail == nullptr)
    {
        return EStatus::FileEnd;
    }
    unsigned nSum =
        static_cast<unsigned>(nCount) + nAddressHigh + nAddressLow + static_cast<unsigned>(nType);
    for (int i = 0; i < nCount; ++i)
    {
        unsigned nByte = HexByte(pTail + 2 * i, nFlags);
        pData[i] = static_cast<std::uint8_t>(nByte);
        nSum += nByte;
    }
    nChecksum = static_cast<int>(HexByte(pTail + 2 * nCount, nFlags));

    // A character that is no hex digit fails the record even where the sum happens to match.
    if ((nFlags & NOT_HEX) != 0 || ((0U - nSum) & 0xFF) != static_cast<unsigned>(nChecksum))
    {
        return EStatus::FileRecord;
    }
    return EStatus::Ok;
}

EStatus CHexImage::LoadFile(const std::string& strPath)
{
    return Load(&strPath, nullptr);
}

EStatus CHexImage::LoadText(std::string_view strText)
{
    return Load(nullptr, &strText);
}

EStatus CHexImage::ScanFile(const std::string& strPath)
{
    return Scan(&strPath, nullptr);
}

bool CHexImage::OpenPass(CHexFile& file, const std::string* pPath, const std::string_view* pText)
{
    if (pText != nullptr)
    {
        file.OpenText(*pText);
        return true;
    }
    return file.Open(*pPath);
}

EStatus CHexImage::Scan(const std::string* pPath, const std::string_view* pText)
{
    m_nProgramExtent = PROGRAM_EXTENT_NONE;
    m_nEepromExtent = 0;
    m_nIdExtent = 0;
    m_nProgramHighWord = 0;

    CHexFile file;
    if (!OpenPass(file, pPath, pText))
    {
        return EStatus::FileOpen;
    }
    return ForEachDataRecord(
        file,
        [this](EHexArea eArea, int nUpper, int nAddress, int nCount, const std::uint8_t*)
        {
            std::int32_t nEnd = nAddress + nCount;
            switch (eArea)
            {
            case EHexArea::Program:
                m_nProgramExtent = std::max(m_nProgramExtent, nEnd);
                if (nUpper != 0 && nCount > 0 && m_nProgramHighWord == 0)
                    m_nProgramHighWord = nUpper;
                break;
            case EHexArea::Id:
                // More than the 16 ID locations cannot be a valid image;
                // refuse it rather than write a cut-down one.
                if (nCount > static_cast<int>(m_idImage.size()))
                {
                    return EStatus::FileRecord;
                }
                m_nIdExtent = std::max(m_nIdExtent, nEnd);
                break;
            case EHexArea::Eeprom:
                m_nEepromExtent = std::max(m_nEepromExtent, nEnd);
                break;
            case EHexArea::Config:
            case EHexArea::None:
                break;
            }
            return EStatus::Ok;
        });
}

EStatus CHexImage::Load(const std::string* pPath, const std::string_view* pText)
{
    EStatus eStatus = Scan(pPath, pText);
    // Without a program-area byte there is no image to size, and erasing the application to
    // write nothing would leave the board without firmware.
    if (eStatus == EStatus::Ok && m_nProgramExtent <= 0)
    {
        eStatus = EStatus::FileEnd;
    }
    if (eStatus == EStatus::Ok)
    {
        Free();
        m_pProgramImage = std::make_unique_for_overwrite<std::uint8_t[]>(
            static_cast<std::size_t>(m_nProgramExtent));
        std::memset(m_pProgramImage.get(), 0xFF, static_cast<std::size_t>(m_nProgramExtent));
        if (m_nEepromExtent != 0)
        {
            m_pEepromImage = std::make_unique_for_overwrite<std::uint8_t[]>(
                static_cast<std::size_t>(m_nEepromExtent));
            std::memset(m_pEepromImage.get(), 0xFF, static_cast<std::size_t>(m_nEepromExtent));
        }
        m_idImage.fill(0xFF);

        CHexFile file;
        eStatus = OpenPass(file, pPath, pText) ? LoadPass(file) : EStatus::FileOpen;
    }
    if (eStatus != EStatus::Ok)
    {
        Free();
    }
    return eStatus;
}

EStatus CHexImage::LoadPass(CHexFile& file)
{
    // The file is read anew for this pass; should it have changed since the first, a record may
    // no longer fit the sizes computed then, and it fails like a bad record.
    bool bProgramData = false;
    EStatus eStatus = ForEachDataRecord(
        file,
        [&](EHexArea eArea, int, int nAddress, int nCount, const std::uint8_t* pData)
        {
            std::int32_t nEnd = nAddress + nCount;
            switch (eArea)
            {
            case EHexArea::Program:
                if (nEnd > m_nProgramExtent)
                {
                    return EStatus::FileRecord;
                }
                std::memcpy(m_pProgramImage.get() + nAddress, pData,
                            static_cast<std::size_t>(nCount));
                bProgramData = bProgramData || nCount > 0;
                break;
            case EHexArea::Id:
            {
                // At its address, like program and EEPROM data; what lies beyond the 16
                // locations is not kept (FitProblem refuses such an image).
                const int nSize = static_cast<int>(m_idImage.size());
                if (nCount > nSize)
                {
                    return EStatus::FileRecord;
                }
                if (nAddress < nSize)
                {
                    std::memcpy(m_idImage.data() + nAddress, pData,
                                static_cast<std::size_t>(std::min(nCount, nSize - nAddress)));
                }
                break;
            }
            case EHexArea::Eeprom:
                if (nEnd > m_nEepromExtent)
                {
                    return EStatus::FileRecord;
                }
                if (nCount > 0)
                {
                    std::memcpy(m_pEepromImage.get() + nAddress, pData,
                                static_cast<std::size_t>(nCount));
                }
                break;
            case EHexArea::Config:
            case EHexArea::None:
                break;
            }
            return EStatus::Ok;
        });
    if (eStatus == EStatus::Ok && !bProgramData)
    {
        eStatus = EStatus::FileEnd; // program records of no bytes only: no program data either
    }
    return eStatus;
}

std::string CHexImage::FitProblem(const SChipMap& chip) const
{
    char szProblem[160];
    if (m_nProgramHighWord != 0)
    {
        std::snprintf(szProblem, sizeof szProblem,
                      "it has program data at 0x%04x0000 and above, beyond the chips' 64 KB",
                      static_cast<unsigned>(m_nProgramHighWord));
    }
    else if (m_nProgramExtent <= chip.nAppStart)
    {
        std::snprintf(szProblem, sizeof szProblem,
                      "it has no program data from the application start 0x%04x on",
                      static_cast<unsigned>(chip.nAppStart));
    }
    else if (m_nProgramExtent > chip.nProgramEnd + 1)
    {
        std::snprintf(szProblem, sizeof szProblem,
                      "its program data reach 0x%04x, beyond the last program address 0x%04x",
                      static_cast<unsigned>(m_nProgramExtent - 1),
                      static_cast<unsigned>(chip.nProgramEnd));
    }
    else if (m_nEepromExtent > chip.nEepromSize)
    {
        std::snprintf(szProblem, sizeof szProblem,
                      "its EEPROM data reach 0x%04x, beyond the %d bytes of data EEPROM",
                      static_cast<unsigned>(m_nEepromExtent - 1),
                      static_cast<int>(chip.nEepromSize));
    }
    else if (m_nIdExtent > static_cast<int>(m_idImage.size()))
    {
        std::snprintf(szProblem, sizeof szProblem,
                      "its ID data reach 0x%06x, beyond the %zu ID locations",
                      ID_AREA_ADDRESS + static_cast<unsigned>(m_nIdExtent - 1), m_idImage.size());
    }
    else
    {
        return {};
    }
    return szProblem;
}

void CHexImage::Free()
{
    m_pProgramImage.reset();
    m_pEepromImage.reset();
}
