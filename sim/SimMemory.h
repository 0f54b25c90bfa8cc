#pragma once
// The memories a board's bootloader reaches: program flash with 64-byte erase blocks, the ID
// locations, data EEPROM, configuration bytes and the chip ID word.
//
// Where things live in the simulated image:
//   0x000000-0x0007FF  the bootloader's own block; its last 16 bytes (0x7F0-0x7FF) hold the
//                      serial number, character i at 0x7F0 + 2i
//   0x000800-          the application; the simulated firmware keeps its version word,
//                      little-endian, at 0x000820 (SIM_VERSION_ADDRESS)
//   0x200000-0x20000F  ID locations
//   0x300000-0x30000D  configuration bytes (read only here)
//   0x3FFFFE-0x3FFFFF  chip ID: low byte = code bits 0-2 << 5 | revision, high byte = code >> 3
#include "sim/SimBoardConfig.h"

#include <array>
#include <cstdint>
#include <vector>

inline constexpr std::uint32_t SIM_FLASH_SIZE = 0x8000;
inline constexpr std::uint32_t SIM_ERASE_BLOCK = 64;
inline constexpr std::uint32_t SIM_APP_START = 0x800;
inline constexpr std::uint32_t SIM_SERIAL_ADDRESS = 0x7F0;
inline constexpr std::uint32_t SIM_VERSION_ADDRESS = 0x820;
inline constexpr std::uint32_t SIM_ID_ADDRESS = 0x200000;
inline constexpr std::uint32_t SIM_ID_SIZE = 16;
inline constexpr std::uint32_t SIM_CONFIG_ADDRESS = 0x300000;
inline constexpr std::uint32_t SIM_CONFIG_SIZE = 14;
inline constexpr std::uint32_t SIM_CHIP_ID_ADDRESS = 0x3FFFFE;
inline constexpr std::uint32_t SIM_EEPROM_SIZE = 256;

class CSimMemory
{
public:
    explicit CSimMemory(const SimBoardConfig& config);

    // Reads any address of the map above; unimplemented addresses read 0.
    std::uint8_t Read(std::uint32_t nAddress) const;
    // Flash and ID locations program like NOR flash: a write can only clear bits.
    void Program(std::uint32_t nAddress, std::uint8_t byValue);
    // Erases the 64-byte flash block holding the address, or all ID locations.
    void Erase(std::uint32_t nAddress);
    std::uint8_t ReadEeprom(std::uint32_t nAddress) const;
    void WriteEeprom(std::uint32_t nAddress, std::uint8_t byValue);

    std::uint16_t Version() const; // the application's version word
    // Direct stores for setting up a test, bypassing flash rules.
    void Store(std::uint32_t nAddress, const std::vector<std::uint8_t>& bytes);

private:
    std::vector<std::uint8_t> m_vecFlash;
    std::array<std::uint8_t, SIM_ID_SIZE> m_arrId{};
    std::array<std::uint8_t, SIM_EEPROM_SIZE> m_arrEeprom{};
    std::array<std::uint8_t, SIM_CONFIG_SIZE> m_arrConfig{};
    std::uint8_t m_byChipLow = 0;
    std::uint8_t m_byChipHigh = 0;
};
