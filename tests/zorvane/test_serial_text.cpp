// Pure encode/decode of the library: the serial text lines and their reply, COM port names and
// device paths, and the pin-word arithmetic of virtual ports.
#include "devices/VirtualPort.h"
#include "serial/ComPortName.h"
#include "serial/Serial.h"
#include "serial/SerialText.h"

#include <gtest/gtest.h>

TEST(SerialLines, CommandLinesAreExactlyTheProtocolsText)
{
    EXPECT_EQ(FormatConfigureLine(0, 255, 15), "C,0,255,15,0\n");
    EXPECT_EQ(FormatConfigureLine(0, 255, 15).size(), 13u);
    EXPECT_EQ(FormatOutputLine(0, 90, 0), "O,0,90,0\n");
    EXPECT_EQ(FormatOutputLine(255, 8, 1), "O,255,8,1\n");
    EXPECT_EQ(FormatBitOutputLine('A', 3, 1), "PO,A,3,1\n");
    EXPECT_EQ(FormatBitInputLine('C', 7), "PI,C,7\n");
    EXPECT_STREQ(INPUT_REQUEST_LINE, "I\n");
}

TEST(SerialLines, BitLinesCarryTheLowByteOfTheBitAndTheValueAsGiven)
{
    EXPECT_EQ(FormatBitOutputLine('B', 258, -5), "PO,B,2,-5\n");
    EXPECT_EQ(FormatBitOutputLine('C', -1, 2147483647), "PO,C,255,2147483647\n");
    EXPECT_EQ(FormatBitInputLine('A', 0x1FF), "PI,A,255\n");
}

TEST(SerialReply, ParsesTagAndThreePorts)
{
    std::uint8_t a = 0, b = 0, c = 0;
    ASSERT_TRUE(ParseReply("I,12,34,56", a, b, c));
    EXPECT_EQ((std::array<int, 3>{a, b, c}), (std::array<int, 3>{12, 34, 56}));
    ASSERT_TRUE(ParseReply("X,1,2,3\r\n", a, b, c));
    EXPECT_EQ((std::array<int, 3>{a, b, c}), (std::array<int, 3>{1, 2, 3}));
    // Fields are the number at their start: white space, a sign, and anything after the digits.
    ASSERT_TRUE(ParseReply("tag, 7,-1,300abc \t", a, b, c));
    EXPECT_EQ((std::array<int, 3>{a, b, c}), (std::array<int, 3>{7, 255, 300 & 0xFF}));
    ASSERT_TRUE(ParseReply(",x,,9", a, b, c));
    EXPECT_EQ((std::array<int, 3>{a, b, c}), (std::array<int, 3>{0, 0, 9}));
}

TEST(SerialReply, MissingFieldsRepeatTheOneBefore)
{
    std::uint8_t a = 0, b = 0, c = 0;
    ASSERT_TRUE(ParseReply("I,7", a, b, c));
    EXPECT_EQ((std::array<int, 3>{a, b, c}), (std::array<int, 3>{7, 7, 7}));
    ASSERT_TRUE(ParseReply("I,7,8", a, b, c));
    EXPECT_EQ((std::array<int, 3>{a, b, c}), (std::array<int, 3>{7, 8, 8}));
}

TEST(SerialReply, TextWithoutCommaIsNoReplyAndStoresNothing)
{
    std::uint8_t a = 1, b = 2, c = 3;
    EXPECT_FALSE(ParseReply("I 12 34 56\n", a, b, c));
    EXPECT_FALSE(ParseReply("", a, b, c));
    EXPECT_FALSE(ParseReply(" \r\n", a, b, c));
    EXPECT_EQ((std::array<int, 3>{a, b, c}), (std::array<int, 3>{1, 2, 3}));
}

TEST(SerialReply, TakeLineSplitsAtEitherLineEnd)
{
    std::string strPending = "I,1,2";
    std::string strLine = "unchanged";
    EXPECT_FALSE(TakeLine(strPending, strLine));
    EXPECT_EQ(strLine, "unchanged");
    strPending += ",3\r\nnext\nrest";
    ASSERT_TRUE(TakeLine(strPending, strLine));
    EXPECT_EQ(strLine, "I,1,2,3");
    ASSERT_TRUE(TakeLine(strPending, strLine));
    EXPECT_EQ(strLine, "");
    ASSERT_TRUE(TakeLine(strPending, strLine));
    EXPECT_EQ(strLine, "next");
    EXPECT_FALSE(TakeLine(strPending, strLine));
    EXPECT_EQ(strPending, "rest");
}

