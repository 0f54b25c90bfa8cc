// Request bytes and reply parsing of the command set, against literal packets. (The usual
// replies, parsed, are test_board_link's; these are the edges.)
#include "protocol/CommandSet.h"
#include "tests/support/HexText.h"

#include <gtest/gtest.h>

namespace
{
Packet Reply(std::initializer_list<std::uint8_t> bytes)
{
    Packet packet{};
    std::copy(bytes.begin(), bytes.end(), packet.begin());
    return packet;
}
} // namespace

// Every builder zeroes what it does not set.
TEST(CommandSet, RequestsHaveTheirBytesAndLengths)
{
    const struct
    {
        std::uint8_t byCode;
        std::size_t nRequest;
        int nReply; // 0: no reply
    } rows[] = {{CMD_READ_VERSION, 64, 64},       {CMD_QUERY_MODE, 64, 64},
                {CMD_READ_SERIAL_NUMBER, 64, 64}, {CMD_ENTER_BOOTLOADER, 1, 0},
                {CMD_READ_PORTS, 6, 6},           {CMD_WRITE_PORTS, 6, 0},
                {CMD_READ_CONFIGURATION, 11, 11}, {CMD_WRITE_CONFIGURATION, 11, 0},
                {CMD_READ_DEVICE_ID, 2, 2},       {CMD_READ_ANALOG, 1, 10}};
    Packet packet;
    for (const auto& row : rows)
    {
        packet.fill(0xEE);
        EXPECT_EQ(BuildRequest(packet, row.byCode), row.nRequest) << int(row.byCode);
        EXPECT_EQ(HexText(packet.data(), 64), HexText(&row.byCode, 1) + " " + Zeros(63));
        ASSERT_NE(FindCommand(row.byCode), nullptr) << int(row.byCode);
        EXPECT_EQ(FindCommand(row.byCode)->byReplyLength, row.nReply) << int(row.byCode);
    }
    EXPECT_EQ(FindCommand(0x33), nullptr);
    packet.fill(0xEE);
    EXPECT_EQ(BuildWritePorts(packet, {0x01, 0x02, 0x03, 0x04, 0x05}), 6u);
    EXPECT_EQ(HexText(packet.data(), 64), "37 01 02 03 04 05 " + Zeros(58));
    EXPECT_EQ(BuildWriteConfiguration(
                  packet, {{0xFF, 0x00, 0x0F, 0xF0, 0x07}, {0x11, 0x22, 0x33, 0x44}, 3}),
              11u);
    EXPECT_EQ(HexText(packet.data(), 12), "39 ff 11 00 22 0f 33 f0 44 07 03 00");
}

TEST(CommandSet, RepliesParse)
{
    EXPECT_EQ((std::vector{FormatVersion(0x020A), FormatVersion(0), FormatVersion(0xFFFF)}),
              (std::vector<std::string>{"2.10", "0.00", "255.255"}));
    // The bootloader's mark counts only at byte 2.
    EXPECT_EQ((std::vector{ParseIsBootloader(Reply({0x08, 0x00, 0x42})),
                           ParseIsBootloader(Reply({0x08, 0x42, 0x00})),
                           ParseIsBootloader(Reply({0x08, 0x00, 0x62}))}),
              (std::vector{true, false, false}));

    // n / 2 characters, rounded down; one that is no character (range ends included) empties the
    // whole text; the high byte of each unit is not a character.
    for (const auto& [packet, pszText] : {std::pair{Reply({0x31, 0, 'A', 0}), ""},
                                          {Reply({0x31, 5, 'x', 0, 'y', 0, 'z', 0}), "xy"},
                                          {Reply({0x31, 4, 'A', 0, 0x7B, 0}), ""},
                                          {Reply({0x31, 4, 0x1F, 0, 'A', 0}), ""},
                                          {Reply({0x31, 4, ' ', 0, 'z', 0}), " z"},
                                          {Reply({0x31, 4, 'A', 0xFF, 'B', 0x7F}), "AB"}})
        EXPECT_EQ(ParseSerialNumber(packet), pszText) << HexText(packet.data(), 8);
    // A reply announcing more than fits the 10-byte buffer keeps the first 9 characters; those
    // beyond are not looked at.
    Packet longReply = Reply({0x31, 62});
    for (int i = 0; i < 31; ++i)
        longReply[2 + 2 * i] = static_cast<std::uint8_t>(i == 20 ? 0x01 : 'a' + i % 26);
    EXPECT_EQ(ParseSerialNumber(longReply), "abcdefghi");

    const ConfigBlock config = ParseConfiguration(
        Reply({0xEE, 0x10, 0x11, 0x20, 0x21, 0x30, 0x31, 0x40, 0x41, 0x50, 0x02}));
    EXPECT_EQ(config, (ConfigBlock{{0x10, 0x20, 0x30, 0x40, 0x50}, {0x11, 0x21, 0x31, 0x41}, 2}));
    // Only the announced channels are taken, never more than four.
    std::array<std::uint16_t, ANALOG_CHANNELS> wReadings{0xAAAA, 0xBBBB, 0xCCCC, 0xDDDD};
    EXPECT_EQ(
        ParseAnalog(Reply({0x3D, 2, 0xFF, 0x03, 0x34, 0x12, 0x99, 0x99, 0x88, 0x88}), wReadings),
        2);
    EXPECT_EQ(wReadings, (std::array<std::uint16_t, 4>{0x03FF, 0x1234, 0xCCCC, 0xDDDD}));
    EXPECT_EQ(ParseAnalog(Reply({0x3D, 7, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0}), wReadings), 7);
    EXPECT_EQ(wReadings, (std::array<std::uint16_t, 4>{1, 2, 3, 4}));
}
