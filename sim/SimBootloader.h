#pragma once
// The bootloader: query-mode, memory reads and writes, erase, EEPROM and restart.
#include "SimFirmware.h"

enum : std::uint8_t
{
    SIM_BL_READ_MEMORY = 0x01,
    SIM_BL_WRITE_MEMORY = 0x02,
    SIM_BL_ERASE_MEMORY = 0x03,
    SIM_BL_READ_EEPROM = 0x04,
    SIM_BL_WRITE_EEPROM = 0x05,
    SIM_BL_RESTART = 0xFF,
};

class CSimBootloader
{
public:
    // Handles one request of nLength bytes (zero-extended in request). Reads answer the 5-byte
    // header followed by the bytes asked for; writes and erases answer the header alone.
    static std::optional<std::vector<std::uint8_t>> Handle(CSimMemory& memory, const Packet& request,
                                                           std::size_t nLength, ESimAction& action);
};
