// kelvard-mkhex: writes the firmware image that the simulated boards are updated with, as the
// chip's build tools would: Intel HEX, 16-byte data records, an extended linear address record
// before each memory area, CR LF line ends.
//
// The application is a minimal one for the simulated Pic18F4550 (device code 0x90): reset and
// interrupt vectors at 0x800, the version word 1.04 (little-endian) at 0x820 where the boards
// keep it, a main loop that counts on port B, and the board's USB device descriptor. A few ID
// and EEPROM bytes and the configuration words come with it, so every area of an update runs.
//
//     kelvard-mkhex OUTPUT.hex
#include "firmware/HexWriter.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace
{
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t FIRMWARE_VERSION = 0x0104;

struct SBlock
{
    std::uint32_t nAddress; // linear address
    Bytes byData;
};

Bytes Word(std::uint16_t w) // little-endian, as program memory holds instruction words
{
    return {static_cast<std::uint8_t>(w), static_cast<std::uint8_t>(w >> 8)};
}

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::vector<SBlock> Image()
{
    const std::uint16_t wMain = 0x0840;
    const Bytes byVectors =
        Join({Word(static_cast<std::uint16_t>(0xEF00 | ((wMain >> 1) & 0xFF))),
              Word(static_cast<std::uint16_t>(0xF000 | (wMain >> 9)))}); // GOTO main
    const Bytes byMain = Join({Word(0x6A8A),                             // CLRF LATB
                               Word(0x6A93),   // CLRF TRISB: port B drives
                               Word(0x2A8A),   // loop: INCF LATB, F
                               Word(0xD7FE)}); // BRA loop
    const Bytes byDeviceDescriptor = {0x12,
                                      0x01,
                                      0x00,
                                      0x02,
                                      0x00,
                                      0x00,
                                      0x00,
                                      0x40,
                                      0xD8,
                                      0x04,
                                      0xFE,
                                      0xFF,
                                      static_cast<std::uint8_t>(FIRMWARE_VERSION),
                                      static_cast<std::uint8_t>(FIRMWARE_VERSION >> 8),
                                      0x01,
                                      0x02,
                                      0x00,
                                      0x01};
    const Bytes byConfigDescriptor = {0x09, 0x02, 0x20, 0x00, 0x01, 0x01, 0x00, 0x80,
                                      0x32, 0x09, 0x04, 0x00, 0x00, 0x02, 0xFF, 0x00,
                                      0x00, 0x00, 0x07, 0x05, 0x01, 0x02, 0x40, 0x00,
                                      0x00, 0x07, 0x05, 0x81, 0x02, 0x40, 0x00, 0x00};
    Bytes byProduct = {0x18, 0x03}; // string descriptor, UTF-16LE
    for (char c : std::string("Kelvard I/O"))
        byProduct.insert(byProduct.end(), {static_cast<std::uint8_t>(c), 0x00});

    return {
        {0x000800, byVectors},
        {0x000808, Word(0x0011)}, // high-priority interrupt: RETFIE FAST
        {0x000818, Word(0x0010)}, // low-priority interrupt: RETFIE
        {0x000820, Word(FIRMWARE_VERSION)},
        {wMain, byMain},
        {0x000880, Join({byDeviceDescriptor, byConfigDescriptor, byProduct})},
        {0x200000, {0x01, 0x04, 'K', 'V', 'I', 'O', 0x00, 0x00}}, // ID locations
        // Configuration words: full-speed USB from a 20 MHz crystal, watchdog and code
        // protection off. An update never writes them; a real image carries them all the same.
        {0x300000,
         {0x24, 0x0E, 0x3F, 0x1E, 0xFF, 0x81, 0x81, 0x00, 0x0F, 0xC0, 0x0F, 0xA0, 0x0F, 0x40}},
        // EEPROM: the power-on port configuration (all inputs, no inversion, no analog input).
        {0xF00000, {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00}},
    };
}

std::string ImageText(const std::vector<SBlock>& blocks)
{
    CHexWriter writer("\r\n");
    for (const SBlock& block : blocks)
        writer.Data(block.nAddress, block.byData.data(), block.byData.size());
    writer.End();
    return writer.Text();
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: kelvard-mkhex OUTPUT.hex\n");
        return 2;
    }
    const std::string strText = ImageText(Image());
    std::FILE* pFile = std::fopen(argv[1], "wb");
    bool bWritten =
        pFile != nullptr && std::fwrite(strText.data(), 1, strText.size(), pFile) == strText.size();
    if (pFile != nullptr && std::fclose(pFile) != 0)
        bWritten = false;
    if (!bWritten)
    {
        std::fprintf(stderr, "kelvard-mkhex: cannot write %s\n", argv[1]);
        std::remove(argv[1]); // no half image for the build to take as done
        return 1;
    }
    return 0;
}
