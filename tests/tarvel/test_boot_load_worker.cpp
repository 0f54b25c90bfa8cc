// The update workers: a worker owns its loader and the board's pipes, reports a failure once
// through its hook and ends with the status; no board is ever updated by two workers at once.
#include "BootTestSupport.h"
#include "bootloader/BootLoadThread.h"
#include "bootloader/BootStatus.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;

namespace
{
// A failure hook that holds its worker (and so the board's pipes) until released.
class CHeldHook
{
public:
    BootLoadFailureHook Hook()
    {
        return [this](int nStatus)
        {
            m_nStatus = nStatus;
            ++m_nCalls;
            m_entered.set_value();
            m_release.get_future().wait();
        };
    }
    bool WaitEntered() { return m_entered.get_future().wait_for(10s) == std::future_status::ready; }
    void Release() { m_release.set_value(); }
    int Calls() const { return m_nCalls; }
    int Status() const { return m_nStatus; }

private:
    std::promise<void> m_entered;
    std::promise<void> m_release;
    std::atomic<int> m_nCalls{0};
    std::atomic<int> m_nStatus{1};
};

template <class FDone> bool WaitFor(FDone fnDone)
{
    const auto tEnd = std::chrono::steady_clock::now() + 10s;
    while (!fnDone())
    {
        if (std::chrono::steady_clock::now() > tEnd)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}
} // namespace

class BootLoadWorkerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_strPath = m_dir.Write(HexData(0x800, Counting(0x40, 0x10)) + HexEnd());
    }

    CSimFixture m_sim;
    CTestDir m_dir;
    std::string m_strPath;
};

TEST_F(BootLoadWorkerTest, SameDeviceMeansTheSameAttachment)
{
    auto pA = m_sim.Plug(SimBoardConfig().Id(1));
    auto pB = m_sim.Plug(SimBoardConfig().Id(2));
    CTestLink onB(1);
    CTestLink onBAgain(1);
    CTestLink onA(0);
    EXPECT_TRUE(MpusbSameDevice(onB.Read(), onBAgain.Read()));
    EXPECT_TRUE(MpusbSameDevice(onB.Read(), onB.Write()));
    EXPECT_FALSE(MpusbSameDevice(onB.Read(), onA.Read()));
    EXPECT_FALSE(MpusbSameDevice(onB.Read(), MPUSB_INVALID_HANDLE));

    // A board ahead of B leaves: B is instance 0 now, still the same board.
    m_sim.Bus().Unplug(pA);
    CTestLink onShiftedB(0);
    EXPECT_TRUE(MpusbSameDevice(onB.Read(), onShiftedB.Read()));

    // B leaves and comes back: a new attachment, which the old pipes do not reach.
    m_sim.Bus().Unplug(pB);
    m_sim.Bus().Replug(pB);
    CTestLink onReturnedB(0);
    EXPECT_FALSE(MpusbSameDevice(onB.Read(), onReturnedB.Read()));
    EXPECT_EQ(m_sim.Trace(), Lines{}) << "nothing is sent to tell";

    const MPUSB_HANDLE hClosed = MPUSBOpen(0, MPUSB_VID_PID, MPUSB_ENDPOINT, MP_READ, 0);
    EXPECT_TRUE(MpusbSameDevice(hClosed, onReturnedB.Read()));
    MPUSBClose(hClosed);
    EXPECT_FALSE(MpusbSameDevice(hClosed, onReturnedB.Read()));
}

TEST_F(BootLoadWorkerTest, WorkerUpdatesTheBoardThenLetsGoOfIt)
{
    auto pBoard = m_sim.Plug(SimBoardConfig().Boot());
    CBootLoadWorkers workers;
    auto pLoader = NewLoader(m_strPath);
    const MPUSB_HANDLE hRead = pLoader->m_pDev->m_hRead;
    const MPUSB_HANDLE hWrite = pLoader->m_pDev->m_hWrite;
    std::atomic<int> nHookCalls{0};

    ASSERT_TRUE(workers.Start(std::move(pLoader), [&](int) { ++nHookCalls; }));
    workers.WaitAll();

    EXPECT_EQ(workers.Running(), 0u);
    EXPECT_EQ(workers.TakeResults(), (std::vector<int>{BL_OK}));
    EXPECT_EQ(workers.TakeResults(), std::vector<int>{});
    EXPECT_EQ(nHookCalls, 0);
    EXPECT_FALSE(MPUSBClose(hRead)) << "the loader's pipes went with it";
    EXPECT_FALSE(MPUSBClose(hWrite));
    EXPECT_FALSE(pBoard->IsBootMode());
    EXPECT_EQ(pBoard->ReadMemory(0x800, 0x40), Counting(0x40, 0x10));
}

