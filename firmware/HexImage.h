#pragma once
// The firmware image of one Intel HEX file: program memory, data EEPROM and ID locations, each
// from address 0, read in two passes (sizes, then bytes) as the update needs them. Reads text
// only; talks to no board.
#include "protocol/Status.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class CHexFile;
struct SChipMap;

class CHexImage
{
public:
    CHexImage() { m_idImage.fill(0xFF); }
    CHexImage(const CHexImage&) = delete;
    CHexImage& operator=(const CHexImage&) = delete;

    // Both passes over the file: sizes, then images. EStatus::Ok leaves the program image
    // (m_nProgramExtent bytes), the EEPROM image (m_nEepromExtent bytes, none when 0) and
    // m_idImage ready; any failure is negative and leaves no program or EEPROM image. Besides
    // the statuses of the passes, a file without program data fails with EStatus::FileEnd and an
    // ID-area record of more than 16 bytes with EStatus::FileRecord.
    EStatus LoadFile(const std::string& strPath);
    // The same load over HEX text already in memory.
    EStatus LoadText(std::string_view strText);
    // The first pass alone: sets the three extents (program from INT32_MIN, the others from 0).
    // EStatus::Ok, EStatus::FileOpen, EStatus::FileEnd or EStatus::FileRecord.
    EStatus ScanFile(const std::string& strPath);

    // Reads the next record: skips to ':', then count, address, type, nCount data bytes into
    // pData (room for 256) and checksum. Ok for a good record, FileEnd when the text ends
    // before the record does, EStatus::FileRecord when the checksum does not match or a field holds
    // a character that is not a hexadecimal digit.
    static EStatus ReadHexRecord(CHexFile& file, int& nCount, int& nAddress, int& nType,
                                 std::uint8_t* pData, int& nChecksum);

    // Why the loaded image cannot be written to a chip of this map, or "" when it can: no
    // program byte at or above the application start, program data beyond the chip's end or
    // above 64 KB (an upper address word other than 0 would land on the same positions), EEPROM
    // data beyond the chip's EEPROM, ID data beyond the 16 ID locations. Program data below the
    // application start is no problem: an update never writes there.
    std::string FitProblem(const SChipMap& chip) const;

    // Program memory from address 0, m_nProgramExtent bytes, 0xFF where the file gives nothing.
    std::unique_ptr<std::uint8_t[]> m_pProgramImage;
    std::int32_t m_nProgramExtent = 0;
    // Data EEPROM from address 0, m_nEepromExtent bytes; none while the extent is 0.
    std::unique_ptr<std::uint8_t[]> m_pEepromImage;
    std::int32_t m_nEepromExtent = 0;
    // The ID locations, each record at its address (0x200000 + offset); 0xFF where the file
    // gives nothing. m_nIdExtent may exceed the 16 locations: bytes beyond them are not kept.
    std::array<std::uint8_t, 16> m_idImage;
    std::int32_t m_nIdExtent = 0;
    // The first upper address word other than 0 that carries program data; 0 when none does.
    int m_nProgramHighWord = 0;

private:
    // A pass reads the file at pPath, or pText when it is set.
    static bool OpenPass(CHexFile& file, const std::string* pPath, const std::string_view* pText);
    EStatus Scan(const std::string* pPath, const std::string_view* pText);
    EStatus Load(const std::string* pPath, const std::string_view* pText);
    EStatus LoadPass(CHexFile& file);
    void Free();
};
