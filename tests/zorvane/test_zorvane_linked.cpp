// The exports linked into the test, on a simulated bus the test controls: failures that only a
// test can cause (a board that stops answering, a failed write), the device-change window, and
// several threads calling exports while another re-enumerates.
#include "devices/HiddenWnd.h"
#include "exports/TheApp.h"
#include "exports/ZorvaneApp.h"
#include "zorvane.h"

#include "SimFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
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
        // The table filled without arming: the unplug below is then no notice, and the board
        // stays in the table as one that merely stopped answering.
        std::lock_guard lock(TheZorvaneApp().Mutex());
        TheZorvaneApp().EnumerateDevices();
    }
    ASSERT_EQ(ConfigurePortsEx("7", 0, 0, 0, 0, 0, 0), 1);
    ASSERT_EQ(WriteBytePortB("7", 0x22), 1);
    std::uint8_t byValue = 0;
    ASSERT_EQ(ReadBytePortB("7", &byValue), 1);
    ASSERT_EQ(byValue, 0x22);
    m_sim.Trace();
    m_sim.Bus().Unplug(pBoard);
    byValue = 0;
    EXPECT_EQ(ReadBytePortB("7", &byValue), 0);
    EXPECT_EQ(byValue, 0x22);
    EXPECT_EQ(WriteBytePortA("7", 1), 0);
    EXPECT_EQ(m_sim.Trace(), (Lines{"0 >! 36 00 00 00 00 00", "0 >! 37 01 22 00 00 00"}));
    EXPECT_EQ(GetUsbDeviceID(0), std::string("7")) << "kept until the next enumeration";
    EXPECT_EQ(Initialize(), 0);
    EXPECT_STREQ(GetUsbDeviceID(0), "");
}

TEST_F(ZorvaneLinkedTest, FailedConfigurationWriteSetsTheErrorText)
{
    auto pBoard = m_sim.Plug(SimBoardConfig().Id(7));
    ASSERT_EQ(Initialize(), 1);
    pBoard->InjectFault(ESimFault::Fail, 1);
    EXPECT_EQ(ConfigurePortsEx("7", 1, 2, 3, 4, 5, 0), 0);
    EXPECT_EQ(TakeError(), "Failed to write configuration");
    pBoard->InjectFault(ESimFault::Timeout, 1);
    EXPECT_EQ(WriteBytePortC("7", 1), 0);
    EXPECT_EQ(TakeError(), "") << "other failures leave no text";
}

// Writers on two ports of a board that stays, a thread that reads it and works a board that
// comes and goes, and one thread that keeps re-enumerating: no crash, no use of a deleted board
// (the sanitizer build watches), and every write to the board that stays arrives, in order,
// with the other writer's latest value beside it.
TEST_F(ZorvaneLinkedTest, ThreadsCallingExportsWhileAnotherReEnumerates)
{
    auto pStays = m_sim.Plug(SimBoardConfig().Id(1));
    auto pComes = m_sim.Plug(SimBoardConfig().Id(2));
    ASSERT_EQ(Initialize(), 2);
    // Every pin an output: a read then returns the latches, the values last written.
    ASSERT_EQ(ConfigurePortsEx("1", 0, 0, 0, 0, 0, 0), 1);
    m_sim.Trace();

    constexpr int WRITES = 2000;
    std::latch start(4);
    std::atomic<bool> bStop{false};
    std::atomic<int> nFailedWrites{0};
    std::atomic<int> nWrongNames{0};
    auto writer = [&](auto write) {
        start.arrive_and_wait();
        for (int i = 1; i <= WRITES; ++i)
        {
            if (write("1", i) != 1)
                ++nFailedWrites;
            std::this_thread::yield(); // let the others in between
        }
    };
    std::thread writerA(writer, WriteBytePortA);
    std::thread writerB(writer, WriteBytePortB);
    std::thread other([&] {
        start.arrive_and_wait();
        std::uint8_t byValue = 0;
        CStringArray names;
        while (!bStop)
        {
            WriteBytePortC("2", 3);
            ReadBytePortA("2", &byValue);
            AddVirtualPort(2, "f", 0, 4, 0);
            WriteVirtualPort(2, "f", 5);
            RemoveAllVirtualPorts(2);
            names.RemoveAll();
            ListUsbDevices(&names);
            // Board 1 never leaves the table, so its name stays valid after the call.
            if (std::string(GetUsbDeviceID(0)) != "1")
                ++nWrongNames;
            ReadBytePortE("1", &byValue);
        }
    });
    std::thread enumerator([&] {
        CHiddenWnd* pWnd = TheZorvaneApp().GetHiddenWnd();
        start.arrive_and_wait();
        for (int i = 0; !bStop; ++i)
        {
            if (i % 2)
                m_sim.Bus().Unplug(pComes);
            else
                m_sim.Bus().Replug(pComes);
            if (i % 3)
                pWnd->OnDeviceChange(7, 0);
            else
                Initialize();
            std::this_thread::sleep_for(100us);
        }
    });
    writerA.join();
    writerB.join();
    bStop = true;
    other.join();
    enumerator.join();

    EXPECT_EQ(nFailedWrites, 0);
    EXPECT_EQ(nWrongNames, 0);
    Lines writes;
    const Lines all = m_sim.Trace();
    if (std::getenv("DUMP_TRACE"))
        for (const std::string& strLine : all)
            std::fprintf(stderr, "%s\n", strLine.c_str());
    for (const std::string& strLine : all)
        if (strLine.rfind("0 > 37 ", 0) == 0)
            writes.push_back(strLine);
    EXPECT_EQ(writes.size(), 2u * WRITES);
    ASSERT_FALSE(writes.empty());
    char szFinal[16];
    std::snprintf(szFinal, sizeof szFinal, "0 > 37 %02x %02x", WRITES % 256, WRITES % 256);
    EXPECT_EQ(writes.back().substr(0, 12), szFinal) << "the last packet carries both final values";
    EXPECT_EQ(pStays->Pins().byLatch[PORT_A], WRITES % 256);
    EXPECT_EQ(pStays->Pins().byLatch[PORT_B], WRITES % 256);
    // Each writer's values arrive in order.
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
