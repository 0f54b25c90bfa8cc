// The COM-port side below the exports: parsing the input reply, COM port names and device
// paths, and the transmit-room rule, also on the wrapper over a pseudo-terminal. (Exact lines
// and results: golden/exports.txt; line settings and timing: test_zorvane_com_exports.)
#include "tests/support/TempDir.h"

#include "zorvane/serial/ComPortName.h"
#include "zorvane/serial/Serial.h"
#include "zorvane/serial/SerialText.h"

#include "sim/SimSerialBoard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <thread>

using namespace std::chrono_literals;

TEST(SerialReply, FieldsAreTheNumberAtTheirStartAndMissingOnesRepeatTheOneBefore)
{
    const std::pair<const char*, std::array<int, 3>> cases[] = {
        {"I,12,34,56", {12, 34, 56}},
        {"X,1,2,3\r\n", {1, 2, 3}},
        {"tag, 7,-1,300abc \t", {7, 255, 300 & 0xFF}},
        {",x,,9", {0, 0, 9}},
        {"I,7", {7, 7, 7}},
        {"I,7,8", {7, 8, 8}}};
    for (const auto& [pszText, expected] : cases)
    {
        std::uint8_t a = 99, b = 99, c = 99;
        EXPECT_TRUE(ParseReply(pszText, a, b, c)) << pszText;
        EXPECT_EQ((std::array<int, 3>{a, b, c}), expected) << pszText;
    }
    std::uint8_t a = 1, b = 2, c = 3;
    for (const char* pszText : {"I 12 34 56\n", "", " \r\n"})
        EXPECT_FALSE(ParseReply(pszText, a, b, c)) << pszText;
    EXPECT_EQ((std::array<int, 3>{a, b, c}), (std::array<int, 3>{1, 2, 3})) << "nothing stored";
    // Complete without a line end: a tag and three fields, the last with a digit.
    for (const auto& [pszText, bWhole] :
         {std::pair{"I,1,2,3", true}, std::pair{"I,1,2, -7", true}, std::pair{"I,1,2", false},
          std::pair{"I,1,2,", false}, std::pair{"I,1,2,+", false}, std::pair{",,,x9", false}})
        EXPECT_EQ(HasAllReplyFields(pszText), bWhole) << pszText;
}

TEST(ComPortName, NumberFromTheNameWhateverItsCase)
{
    const std::pair<const char*, int> cases[] = {
        {"COM3", 3},   {"com3", 3},    {"Com3", 3},  {"3", 3},
        {"COM12", 12}, {" COM 5", 5},  {"COM4x", 4}, {"COMCOM7", 7},
        {"COM", 0},    {"PRINTER", 0}, {"", 0},      {"COM99999999999999999999", 0}};
    for (const auto& [pszName, nPort] : cases)
        EXPECT_EQ(ComPortNumber(pszName), nPort) << pszName;
    EXPECT_EQ(ComPortNumber(nullptr), 0);
}

TEST(ComPortName, PathFromThePatternForPortMinusOneAndNoneFromUnsafePatterns)
{
    std::string strPath;
    ASSERT_TRUE(FormatComPath("/dev/ttyS%d", 10, strPath));
    EXPECT_EQ(strPath, "/dev/ttyS9");
    ASSERT_TRUE(FormatComPath("/tmp/100%%/kv%d.tty", 1, strPath));
    EXPECT_EQ(strPath, "/tmp/100%/kv0.tty");
    strPath = "kept";
    EXPECT_FALSE(FormatComPath("/dev/ttyS%d", 0, strPath));
    EXPECT_FALSE(FormatComPath("/dev/ttyS%d", -2, strPath));
    for (const char* pszPattern : {"/dev/ttyS0", "/dev/%s%d", "/dev/%d/%d", "/dev/ttyS%"})
        EXPECT_FALSE(FormatComPath(pszPattern, 1, strPath)) << pszPattern;
    EXPECT_EQ(strPath, "kept");
}

// The wrapper as COM3, on a board on a pseudo-terminal.
class SerialPort : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setenv("KELVARD_COM_PATTERN", m_dir.ComPattern().c_str(), 1);
        ASSERT_TRUE(m_dir.ComLink(3, m_board.SlavePath()));
        ASSERT_EQ(m_port.Open(), 0);
    }

    CTempDir m_dir;
    CSimSerialBoard m_board;
    CSerial m_port{"COM3", 9600, 0, 8, 0};
};

TEST_F(SerialPort, WritesGoOutWholeOnlyWhenTheyFitTheTransmitQueue)
{
    const std::string strTooLong(256, 'x');
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(m_port.WriteString(strTooLong.c_str()), 0);
    EXPECT_EQ(m_port.Write(reinterpret_cast<const std::uint8_t*>(strTooLong.data()), 256), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms) << "refused at once, never fits";
    EXPECT_EQ(m_port.Write(reinterpret_cast<const std::uint8_t*>("y"), -1), 0);
    EXPECT_EQ(m_port.WriteString(nullptr), 0);
    const std::string strLongest = std::string(254, 'z') + "\n";
    EXPECT_EQ(m_port.WriteString(strLongest.c_str()), 255);
    EXPECT_EQ(m_port.WriteString("end\n"), 4);
    ASSERT_TRUE(m_board.WaitLines(2, 2s));
    EXPECT_EQ(m_board.Lines(), (std::vector<std::string>{strLongest, "end\n"}))
        << "nothing of the refused writes went out";
}

// A board that stops reading: the line that no longer fits waits for room, then reports 0; the
// board, reading again, sees whole lines only (the end of a line cut short goes before the next).
TEST_F(SerialPort, ALineThatCannotBeQueuedInTimeReportsZeroAndTheBoardSeesWholeLines)
{
    m_board.SetReading(false);
    std::size_t nWritten = 0;
    const std::string strLine = "C,0,255,15,0\n"; // 13 characters: the terminal fills up mid-line
    while (nWritten < 100000 && m_port.WriteString(strLine.c_str()) == 13)
        ++nWritten;
    EXPECT_GT(nWritten, 0u);
    EXPECT_LT(nWritten, 100000u) << "the terminal never filled up";
    m_board.SetReading(true);
    EXPECT_EQ(m_port.WriteString("C,9,9,9,0\n"), 10) << "waits while the board catches up";
    ASSERT_TRUE(m_board.WaitLines(1, 2s));
    for (auto deadline = std::chrono::steady_clock::now() + 5s;
         m_board.Lines().back() != "C,9,9,9,0\n" && std::chrono::steady_clock::now() < deadline;)
        std::this_thread::sleep_for(10ms);
    const std::vector<std::string> lines = m_board.Lines();
    EXPECT_EQ(lines.back(), "C,9,9,9,0\n");
    EXPECT_LE(lines.size(), nWritten + 2);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), strLine) + 1,
              static_cast<std::ptrdiff_t>(lines.size()))
        << "only whole lines";
}
