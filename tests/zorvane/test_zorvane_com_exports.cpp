// COM-port boards through the exports of the loaded library, for what takes time or a board's
// own doing: the line as the library sets it up, and boards that answer late, in pieces, never,
// or unasked. (The exact line of every operation, the results and the cached values:
// golden/exports.txt; a port let go when the library unloads: test_zorvane_unload.)
#include "tests/zorvane/LoadedZorvane.h"

#include "sim/SimSerialBoard.h"

#include <ctime>
#include <thread>
#include <tuple>

using namespace std::chrono_literals;

class ZorvaneComPortTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_lib.IsLoaded());
        ASSERT_TRUE(m_board.IsReady());
        ASSERT_TRUE(m_lib.Dir().ComLink(3, m_board.SlavePath()));
    }

    Lines LinesOnceThere(std::size_t nCount)
    {
        EXPECT_TRUE(m_board.WaitLines(nCount, 2s));
        return m_board.TakeLines();
    }

    CLoadedZorvane m_lib{""};
    CSimSerialBoard m_board{true}; // cooked (echo, "\r\n", XON/XOFF) until the library sets it up
};

// The line as the library leaves it: raw 9600 8N1, no flow control.
TEST_F(ZorvaneComPortTest, TheLibrarySetsTheLineUp)
{
    EXPECT_EQ(m_lib.WriteBytePortB("COM3", 0x5A), 0);
    EXPECT_EQ(LinesOnceThere(1), (Lines{"O,0,90,0\n"}));
    termios tio{};
    ASSERT_TRUE(m_board.LineSettings(tio));
    EXPECT_EQ(cfgetispeed(&tio), B9600);
    EXPECT_EQ(cfgetospeed(&tio), B9600);
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | CREAD | CLOCAL),
              static_cast<tcflag_t>(CS8 | CREAD | CLOCAL));
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY | ICRNL), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
}

// Late and in pieces, lines that are no reply first, another tag with "\r\n", and no line end
// at all: taken once the line is quiet, long before the bound (500 ms). A line that a USB-serial
// adapter hands over in pieces 20 ms apart is read whole ("I,12,34,25" then "5\n").
TEST_F(ZorvaneComPortTest, RepliesThatComeLateInPiecesOrUntidyAreRead)
{
    for (auto [pszReply, delay, nPieces, pause, nPortC] :
         {std::tuple{"I,1,2,3\n", 100ms, 4u, 50ms, 3},
          std::tuple{"busy\n\nI,4,5,6\n", 0ms, 1u, 0ms, 6},
          std::tuple{"X,7,8,9\r\n", 0ms, 1u, 0ms, 9}, std::tuple{"I,9,8,7", 0ms, 1u, 0ms, 7},
          std::tuple{"I,3,2,1", 0ms, 4u, 50ms, 1}, std::tuple{"I,12,34,255\n", 0ms, 6u, 20ms, 255}})
    {
        m_board.SetReplyText(pszReply).SetReplyDelay(delay).SetReplyPieces(nPieces, pause);
        std::uint8_t byValue = 0;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(m_lib.ReadBytePortC("COM3", &byValue), 1) << pszReply;
        EXPECT_LT(std::chrono::steady_clock::now() - start, delay + (nPieces - 1) * pause + 250ms)
            << pszReply;
        EXPECT_EQ(byValue, nPortC) << pszReply;
    }
}

TEST_F(ZorvaneComPortTest, SilentBoardFailsWithinTheBoundWithoutSpinningAndKeepsTheCache)
{
    m_board.SetSilent(true);
    EXPECT_EQ(m_lib.WriteBytePortA("COM3", 5), 0);
    std::uint8_t byValue = 0x77;
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpuStart = std::clock();
    EXPECT_EQ(m_lib.ReadBytePortA("COM3", &byValue), 0);
    const double dCpuMs = 1000.0 * static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(byValue, 0x77);
    EXPECT_GE(waited, 450ms);
    EXPECT_LT(waited, 5s);
    EXPECT_LT(dCpuMs, 150.0) << "no spinning while waiting";
    EXPECT_EQ(m_lib.WriteBytePortB("COM3", 1), 0);
    EXPECT_EQ(LinesOnceThere(3), (Lines{"O,5,0,0\n", "I\n", "O,5,1,0\n"}))
        << "the failed read changed nothing";
}

// A bit read takes its own reply, which a 9600-baud board sends ~10 ms late, and what came
// before the input request (a reply later than its bound) is never taken for the pins; a write
// still counts what waits.
TEST_F(ZorvaneComPortTest, OnlyAReplyToThisRequestIsTakenForThePins)
{
    m_board.SetInputs('A', 0x11).SetInputs('B', 0x22).SetInputs('C', 0x33).SetReplyDelay(10ms);
    int32_t nValue = 0;
    EXPECT_EQ(m_lib.ReadBitPortB("COM3", 3, &nValue), 1);
    EXPECT_EQ(nValue, 0x31);
    std::uint8_t byA = 0, byB = 0, byC = 0;
    EXPECT_EQ(m_lib.ReadBytePorts("COM3", &byA, &byB, &byC), 1);
    EXPECT_EQ((std::array<int, 3>{byA, byB, byC}), (std::array<int, 3>{0x11, 0x22, 0x33}));

    m_board.SetReplyText("I,1,2,3\n").SetReplyDelay(700ms);
    EXPECT_EQ(m_lib.ReadBytePortA("COM3", &byA), 0);
    ASSERT_TRUE(m_board.WaitHostPending(8, 3s));
    m_board.SetSilent(true);
    EXPECT_EQ(m_lib.ReadBytePortA("COM3", &byA), 0) << "the late reply answers no new request";
    EXPECT_EQ(byA, 0x11);
    m_board.Send("I,4,5,6\n");
    ASSERT_TRUE(m_board.WaitHostPending(8, 3s));
    EXPECT_EQ(m_lib.WriteBytePortA("COM3", 9), 8) << "a write takes what waits";
    EXPECT_EQ(LinesOnceThere(5), (Lines{"PI,B,3\n", "I\n", "I\n", "I\n", "O,9,34,51\n"}));
}
