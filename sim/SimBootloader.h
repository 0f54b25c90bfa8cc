#pragma once
// The bootloader: query-mode, memory reads and writes, erase, EEPROM and restart.
#include "sim/SimFirmware.h"

#include "protocol/BootloaderCommands.h"

class CSimBootloader
{
public:
    // Handles one request of nLength bytes (zero-extended in request). Reads answer the 5-byte
    // header followed by the bytes asked for; writes and erases answer the header alone.
    static std::optional<std::vector<std::uint8_t>>
    Handle(CSimMemory& memory, const Packet& request, std::size_t nLength, ESimAction& action);
};
