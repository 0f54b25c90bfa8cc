#pragma once
// Values shared by every sender of the command set.
#include <array>
#include <cstdint>
#include <string>

enum EPort
{
    PORT_A = 0,
    PORT_B = 1,
    PORT_C = 2,
    PORT_D = 3,
    PORT_E = 4,
    PORT_COUNT = 5,
};

// Five port-sized bytes in the order A to E: levels, masks or check marks.
using PortBytes = std::array<std::uint8_t, PORT_COUNT>;

// The configuration block of read-configuration and write-configuration.
struct ConfigBlock
{
    PortBytes byDir{0xFF, 0xFF, 0xFF, 0xFF, 0xFF}; // bit set = pin is an input
    std::array<std::uint8_t, 4> byInv{};           // ports A to D; bit set = input inverted
    std::uint8_t byAnalogCount = 0;                // 0 to 4: channels E0 up to E(count - 1)

    bool operator==(const ConfigBlock&) const = default;
};

inline constexpr int ANALOG_CHANNELS = 4;

// "%d.%02d" of major (high byte) and minor (low byte): 0x0102 reads 1.02.
std::string FormatVersion(std::uint16_t wVersion);