TEST(ComPortName, NumberFromTheNameWhateverItsCase)
{
    EXPECT_EQ(ComPortNumber("COM3"), 3);
    EXPECT_EQ(ComPortNumber("com3"), 3);
    EXPECT_EQ(ComPortNumber("Com3"), 3);
    EXPECT_EQ(ComPortNumber("3"), 3);
    EXPECT_EQ(ComPortNumber("COM12"), 12);
    EXPECT_EQ(ComPortNumber(" COM 5"), 5);
    EXPECT_EQ(ComPortNumber("COM4x"), 4);
    EXPECT_EQ(ComPortNumber("COMCOM7"), 7);
    // No number: port 0, which never opens.
    EXPECT_EQ(ComPortNumber("COM"), 0);
    EXPECT_EQ(ComPortNumber("PRINTER"), 0);
    EXPECT_EQ(ComPortNumber(""), 0);
    EXPECT_EQ(ComPortNumber(nullptr), 0);
    EXPECT_EQ(ComPortNumber("COM99999999999999999999"), 0);
}

TEST(ComPortName, PathFromThePatternForPortMinusOne)
{
    std::string strPath;
    ASSERT_TRUE(FormatComPath("/dev/ttyS%d", 1, strPath));
    EXPECT_EQ(strPath, "/dev/ttyS0");
    ASSERT_TRUE(FormatComPath("/dev/ttyS%d", 10, strPath));
    EXPECT_EQ(strPath, "/dev/ttyS9");
    ASSERT_TRUE(FormatComPath("/tmp/100%%/kv%d.tty", 3, strPath));
    EXPECT_EQ(strPath, "/tmp/100%/kv2.tty");
}

TEST(ComPortName, PortZeroAndUnsafePatternsGiveNoPath)
{
    std::string strPath = "kept";
    EXPECT_FALSE(FormatComPath("/dev/ttyS%d", 0, strPath));
    EXPECT_FALSE(FormatComPath("/dev/ttyS%d", -2, strPath));
    EXPECT_FALSE(FormatComPath("/dev/ttyS0", 1, strPath));
    EXPECT_FALSE(FormatComPath("/dev/%s%d", 1, strPath));
    EXPECT_FALSE(FormatComPath("/dev/%d/%d", 1, strPath));
    EXPECT_FALSE(FormatComPath("/dev/ttyS%", 1, strPath));
    EXPECT_EQ(strPath, "kept");
}

TEST(ComPortName, PatternFromTheEnvironment)
{
    unsetenv(COM_PATTERN_VARIABLE);
    EXPECT_EQ(ComPattern(), "/dev/ttyS%d");
    setenv(COM_PATTERN_VARIABLE, "", 1);
    EXPECT_EQ(ComPattern(), "/dev/ttyS%d");
    setenv(COM_PATTERN_VARIABLE, "/run/kv%d", 1);
    EXPECT_EQ(ComPattern(), "/run/kv%d");
    unsetenv(COM_PATTERN_VARIABLE);
}

TEST(SerialQueue, TransmitRoomRule)
{
    EXPECT_TRUE(CSerial::FitsTransmitQueue(255, 0));
    EXPECT_FALSE(CSerial::FitsTransmitQueue(256, 0));
    EXPECT_TRUE(CSerial::FitsTransmitQueue(55, 200));
    EXPECT_FALSE(CSerial::FitsTransmitQueue(56, 200));
    EXPECT_FALSE(CSerial::FitsTransmitQueue(0, 256));
}

TEST(VirtualPortWord, FieldsFitPinsZeroTo26)
{
    EXPECT_TRUE(FieldFits(20, 7));
    EXPECT_FALSE(FieldFits(20, 8));
    EXPECT_TRUE(FieldFits(27, 0));
    EXPECT_TRUE(FieldFits(0, 27));
    EXPECT_FALSE(FieldFits(255, 255)); // no wrap-around of the byte sum
    EXPECT_FALSE(FieldFits(1, 255));
}

TEST(VirtualPortWord, MasksAndBytes)
{
    EXPECT_EQ(FieldMask(4, 4), 0xF0u);
    EXPECT_EQ(FieldMask(20, 7), 0x07F00000u);
    EXPECT_EQ(FieldMask(27, 0), 0u);
    EXPECT_EQ(FieldMask(0, 27), 0x07FFFFFFu);
    EXPECT_EQ(PinWord(0x11, 0x22, 0x33, 0x44), 0x44332211u);
    EXPECT_EQ(PinWordByte(0x44332211u, 0), 0x11);
    EXPECT_EQ(PinWordByte(0x44332211u, 3), 0x44);
}

TEST(VirtualPortWord, PlacingAValueTouchesOnlyItsPinsUnlessItIsTooWide)
{
    const VirtualPortInfo nibble{FieldMask(4, 4), 4};
    EXPECT_EQ(PlaceField(0xFFFFFFFFu, nibble, 5), 0xFFFFFF5Fu);
    EXPECT_EQ(PlaceField(0x00000000u, nibble, 5), 0x00000050u);
    // A value wider than the field lands on the pins above it, as the caller asked.
    EXPECT_EQ(PlaceField(0x00000000u, nibble, 0x1F), 0x000001F0u);
    const VirtualPortInfo top{FieldMask(24, 3), 24};
    EXPECT_EQ(PlaceField(0x12345678u, top, 7), 0x17345678u);
}
