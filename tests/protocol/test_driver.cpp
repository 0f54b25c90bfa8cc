// The driver operations on the default context (the simulated bus, from its module, as the
// environment asks), contexts side by side, the enumeration walk and the device-change watch.
#include "protocol/DeviceWatch.h"
#include "protocol/Enumeration.h"
#include "protocol/Mpusb.h"
#include "tests/support/SimFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

namespace
{
// Passes everything to the simulated bus, refuses chosen (instance, endpoint) pairs and
// remembers every open and the pipes still open.
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
        if (pipe != 0)
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

// The walk opens read pipe then write pipe and stops at the instance that brings the count to
// zero; a count of 0 or more than are attached tries all 127. A board with a pipe that does not
// open is not open (either pipe's failure fails both), is skipped, does not count and is left
// with nothing open.
TEST(EnumerationWalk, VisitsTheInstancesThatOpenUntilTheCountIsReached)
{
    auto pBus = std::make_shared<CSimBus>();
    for (int i = 0; i < 4; ++i)
        pBus->Plug(SimBoardConfig());
    auto pBackend = std::make_shared<CRecordingBackend>(pBus);
    CDriverContext context(pBackend);
    auto walk = [&](std::int32_t nCount)
    {
        pBackend->m_opens.clear();
        std::vector<std::uint32_t> vecInstances;
        WalkDeviceLinks(context, nCount,
                        [&](std::uint32_t n, CBoardLink) { vecInstances.push_back(n); });
        return vecInstances;
    };
    EXPECT_EQ(walk(2), (std::vector<std::uint32_t>{0, 1}));
    EXPECT_EQ(pBackend->m_opens, (std::vector<std::pair<std::uint32_t, std::uint8_t>>{
                                     {0, 0x81}, {0, 0x01}, {1, 0x81}, {1, 0x01}}));
    for (const std::int32_t nCount : {0, 9})
    {
        EXPECT_EQ(walk(nCount), (std::vector<std::uint32_t>{0, 1, 2, 3})) << nCount;
        EXPECT_EQ(pBackend->m_opens.size(), 2u * 127);
        EXPECT_EQ(pBackend->m_opens.back().first, 126u);
    }
    pBackend->m_refused = {{1, 0x01}, {2, 0x81}};
    EXPECT_EQ(walk(2), (std::vector<std::uint32_t>{0, 3}));
    EStatus eStatus = EStatus::Ok;
    EXPECT_FALSE(context.Open(1, &eStatus).IsOpen());
    EXPECT_EQ(eStatus, EStatus::Busy);
    EXPECT_TRUE(pBackend->m_open.empty()) << "the pipe that did open is closed again";
}

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
    EXPECT_EQ((std::vector{MPUSBGetDeviceCount("vid_04d8&pid_fffe"),
                           MPUSBGetDeviceCount("VID_04D8&PID_FFFE"),
                           MPUSBGetDeviceCount("vid_04d8&pid_0001"), MPUSBGetDeviceCount("garbage"),
                           MPUSBGetDeviceCount(nullptr)}),
              (std::vector<std::uint32_t>{1, 1, 0, 0, 0}));
    // No instance 1 or 127, no endpoint 2, no direction 2.
    EXPECT_EQ((std::vector{MPUSBOpen(1, MPUSB_VID_PID, MPUSB_ENDPOINT, MP_READ, 0),
                           MPUSBOpen(0, MPUSB_VID_PID, "\\MCHP_EP2", MP_READ, 0),
                           MPUSBOpen(0, MPUSB_VID_PID, "EP", MP_READ, 0),
                           MPUSBOpen(0, MPUSB_VID_PID, MPUSB_ENDPOINT, 2, 0),
                           MPUSBOpen(127, MPUSB_VID_PID, MPUSB_ENDPOINT, MP_READ, 0)}),
              std::vector(5, MPUSB_INVALID_HANDLE));
    const MPUSB_HANDLE hRead = MPUSBOpen(0, MPUSB_VID_PID, MPUSB_ENDPOINT, MP_READ, 0);
    const MPUSB_HANDLE hWrite = MPUSBOpen(0, MPUSB_VID_PID, MPUSB_ENDPOINT, MP_WRITE, 0);
    ASSERT_TRUE(hRead != MPUSB_INVALID_HANDLE && hWrite != MPUSB_INVALID_HANDLE && hRead != 0);
    std::uint8_t request[2] = {0x3C, 0x00}, reply[2] = {0, 0};
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

// Each change once per callback, in order, on the watch's own thread (Flush orders the callbacks'
// writes before the reads after it). Remove waits for a running callback and may be called from
// inside one; nothing reaches a callback after it.
TEST(DeviceWatch, DeliversEachChangeOnItsOwnThreadUntilRemoved)
{
    CSimFixture sim;
    CDeviceWatch& watch = sim.Context()->Watch();
    std::vector<EDeviceChange> changes;
    std::set<std::thread::id> threads;
    std::atomic<bool> bInside{false}, bDone{false};
    int nSelfCalls = 0;
    const int nId = watch.Add(
        [&](EDeviceChange change)
        {
            changes.push_back(change);
            threads.insert(std::this_thread::get_id());
        });
    const int nSlow = watch.Add(
        [&](EDeviceChange)
        {
            bInside = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            bDone = true;
        });
    const int nSelf = watch.Add([&](EDeviceChange) { ++nSelfCalls, watch.Remove(nSelf); });
    auto pBoard = sim.Plug();
    for (int i = 0; i < 5000 && !bInside; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(bInside) << "no change reached the watch";
    watch.Remove(nSlow);
    EXPECT_TRUE(bDone) << "Remove returned while the callback was still running";
    sim.Bus().Unplug(pBoard);
    sim.Bus().Replug(pBoard);
    // enter-bootloader: the board leaves and comes back, two changes
    EXPECT_EQ(sim.Context()->Open(0).EnterBootloader(), EStatus::Ok);
    watch.Flush();
    EXPECT_EQ(changes, (std::vector<EDeviceChange>{EDeviceChange::Arrival, EDeviceChange::Removal,
                                                   EDeviceChange::Arrival, EDeviceChange::Removal,
                                                   EDeviceChange::Arrival}));
    EXPECT_EQ(nSelfCalls, 1);
    ASSERT_EQ(threads.size(), 1u);
    EXPECT_NE(*threads.begin(), std::this_thread::get_id());
    watch.Remove(nId);
    sim.Bus().Unplug(pBoard);
    watch.Flush();
    EXPECT_EQ(changes.size(), 5u) << "nothing after Remove";
}
