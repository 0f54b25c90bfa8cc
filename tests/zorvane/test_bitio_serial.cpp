// A COM-port board as the library drives it, below the exports: the plain CBitIO on a board on
// a pseudo-terminal. Its caches, the replies the input exchange copes with, and devices whose
// port did not open or that have none. (Lines, results and timing: test_zorvane_com_exports.)
#include "TempDir.h"

#include "devices/BitIO.h"

#include "SimSerialBoard.h"

#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

namespace
{
std::array<int, 3> Ports(const CBitIO& device)
{
    return {device.m_byPortA, device.m_byPortB, device.m_byPortC};
}
} // namespace

class BitIOSerialTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_board.IsReady());
        setenv("KELVARD_COM_PATTERN", m_dir.ComPattern().c_str(), 1);
        ASSERT_TRUE(m_dir.ComLink(3, m_board.SlavePath()));
        ASSERT_EQ(m_device.Open(), 1);
    }
    void TearDown() override { unsetenv("KELVARD_COM_PATTERN"); }

    CTempDir m_dir;
    CSimSerialBoard m_board;
    CBitIO m_device{"COM3"};
};

TEST_F(BitIOSerialTest, FreshDeviceHoldsZeroPortsAndInputDirections)
{
    EXPECT_EQ(Ports(m_device), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(m_device.m_byDirA, 0xFF);
    EXPECT_EQ(m_device.m_byDirB, 0xFF);
    EXPECT_EQ(m_device.m_byDirC, 0xFF);
    EXPECT_EQ(m_device.m_byInvA | m_device.m_byInvB | m_device.m_byInvC, 0);
    ASSERT_NE(m_device.m_pSerial, nullptr);
    EXPECT_TRUE(m_board.Lines().empty()) << "nothing is sent at creation";
}

TEST_F(BitIOSerialTest, ReplyFromThePinModelWithCarriageReturn)
{
    m_board.SetReplyTag("X").SetInputs('A', 1).SetInputs('B', 2).SetInputs('C', 3);
    m_board.SetReplyText("X,1,2,3\r\n");
    std::uint8_t byA = 0, byB = 0, byC = 0, byD = 9, byE = 9;
    EXPECT_EQ(m_device.ReadAllPorts(&byA, &byB, &byC, &byD, &byE), 1);
    EXPECT_EQ((std::array<int, 5>{byA, byB, byC, byD, byE}), (std::array<int, 5>{1, 2, 3, 0, 0}));
    m_board.SetReplyText(std::nullopt).SetReplyTag("I");
    EXPECT_EQ(m_device.ConfigurePorts(0x0F, 0xFF, 0x00, 0), 13);
    EXPECT_EQ(m_device.WriteBytePortC(0xA5), 0);
    EXPECT_EQ(m_device.WriteBytePortA(0xF0), 0);
    EXPECT_EQ(m_device.ReadBytePorts(&byA, &byB, &byC), 1);
    // A: inputs 0-3 read 1, outputs 4-7 their latch; B all inputs; C all outputs.
    EXPECT_EQ((std::array<int, 3>{byA, byB, byC}), (std::array<int, 3>{0xF1, 2, 0xA5}));
}

TEST_F(BitIOSerialTest, LinesThatAreNoReplyAreSkipped)
{
    m_board.SetReplyText("busy\n\nI,4,5,6\n");
    std::uint8_t byValue = 0;
    EXPECT_EQ(m_device.ReadBytePortB(&byValue), 1);
    EXPECT_EQ(byValue, 5);
}

TEST_F(BitIOSerialTest, ReplyWithoutLineEndIsTakenWhenTheWaitEnds)
{
    m_board.SetReplyText("I,9,8,7");
    std::uint8_t byValue = 0;
    EXPECT_EQ(m_device.ReadBytePortA(&byValue), 1);
    EXPECT_EQ(Ports(m_device), (std::array<int, 3>{9, 8, 7}));
}

TEST_F(BitIOSerialTest, StaleReplyIsParsedByTheNextInputExchange)
{
    m_board.SetReplyText("I,1,2,3\n").SetReplyDelay(800ms);
    EXPECT_EQ(m_device.ReadBytePortA(nullptr), 0);
    ASSERT_TRUE(m_board.WaitHostPending(8, 3s));
    m_board.SetReplyText("I,4,5,6\n").SetReplyDelay(0ms);
    std::uint8_t byValue = 0;
    EXPECT_EQ(m_device.ReadBytePortA(&byValue), 1);
    EXPECT_EQ(byValue, 1) << "the reply that waited is the one read";
}

TEST(BitIOWithoutPort, PortThatDidNotOpenSendsNothingButKeepsTheCachedValues)
{
    CTempDir dir;
    setenv("KELVARD_COM_PATTERN", dir.ComPattern().c_str(), 1);
    CBitIO device("COM5");
    EXPECT_EQ(device.Open(), 0);
    std::uint8_t byValue = 9;
    std::int32_t nValue = 9;
    EXPECT_EQ(device.WriteBytePortB(0x5A), 0);
    EXPECT_EQ(device.WriteBitPortA(1, 1), 0);
    EXPECT_EQ(device.ConfigurePorts(1, 2, 3, 0), 0);
    EXPECT_EQ(device.ConfigurePortsEx(1, 2, 3, 4, 5, 0), 0);
    EXPECT_EQ(device.ReadBytePortA(&byValue), 0);
    EXPECT_EQ(device.ReadBitPortA(1, &nValue), 0);
    EXPECT_EQ(byValue, 9);
    EXPECT_EQ(nValue, 9);
    EXPECT_EQ(Ports(device), (std::array<int, 3>{2, 0x5A, 0}));
    EXPECT_EQ(device.m_byDirC, 3);
    // Opened once in its life: a board that appears later is not reached.
    CSimSerialBoard board;
    ASSERT_TRUE(dir.ComLink(5, board.SlavePath()));
    EXPECT_EQ(device.WriteBytePortA(1), 0);
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(board.Lines().empty());
    unsetenv("KELVARD_COM_PATTERN");
}

TEST(BitIOWithoutPort, DefaultConstructedDeviceAnswersZeroAndLeavesOutputsAlone)
{
    CBitIO device;
    EXPECT_EQ(device.m_pSerial, nullptr);
    std::uint8_t byA = 9, byB = 9, byC = 9;
    std::int32_t nValue = 9;
    EXPECT_EQ(device.Open(), 0);
    EXPECT_EQ(device.WriteBytePortA(1), 0);
    EXPECT_EQ(device.WriteBitPortC(1, 1), 0);
    EXPECT_EQ(device.ConfigurePortsEx(1, 2, 3, 4, 5, 0), 0);
    EXPECT_EQ(device.ReadBytePorts(&byA, &byB, &byC), 0);
    EXPECT_EQ(device.ReadBitPortB(1, &nValue), 0);
    EXPECT_EQ((std::array<int, 4>{byA, byB, byC, nValue}), (std::array<int, 4>{9, 9, 9, 9}));
    EXPECT_EQ(Ports(device), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(device.m_byDirA, 0xFF);
}