TEST_F(BootLoadWorkerTest, FailureIsReportedOnceFromTheWorkerWhileItStillHoldsTheBoard)
{
    auto pBoard = m_sim.Plug(SimBoardConfig().Boot());
    CBootLoadWorkers workers;
    auto pLoader = NewLoader(m_strPath);
    const MPUSB_HANDLE hRead = pLoader->m_pDev->m_hRead;
    std::atomic<int> nHookCalls{0};
    std::atomic<int> nHookStatus{1};
    std::atomic<bool> bHeldDuringHook{false};
    std::thread::id idHook;

    pBoard->InjectFault(ESimFault::Corrupt, 2 + 480 * 2 + 4); // the first read-back
    ASSERT_TRUE(workers.Start(std::move(pLoader),
                              [&](int nStatus)
                              {
                                  ++nHookCalls;
                                  nHookStatus = nStatus;
                                  idHook = std::this_thread::get_id();
                                  bHeldDuringHook = MpusbSameDevice(hRead, hRead);
                              }));
    workers.WaitAll();

    EXPECT_EQ(workers.TakeResults(), (std::vector<int>{BL_ERR_VERIFY}));
    EXPECT_EQ(nHookCalls, 1);
    EXPECT_EQ(nHookStatus, BL_ERR_VERIFY);
    EXPECT_NE(idHook, std::this_thread::get_id());
    EXPECT_TRUE(bHeldDuringHook) << "the hook runs before the loader is deleted";
    EXPECT_FALSE(MPUSBClose(hRead));
    EXPECT_TRUE(pBoard->IsBootMode());
    EXPECT_EQ(m_sim.Trace().back().substr(0, 18), "0 < 01 10 00 08 00");
}

TEST_F(BootLoadWorkerTest, ABoardUnderUpdateIsNeitherTouchedNorTakenTwice)
{
    auto pBoard = m_sim.Plug(SimBoardConfig().Boot());
    auto pOther = m_sim.Plug(SimBoardConfig().Boot().Id(2));
    CBootLoadWorkers workers;
    CHeldHook held;

    pBoard->InjectFault(ESimFault::Fail, 3); // the first erase: the worker stops in its hook
    ASSERT_TRUE(workers.Start(NewLoader(m_strPath, 0), held.Hook()));
    ASSERT_TRUE(held.WaitEntered());
    m_sim.Trace();

    // Discovery's question, asked before any exchange: this board is busy, the other is not.
    {
        CTestLink fresh(0);
        EXPECT_TRUE(workers.IsUpdating(fresh.Read()));
        EXPECT_TRUE(workers.IsUpdating(fresh.Write()));
        CTestLink other(1);
        EXPECT_FALSE(workers.IsUpdating(other.Read()));
    }
    EXPECT_EQ(workers.Running(), 1u);

    // A second loader for the busy board is refused and deleted unused, its hook untold.
    auto pSecond = NewLoader(m_strPath, 0);
    const MPUSB_HANDLE hSecond = pSecond->m_pDev->m_hRead;
    std::atomic<int> nSecondHook{0};
    EXPECT_FALSE(workers.Start(std::move(pSecond), [&](int) { ++nSecondHook; }));
    EXPECT_FALSE(MPUSBClose(hSecond));
    EXPECT_EQ(nSecondHook, 0);
    EXPECT_EQ(workers.Running(), 1u);

    // The other board is updated meanwhile.
    std::atomic<int> nOtherHook{0};
    ASSERT_TRUE(workers.Start(NewLoader(m_strPath, 1), [&](int) { ++nOtherHook; }));
    EXPECT_TRUE(WaitFor([&] { return workers.Running() == 1u; }));
    EXPECT_EQ(nOtherHook, 0);
    EXPECT_FALSE(pOther->IsBootMode());
    for (const std::string& strLine : m_sim.Trace())
        EXPECT_NE(strLine[0], '0') << "nothing reached the busy board: " << strLine;

    // Once the first worker has ended, the board is free for the next discovery.
    held.Release();
    workers.WaitAll();
    EXPECT_EQ(held.Calls(), 1);
    EXPECT_EQ(held.Status(), BL_ERR_USB);
    EXPECT_EQ(workers.TakeResults(), (std::vector<int>{BL_OK, BL_ERR_USB}));
    CTestLink fresh(0);
    EXPECT_FALSE(workers.IsUpdating(fresh.Read()));
    ASSERT_TRUE(workers.Start(NewLoader(m_strPath, 0), nullptr));
    workers.WaitAll();
    EXPECT_EQ(workers.TakeResults(), (std::vector<int>{BL_OK}));
    EXPECT_FALSE(pBoard->IsBootMode());
}

