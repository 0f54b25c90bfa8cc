// The update workers: a worker owns its loader and the board's pipes, reports a failure once
// through its hook and ends with the status; no board is ever updated by two workers at once.
#include "firmware/BootLoadThread.h"
#include "tests/firmware/BootTestSupport.h"

#include <atomic>
#include <future>
#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;

class BootLoadWorkerTest : public ::testing::Test
{
protected:
    // Discovery's question about a freshly opened link, asked before any exchange.
    bool IsUpdating(std::uint32_t n) { return m_workers.IsUpdating(m_sim.Context()->Open(n)); }

    CSimFixture m_sim;
    CTempDir m_dir;
    std::string m_strPath = m_dir.Write(HexData(0x800, Counting(0x40, 0x10)) + HEX_END);
    CBootLoadWorkers m_workers; // last: its end waits for the workers
};

// The hook runs once, on the worker, before the loader goes; an exception from it changes nothing.
TEST_F(BootLoadWorkerTest, FailureIsReportedOnceFromTheWorkerThenTheBoardIsLetGo)
{
    auto pBoard = m_sim.Plug(SimBoardConfig().Boot());
    std::vector<EStatus> hooks; // WaitAll orders the worker's writes before the reads below
    bool bHeldDuringHook = false;
    std::thread::id idHook;
    pBoard->InjectFault(ESimFault::Corrupt, 2 + 480 * 2 + 4); // the first read-back differs
    auto pLoader = NewLoader(m_sim, m_strPath);
    const CBoardLink::STag tagLink = pLoader->m_lnkBoard.Tag();
    ASSERT_TRUE(m_workers.Start(std::move(pLoader),
                                [&](EStatus eStatus)
                                {
                                    hooks.push_back(eStatus);
                                    idHook = std::this_thread::get_id();
                                    bHeldDuringHook = CBoardLink::SameDevice(tagLink, tagLink);
                                    throw std::runtime_error("changes nothing");
                                }));
    m_workers.WaitAll();
    EXPECT_EQ(m_workers.TakeResults(), (std::vector<EStatus>{EStatus::Verify}));
    EXPECT_EQ(hooks, (std::vector<EStatus>{EStatus::Verify}));
    EXPECT_NE(idHook, std::this_thread::get_id());
    EXPECT_TRUE(bHeldDuringHook) << "the hook runs before the loader is deleted";
    EXPECT_FALSE(CBoardLink::SameDevice(tagLink, tagLink)) << "the loader's link went with it";
    EXPECT_TRUE(pBoard->IsBootMode());
    // Without a loader: a failure all the same.
    EXPECT_EQ(BootLoadThread(nullptr, [&](EStatus eStatus) { hooks.push_back(eStatus); }),
              EStatus::Usb);
    EXPECT_EQ(hooks, (std::vector<EStatus>{EStatus::Verify, EStatus::Usb}));
}

TEST_F(BootLoadWorkerTest, ABoardUnderUpdateIsNeitherTouchedNorTakenTwice)
{
    auto pAhead = m_sim.Plug(SimBoardConfig().Id(1));
    auto pBoard = m_sim.Plug(SimBoardConfig().Boot().Id(2));
    auto pOther = m_sim.Plug(SimBoardConfig().Boot().Id(3));
    // The first erase fails: the worker stops in its hook, holding the board's pipes.
    std::promise<void> entered, release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<EStatus> eStatus{EStatus::Ok};
    pBoard->InjectFault(ESimFault::Fail, 3);
    ASSERT_TRUE(m_workers.Start(NewLoader(m_sim, m_strPath, 1), [&](EStatus e)
                                { eStatus = e, entered.set_value(), released.wait(); }));
    ASSERT_EQ(entered.get_future().wait_for(10s), std::future_status::ready);
    m_sim.Trace();

    EXPECT_EQ((std::vector{IsUpdating(0), IsUpdating(1), IsUpdating(2)}),
              (std::vector{false, true, false}));
    // The busy board is found under its new instance number once a board ahead of it leaves.
    m_sim.Bus().Unplug(pAhead);
    EXPECT_EQ((std::vector{IsUpdating(0), IsUpdating(1)}), (std::vector{true, false}));

    // A second loader for the busy board is refused and deleted unused, its hook untold.
    auto pSecond = NewLoader(m_sim, m_strPath, 0);
    const CBoardLink::STag tagSecond = pSecond->m_lnkBoard.Tag();
    EXPECT_FALSE(m_workers.Start(std::move(pSecond), [](EStatus) { ADD_FAILURE(); }));
    EXPECT_FALSE(CBoardLink::SameDevice(tagSecond, tagSecond)) << "its link is closed";
    EXPECT_EQ(m_workers.Running(), 1u);

    // The other board is updated meanwhile.
    ASSERT_TRUE(m_workers.Start(NewLoader(m_sim, m_strPath, 1), [](EStatus) { ADD_FAILURE(); }));
    for (const auto tEnd = std::chrono::steady_clock::now() + 10s;
         m_workers.Running() != 1u && std::chrono::steady_clock::now() < tEnd;)
        std::this_thread::yield();
    EXPECT_FALSE(pOther->IsBootMode());
    for (const std::string& strLine : m_sim.Trace())
        EXPECT_NE(strLine[0], '0') << "nothing reached the busy board: " << strLine;

    // The busy board leaves and comes back: a new attachment, which its worker's pipes do not
    // reach, so it is free for the next discovery at once.
    m_sim.Bus().Unplug(pBoard);
    m_sim.Bus().Replug(pBoard);
    EXPECT_FALSE(IsUpdating(0)); // it keeps its place on the bus
    EXPECT_EQ(m_sim.Trace(), Lines{}) << "nothing is sent to tell";
    ASSERT_TRUE(m_workers.Start(NewLoader(m_sim, m_strPath, 0), nullptr));

    release.set_value();
    m_workers.WaitAll();
    EXPECT_EQ(eStatus, EStatus::Usb);
    std::vector<EStatus> results = m_workers.TakeResults();
    std::sort(results.begin(), results.end());
    EXPECT_EQ(results, (std::vector<EStatus>{EStatus::Usb, EStatus::Ok, EStatus::Ok}));
    EXPECT_FALSE(pBoard->IsBootMode());
}

TEST_F(BootLoadWorkerTest, DestructionWaitsForRunningUpdates)
{
    auto pBoard = m_sim.Plug(SimBoardConfig().Boot());
    pBoard->SetLatency(200us);
    {
        CBootLoadWorkers workers;
        ASSERT_TRUE(workers.Start(NewLoader(m_sim, m_strPath), nullptr));
        EXPECT_EQ(workers.Running(), 1u);
    }
    EXPECT_FALSE(pBoard->IsBootMode()) << "the update ran to its end";
    EXPECT_EQ(pBoard->ReadMemory(0x800, 0x40), Counting(0x40, 0x10));
}
