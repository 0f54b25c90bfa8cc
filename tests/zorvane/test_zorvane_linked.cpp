// The exports linked into the test, for what only a test that holds the bus and the library's
// object can cause: a board that stops answering, and the library following plug and unplug by
// itself (the device-change watch that Initialize connects, its one thread, its end at
// ExitInstance, exports called from several threads while boards come and go thousands of
// times; also run under ThreadSanitizer).
#include "tests/zorvane/LinkedZorvane.h"
#include "tests/zorvane/ThreadCount.h"

#include "zorvane/devices/HiddenWnd.h"

#include "protocol/DeviceWatch.h"

#include <atomic>
#include <future>
#include <latch>
#include <thread>

using namespace std::chrono_literals;

class ZorvaneLinkedTest : public ::testing::Test
{
protected:
    // The table once the watch's thread has handled every change so far.
    Lines ListedOnceSettled()
    {
        m_sim.Context()->Watch().Flush();
        return CLinkedZorvane::Listed();
    }

    CLinkedZorvane m_sim;
    const int m_nThreadsBefore = ThreadCount();
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

TEST_F(ZorvaneLinkedTest, OnlyEventSevenIsFollowedAndOnlyOnceArmed)
{
    std::uint8_t byValue = 0;
    EXPECT_EQ(ReadBytePortA("5", &byValue), 0); // calls other than Initialize arm nothing
    auto pFive = m_sim.Plug(SimBoardConfig().Id(5));
    CHiddenWnd* pWnd = TheZorvaneApp().GetHiddenWnd();
    EXPECT_EQ(pWnd->OnDeviceChange(DBT_DEVNODES_CHANGED, 0), 0);
    EXPECT_TRUE(ListedOnceSettled().empty());
    EXPECT_TRUE(m_sim.Trace().empty()) << "nobody asked the board anything";

    m_sim.Bus().Unplug(pFive);
    ASSERT_EQ(Initialize(), 0);
    pWnd->DestroyWindow(); // from here on, only the notices sent below
    m_sim.Bus().Replug(pFive);
    EXPECT_EQ(pWnd->OnDeviceChange(0x8000, 0), 0);
    EXPECT_EQ(pWnd->OnDeviceChange(0x8004, 0x1234), 0);
    EXPECT_TRUE(CLinkedZorvane::Listed().empty()) << "arrival and removal notices change nothing";
    EXPECT_EQ(pWnd->OnDeviceChange(7, 0), 0);
    EXPECT_EQ(CLinkedZorvane::Listed(), (Lines{"5"}));
}

TEST_F(ZorvaneLinkedTest, AfterOneInitializePlugAndUnplugAreFollowedWithNoFurtherCall)
{
    ASSERT_EQ(Initialize(), 0);
    auto pFive = m_sim.Plug(SimBoardConfig().Id(5));
    EXPECT_EQ(ListedOnceSettled(), (Lines{"5"}));
    auto pNine = m_sim.Plug(SimBoardConfig().Id(9));
    EXPECT_EQ(ListedOnceSettled(), (Lines{"5", "9"}));
    m_sim.Bus().Unplug(pFive);
    EXPECT_EQ(ListedOnceSettled(), (Lines{"9"}));
    EXPECT_EQ(WriteBytePortB("9", 0x5A), 1);
    m_sim.Bus().Replug(pFive);
    EXPECT_EQ(ListedOnceSettled(), (Lines{"5", "9"}));
    EXPECT_EQ(pNine->Pins().byLatch[PORT_B], 0x5A);

    EXPECT_EQ(Initialize(), 2);
    m_sim.Restart();
    m_sim.Bus().Unplug(pNine);
    EXPECT_TRUE(ListedOnceSettled().empty()) << "a new life starts unarmed";
}

// A notice waiting for the lock while the library ends: ExitInstance lets it finish instead of
// holding the lock that it waits for.
TEST_F(ZorvaneLinkedTest, EndOfLifeWhileANoticeWaitsForTheLock)
{
    ASSERT_EQ(Initialize(), 0);
    std::promise<void> ended;
    std::thread ender;
    {
        std::lock_guard lock(TheZorvaneApp().Mutex());
        m_sim.Plug(SimBoardConfig().Id(5));
        std::this_thread::sleep_for(20ms); // the watch's thread is now blocked on the lock
        ender = std::thread(
            [&]
            {
                TheZorvaneApp().ExitInstance();
                ended.set_value();
            });
        std::this_thread::sleep_for(20ms);
    }
    if (ended.get_future().wait_for(5s) != std::future_status::ready)
    {
        ADD_FAILURE() << "ExitInstance deadlocked with the watch's thread";
        std::_Exit(1);
    }
    ender.join();
    EXPECT_EQ(ThreadCount(), m_nThreadsBefore);
    EXPECT_EQ(TheZorvaneApp().GetHiddenWnd(), nullptr);
    m_sim.Restart();
}

// Three threads work two boards that stay (ports, virtual ports) and two that come and go,
// while the test unplugs and re-plugs those two thousands of times, each a notice that the
// watch's thread turns into an enumeration. No crash and no use of a deleted board (the
// sanitizer builds watch), every result one the export documents, every call on a board that
// stays succeeds, the last write of each port arrives, and the table followed the storm.
TEST_F(ZorvaneLinkedTest, ExportsStayCorrectWhileBoardsComeAndGoThousandsOfTimes)
{
    m_sim.Bus().CaptureTrace(false);
    // The board in front shifts the instance numbers of all the others as it comes and goes.
    auto pFront = m_sim.Plug(SimBoardConfig().Id(3));
    auto pOne = m_sim.Plug(SimBoardConfig().Id(1));
    auto pTwo = m_sim.Plug(SimBoardConfig().Id(2));
    auto pBack = m_sim.Plug(SimBoardConfig().Id(4));
    ASSERT_EQ(Initialize(), 4);
    ASSERT_EQ(ConfigurePortsEx("1", 0, 0, 0, 0, 0, 0), 1);
    ASSERT_EQ(ConfigurePortsEx("2", 0, 0, 0, 0, 0, 0), 1);

    constexpr int CHANGES = 4000;
    constexpr int WORKERS = 3;
    constexpr std::array WRITES{WriteBytePortA, WriteBytePortB, WriteBytePortC};
    constexpr std::array READS{ReadBytePortA, ReadBytePortB, ReadBytePortC};
    std::latch start(WORKERS + 1);
    std::atomic<bool> bStop{false};
    std::atomic<int> nStayingFailures{0};
    std::atomic<int> nUndocumented{0};
    std::array<int, WORKERS> nLastWritten{};
    auto upTo = [&](int32_t nResult, int32_t nMax)
    { nUndocumented += nResult < 0 || nResult > nMax; };
    auto worker = [&](std::size_t k)
    {
        const std::string strField = "w" + std::to_string(k);
        const char* pszField = strField.c_str();
        const int nPin = static_cast<int>(k);
        start.arrive_and_wait();
        for (int i = 1; !bStop; ++i)
        {
            const int nValue = (i * 7 + nPin) & 0xFF;
            std::uint8_t byValue = 0;
            // The boards that stay: every call succeeds. Each worker has its own port and pin.
            for (const char* pszName : {"1", "2"})
            {
                const int nDevice = pszName[0] - '0';
                if (WRITES[k](pszName, nValue) != 1 || READS[k](pszName, &byValue) != 1 ||
                    byValue != nValue || AddVirtualPort(nDevice, pszField, 24 + nPin, 1, 0) != 0 ||
                    WriteVirtualPort(nDevice, pszField, 1) != 0 ||
                    RemoveVirtualPort(nDevice, pszField) != 1)
                    ++nStayingFailures;
            }
            nLastWritten[k] = nValue;
            // The boards that come and go: whatever the table holds at the moment.
            for (const char* pszName : {"3", "4"})
            {
                const int nDevice = pszName[0] - '0';
                int32_t nIgnored = 0;
                upTo(WRITES[k](pszName, nValue), 1);
                upTo(READS[k](pszName, &byValue), 1);
                upTo(ReadBytePortE(pszName, &byValue), 1);
                upTo(ConfigurePortsEx(pszName, 0, 0, 0, 0, 0, 0), 1);
                upTo(AddVirtualPort(nDevice, pszField, 16 + nPin, 1, 0), 3);
                upTo(WriteVirtualPort(nDevice, pszField, 1), 0);
                upTo(ReadVirtualPort(nDevice, pszField, &nIgnored), 0);
                upTo(RemoveVirtualPort(nDevice, pszField), 1);
                upTo(RemoveAllVirtualPorts(nDevice), 0);
            }
            const Lines listed = CLinkedZorvane::Listed();
            if (std::count(listed.begin(), listed.end(), "1") != 1 ||
                std::count(listed.begin(), listed.end(), "2") != 1)
                ++nStayingFailures;
        }
    };
    std::vector<std::thread> workers;
    for (std::size_t k = 0; k < WORKERS; ++k)
        workers.emplace_back(worker, k);
    start.arrive_and_wait();
    Lines midway;
    for (int i = 0; i < CHANGES; ++i)
    {
        auto& pBoard = i % 4 < 2 ? pFront : pBack;
        if (i % 2 == 0)
            m_sim.Bus().Unplug(pBoard);
        else
            m_sim.Bus().Replug(pBoard);
        if (i == CHANGES / 2)
            midway = ListedOnceSettled(); // the front board just left, the back one is there
        else if (i % 64 == 0)
            std::this_thread::sleep_for(1ms); // now and then let the notices catch up
        if (i % 256 == 128)
            Initialize(); // an enumeration of the caller's own, under the same lock
    }
    m_sim.Bus().Unplug(pBack);
    m_sim.Context()->Watch().Flush();
    bStop = true;
    for (std::thread& thread : workers)
        thread.join();

    EXPECT_EQ(nStayingFailures, 0);
    EXPECT_EQ(nUndocumented, 0);
    EXPECT_EQ(midway, (Lines{"1", "2", "4"})) << "followed while the threads ran";
    EXPECT_EQ(CLinkedZorvane::Listed(), (Lines{"1", "2", "3"})) << "the last change was followed";
    for (const auto& pBoard : {pOne, pTwo})
        for (std::size_t k = 0; k < WORKERS; ++k)
            EXPECT_EQ(pBoard->Pins().byLatch[k], nLastWritten[k]);
}
