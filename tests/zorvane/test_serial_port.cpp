// The COM port wrapper on a pseudo-terminal: which node a name opens, the line it sets up, the
// exclusive open, reads that never wait, the transmit-room rule, and a port that cannot open.
#include "TempDir.h"

#include "serial/Serial.h"

#include "SimSerialBoard.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

class SerialPortTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_board.IsReady());
        setenv("KELVARD_COM_PATTERN", m_dir.ComPattern().c_str(), 1);
        ASSERT_TRUE(m_dir.ComLink(3, m_board.SlavePath()));
    }
    void TearDown() override { unsetenv("KELVARD_COM_PATTERN"); }

    static CSerial MakePort(const char* pszName) { return CSerial(pszName, 9600, 0, 8, 0); }

    CTempDir m_dir;
    CSimSerialBoard m_board{true}; // starts cooked: the wrapper must set the line up itself
};

TEST_F(SerialPortTest, NameGivesThePortNumberAndThePatternItsNode)
{
    std::size_t nLines = 0;
    for (const char* pszName : {"COM3", "com3", "Com3", "3"})
    {
        CSerial port(pszName, 9600, 0, 8, 0);
        EXPECT_EQ(port.GetPort(), 3) << pszName;
        EXPECT_EQ(port.Open(), 0) << pszName;
        EXPECT_EQ(port.WriteString(pszName), static_cast<std::int32_t>(std::strlen(pszName)));
        EXPECT_EQ(port.WriteString("\n"), 1);
        // Opening discards what is still queued: let the board take each line first.
        ASSERT_TRUE(m_board.WaitLines(++nLines, 2s)) << pszName;
    }
    EXPECT_EQ(m_board.Lines(), (Lines{"COM3\n", "com3\n", "Com3\n", "3\n"}));

    CSimSerialBoard board10;
    ASSERT_TRUE(m_dir.ComLink(10, board10.SlavePath()));
    CSerial port10("COM10", 9600, 0, 8, 0);
    EXPECT_EQ(port10.Open(), 0);
    EXPECT_EQ(port10.WriteString("ten\n"), 4);
    ASSERT_TRUE(board10.WaitLines(1, 2s));
    EXPECT_EQ(board10.Lines(), (Lines{"ten\n"}));
}

TEST_F(SerialPortTest, OpenSetsARaw9600EightNoneOneLineWithoutFlowControl)
{
    CSerial port = MakePort("COM3");
    ASSERT_EQ(port.Open(), 0);
    termios tio{};
    ASSERT_TRUE(m_board.LineSettings(tio));
    EXPECT_EQ(cfgetispeed(&tio), B9600);
    EXPECT_EQ(cfgetospeed(&tio), B9600);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY | ICRNL), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);

    // The bytes go through as they are: no "\r\n" for "\n", no echo of what the board sends.
    EXPECT_EQ(port.WriteString("O,1,2,3\n"), 8);
    ASSERT_TRUE(m_board.WaitLines(1, 2s));
    m_board.Send("I,1,2,3\r\n");
    ASSERT_TRUE(m_board.WaitHostPending(9, 2s));
    std::uint8_t byReply[64] = {};
    ASSERT_EQ(port.Read(byReply, 64), 9);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(byReply), 9), "I,1,2,3\r\n");
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(m_board.Lines(), (Lines{"O,1,2,3\n"}));
}

TEST_F(SerialPortTest, OpenTakesOtherLineSettingsAsConstructed)
{
    CSerial port("COM3", 19200, 2, 7, 2);
    ASSERT_EQ(port.Open(), 0);
    termios tio{};
    ASSERT_TRUE(m_board.LineSettings(tio));
    EXPECT_EQ(cfgetospeed(&tio), B19200);
    EXPECT_EQ(tio.c_cflag & CSTOPB, static_cast<tcflag_t>(CSTOPB));
    // A pseudo-terminal has no character framing: it keeps 8 bits without parity whatever is set.

    CSimSerialBoard board4;
    ASSERT_TRUE(m_dir.ComLink(4, board4.SlavePath()));
    CSerial odd("COM4", 1234, 1, 8, 0);
    EXPECT_EQ(odd.Open(), EINVAL) << "a baud rate the host has no code for";
    EXPECT_TRUE(odd.IsOpen()) << "the port stays open with the settings it has";
}

TEST_F(SerialPortTest, SecondOpenerOfAPortIsRefusedUntilTheFirstCloses)
{
    auto pFirst = std::make_unique<CSerial>("COM3", 9600, 0, 8, 0);
    ASSERT_EQ(pFirst->Open(), 0);
    CSerial second = MakePort("3");
    EXPECT_EQ(second.Open(), EBUSY);
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(second.WriteString("lost\n"), 0);
    EXPECT_EQ(pFirst->WriteString("kept\n"), 5);
    ASSERT_TRUE(m_board.WaitLines(1, 2s));
    pFirst.reset();
    CSerial third = MakePort("COM3");
    EXPECT_EQ(third.Open(), 0);
    EXPECT_EQ(third.WriteString("again\n"), 6);
    ASSERT_TRUE(m_board.WaitLines(2, 2s));
    EXPECT_EQ(m_board.Lines(), (Lines{"kept\n", "again\n"}));
}

