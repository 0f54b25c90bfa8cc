#include "protocol/CommandSet.h"

#include <algorithm>

namespace
{
constexpr CommandInfo COMMANDS[] = {
    {CMD_READ_VERSION, 64, 64, "read-version"},
    {CMD_QUERY_MODE, 64, 64, "query-mode"},
    {CMD_READ_SERIAL_NUMBER, 64, 64, "read-serial-number"},
    {CMD_ENTER_BOOTLOADER, 1, 0, "enter-bootloader"},
    {CMD_READ_PORTS, 6, 6, "read-ports"},
    {CMD_WRITE_PORTS, 6, 0, "write-ports"},
    {CMD_READ_CONFIGURATION, 11, 11, "read-configuration"},
    {CMD_WRITE_CONFIGURATION, 11, 0, "write-configuration"},
    {CMD_READ_DEVICE_ID, 2, 2, "read-device-id"},
    {CMD_READ_ANALOG, 1, 10, "read-analog"},
};
} // namespace

const CommandInfo* FindCommand(std::uint8_t byCode)
{
    for (const CommandInfo& info : COMMANDS)
        if (info.byCode == byCode)
            return &info;
    return nullptr;
}

std::size_t BuildRequest(Packet& packet, std::uint8_t byCode)
{
    packet.fill(0);
    packet[0] = byCode;
    const CommandInfo* pInfo = FindCommand(byCode);
    return pInfo ? pInfo->byRequestLength : PACKET_SIZE;
}

std::size_t BuildWritePorts(Packet& packet, const PortBytes& ports)
{
    const std::size_t nLength = BuildRequest(packet, CMD_WRITE_PORTS);
    std::copy(ports.begin(), ports.end(), packet.begin() + 1);
    return nLength;
}

std::size_t BuildWriteConfiguration(Packet& packet, const ConfigBlock& config)
{
    const std::size_t nLength = BuildRequest(packet, CMD_WRITE_CONFIGURATION);
    EncodeConfiguration(config, packet.data() + 1);
    return nLength;
}

std::uint16_t ParseVersion(const Packet& packet)
{
    return static_cast<std::uint16_t>(packet[2] | (packet[3] << 8));
}

bool ParseIsBootloader(const Packet& packet)
{
    return packet[2] == BOOTLOADER_MARK;
}

std::string ParseSerialNumber(const Packet& packet)
{
    // Byte 1 counts bytes of 16-bit units; only the low byte of each unit is a character.
    const std::size_t nChars = std::min<std::size_t>(packet[1] / 2, SERIAL_TEXT_MAX);
    std::string strText;
    for (std::size_t i = 0; i < nChars; ++i)
    {
        const std::uint8_t byChar = packet[2 + 2 * i];
        if (byChar < SERIAL_CHAR_MIN || byChar > SERIAL_CHAR_MAX)
            return {};
        strText += static_cast<char>(byChar);
    }
    return strText;
}

PortBytes ParsePorts(const Packet& packet)
{
    PortBytes ports;
    std::copy_n(packet.begin() + 1, PORT_COUNT, ports.begin());
    return ports;
}

ConfigBlock ParseConfiguration(const Packet& packet)
{
    return DecodeConfiguration(packet.data() + 1);
}

std::uint8_t ParseDeviceId(const Packet& packet)
{
    return packet[1];
}

int ParseAnalog(const Packet& packet, std::array<std::uint16_t, ANALOG_CHANNELS>& wReadings)
{
    const int nAnnounced = packet[1];
    const int nUsed = std::min(nAnnounced, ANALOG_CHANNELS);
    for (int k = 0; k < nUsed; ++k)
        wReadings[k] = static_cast<std::uint16_t>(packet[2 + 2 * k] | (packet[3 + 2 * k] << 8));
    return nAnnounced;
}

// Offsets 1 to 10 of the packet: direction and inversion mask of A, B, C, D in turn, then the
// direction mask of E and the analog input count.
void EncodeConfiguration(const ConfigBlock& config, std::uint8_t* pBytes10)
{
    for (int p = 0; p < 4; ++p)
    {
        pBytes10[2 * p] = config.byDir[p];
        pBytes10[2 * p + 1] = config.byInv[p];
    }
    pBytes10[8] = config.byDir[PORT_E];
    pBytes10[9] = config.byAnalogCount;
}

ConfigBlock DecodeConfiguration(const std::uint8_t* pBytes10)
{
    ConfigBlock config;
    for (int p = 0; p < 4; ++p)
    {
        config.byDir[p] = pBytes10[2 * p];
        config.byInv[p] = pBytes10[2 * p + 1];
    }
    config.byDir[PORT_E] = pBytes10[8];
    config.byAnalogCount = pBytes10[9];
    return config;
}
