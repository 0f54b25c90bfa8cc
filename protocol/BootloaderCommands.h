#pragma once
// The bootloader's own requests. Each but restart starts with a 5-byte header: code, byte
// count, address bits 0-7, 8-15, 16-23; write requests carry their data after it. Query-mode
// (CommandSet.h) is the one request both the bootloader and the application firmware answer.
#include <cstdint>

enum : std::uint8_t
{
    BL_READ_MEMORY = 0x01,
    BL_WRITE_MEMORY = 0x02,
    BL_ERASE_MEMORY = 0x03,
    BL_READ_EEPROM = 0x04,
    BL_WRITE_EEPROM = 0x05,
    BL_RESTART = 0xFF,
};

inline constexpr int BL_REQUEST_HEADER = 5;
