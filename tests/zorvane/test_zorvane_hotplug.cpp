// The library following plug and unplug by itself: the device-change watch that Initialize
// connects, its one thread, its end at ExitInstance, and exports called from several threads
// while boards come and go thousands of times (also run under ThreadSanitizer).
#include "ThreadCount.h"

#include "devices/HiddenWnd.h"
#include "exports/TheApp.h"
#include "exports/ZorvaneApp.h"
#include "zorvane.h"

#include "DeviceWatch.h"
#include "SimFixture.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <future>
#include <latch>
#include <thread>

using namespace std::chrono_literals;

namespace
{
std::vector<std::string> Listed()
{
    CStringArray names;
    ListUsbDevices(&names);
    std::vector<std::string> listed;
    for (int i = 0; i < names.GetSize(); ++i)
        listed.push_back(names[i]);
    return listed;
}

// The table as the watch's thread leaves it once every change so far was handled.
std::vector<std::string> ListedOnceSettled()
{
    CDeviceWatch::Flush();
    return Listed();
}
} // namespace

class ZorvaneHotplugTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Names that are no USB board become COM ports: keep them off the host's real ones.
        setenv("KELVARD_COM_PATTERN", "/nonexistent/ttyKV%d", 1);
        TheZorvaneApp().ExitInstance();
        ASSERT_TRUE(TheZorvaneApp().InitInstance());
        m_nThreadsBefore = ThreadCount();
    }
    void TearDown() override { TheZorvaneApp().ExitInstance(); }

    CSimFixture m_sim;
    int m_nThreadsBefore = 0;
};

TEST_F(ZorvaneHotplugTest, BeforeInitializeNothingIsFollowedAndNoThreadRuns)
{
    std::uint8_t byValue = 0;
    EXPECT_EQ(ReadBytePortA("5", &byValue), 0);
    m_sim.Plug(SimBoardConfig().Id(5));
    EXPECT_TRUE(ListedOnceSettled().empty());
    EXPECT_EQ(ThreadCount(), m_nThreadsBefore);
    EXPECT_TRUE(m_sim.Trace().empty()) << "nobody asked the board anything";
}

TEST_F(ZorvaneHotplugTest, AfterOneInitializePlugAndUnplugAreFollowedWithNoFurtherCall)
{
    ASSERT_EQ(Initialize(), 0);
    EXPECT_EQ(ThreadCount(), m_nThreadsBefore + 1) << "one watcher thread";
    auto pFive = m_sim.Plug(SimBoardConfig().Id(5));
    EXPECT_EQ(ListedOnceSettled(), (std::vector<std::string>{"5"}));
    auto pNine = m_sim.Plug(SimBoardConfig().Id(9));
    EXPECT_EQ(ListedOnceSettled(), (std::vector<std::string>{"5", "9"}));
    m_sim.Bus().Unplug(pFive);
    EXPECT_EQ(ListedOnceSettled(), (std::vector<std::string>{"9"}));
    EXPECT_EQ(WriteBytePortB("9", 0x5A), 1);
    m_sim.Bus().Replug(pFive);
    EXPECT_EQ(ListedOnceSettled(), (std::vector<std::string>{"5", "9"}));
    EXPECT_EQ(pNine->Pins().byLatch[PORT_B], 0x5A);

    EXPECT_EQ(Initialize(), 2);
    EXPECT_EQ(Initialize(), 2);
    EXPECT_EQ(ThreadCount(), m_nThreadsBefore + 1) << "still one watcher thread";
    TheZorvaneApp().ExitInstance();
    EXPECT_EQ(ThreadCount(), m_nThreadsBefore) << "the watcher thread ended with the library";
    ASSERT_TRUE(TheZorvaneApp().InitInstance());
    m_sim.Bus().Unplug(pNine);
    EXPECT_TRUE(ListedOnceSettled().empty()) << "a new life starts unarmed";
}

// A notice waiting for the lock while the library ends: ExitInstance lets it finish instead of
// holding the lock that it waits for.
TEST_F(ZorvaneHotplugTest, EndOfLifeWhileANoticeWaitsForTheLock)
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
    ASSERT_TRUE(TheZorvaneApp().InitInstance());
}

