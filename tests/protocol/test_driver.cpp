// The driver operations on the default context (the simulated bus, from its module, as the
// environment asks), contexts side by side, the enumeration walk and the device-change watch.
#include "protocol/DeviceWatch.h"
#include "protocol/Enumeration.h"
#include "protocol/Mpusb.h"
#include "tests/support/SimFixture.h"

#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <thread>

namespace
{
// Passes everything to the simulated bus, refuses chosen (instance, endpoint) pairs and
// remembers every open.
class CRecordingBackend : public CSimBackend
{
public:
    using CSimBackend::CSimBackend;

    EStatus OpenPipe(std::uint32_t nInstance, std::uint16_t wVendor, std::uint16_t wProduct,
                     std::uint8_t byEndpoint, UsbPipeId& pipe) override
    {
        m_opens.emplace_back(nInstance, byEndpoint);
        if (m_refused.count({nInstance, byEndpoint}))
            return EStatus::Busy;
        const EStatus eStatus =
            CSimBackend::OpenPipe(nInstance, wVendor, wProduct, byEndpoint, pipe);
        if (pipe)
            m_open.insert(pipe);
        return eStatus;
    }
    void ClosePipe(UsbPipeId pipe) override
    {
        m_open.erase(pipe);
        CSimBackend::ClosePipe(pipe);
    }

    std::set<std::pair<std::uint32_t, std::uint8_t>> m_refused;
    std::vector<std::pair<std::uint32_t, std::uint8_t>> m_opens;
    std::set<UsbPipeId> m_open;
};

} // namespace

class EnumerationWalk : public ::testing::Test
{
protected:
    EnumerationWalk()
    {
        m_pBus->SetReattachDelay(std::chrono::milliseconds(0));
        for (int i = 0; i < 4; ++i)
            m_pBus->Plug(SimBoardConfig().Id(static_cast<std::uint8_t>(10 + i)));
    }

    // The instances visited.
    std::vector<std::uint32_t> Run(std::int32_t nCount)
    {
        std::vector<std::uint32_t> vecInstances;
        WalkDeviceLinks(m_context, nCount,
                        [&](std::uint32_t nInstance, CBoardLink)
                        { vecInstances.push_back(nInstance); });
        return vecInstances;
    }

    std::shared_ptr<CSimBus> m_pBus = std::make_shared<CSimBus>();
    std::shared_ptr<CRecordingBackend> m_pBackend = std::make_shared<CRecordingBackend>(m_pBus);
    CDriverContext m_context{m_pBackend};
};

TEST_F(EnumerationWalk, StopsAtTheInstanceThatBringsTheCountToZero)
{
    EXPECT_EQ(Run(2), (std::vector<std::uint32_t>{0, 1}));
    // Read pipe first, then write pipe; nothing tried past instance 1.
    EXPECT_EQ(m_pBackend->m_opens, (std::vector<std::pair<std::uint32_t, std::uint8_t>>{
                                       {0, 0x81}, {0, 0x01}, {1, 0x81}, {1, 0x01}}));
}

TEST_F(EnumerationWalk, SkippedInstancesDoNotCountAndLeaveNothingOpen)
{
    m_pBackend->m_refused = {{1, 0x01}, {2, 0x81}};
    EXPECT_EQ(Run(2), (std::vector<std::uint32_t>{0, 3}));
    EXPECT_TRUE(m_pBackend->m_open.empty()) << "the pipe that did open is closed again";
}

TEST_F(EnumerationWalk, ACountOfZeroOrMoreThanAttachedTriesAll127)
{
    for (const std::int32_t nCount : {0, 9})
    {
        m_pBackend->m_opens.clear();
        EXPECT_EQ(Run(nCount), (std::vector<std::uint32_t>{0, 1, 2, 3})) << nCount;
        EXPECT_EQ(m_pBackend->m_opens.size(), 2u * 127);
        EXPECT_EQ(m_pBackend->m_opens.back().first, 126u);
    }
}

