#pragma once
// The chips the bootloader client knows: where each one's application starts and ends and how
// much data EEPROM it has. Every other device code gets the unknown-chip row.
#include <cstdint>

struct SChipMap
{
    int nDeviceCode; // -1 for the unknown-chip row and for LargestChip
    const char* pszName;
    std::int32_t nAppStart;   // first program address an update erases and writes
    std::int32_t nProgramEnd; // last program address an update erases (inclusive)
    std::int32_t nEepromSize; // bytes of data EEPROM, from address 0
};

// The row of a device code, or null for a code outside the table.
const SChipMap* FindChip(int nDeviceCode);
// What a chip outside the table is taken for: "PICUNKNOWN", 0x200 to 0xFFF.
const SChipMap& UnknownChip();
// The widest map any chip of the table has: the lowest application start, the highest program
// end and the largest EEPROM. An image that does not fit it fits no chip of the table.
SChipMap LargestChip();