TEST_F(BootLoadWorkerTest, TheBusyBoardIsFoundUnderANewInstanceNumber)
{
    auto pAhead = m_sim.Plug(SimBoardConfig().Id(1));
    auto pBoard = m_sim.Plug(SimBoardConfig().Boot().Id(2));
    CBootLoadWorkers workers;
    CHeldHook held;
    pBoard->InjectFault(ESimFault::Fail, 3);
    ASSERT_TRUE(workers.Start(NewLoader(m_strPath, 1), held.Hook()));
    ASSERT_TRUE(held.WaitEntered());

    m_sim.Bus().Unplug(pAhead); // the busy board moves to instance 0
    {
        CTestLink fresh(0);
        EXPECT_TRUE(workers.IsUpdating(fresh.Read()));
    }
    auto pBehind = m_sim.Plug(SimBoardConfig().Boot().Id(3)); // instance 1 is another board now
    {
        CTestLink fresh(1);
        EXPECT_FALSE(workers.IsUpdating(fresh.Read()));
    }
    held.Release();
    workers.WaitAll();
    EXPECT_EQ(workers.TakeResults(), (std::vector<int>{BL_ERR_USB}));
}

TEST_F(BootLoadWorkerTest, DestructionWaitsForRunningUpdates)
{
    auto pBoard = m_sim.Plug(SimBoardConfig().Boot());
    pBoard->SetLatency(std::chrono::microseconds(200));
    {
        CBootLoadWorkers workers;
        ASSERT_TRUE(workers.Start(NewLoader(m_strPath), nullptr));
        EXPECT_EQ(workers.Running(), 1u);
    }
    EXPECT_FALSE(pBoard->IsBootMode()) << "the update ran to its end";
    EXPECT_EQ(pBoard->ReadMemory(0x800, 0x40), Counting(0x40, 0x10));
}

TEST_F(BootLoadWorkerTest, NoExceptionLeavesTheWorker)
{
    auto pBoard = m_sim.Plug(SimBoardConfig().Boot());
    int nCalls = 0;
    // No loader at all: a failed update, reported.
    EXPECT_EQ(BootLoadThread(nullptr, [&](int nStatus) { nCalls += nStatus == BL_ERR_USB; }),
              BL_ERR_USB);
    EXPECT_EQ(nCalls, 1);

    // A hook that throws changes nothing: the loader is still deleted, the status returned.
    auto pLoader = NewLoader(m_dir.File("absent.hex"));
    const MPUSB_HANDLE hRead = pLoader->m_pDev->m_hRead;
    EXPECT_EQ(BootLoadThread(std::move(pLoader), [](int) { throw std::runtime_error("hook"); }),
              BL_ERR_OPEN);
    EXPECT_FALSE(MPUSBClose(hRead));

    CBootLoadWorkers workers;
    EXPECT_TRUE(workers.Start(NewLoader(m_dir.File("absent.hex")),
                              [](int) { throw std::runtime_error("hook"); }));
    workers.WaitAll();
    EXPECT_EQ(workers.TakeResults(), (std::vector<int>{BL_ERR_OPEN}));
}
