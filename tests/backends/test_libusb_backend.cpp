// The libusb backend against boards on a bus emulated by umockdev: real libusb, real usbfs
// ioctls, answered by CEmulatedBoard. Runs under umockdev-wrapper; skipped (77) without it.
#include "protocol/DriverContext.h"
#include "protocol/Mpusb.h"
#include "protocol/backends/LibusbBackend.h"
#include "tests/backends/EmulatedBoard.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <stop_token>
#include <thread>

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

namespace
{
constexpr std::uint8_t BULK_OUT = 0x01;
constexpr std::uint8_t BULK_IN = 0x81;

// Set while the current thread is inside a read of the backend's, so the sink can tell whether
// it was called from within one.
thread_local bool t_bInBackendCall = false;

bool WaitUntil(const std::function<bool()>& fnDone, std::chrono::milliseconds timeout)
{
    for (const auto tEnd = std::chrono::steady_clock::now() + timeout; !fnDone();)
    {
        if (std::chrono::steady_clock::now() > tEnd)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

class LibusbBackendTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // The testbed must exist before libusb starts, or libusb sees the real (empty) system;
        // umockdev decides once, on first asking, from what /sys looks like: ask after it too.
        m_pTestbed = umockdev_testbed_new();
        if (!umockdev_in_mock_environment())
        {
            std::fprintf(stderr, "not under umockdev-wrapper: skipping\n");
            std::exit(77);
        }
    }
    void TearDown() override
    {
        m_pBackend.reset(); // closes every handle before the boards' handlers go
        m_vecBoards.clear();
        g_clear_object(&m_pTestbed);
    }

    // A board at bus nBus, port pszPort of the root hub, device number nAddress.
    CEmulatedBoard* AddBoard(unsigned nBus, const char* pszPort, unsigned nAddress,
                             std::uint8_t byDeviceId, bool bInterrupt = false)
    {
        m_vecBoards.push_back(std::make_unique<CEmulatedBoard>(m_pTestbed, nBus, pszPort, nAddress,
                                                               byDeviceId, bInterrupt));
        EXPECT_EQ(m_vecBoards.back()->Plug(), "") << "cannot plug the board";
        return m_vecBoards.back().get();
    }
    void StartBackend()
    {
        m_pBackend = std::make_shared<CLibusbBackend>();
        ASSERT_TRUE(m_pBackend->IsAvailable());
    }
    std::uint32_t Count() { return m_pBackend->CountDevices(MPUSB_VENDOR, MPUSB_PRODUCT); }
    UsbPipeId Open(std::uint32_t nInstance, std::uint8_t byEndpoint)
    {
        UsbPipeId pipe = 0;
        const EStatus eStatus =
            m_pBackend->OpenPipe(nInstance, MPUSB_VENDOR, MPUSB_PRODUCT, byEndpoint, pipe);
        EXPECT_EQ(eStatus == EStatus::Ok, pipe != 0);
        return pipe;
    }
    bool Write(UsbPipeId pipe, const Bytes& vecData)
    {
        std::size_t nMoved = 999;
        const bool bOk = m_pBackend->WritePipe(pipe, vecData.data(), vecData.size(), nMoved,
                                               MPUSB_TIMEOUT_MS) == EStatus::Ok;
        EXPECT_TRUE(!bOk || nMoved == vecData.size()) << "moved " << nMoved;
        return bOk;
    }
    // Reads into a 64-byte buffer filled with 0xA5 beforehand and checks that the backend
    // touched no byte past the count it reports, and reports none on failure. Returns the bytes
    // read; empty on failure.
    Bytes Read(UsbPipeId pipe, std::uint32_t nTimeoutMs = MPUSB_TIMEOUT_MS)
    {
        Bytes vecBuffer(64, 0xA5);
        std::size_t nMoved = 999;
        t_bInBackendCall = true;
        const bool bOk = m_pBackend->ReadPipe(pipe, vecBuffer.data(), vecBuffer.size(), nMoved,
                                              nTimeoutMs) == EStatus::Ok;
        t_bInBackendCall = false;
        const std::size_t nKept = bOk ? std::min(nMoved, vecBuffer.size()) : 0;
        EXPECT_EQ(nMoved, nKept);
        EXPECT_EQ(Bytes(vecBuffer.begin() + nKept, vecBuffer.end()), Bytes(64 - nKept, 0xA5));
        vecBuffer.resize(nKept);
        return vecBuffer;
    }
    // Asks the instance for its device ID over a link of its own; -1 on any failure.
    int DeviceIdOf(std::uint32_t nInstance)
    {
        std::uint8_t byId = 0;
        const EStatus eStatus = CDriverContext(m_pBackend).Open(nInstance).ReadDeviceId(byId);
        return eStatus == EStatus::Ok ? byId : -1;
    }
    // Starts the watch; each change goes into m_vecChanges, unless it came from within a
    // transfer call of this test's: then it is lost, and waiting for it fails.
    void Watch()
    {
        m_pBackend->WatchChanges(
            [this](EDeviceChange change)
            {
                const std::lock_guard<std::mutex> lock(m_mtxChanges);
                if (!t_bInBackendCall)
                    m_vecChanges.push_back(change);
            });
    }
    std::vector<EDeviceChange> Changes()
    {
        const std::lock_guard<std::mutex> lock(m_mtxChanges);
        return m_vecChanges;
    }
    bool WaitForChanges(std::size_t n)
    {
        return WaitUntil([&] { return Changes().size() >= n; }, 5s);
    }

    UMockdevTestbed* m_pTestbed = nullptr;
    std::vector<std::unique_ptr<CEmulatedBoard>> m_vecBoards;
    std::shared_ptr<CLibusbBackend> m_pBackend;
    std::mutex m_mtxChanges;
    std::vector<EDeviceChange> m_vecChanges;
};

// Instances follow bus, then port, not the order of attachment; a pipe's device is its
// attachment, whatever instance number it comes to have. Firmware that declares endpoint 1 as an
// interrupt endpoint (the board on bus 2) is driven with interrupt transfers: the board refuses
// bulk ones.
TEST_F(LibusbBackendTest, InstancesFollowBusThenPortAndPipesTheirAttachment)
{
    // Attached first, on the lower device number and port, but on bus 2: instance 1.
    AddBoard(2, "1", 2, 0x22, true);
    CEmulatedBoard* pFirst = AddBoard(1, "4", 3, 0x11);
    StartBackend();
    EXPECT_EQ(Count(), 2u);
    EXPECT_EQ(m_pBackend->CountDevices(MPUSB_VENDOR, 0x1234), 0u);
    EXPECT_EQ(m_pBackend->CountDevices(0x1234, MPUSB_PRODUCT), 0u);
    EXPECT_EQ(DeviceIdOf(0), 0x11);
    EXPECT_EQ(DeviceIdOf(1), 0x22);
    // Where each sits, as list --long prints it, and that each can be opened without being held.
    EXPECT_EQ(m_pBackend->Location(0, MPUSB_VENDOR, MPUSB_PRODUCT), "1-4");
    EXPECT_EQ(m_pBackend->Location(1, MPUSB_VENDOR, MPUSB_PRODUCT), "2-1");
    EXPECT_EQ(m_pBackend->Location(2, MPUSB_VENDOR, MPUSB_PRODUCT), "");
    EXPECT_EQ(m_pBackend->ProbeOpen(1, MPUSB_VENDOR, MPUSB_PRODUCT), EStatus::Ok);
    EXPECT_EQ(m_pBackend->ProbeOpen(2, MPUSB_VENDOR, MPUSB_PRODUCT), EStatus::Gone);
    EXPECT_EQ(Open(2, BULK_OUT), 0u);
    const UsbPipeId pipeIn = Open(1, BULK_IN);
    const UsbPipeId pipeOut = Open(1, BULK_OUT);
    const UsbPipeId pipeAgain = Open(1, BULK_IN);
    const UsbPipeId pipeOther = Open(0, BULK_IN);
    EXPECT_EQ(m_pBackend->PipeLocation(pipeIn), "2-1");
    EXPECT_EQ(m_pBackend->ProbeOpen(1, MPUSB_VENDOR, MPUSB_PRODUCT), EStatus::Ok)
        << "a board this process holds is not probed again";
    EXPECT_EQ(
        (std::vector{m_pBackend->SameDevice(pipeIn, pipeOut),
                     m_pBackend->SameDevice(pipeIn, pipeAgain),
                     m_pBackend->SameDevice(pipeIn, pipeOther), m_pBackend->SameDevice(pipeIn, 0),
                     m_pBackend->SameDevice(pipeIn, 9999)}),
        (std::vector{true, true, false, false, false}));

    // The board ahead leaves: the other one is instance 0 now, and still the same device.
    m_pBackend->ClosePipe(pipeOther);
    EXPECT_EQ(m_pBackend->PipeLocation(pipeOther), "");
    pFirst->Unplug();
    ASSERT_TRUE(WaitUntil([&] { return Count() == 1u; }, 5s));
    const UsbPipeId pipeShifted = Open(0, BULK_IN);
    EXPECT_TRUE(m_pBackend->SameDevice(pipeIn, pipeShifted));
    EXPECT_TRUE(m_pBackend->SameDevice(pipeShifted, pipeIn));
    for (UsbPipeId pipe : {pipeIn, pipeOut, pipeAgain, pipeShifted})
        m_pBackend->ClosePipe(pipe);
    EXPECT_FALSE(m_pBackend->SameDevice(pipeIn, pipeOut)) << "closed pipes name no device";
}

// Pipes of one device share one handle, move exact bytes and time out. A read waiting on a board
// that goes fails at once, not at its time-out. A board present at registration is no change; the
// others come once each, and never inside a caller's call: a caller keeps libusb's event handling
// busy inside its own reads, so libusb runs the hot-plug callback on that caller's thread more
// often than not.
TEST_F(LibusbBackendTest, PipesShareAHandleTimeOutAndFailAtUnplugAndChangesComeOutsideCalls)
{
    // The steady board has the higher device number: only port order makes it instance 0.
    CEmulatedBoard* pSteady = AddBoard(1, "1", 9, 0x09);
    CEmulatedBoard* pLeaving = AddBoard(1, "2", 3, 0x02);
    StartBackend();
    UsbPipeId pipeOut = Open(0, BULK_OUT);
    UsbPipeId pipeIn = Open(0, BULK_IN);
    ASSERT_TRUE(pipeOut != 0 && pipeIn != 0 && pipeOut != pipeIn);
    const auto tStart = std::chrono::steady_clock::now();
    EXPECT_TRUE(Read(pipeIn, 500).empty()); // and Read checks that the buffer was left alone
    const auto tTook = std::chrono::steady_clock::now() - tStart;
    EXPECT_GE(tTook, 450ms);
    EXPECT_LT(tTook, 2s);
    // The time-out cancelled the transfer on the bus; one open and claim serve both pipes.
    EXPECT_EQ(pSteady->Counts(), (CEmulatedBoard::SCounts{1, 1, 0, 1, 0}));

    // The cancelled transfer is gone for good: the next exchange gets its own reply.
    ASSERT_TRUE(Write(pipeOut, {CMD_WRITE_PORTS, 0x12, 0x34, 0x56, 0x78, 0x9A}));
    ASSERT_TRUE(Write(pipeOut, {CMD_READ_PORTS, 0, 0, 0, 0, 0}));
    // The 6-byte reply is shorter than the 64-byte buffer: a completed read all the same.
    EXPECT_EQ(Read(pipeIn), (Bytes{CMD_READ_PORTS, 0x12, 0x34, 0x56, 0x78, 0x9A}));

    // Closing one pipe keeps the device open and claimed for the other.
    ASSERT_TRUE(Write(pipeOut, {CMD_READ_DEVICE_ID, 0}));
    m_pBackend->ClosePipe(pipeOut);
    EXPECT_EQ(pSteady->Counts().nReleases, 0u);
    EXPECT_EQ(Read(pipeIn), (Bytes{CMD_READ_DEVICE_ID, 0x09}));

    // The last pipe releases the interface; the next one opens and claims afresh.
    m_pBackend->ClosePipe(pipeIn);
    EXPECT_EQ(pSteady->Counts().nReleases, 1u);
    const UsbPipeId pipeBusy = Open(0, BULK_IN);
    ASSERT_NE(pipeBusy, 0u);
    EXPECT_TRUE(WaitUntil([&] { return pSteady->Counts() == CEmulatedBoard::SCounts{2, 2, 1, 1}; },
                          2s));

    pipeOut = Open(1, BULK_OUT);
    pipeIn = Open(1, BULK_IN);
    ASSERT_TRUE(pipeOut != 0 && pipeIn != 0);
    ASSERT_TRUE(Write(pipeOut, {CMD_READ_DEVICE_ID, 0}));
    ASSERT_EQ(Read(pipeIn), (Bytes{CMD_READ_DEVICE_ID, 0x02}));
    Watch();
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(Changes().empty());

    // (Jthreads: an early return from a failed assertion stops and joins them.)
    std::jthread thrBusy(
        [&](std::stop_token stop)
        {
            while (!stop.stop_requested())
                Read(pipeBusy, 20);
        });
    std::jthread thrReader([&] { EXPECT_TRUE(Read(pipeIn, 8000).empty()); });
    ASSERT_TRUE(WaitUntil([&] { return pLeaving->Counts().nParked == 1; }, 3s));
    const auto tUnplug = std::chrono::steady_clock::now();
    pLeaving->Unplug();
    thrReader.join();
    EXPECT_LT(std::chrono::steady_clock::now() - tUnplug, 6s);
    // Plugged again each time with a new device number, as the kernel assigns.
    for (unsigned nRound = 0; nRound < 3; ++nRound)
    {
        ASSERT_TRUE(WaitForChanges(2 * nRound + 1));
        pLeaving = AddBoard(1, "2", 4 + nRound, static_cast<std::uint8_t>(0x10 + nRound));
        ASSERT_TRUE(WaitForChanges(2 * nRound + 2));
        if (nRound < 2)
            pLeaving->Unplug();
    }
    thrBusy.request_stop();
    thrBusy.join();

    EXPECT_FALSE(Write(pipeOut, {CMD_READ_DEVICE_ID, 0})) << "pipes of the old attachment";
    EXPECT_TRUE(Read(pipeIn, 200).empty());
    EXPECT_EQ(DeviceIdOf(1), 0x12);
    const UsbPipeId pipeBack = Open(1, BULK_IN);
    ASSERT_NE(pipeBack, 0u);
    EXPECT_FALSE(m_pBackend->SameDevice(pipeIn, pipeBack)) << "a new attachment";
    std::this_thread::sleep_for(200ms);
    using enum EDeviceChange;
    EXPECT_EQ(Changes(), (std::vector{Removal, Arrival, Removal, Arrival, Removal, Arrival}));
}

} // namespace
