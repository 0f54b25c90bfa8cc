#pragma once
// A virtual port: a named run of adjacent pins in a board's pin word. Pin n of the word is bit
// n % 8 of port A, B, C or D for n / 8 = 0, 1, 2, 3; a field may use pins 0 to 26 only.
// Pure arithmetic; CUsbDev keeps the fields and sends the ports.
#include <cstdint>

struct VirtualPortInfo
{
    std::uint32_t dwMask;  // the field's pins: ((1 << width) - 1) << startBit
    std::int32_t startBit; // pin of the field's least significant bit
};

// Results of adding a field.
enum : std::int32_t
{
    VP_ADDED = 0,
    VP_OVERLAP = 1,
    VP_NAME_TAKEN = 2,
    VP_OUT_OF_RANGE = 3,
};

inline constexpr unsigned VP_PIN_LIMIT = 27; // start + width may not exceed it

// True when a field of byWidth pins from byStart stays within pins 0 to 26.
constexpr bool FieldFits(std::uint8_t byStart, std::uint8_t byWidth)
{
    return unsigned{byStart} + unsigned{byWidth} <= VP_PIN_LIMIT;
}

// The field's mask; only for a field that fits.
constexpr std::uint32_t FieldMask(std::uint8_t byStart, std::uint8_t byWidth)
{
    return ((std::uint32_t{1} << byWidth) - 1) << byStart;
}

constexpr std::uint32_t PinWord(std::uint8_t byA, std::uint8_t byB, std::uint8_t byC,
                                std::uint8_t byD)
{
    return std::uint32_t{byA} | std::uint32_t{byB} << 8 | std::uint32_t{byC} << 16 |
           std::uint32_t{byD} << 24;
}

// Byte nPort (0 = A to 3 = D) of a pin word.
constexpr std::uint8_t PinWordByte(std::uint32_t dwWord, int nPort)
{
    return static_cast<std::uint8_t>(dwWord >> (8 * nPort));
}

// The word with the field's pins replaced by nValue shifted to the field. The value is not cut
// to the field's width: higher bits land on the pins above it, as the caller asked.
constexpr std::uint32_t PlaceField(std::uint32_t dwWord, const VirtualPortInfo& info,
                                   std::int32_t nValue)
{
    return (dwWord & ~info.dwMask) | (static_cast<std::uint32_t>(nValue) << info.startBit);
}
