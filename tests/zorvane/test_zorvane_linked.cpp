// The exports linked into the test, on a simulated bus the test controls: failures only a test
// can cause (a board that stops answering, failed transfers), and several threads calling
// exports while another re-enumerates.
#include "zorvane.h"
#include "zorvane/devices/HiddenWnd.h"
#include "zorvane/exports/TheApp.h"
#include "zorvane/exports/ZorvaneApp.h"

#include "tests/support/SimFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>

using namespace std::chrono_literals;

namespace
{
std::string TakeError()
{
    char szText[64] = "untouched";
    GetBitIOError(szText, sizeof szText);
    return szText;
}
} // namespace

class ZorvaneLinkedTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Names that are no USB board become COM ports: keep them off the host's real ones.
        setenv("KELVARD_COM_PATTERN", "/nonexistent/ttyKV%d", 1);
        // The library's own object, restarted so every test begins with empty tables.
        TheZorvaneApp().ExitInstance();
        ASSERT_TRUE(TheZorvaneApp().InitInstance());
        TakeError();
    }
    void TearDown() override { TheZorvaneApp().ExitInstance(); }

    CSimFixture m_sim;
};

TEST_F(ZorvaneLinkedTest, ReadOfABoardThatStoppedAnsweringGivesTheStaleValue)
{
    auto pBoard = m_sim.Plug(SimBoardConfig().Id(7));
    {
        // Filled without arming: the unplug below is no notice, the board merely stops answering.
        std::lock_guard lock(TheZorvaneApp().Mutex());
        TheZorvaneApp().EnumerateDevices();
    }
    ASSERT_EQ(ConfigurePortsEx("7", 0, 0, 0, 0, 0, 0), 1);
    ASSERT_EQ(WriteBytePortB("7", 0x22), 1);
    std::uint8_t byValue = 0;
    ASSERT_EQ(ReadBytePortB("7", &byValue), 1);
    m_sim.Trace();
    m_sim.Bus().Unplug(pBoard);
    byValue = 0;
    EXPECT_EQ(ReadBytePortB("7", &byValue), 0);
    EXPECT_EQ(byValue, 0x22);
    EXPECT_EQ(WriteBytePortA("7", 1), 0);
    EXPECT_EQ(m_sim.Trace(), (Lines{"0 >! 36 00 00 00 00 00", "0 >! 37 01 22 00 00 00"}));
    const char* pszName = GetUsbDeviceID(0);
    EXPECT_STREQ(pszName, "7") << "kept until the next enumeration";
    EXPECT_EQ(Initialize(), 0);
    EXPECT_STREQ(GetUsbDeviceID(0), "");
    EXPECT_STREQ(pszName, "7") << "a name given out outlives its board";
}

TEST_F(ZorvaneLinkedTest, FailedTransfersKeepTheCacheAndOnlyAConfigurationSetsTheErrorText)
{
    auto pBoard = m_sim.Plug(SimBoardConfig().Id(7));
    ASSERT_EQ(Initialize(), 1);
    m_sim.Trace();
    pBoard->InjectFault(ESimFault::Fail, 1);
    EXPECT_EQ(WriteBytePortB("7", 0x5A), 0);
    EXPECT_EQ(WriteBytePortD("7", 0x01), 1);
    EXPECT_EQ(m_sim.Trace(), (Lines{"0 >! 37 00 5a 00 00 00", "0 > 37 00 5a 00 01 00"}));
    EXPECT_EQ(TakeError(), "");
    pBoard->InjectFault(ESimFault::Fail, 1);
    EXPECT_EQ(ConfigurePortsEx("7", 1, 2, 3, 4, 5, 0), 0);
    EXPECT_EQ(TakeError(), "Failed to write configuration");
    pBoard->InjectFault(ESimFault::Timeout, 1);
    EXPECT_EQ(WriteBytePortC("7", 1), 0);
    EXPECT_EQ(TakeError(), "");
}

// Entered, a board that tells no device ID (it left during its walk) would stand as "0".
TEST_F(ZorvaneLinkedTest, ABoardThatDoesNotTellItsIdIsNotEntered)
{
    m_sim.Plug(SimBoardConfig().Id(5))->InjectFault(ESimFault::Fail, 1);
    EXPECT_EQ(Initialize(), 0);
    EXPECT_STREQ(GetUsbDeviceID(0), "");
    EXPECT_EQ(Initialize(), 1);
    EXPECT_STREQ(GetUsbDeviceID(0), "5");
}

// Writers on two ports of a board that stays while another thread plugs and unplugs a second
// board and re-enumerates (by Initialize and by notice): no crash, no use of a deleted board
// (the sanitizer builds watch), and every write arrives, in order. (Exports on boards that
// come and go: test_zorvane_hotplug.)
TEST_F(ZorvaneLinkedTest, ThreadsCallingExportsWhileAnotherReEnumerates)
{
    m_sim.Plug(SimBoardConfig().Id(1));
    auto pComes = m_sim.Plug(SimBoardConfig().Id(2));
    ASSERT_EQ(Initialize(), 2);
    ASSERT_EQ(ConfigurePortsEx("1", 0, 0, 0, 0, 0, 0), 1);
    m_sim.Trace();

    constexpr int WRITES = 2000;
    std::latch start(3);
    std::atomic<bool> bStop{false};
    std::atomic<int> nFailures{0};
    auto writer = [&](auto write)
    {
        start.arrive_and_wait();
        for (int i = 1; i <= WRITES; ++i)
        {
            // Board 1 never leaves the table, so its name stays valid after the call.
            if (write("1", i) != 1 || std::string(GetUsbDeviceID(0)) != "1")
                ++nFailures;
            std::this_thread::yield();
        }
    };
    std::thread writerA(writer, WriteBytePortA);
    std::thread writerB(writer, WriteBytePortB);
    std::thread enumerator(
        [&]
        {
            start.arrive_and_wait();
            for (int i = 0; !bStop; ++i)
            {
                if (i % 2)
                    m_sim.Bus().Unplug(pComes);
                else
                    m_sim.Bus().Replug(pComes);
                if (i % 3)
                    TheZorvaneApp().GetHiddenWnd()->OnDeviceChange(7, 0);
                else
                    Initialize();
                std::this_thread::sleep_for(100us);
            }
        });
    writerA.join();
    writerB.join();
    bStop = true;
    enumerator.join();

    EXPECT_EQ(nFailures, 0);
    Lines writes;
    for (const std::string& strLine : m_sim.Trace())
        if (strLine.rfind("0 > 37 ", 0) == 0)
            writes.push_back(strLine);
    ASSERT_EQ(writes.size(), 2u * WRITES);
    EXPECT_EQ(writes.back().substr(0, 12), "0 > 37 d0 d0")
        << "the last packet carries both final values";
    int nLastA = 0;
    int nLastB = 0;
    for (const std::string& strLine : writes)
    {
        const int nA = std::stoi(strLine.substr(7, 2), nullptr, 16);
        const int nB = std::stoi(strLine.substr(10, 2), nullptr, 16);
        EXPECT_TRUE(nA == nLastA || nA == (nLastA + 1) % 256) << strLine;
        EXPECT_TRUE(nB == nLastB || nB == (nLastB + 1) % 256) << strLine;
        nLastA = nA;
        nLastB = nB;
    }
}
