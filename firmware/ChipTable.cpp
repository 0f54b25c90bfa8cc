#include "firmware/ChipTable.h"

#include <algorithm>
#include <iterator>

namespace
{
constexpr SChipMap CHIP_TABLE[] = {
    {0x90, "Pic18F4550", 0x800, 0x7FFF, 256},
    {0x91, "Pic18F4455", 0x800, 0x5FFF, 256},
    {0x92, "Pic18F2550", 0x800, 0x7FFF, 256},
    {0x93, "Pic18F2455", 0x800, 0x5FFF, 256},
};
constexpr SChipMap CHIP_UNKNOWN = {-1, "PICUNKNOWN", 0x200, 0xFFF, 256};
} // namespace

const SChipMap* FindChip(int nDeviceCode)
{
    const auto it =
        std::find_if(std::begin(CHIP_TABLE), std::end(CHIP_TABLE),
                     [&](const SChipMap& row) { return row.nDeviceCode == nDeviceCode; });
    return it != std::end(CHIP_TABLE) ? &*it : nullptr;
}

const SChipMap& UnknownChip()
{
    return CHIP_UNKNOWN;
}

SChipMap LargestChip()
{
    SChipMap chip = CHIP_TABLE[0];
    chip.nDeviceCode = -1;
    chip.pszName = "any known chip";
    for (const SChipMap& row : CHIP_TABLE)
    {
        chip.nAppStart = std::min(chip.nAppStart, row.nAppStart);
        chip.nProgramEnd = std::max(chip.nProgramEnd, row.nProgramEnd);
        chip.nEepromSize = std::max(chip.nEepromSize, row.nEepromSize);
    }
    return chip;
}