TEST_F(SerialPortTest, PortThatCannotOpenAnswersZeroEverywhere)
{
    CSerial missing = MakePort("COM7"); // no node behind it
    EXPECT_EQ(missing.Open(), ENOENT);
    CSerial portZero = MakePort("COMX");
    EXPECT_EQ(portZero.GetPort(), 0);
    EXPECT_EQ(portZero.Open(), ENOENT);
    for (CSerial* pPort : {&missing, &portZero})
    {
        EXPECT_FALSE(pPort->IsOpen());
        EXPECT_EQ(pPort->WriteString("O,1,2,3\n"), 0);
        const std::uint8_t byData[2] = {1, 2};
        EXPECT_EQ(pPort->Write(byData, 2), 0);
        std::uint8_t byBuffer[8] = {};
        EXPECT_EQ(pPort->Read(byBuffer, 8), 0);
        std::int32_t nCount = 99;
        EXPECT_EQ(pPort->GetInQueue(&nCount), 0);
        EXPECT_EQ(nCount, 0);
        EXPECT_EQ(pPort->CanWrite(1), 0);
        EXPECT_FALSE(pPort->WaitForInput(10));
        EXPECT_EQ(pPort->ReadPending(), 1);
        EXPECT_EQ(pPort->IsStopping(), 0);
    }
}

TEST_F(SerialPortTest, ReadTakesOnlyWhatHasArrived)
{
    CSerial port = MakePort("COM3");
    ASSERT_EQ(port.Open(), 0);
    std::uint8_t byBuffer[64] = {};
    std::int32_t nCount = 99;
    EXPECT_EQ(port.Read(byBuffer, 64), 0);
    EXPECT_EQ(port.GetInQueue(&nCount), 0);
    EXPECT_EQ(nCount, 0);

    m_board.Send("abcde");
    ASSERT_TRUE(m_board.WaitHostPending(5, 2s));
    EXPECT_EQ(port.GetInQueue(&nCount), 1);
    EXPECT_EQ(nCount, 5);
    EXPECT_EQ(port.Read(byBuffer, 3), 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(byBuffer), 3), "abc");
    EXPECT_EQ(port.GetInQueue(&nCount), 1);
    EXPECT_EQ(nCount, 2);
    EXPECT_EQ(port.Read(byBuffer, 64), 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(byBuffer), 2), "de");
    EXPECT_EQ(port.Read(byBuffer, 0), 0);
    EXPECT_EQ(port.Read(nullptr, 4), 0);
}

TEST_F(SerialPortTest, WritesGoOutWholeOnlyWhenTheyFitTheTransmitQueue)
{
    CSerial port = MakePort("COM3");
    ASSERT_EQ(port.Open(), 0);
    EXPECT_EQ(port.CanWrite(255), 1);
    EXPECT_EQ(port.CanWrite(256), 0);
    const std::string strTooLong(256, 'x');
    EXPECT_EQ(port.WriteString(strTooLong.c_str()), 0);
    EXPECT_EQ(port.Write(reinterpret_cast<const std::uint8_t*>(strTooLong.data()), 256), 0);
    EXPECT_EQ(port.WriteString(""), 0);
    EXPECT_EQ(port.Write(reinterpret_cast<const std::uint8_t*>("y"), 0), 0);
    EXPECT_EQ(port.Write(reinterpret_cast<const std::uint8_t*>("y"), -1), 0);
    EXPECT_EQ(port.WriteString(nullptr), 0);
    const std::string strLongest = std::string(254, 'z') + "\n";
    EXPECT_EQ(port.WriteString(strLongest.c_str()), 255);
    EXPECT_EQ(port.WriteString("end\n"), 4);
    ASSERT_TRUE(m_board.WaitLines(2, 2s));
    EXPECT_EQ(m_board.Lines(), (Lines{strLongest, "end\n"})) << "nothing of the refused writes went out";
}

TEST_F(SerialPortTest, WaitForInputSleepsUntilBytesArriveOrTheTimeIsUp)
{
    CSerial port = MakePort("COM3");
    ASSERT_EQ(port.Open(), 0);
    EXPECT_FALSE(port.WaitForInput(30));
    m_board.SetReplyDelay(100ms);
    EXPECT_EQ(port.WriteString("I\n"), 2);
    EXPECT_TRUE(port.WaitForInput(5000));
    std::int32_t nCount = 0;
    EXPECT_EQ(port.GetInQueue(&nCount), 1);
    EXPECT_GT(nCount, 0);
}

