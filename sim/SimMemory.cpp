#include "sim/SimMemory.h"

#include <algorithm>

namespace
{
// Configuration words of a typical full-speed board (oscillator, watchdog, code protection off).
constexpr std::array<std::uint8_t, SIM_CONFIG_SIZE> DEFAULT_CONFIG = {
    0x24, 0x0E, 0x3F, 0x1E, 0xFF, 0x81, 0x81, 0x00, 0x0F, 0xC0, 0x0F, 0xA0, 0x0F, 0x40};

// Recognisable, non-erased contents, so a test can tell untouched code from anything written.
std::uint8_t BootCodeByte(std::uint32_t a)
{
    return static_cast<std::uint8_t>(a * 7 + 0x2B);
}
std::uint8_t AppCodeByte(std::uint32_t a)
{
    return static_cast<std::uint8_t>(a * 29 + 0x11);
}
constexpr std::uint32_t APP_CODE_END = 0x1000;
} // namespace

CSimMemory::CSimMemory(const SimBoardConfig& config) : m_vecFlash(SIM_FLASH_SIZE, 0xFF)
{
    for (std::uint32_t a = 0; a < SIM_SERIAL_ADDRESS; ++a)
        m_vecFlash[a] = BootCodeByte(a);
    for (std::uint32_t i = 0; i < 8; ++i)
    {
        const bool bHasChar = i < config.strSerial.size();
        m_vecFlash[SIM_SERIAL_ADDRESS + 2 * i] =
            bHasChar ? static_cast<std::uint8_t>(config.strSerial[i]) : 0xFF;
        m_vecFlash[SIM_SERIAL_ADDRESS + 2 * i + 1] = 0x00;
    }
    for (std::uint32_t a = SIM_APP_START; a < APP_CODE_END; ++a)
        m_vecFlash[a] = AppCodeByte(a);
    m_vecFlash[SIM_VERSION_ADDRESS] = static_cast<std::uint8_t>(config.wVersion & 0xFF);
    m_vecFlash[SIM_VERSION_ADDRESS + 1] = static_cast<std::uint8_t>(config.wVersion >> 8);

    m_arrId.fill(0xFF);
    m_arrEeprom.fill(0xFF);
    m_arrConfig = DEFAULT_CONFIG;
    const std::uint16_t wChip = config.wChip & 0x7FF;
    m_byChipLow = static_cast<std::uint8_t>(((wChip & 0x07) << 5) | (config.byRevision & 0x1F));
    m_byChipHigh = static_cast<std::uint8_t>(wChip >> 3);
}

std::uint8_t CSimMemory::Read(std::uint32_t nAddress) const
{
    if (nAddress < SIM_FLASH_SIZE)
        return m_vecFlash[nAddress];
    if (nAddress >= SIM_ID_ADDRESS && nAddress < SIM_ID_ADDRESS + SIM_ID_SIZE)
        return m_arrId[nAddress - SIM_ID_ADDRESS];
    if (nAddress >= SIM_CONFIG_ADDRESS && nAddress < SIM_CONFIG_ADDRESS + SIM_CONFIG_SIZE)
        return m_arrConfig[nAddress - SIM_CONFIG_ADDRESS];
    if (nAddress == SIM_CHIP_ID_ADDRESS)
        return m_byChipLow;
    if (nAddress == SIM_CHIP_ID_ADDRESS + 1)
        return m_byChipHigh;
    return 0;
}

void CSimMemory::Program(std::uint32_t nAddress, std::uint8_t byValue)
{
    if (nAddress < SIM_FLASH_SIZE)
        m_vecFlash[nAddress] &= byValue;
    else if (nAddress >= SIM_ID_ADDRESS && nAddress < SIM_ID_ADDRESS + SIM_ID_SIZE)
        m_arrId[nAddress - SIM_ID_ADDRESS] &= byValue;
}

void CSimMemory::Erase(std::uint32_t nAddress)
{
    if (nAddress < SIM_FLASH_SIZE)
    {
        const std::uint32_t nBlock = nAddress & ~(SIM_ERASE_BLOCK - 1);
        std::fill_n(m_vecFlash.begin() + nBlock, SIM_ERASE_BLOCK, 0xFF);
    }
    else if (nAddress >= SIM_ID_ADDRESS && nAddress < SIM_ID_ADDRESS + SIM_ID_SIZE)
    {
        m_arrId.fill(0xFF);
    }
}

std::uint8_t CSimMemory::ReadEeprom(std::uint32_t nAddress) const
{
    return nAddress < SIM_EEPROM_SIZE ? m_arrEeprom[nAddress] : 0;
}

void CSimMemory::WriteEeprom(std::uint32_t nAddress, std::uint8_t byValue)
{
    if (nAddress < SIM_EEPROM_SIZE)
        m_arrEeprom[nAddress] = byValue;
}

std::uint16_t CSimMemory::Version() const
{
    return static_cast<std::uint16_t>(m_vecFlash[SIM_VERSION_ADDRESS] |
                                      (m_vecFlash[SIM_VERSION_ADDRESS + 1] << 8));
}

void CSimMemory::Store(std::uint32_t nAddress, const std::vector<std::uint8_t>& bytes)
{
    for (std::size_t i = 0; i < bytes.size(); ++i)
    {
        const std::uint32_t a = nAddress + static_cast<std::uint32_t>(i);
        if (a < SIM_FLASH_SIZE)
            m_vecFlash[a] = bytes[i];
        else if (a >= SIM_ID_ADDRESS && a < SIM_ID_ADDRESS + SIM_ID_SIZE)
            m_arrId[a - SIM_ID_ADDRESS] = bytes[i];
    }
}