// Three threads work two boards that stay (ports, virtual ports) and two that come and go,
// while a fourth unplugs and re-plugs those two thousands of times, each time a notice that the
// watch's thread turns into an enumeration. No crash and no use of a deleted board (the
// sanitizer builds watch), every result is one the export documents, every call on a board
// that stays succeeds, the last write of each port arrives, and the table followed the storm.
TEST_F(ZorvaneHotplugTest, ExportsStayCorrectWhileBoardsComeAndGoThousandsOfTimes)
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
    using PortWrite = int32_t (*)(const char*, int32_t);
    using PortRead = int32_t (*)(const char*, uint8_t*);
    constexpr std::array<PortWrite, WORKERS> WRITES = {WriteBytePortA, WriteBytePortB,
                                                       WriteBytePortC};
    constexpr std::array<PortRead, WORKERS> READS = {ReadBytePortA, ReadBytePortB, ReadBytePortC};
    std::latch start(WORKERS + 1);
    std::atomic<bool> bStop{false};
    std::atomic<int> nStayingFailures{0};
    std::atomic<int> nUndocumented{0};
    std::array<int, WORKERS> nLastWritten{};
    auto expectIn = [&](int32_t nResult, std::initializer_list<int32_t> allowed)
    {
        if (std::find(allowed.begin(), allowed.end(), nResult) == allowed.end())
            ++nUndocumented;
    };
    auto worker = [&](int k)
    {
        const std::string strField = "w" + std::to_string(k);
        start.arrive_and_wait();
        for (int i = 1; !bStop; ++i)
        {
            const int nValue = (i * 7 + k) & 0xFF;
            std::uint8_t byValue = 0;
            // The boards that stay: every call succeeds. Each worker has its own port and pin.
            for (int nDevice : {1, 2})
            {
                const std::string strName = std::to_string(nDevice);
                if (WRITES[k](strName.c_str(), nValue) != 1 ||
                    READS[k](strName.c_str(), &byValue) != 1 || byValue != nValue)
                    ++nStayingFailures;
                if (AddVirtualPort(nDevice, strField.c_str(), 24 + k, 1, 0) != 0 ||
                    WriteVirtualPort(nDevice, strField.c_str(), 1) != 0 ||
                    RemoveVirtualPort(nDevice, strField.c_str()) != 1)
                    ++nStayingFailures;
            }
            nLastWritten[static_cast<std::size_t>(k)] = nValue;
            // The boards that come and go: whatever the table holds at the moment.
            for (const char* pszName : {"3", "4"})
            {
                expectIn(WRITES[k](pszName, nValue), {0, 1});
                expectIn(READS[k](pszName, &byValue), {0, 1});
                expectIn(ReadBytePortE(pszName, &byValue), {0, 1});
                expectIn(ConfigurePortsEx(pszName, 0, 0, 0, 0, 0, 0), {0, 1});
                const int nDevice = pszName[0] - '0';
                expectIn(AddVirtualPort(nDevice, strField.c_str(), 16 + k, 1, 0), {0, 1, 2, 3});
                expectIn(WriteVirtualPort(nDevice, strField.c_str(), 1), {0});
                int32_t nIgnored = 0;
                expectIn(ReadVirtualPort(nDevice, strField.c_str(), &nIgnored), {0});
                expectIn(RemoveVirtualPort(nDevice, strField.c_str()), {0, 1});
                expectIn(RemoveAllVirtualPorts(nDevice), {0});
            }
            const std::vector<std::string> listed = Listed();
            auto isListed = [&](const char* pszName)
            { return std::find(listed.begin(), listed.end(), pszName) != listed.end(); };
            if (!isListed("1") || !isListed("2"))
                ++nStayingFailures;
        }
    };
    std::vector<std::thread> workers;
    for (int k = 0; k < WORKERS; ++k)
        workers.emplace_back(worker, k);
    start.arrive_and_wait();
    std::vector<std::string> midway;
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
    }
    m_sim.Bus().Unplug(pBack);
    CDeviceWatch::Flush();
    bStop = true;
    for (std::thread& thread : workers)
        thread.join();

    EXPECT_EQ(nStayingFailures, 0);
    EXPECT_EQ(nUndocumented, 0);
    EXPECT_EQ(midway, (std::vector<std::string>{"1", "2", "4"}))
        << "followed while the threads ran";
    EXPECT_EQ(Listed(), (std::vector<std::string>{"1", "2", "3"}))
        << "the last change was followed";
    for (const auto& pBoard : {pOne, pTwo})
        for (int k = 0; k < WORKERS; ++k)
            EXPECT_EQ(pBoard->Pins().byLatch[static_cast<std::size_t>(k)],
                      nLastWritten[static_cast<std::size_t>(k)]);
}
