#pragma once
// The application firmware's command set: pure request builders and reply parsers. Nothing here
// touches a device; DeviceLink.h moves the packets.
#include "protocol/PortTypes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

enum : std::uint8_t
{
    CMD_READ_VERSION = 0x00,
    CMD_QUERY_MODE = 0x08,
    CMD_READ_SERIAL_NUMBER = 0x31,
    CMD_ENTER_BOOTLOADER = 0x32,
    CMD_READ_PORTS = 0x36,
    CMD_WRITE_PORTS = 0x37,
    CMD_READ_CONFIGURATION = 0x38,
    CMD_WRITE_CONFIGURATION = 0x39,
    CMD_READ_DEVICE_ID = 0x3C,
    CMD_READ_ANALOG = 0x3D,
};

inline constexpr std::size_t PACKET_SIZE = 64;
using Packet = std::array<std::uint8_t, PACKET_SIZE>;

// Query-mode reply byte 2 of a board that runs its bootloader.
inline constexpr std::uint8_t BOOTLOADER_MARK = 0x42; // 'B'

// Serial-number text: at most 9 characters fit the receiving buffer (8 are ever programmed).
inline constexpr std::size_t SERIAL_TEXT_MAX = 9;
inline constexpr std::uint8_t SERIAL_CHAR_MIN = 0x20; // blank
inline constexpr std::uint8_t SERIAL_CHAR_MAX = 0x7A; // 'z'

struct CommandInfo
{
    std::uint8_t byCode;
    std::uint8_t byRequestLength;
    std::uint8_t byReplyLength; // 0: the command has no reply
    const char* pszName;
};

// The command's lengths; null for a code that is not in the command set.
const CommandInfo* FindCommand(std::uint8_t byCode);

// Builders zero the whole packet, set the code and the request fields and return the request
// length to send.
std::size_t BuildRequest(Packet& packet, std::uint8_t byCode); // commands without fields
std::size_t BuildWritePorts(Packet& packet, const PortBytes& ports);
std::size_t BuildWriteConfiguration(Packet& packet, const ConfigBlock& config);

// Parsers read the reply positions of their command and nothing else.
std::uint16_t ParseVersion(const Packet& packet);
bool ParseIsBootloader(const Packet& packet);
std::string ParseSerialNumber(const Packet& packet); // "" when any character is out of range
PortBytes ParsePorts(const Packet& packet);
ConfigBlock ParseConfiguration(const Packet& packet);
std::uint8_t ParseDeviceId(const Packet& packet);
// Returns the announced number of valid channels (reply byte 1) and fills the first
// min(count, 4) readings; the others are left as they were.
int ParseAnalog(const Packet& packet, std::array<std::uint16_t, ANALOG_CHANNELS>& wReadings);

// The configuration block in its packet positions 1 to 10 (byte 0 is the code).
void EncodeConfiguration(const ConfigBlock& config, std::uint8_t* pBytes10);
ConfigBlock DecodeConfiguration(const std::uint8_t* pBytes10);
