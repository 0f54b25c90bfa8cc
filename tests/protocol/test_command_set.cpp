// Request bytes and reply parsing of the command set, against literal packets.
#include "protocol/CommandSet.h"
#include "tests/support/HexText.h"

#include <gtest/gtest.h>

namespace
{
std::string Request(Packet& packet, std::size_t nLength)
{
    return HexText(packet.data(), nLength);
}

Packet Reply(std::initializer_list<std::uint8_t> bytes)
{
    Packet packet{};
    std::copy(bytes.begin(), bytes.end(), packet.begin());
    return packet;
}
} // namespace

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
        packet.fill(0xEE); // every builder must zero what it does not set
        EXPECT_EQ(BuildRequest(packet, row.byCode), row.nRequest) << int(row.byCode);
        EXPECT_EQ(Request(packet, 64), HexText(&row.byCode, 1) + " " + Zeros(63));
        ASSERT_NE(FindCommand(row.byCode), nullptr) << int(row.byCode);
        EXPECT_EQ(FindCommand(row.byCode)->byReplyLength, row.nReply) << int(row.byCode);
    }
    EXPECT_EQ(FindCommand(0x33), nullptr);

    packet.fill(0xEE);
    EXPECT_EQ(BuildWritePorts(packet, {0x01, 0x02, 0x03, 0x04, 0x05}), 6u);
    EXPECT_EQ(Request(packet, 64), "37 01 02 03 04 05 " + Zeros(58));
    ConfigBlock config{{0xFF, 0x00, 0x0F, 0xF0, 0x07}, {0x11, 0x22, 0x33, 0x44}, 3};
    EXPECT_EQ(BuildWriteConfiguration(packet, config), 11u);
    EXPECT_EQ(Request(packet, 12), "39 ff 11 00 22 0f 33 f0 44 07 03 00");
}

TEST(CommandSet, VersionAndMode)
{
    EXPECT_EQ(ParseVersion(Reply({0x00, 0x00, 0x05, 0x01})), 0x0105);
    EXPECT_EQ(FormatVersion(ParseVersion(Reply({0x00, 0x00, 0x05, 0x01}))), "1.05");
    EXPECT_EQ(FormatVersion(0x020A), "2.10");
    EXPECT_EQ(FormatVersion(0), "0.00");
    EXPECT_EQ(FormatVersion(0xFFFF), "255.255");

    EXPECT_TRUE(ParseIsBootloader(Reply({0x08, 0x00, 0x42})));
    EXPECT_FALSE(ParseIsBootloader(Reply({0x08, 0x42, 0x00}))) << "the mark counts only at byte 2";
    EXPECT_FALSE(ParseIsBootloader(Reply({0x08, 0x00, 0x62})));
}

TEST(CommandSet, SerialNumberText)
{
    EXPECT_EQ(ParseSerialNumber(Reply(
                  {0x31, 16, 'A', 0, 'B', 0, '1', 0, '2', 0, 'C', 0, 'D', 0, '3', 0, '4', 0})),
              "AB12CD34");
    EXPECT_EQ(ParseSerialNumber(Reply({0x31, 0, 'A', 0})), "");
    EXPECT_EQ(ParseSerialNumber(Reply({0x31, 5, 'x', 0, 'y', 0, 'z', 0})), "xy")
        << "n / 2 rounds down";
    // One bad character empties the whole text, not just its tail.
    EXPECT_EQ(ParseSerialNumber(Reply({0x31, 4, 'A', 0, 0x7B, 0})), "");
    EXPECT_EQ(ParseSerialNumber(Reply({0x31, 4, 0x1F, 0, 'A', 0})), "");
    EXPECT_EQ(ParseSerialNumber(Reply({0x31, 4, ' ', 0, 'z', 0})), " z") << "range ends included";
    // The high byte of each unit is not a character.
    EXPECT_EQ(ParseSerialNumber(Reply({0x31, 4, 'A', 0xFF, 'B', 0x7F})), "AB");

    // A reply announcing more than fits the 10-byte buffer keeps the first 9 characters.
    Packet longReply = Reply({0x31, 62});
    for (int i = 0; i < 31; ++i)
        longReply[2 + 2 * i] = static_cast<std::uint8_t>('a' + i % 26);
    EXPECT_EQ(ParseSerialNumber(longReply), "abcdefghi");
    longReply[2 + 2 * 20] = 0x01; // beyond the ninth character: not looked at
    EXPECT_EQ(ParseSerialNumber(longReply), "abcdefghi");
}

TEST(CommandSet, PortsConfigurationIdAndAnalog)
{
    EXPECT_EQ(ParsePorts(Reply({0xEE, 1, 2, 3, 4, 5, 6})), (PortBytes{1, 2, 3, 4, 5}));
    EXPECT_EQ(ParseDeviceId(Reply({0x3C, 0xC8})), 0xC8);

    const ConfigBlock config = ParseConfiguration(
        Reply({0xEE, 0x10, 0x11, 0x20, 0x21, 0x30, 0x31, 0x40, 0x41, 0x50, 0x02}));
    EXPECT_EQ(config.byDir, (PortBytes{0x10, 0x20, 0x30, 0x40, 0x50}));
    EXPECT_EQ(config.byInv, (std::array<std::uint8_t, 4>{0x11, 0x21, 0x31, 0x41}));
    EXPECT_EQ(config.byAnalogCount, 2);

    std::array<std::uint16_t, ANALOG_CHANNELS> wReadings{0xAAAA, 0xBBBB, 0xCCCC, 0xDDDD};
    EXPECT_EQ(
        ParseAnalog(Reply({0x3D, 2, 0xFF, 0x03, 0x34, 0x12, 0x99, 0x99, 0x88, 0x88}), wReadings),
        2);
    EXPECT_EQ(wReadings, (std::array<std::uint16_t, 4>{0x03FF, 0x1234, 0xCCCC, 0xDDDD}))
        << "only the announced channels are taken";
    EXPECT_EQ(ParseAnalog(Reply({0x3D, 7, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0}), wReadings), 7);
    EXPECT_EQ(wReadings, (std::array<std::uint16_t, 4>{1, 2, 3, 4})) << "never more than four";
}