// The default context, made at its first use, is the simulated bus of the environment, loaded
// from its module; a context of one's own (libusb here, with no boards) lives beside it.
TEST(Driver, TheFiveOperationsUseTheDefaultContext)
{
    setenv("KELVARD_USB", "sim", 1);
    setenv("KELVARD_SIM_BOARDS", "id=5", 1);
    const auto pDefault = CDriverContext::Default();
    EXPECT_FALSE(CDriverContext::SetDefault(CDriverContext::CreateLibusb())) << "chosen already";
    EXPECT_EQ(CDriverContext::Default(), pDefault);
    EXPECT_EQ(pDefault->Location(0), "sim:0");
    const auto pLibusb = CDriverContext::CreateLibusb();
    EXPECT_EQ(pLibusb->Count(), 0u);
    EXPECT_EQ(MPUSBGetDeviceCount("vid_04d8&pid_fffe"), 1u);
    EXPECT_EQ(MPUSBGetDeviceCount("VID_04D8&PID_FFFE"), 1u);
    EXPECT_EQ(MPUSBGetDeviceCount("vid_04d8&pid_0001"), 0u);
    EXPECT_EQ(MPUSBGetDeviceCount("garbage"), 0u);
    EXPECT_EQ(MPUSBGetDeviceCount(nullptr), 0u);

    EXPECT_EQ(MPUSB_INVALID_HANDLE, ~std::uintptr_t(0));
    EXPECT_EQ(MPUSBOpen(1, MPUSB_VID_PID, MPUSB_ENDPOINT, MP_READ, 0), MPUSB_INVALID_HANDLE);
    EXPECT_EQ(MPUSBOpen(0, MPUSB_VID_PID, "\\MCHP_EP2", MP_READ, 0), MPUSB_INVALID_HANDLE);
    EXPECT_EQ(MPUSBOpen(0, MPUSB_VID_PID, "EP", MP_READ, 0), MPUSB_INVALID_HANDLE);
    EXPECT_EQ(MPUSBOpen(0, MPUSB_VID_PID, MPUSB_ENDPOINT, 2, 0), MPUSB_INVALID_HANDLE);
    EXPECT_EQ(MPUSBOpen(127, MPUSB_VID_PID, MPUSB_ENDPOINT, MP_READ, 0), MPUSB_INVALID_HANDLE);

    const MPUSB_HANDLE hRead = MPUSBOpen(0, MPUSB_VID_PID, MPUSB_ENDPOINT, MP_READ, 0);
    const MPUSB_HANDLE hWrite = MPUSBOpen(0, MPUSB_VID_PID, MPUSB_ENDPOINT, MP_WRITE, 0);
    ASSERT_NE(hRead, MPUSB_INVALID_HANDLE);
    ASSERT_NE(hWrite, MPUSB_INVALID_HANDLE);
    EXPECT_NE(hRead, 0u);
    std::uint8_t request[2] = {0x3C, 0x00};
    std::uint8_t reply[2] = {0, 0};
    std::uint32_t nMoved = 99;
    // Pipes have a direction.
    EXPECT_EQ(MPUSBWrite(hRead, request, 2, &nMoved, 500), MPUSB_FAIL);
    EXPECT_EQ(nMoved, 0u);
    EXPECT_EQ(MPUSBWrite(hWrite, request, 2, &nMoved, 500), MPUSB_SUCCESS);
    EXPECT_EQ(nMoved, 2u);
    EXPECT_EQ(MPUSBRead(hRead, reply, 2, &nMoved, 500), MPUSB_SUCCESS);
    EXPECT_EQ(reply[1], 5);

    EXPECT_TRUE(MPUSBClose(hWrite));
    EXPECT_FALSE(MPUSBClose(hWrite));
    EXPECT_EQ(MPUSBWrite(hWrite, request, 2, &nMoved, 500), MPUSB_FAIL);
    EXPECT_EQ(MPUSBWrite(MPUSB_INVALID_HANDLE, request, 2, nullptr, 500), MPUSB_FAIL);
    EXPECT_TRUE(MPUSBClose(hRead));
}

TEST(DeviceWatch, DeliversEachChangeOnItsOwnThreadUntilRemoved)
{
    CSimFixture sim;
    CDeviceWatch& watch = sim.Context()->Watch();
    std::mutex mutex;
    std::vector<EDeviceChange> changes;
    std::set<std::thread::id> threads;
    const int nId = watch.Add(
        [&](EDeviceChange change)
        {
            std::lock_guard lock(mutex);
            changes.push_back(change);
            threads.insert(std::this_thread::get_id());
        });
    auto pBoard = sim.Plug();
    sim.Bus().Unplug(pBoard);
    sim.Bus().Replug(pBoard);
    // enter-bootloader: the board leaves and comes back, two changes
    EXPECT_EQ(sim.Context()->Open(0).EnterBootloader(), EStatus::Ok);
    watch.Flush();
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(changes,
                  (std::vector<EDeviceChange>{EDeviceChange::Arrival, EDeviceChange::Removal,
                                              EDeviceChange::Arrival, EDeviceChange::Removal,
                                              EDeviceChange::Arrival}));
        ASSERT_EQ(threads.size(), 1u);
        EXPECT_NE(*threads.begin(), std::this_thread::get_id());
    }
    watch.Remove(nId);
    sim.Bus().Unplug(pBoard);
    watch.Flush();
    std::lock_guard lock(mutex);
    EXPECT_EQ(changes.size(), 5u) << "nothing after Remove";
}

TEST(DeviceWatch, RemoveWaitsForARunningCallbackAndMayBeCalledFromInsideIt)
{
    CSimFixture sim;
    CDeviceWatch& watch = sim.Context()->Watch();
    std::atomic<bool> bInside{false};
    std::atomic<bool> bDone{false};
    const int nSlow = watch.Add(
        [&](EDeviceChange)
        {
            bInside = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            bDone = true;
        });
    int nSelf = 0;
    std::atomic<int> nSelfCalls{0};
    nSelf = watch.Add(
        [&](EDeviceChange)
        {
            ++nSelfCalls;
            watch.Remove(nSelf);
        });
    sim.Plug();
    while (!bInside)
        std::this_thread::yield();
    watch.Remove(nSlow);
    EXPECT_TRUE(bDone) << "Remove returned while the callback was still running";
    watch.Flush();
    sim.Plug();
    watch.Flush();
    EXPECT_EQ(nSelfCalls, 1);
}
