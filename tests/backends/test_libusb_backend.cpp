// The libusb backend against boards on a bus emulated by umockdev: real libusb, real usbfs
// ioctls, answered by CEmulatedBoard. Runs under umockdev-wrapper; skipped (77) without it.
#include "EmulatedBoard.h"
#include "backends/LibusbBackend.h"
#include "Mpusb.h"

#include <gtest/gtest.h>
#include <umockdev.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

namespace
{
constexpr std::uint8_t kOut = 0x01;
constexpr std::uint8_t kIn = 0x81;
constexpr std::uint32_t kTimeoutMs = MPUSB_TIMEOUT_MS;

class CUmockdevEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        // umockdev decides once, on first asking, from what /sys looks like: ask while a
        // testbed exists, or the answer is "no" for good.
        UMockdevTestbed* pTestbed = umockdev_testbed_new();
        const bool bMocked = umockdev_in_mock_environment();
        g_object_unref(pTestbed);
        if (!bMocked)
        {
            std::fprintf(stderr, "not under umockdev-wrapper: skipping\n");
            std::exit(77);
        }
    }
};

[[maybe_unused]] ::testing::Environment* const g_pEnvironment =
    ::testing::AddGlobalTestEnvironment(new CUmockdevEnvironment);

// Set while the current thread is inside a call to the backend, so a sink can tell whether it
// was called from within one.
thread_local bool t_bInBackendCall = false;

class CInCall
{
public:
    CInCall() { t_bInBackendCall = true; }
    ~CInCall() { t_bInBackendCall = false; }
    CInCall(const CInCall&) = delete;
    CInCall& operator=(const CInCall&) = delete;
};

bool WaitUntil(const std::function<bool()>& fnDone, std::chrono::milliseconds timeout)
{
    const auto tEnd = std::chrono::steady_clock::now() + timeout;
    while (!fnDone())
    {
        if (std::chrono::steady_clock::now() > tEnd)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// What the watch reported, and from which threads.
struct CChangeLog
{
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<EDeviceChange> m_vecChanges;
    std::vector<std::thread::id> m_vecThreads;
    int m_nInsideCalls = 0; // deliveries made from within a caller's backend call

    CUsbBackend::ChangeSink Sink()
    {
        return [this](EDeviceChange change)
        {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_vecChanges.push_back(change);
                m_vecThreads.push_back(std::this_thread::get_id());
                if (t_bInBackendCall)
                    ++m_nInsideCalls;
            }
            m_cv.notify_all();
        };
    }
    bool WaitFor(std::size_t nCount, std::chrono::milliseconds timeout)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, timeout, [&] { return m_vecChanges.size() >= nCount; });
    }
    std::vector<EDeviceChange> Changes()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_vecChanges;
    }
    std::vector<std::thread::id> Threads()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_vecThreads;
    }
    int InsideCalls()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_nInsideCalls;
    }
};

class LibusbBackendTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // The testbed must exist before libusb starts, or libusb sees the real (empty) system.
        m_pTestbed = umockdev_testbed_new();
        ASSERT_NE(m_pTestbed, nullptr);
    }

    void TearDown() override
    {
        m_pBackend.reset(); // closes every handle before the boards' handlers go
        m_vecBoards.clear();
        g_clear_object(&m_pTestbed);
    }

    CEmulatedBoard* AddBoard(unsigned nBus, const char* pszPort, unsigned nAddress,
                             std::uint8_t byDeviceId)
    {
        auto pBoard =
            std::make_unique<CEmulatedBoard>(m_pTestbed, nBus, pszPort, nAddress, byDeviceId);
        std::string strError;
        if (!pBoard->Plug(strError))
        {
            ADD_FAILURE() << "cannot plug the board: " << strError;
            return nullptr;
        }
        m_vecBoards.push_back(std::move(pBoard));
        return m_vecBoards.back().get();
    }

    void StartBackend()
    {
        m_pBackend = std::make_unique<CLibusbBackend>();
        ASSERT_TRUE(m_pBackend->IsAvailable());
    }

    std::uint32_t Count() { return m_pBackend->CountDevices(MPUSB_VENDOR, MPUSB_PRODUCT); }

    UsbPipeId Open(std::uint32_t nInstance, std::uint8_t byEndpoint)
    {
        return m_pBackend->OpenPipe(nInstance, MPUSB_VENDOR, MPUSB_PRODUCT, byEndpoint);
    }

    bool Write(UsbPipeId pipe, const Bytes& vecData, std::size_t* pMoved = nullptr)
    {
        std::size_t nMoved = 999;
        const CInCall inCall;
        const bool bOk =
            m_pBackend->WritePipe(pipe, vecData.data(), vecData.size(), nMoved, kTimeoutMs);
        if (pMoved != nullptr)
            *pMoved = nMoved;
        return bOk;
    }

    // Reads one reply into a 64-byte buffer; empty on failure.
    bool Read(UsbPipeId pipe, Bytes& vecReply, std::uint32_t nTimeoutMs = kTimeoutMs)
    {
        std::array<std::uint8_t, 64> arrBuffer{};
        std::size_t nMoved = 999;
        const CInCall inCall;
        const bool bOk =
            m_pBackend->ReadPipe(pipe, arrBuffer.data(), arrBuffer.size(), nMoved, nTimeoutMs);
        vecReply.assign(arrBuffer.begin(), arrBuffer.begin() + (bOk ? nMoved : 0));
        return bOk;
    }

    // Asks the instance for its device ID through a fresh pair of pipes; -1 on any failure.
    int DeviceIdOf(std::uint32_t nInstance)
    {
        const UsbPipeId pipeOut = Open(nInstance, kOut);
        const UsbPipeId pipeIn = Open(nInstance, kIn);
        int nId = -1;
        Bytes vecReply;
        if (pipeOut != 0 && pipeIn != 0 && Write(pipeOut, {CEmulatedBoard::kCmdReadDeviceId, 0}) &&
            Read(pipeIn, vecReply) && vecReply.size() == 2 &&
            vecReply[0] == CEmulatedBoard::kCmdReadDeviceId)
            nId = vecReply[1];
        m_pBackend->ClosePipe(pipeOut);
        m_pBackend->ClosePipe(pipeIn);
        return nId;
    }

    UMockdevTestbed* m_pTestbed = nullptr;
    std::vector<std::unique_ptr<CEmulatedBoard>> m_vecBoards;
    std::unique_ptr<CLibusbBackend> m_pBackend;
};

TEST_F(LibusbBackendTest, NoBoardsMeansNothingToOpen)
{
    StartBackend();
    EXPECT_EQ(Count(), 0u);
    EXPECT_EQ(Open(0, kOut), 0u);
}

TEST_F(LibusbBackendTest, InstancesFollowBusThenPortNotAttachOrder)
{
    // Attached first, but on bus 2: instance 1.
    ASSERT_NE(AddBoard(2, "1", 2, 0x22), nullptr);
    ASSERT_NE(AddBoard(1, "4", 3, 0x11), nullptr);
    StartBackend();

    EXPECT_EQ(Count(), 2u);
    EXPECT_EQ(m_pBackend->CountDevices(MPUSB_VENDOR, 0x1234), 0u);
    EXPECT_EQ(m_pBackend->CountDevices(0x1234, MPUSB_PRODUCT), 0u);
    EXPECT_EQ(DeviceIdOf(0), 0x11);
    EXPECT_EQ(DeviceIdOf(1), 0x22);
    EXPECT_EQ(Open(2, kOut), 0u);
    EXPECT_EQ(m_pBackend->OpenPipe(0, MPUSB_VENDOR, 0x1234, kOut), 0u);
}

TEST_F(LibusbBackendTest, InstancesOnOneBusFollowPortNotAddress)
{
    // Device numbers run against the port order, so ordering by address would be caught.
    ASSERT_NE(AddBoard(1, "3", 2, 0x33), nullptr);
    ASSERT_NE(AddBoard(3, "1", 4, 0x41), nullptr);
    ASSERT_NE(AddBoard(1, "1", 7, 0x31), nullptr);
    StartBackend();

    ASSERT_EQ(Count(), 3u);
    EXPECT_EQ(DeviceIdOf(0), 0x31);
    EXPECT_EQ(DeviceIdOf(1), 0x33);
    EXPECT_EQ(DeviceIdOf(2), 0x41);
}

TEST_F(LibusbBackendTest, WritePortsThenReadPortsMovesExactBytes)
{
    CEmulatedBoard* pBoard = AddBoard(1, "1", 2, 0x05);
    ASSERT_NE(pBoard, nullptr);
    StartBackend();
    const UsbPipeId pipeOut = Open(0, kOut);
    const UsbPipeId pipeIn = Open(0, kIn);
    ASSERT_NE(pipeOut, 0u);
    ASSERT_NE(pipeIn, 0u);
    EXPECT_NE(pipeOut, pipeIn);

    const Bytes vecWrite{CEmulatedBoard::kCmdWritePorts, 0x12, 0x34, 0x56, 0x78, 0x9A};
    std::size_t nMoved = 0;
    ASSERT_TRUE(Write(pipeOut, vecWrite, &nMoved));
    EXPECT_EQ(nMoved, vecWrite.size());
    EXPECT_EQ(pBoard->Ports(), (std::array<std::uint8_t, 5>{0x12, 0x34, 0x56, 0x78, 0x9A}));

    const Bytes vecAsk{CEmulatedBoard::kCmdReadPorts, 0, 0, 0, 0, 0};
    ASSERT_TRUE(Write(pipeOut, vecAsk));
    Bytes vecReply;
    ASSERT_TRUE(Read(pipeIn, vecReply));
    EXPECT_EQ(vecReply, (Bytes{CEmulatedBoard::kCmdReadPorts, 0x12, 0x34, 0x56, 0x78, 0x9A}));

    EXPECT_EQ(pBoard->Received(), (std::vector<Bytes>{vecWrite, vecAsk}));
    EXPECT_EQ(pBoard->UnknownIoctls(), 0u);
}

TEST_F(LibusbBackendTest, ReadWithoutReplyTimesOutAndLeavesBufferAlone)
{
    CEmulatedBoard* pBoard = AddBoard(1, "1", 2, 0x07);
    ASSERT_NE(pBoard, nullptr);
    StartBackend();
    const UsbPipeId pipeOut = Open(0, kOut);
    const UsbPipeId pipeIn = Open(0, kIn);
    ASSERT_NE(pipeIn, 0u);

    std::array<std::uint8_t, 64> arrBuffer;
    arrBuffer.fill(0xA5);
    std::size_t nMoved = 999;
    const auto tStart = std::chrono::steady_clock::now();
    EXPECT_FALSE(m_pBackend->ReadPipe(pipeIn, arrBuffer.data(), arrBuffer.size(), nMoved, 500));
    const auto tElapsed = std::chrono::steady_clock::now() - tStart;
    EXPECT_GE(tElapsed, 400ms);
    EXPECT_EQ(nMoved, 0u);
    EXPECT_TRUE(std::all_of(arrBuffer.begin(), arrBuffer.end(), [](auto b) { return b == 0xA5; }));
    EXPECT_EQ(pBoard->Discards(), 1u); // the time-out cancelled the transfer on the bus

    // The cancelled transfer is gone for good: the next exchange gets its own reply.
    ASSERT_TRUE(Write(pipeOut, {CEmulatedBoard::kCmdReadDeviceId, 0}));
    Bytes vecReply;
    ASSERT_TRUE(Read(pipeIn, vecReply));
    EXPECT_EQ(vecReply, (Bytes{CEmulatedBoard::kCmdReadDeviceId, 0x07}));
}

TEST_F(LibusbBackendTest, ShortReplyIsACompletedRead)
{
    CEmulatedBoard* pBoard = AddBoard(1, "1", 2, 0x01);
    ASSERT_NE(pBoard, nullptr);
    StartBackend();
    const UsbPipeId pipeIn = Open(0, kIn);
    ASSERT_NE(pipeIn, 0u);

    pBoard->QueueReply({0xC1, 0xC2, 0xC3});
    std::array<std::uint8_t, 64> arrBuffer;
    arrBuffer.fill(0xA5);
    std::size_t nMoved = 0;
    ASSERT_TRUE(m_pBackend->ReadPipe(pipeIn, arrBuffer.data(), arrBuffer.size(), nMoved, 500));
    EXPECT_EQ(nMoved, 3u);
    EXPECT_EQ(arrBuffer[0], 0xC1);
    EXPECT_EQ(arrBuffer[1], 0xC2);
    EXPECT_EQ(arrBuffer[2], 0xC3);
    EXPECT_TRUE(
        std::all_of(arrBuffer.begin() + 3, arrBuffer.end(), [](auto b) { return b == 0xA5; }));
}

TEST_F(LibusbBackendTest, OverflowingReplyFailsAndLeavesBufferAlone)
{
    CEmulatedBoard* pBoard = AddBoard(1, "1", 2, 0x01);
    ASSERT_NE(pBoard, nullptr);
    StartBackend();
    const UsbPipeId pipeIn = Open(0, kIn);
    ASSERT_NE(pipeIn, 0u);

    pBoard->QueueReply(Bytes(10, 0x3E));
    std::array<std::uint8_t, 4> arrBuffer;
    arrBuffer.fill(0xA5);
    std::size_t nMoved = 999;
    EXPECT_FALSE(m_pBackend->ReadPipe(pipeIn, arrBuffer.data(), arrBuffer.size(), nMoved, 500));
    EXPECT_EQ(nMoved, 0u);
    EXPECT_EQ(arrBuffer, (std::array<std::uint8_t, 4>{0xA5, 0xA5, 0xA5, 0xA5}));
}

TEST_F(LibusbBackendTest, PartialWriteAndStallsFail)
{
    CEmulatedBoard* pBoard = AddBoard(1, "1", 2, 0x01);
    ASSERT_NE(pBoard, nullptr);
    StartBackend();
    const UsbPipeId pipeOut = Open(0, kOut);
    const UsbPipeId pipeIn = Open(0, kIn);
    ASSERT_NE(pipeOut, 0u);
    ASSERT_NE(pipeIn, 0u);
    const Bytes vecWrite{CEmulatedBoard::kCmdWritePorts, 1, 2, 3, 4, 5};

    // The board takes 3 of 6 bytes: not a success, and the count says so.
    pBoard->ForceNextUrb(0, 3);
    std::size_t nMoved = 0;
    EXPECT_FALSE(Write(pipeOut, vecWrite, &nMoved));
    EXPECT_EQ(nMoved, 3u);

    pBoard->ForceNextUrb(-EPIPE, 0);
    EXPECT_FALSE(Write(pipeOut, vecWrite, &nMoved));
    EXPECT_EQ(nMoved, 0u);

    pBoard->ForceNextUrb(-EPIPE, 0);
    std::array<std::uint8_t, 64> arrBuffer;
    arrBuffer.fill(0xA5);
    nMoved = 999;
    EXPECT_FALSE(m_pBackend->ReadPipe(pipeIn, arrBuffer.data(), arrBuffer.size(), nMoved, 500));
    EXPECT_EQ(nMoved, 0u);
    EXPECT_TRUE(std::all_of(arrBuffer.begin(), arrBuffer.end(), [](auto b) { return b == 0xA5; }));

    // Once the board behaves again, so do the pipes.
    ASSERT_TRUE(Write(pipeOut, vecWrite, &nMoved));
    EXPECT_EQ(nMoved, 6u);
    EXPECT_EQ(pBoard->Ports(), (std::array<std::uint8_t, 5>{1, 2, 3, 4, 5}));
}

TEST_F(LibusbBackendTest, WrongDirectionUnknownPipesAndMissingEndpointsFail)
{
    CEmulatedBoard* pBoard = AddBoard(1, "1", 2, 0x01);
    ASSERT_NE(pBoard, nullptr);
    StartBackend();
    const UsbPipeId pipeOut = Open(0, kOut);
    const UsbPipeId pipeIn = Open(0, kIn);
    ASSERT_NE(pipeOut, 0u);
    ASSERT_NE(pipeIn, 0u);

    EXPECT_EQ(Open(0, 0x02), 0u); // the board has no such endpoint
    EXPECT_EQ(Open(0, 0x82), 0u);

    const Bytes vecAsk{CEmulatedBoard::kCmdReadDeviceId, 0};
    EXPECT_FALSE(Write(pipeIn, vecAsk));
    pBoard->QueueReply({0x01});
    Bytes vecReply;
    EXPECT_FALSE(Read(pipeOut, vecReply, 100));
    EXPECT_FALSE(Write(pipeOut + pipeIn + 100, vecAsk));
    EXPECT_FALSE(Read(0, vecReply, 100));
    m_pBackend->ClosePipe(12345); // ignored
    EXPECT_TRUE(pBoard->Received().empty());

    // A closed pipe is dead, and its number is not handed out again.
    m_pBackend->ClosePipe(pipeOut);
    EXPECT_FALSE(Write(pipeOut, vecAsk));
    const UsbPipeId pipeAgain = Open(0, kOut);
    EXPECT_NE(pipeAgain, 0u);
    EXPECT_NE(pipeAgain, pipeOut);
    EXPECT_NE(pipeAgain, pipeIn);
    EXPECT_TRUE(Write(pipeAgain, vecAsk));
}

TEST_F(LibusbBackendTest, PipesOfOneDeviceShareOneHandle)
{
    CEmulatedBoard* pBoard = AddBoard(1, "1", 2, 0x09);
    ASSERT_NE(pBoard, nullptr);
    StartBackend();
    const UsbPipeId pipeOut = Open(0, kOut);
    const UsbPipeId pipeIn = Open(0, kIn);
    ASSERT_NE(pipeOut, 0u);
    ASSERT_NE(pipeIn, 0u);
    EXPECT_EQ(pBoard->Opens(), 1u);
    EXPECT_EQ(pBoard->Claims(), 1u);

    // Closing one pipe keeps the device open for the other.
    m_pBackend->ClosePipe(pipeOut);
    EXPECT_EQ(pBoard->Releases(), 0u);
    pBoard->QueueReply({0x5A, 0xA5});
    Bytes vecReply;
    ASSERT_TRUE(Read(pipeIn, vecReply));
    EXPECT_EQ(vecReply, (Bytes{0x5A, 0xA5}));

    // A new pipe joins the handle still open.
    const UsbPipeId pipeOut2 = Open(0, kOut);
    ASSERT_NE(pipeOut2, 0u);
    EXPECT_EQ(pBoard->Opens(), 1u);
    EXPECT_EQ(pBoard->Claims(), 1u);
    ASSERT_TRUE(Write(pipeOut2, {CEmulatedBoard::kCmdReadDeviceId, 0}));
    ASSERT_TRUE(Read(pipeIn, vecReply));
    EXPECT_EQ(vecReply, (Bytes{CEmulatedBoard::kCmdReadDeviceId, 0x09}));

    // The last pipe releases the interface.
    m_pBackend->ClosePipe(pipeIn);
    EXPECT_EQ(pBoard->Releases(), 0u);
    m_pBackend->ClosePipe(pipeOut2);
    EXPECT_EQ(pBoard->Releases(), 1u);

    // And the next pipe opens and claims afresh.
    const UsbPipeId pipeOut3 = Open(0, kOut);
    ASSERT_NE(pipeOut3, 0u);
    EXPECT_TRUE(WaitUntil([&] { return pBoard->Opens() == 2u; }, 2s));
    EXPECT_EQ(pBoard->Claims(), 2u);
    m_pBackend->ClosePipe(pipeOut3);
    EXPECT_EQ(pBoard->Releases(), 2u);
}

TEST_F(LibusbBackendTest, ClosingAPipeMidTransferKeepsTheHandleUntilItEnds)
{
    CEmulatedBoard* pBoard = AddBoard(1, "1", 2, 0x0C);
    ASSERT_NE(pBoard, nullptr);
    StartBackend();
    const UsbPipeId pipeOut = Open(0, kOut);
    const UsbPipeId pipeIn = Open(0, kIn);
    ASSERT_NE(pipeIn, 0u);

    std::atomic<bool> bReadOk{false};
    Bytes vecReply;
    std::thread thrReader([&] { bReadOk = Read(pipeIn, vecReply, 5000); });
    ASSERT_TRUE(pBoard->WaitForParkedReads(1, 3s));

    m_pBackend->ClosePipe(pipeIn);
    m_pBackend->ClosePipe(pipeOut);
    EXPECT_EQ(pBoard->Releases(), 0u); // the transfer in flight still holds the device

    pBoard->QueueReply({CEmulatedBoard::kCmdReadDeviceId, 0x0C});
    thrReader.join();
    EXPECT_TRUE(bReadOk);
    EXPECT_EQ(vecReply, (Bytes{CEmulatedBoard::kCmdReadDeviceId, 0x0C}));
    EXPECT_EQ(pBoard->Releases(), 1u);
}

TEST_F(LibusbBackendTest, UnplugFailsTransfersAndReplugArrives)
{
    CEmulatedBoard* pBoard = AddBoard(1, "1", 2, 0x21);
    ASSERT_NE(pBoard, nullptr);
    StartBackend();
    CChangeLog log;
    m_pBackend->WatchChanges(log.Sink());

    const UsbPipeId pipeOut = Open(0, kOut);
    const UsbPipeId pipeIn = Open(0, kIn);
    ASSERT_NE(pipeOut, 0u);
    ASSERT_NE(pipeIn, 0u);
    ASSERT_TRUE(Write(pipeOut, {CEmulatedBoard::kCmdReadDeviceId, 0}));
    Bytes vecReply;
    ASSERT_TRUE(Read(pipeIn, vecReply));

    // A board present at registration is no change.
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(log.Changes().empty());

    // A read waiting on the bus when the board goes fails at once, not at its time-out.
    std::atomic<bool> bReadOk{true};
    std::chrono::steady_clock::duration tReadTook{};
    std::thread thrReader(
        [&]
        {
            Bytes vecLate;
            const auto tStart = std::chrono::steady_clock::now();
            bReadOk = Read(pipeIn, vecLate, 8000);
            tReadTook = std::chrono::steady_clock::now() - tStart;
        });
    ASSERT_TRUE(pBoard->WaitForParkedReads(1, 3s));
    pBoard->Unplug();
    thrReader.join();
    EXPECT_FALSE(bReadOk);
    EXPECT_LT(tReadTook, 6s);

    ASSERT_TRUE(log.WaitFor(1, 5s));
    EXPECT_EQ(log.Changes().front(), EDeviceChange::Removal);
    EXPECT_TRUE(WaitUntil([&] { return Count() == 0u; }, 5s));
    EXPECT_FALSE(Write(pipeOut, {CEmulatedBoard::kCmdReadDeviceId, 0}));
    EXPECT_FALSE(Read(pipeIn, vecReply, 200));
    EXPECT_EQ(Open(0, kOut), 0u);

    // Plugged again (a new device number, as the kernel assigns): Arrival, and it opens.
    CEmulatedBoard* pAgain = AddBoard(1, "1", 3, 0x22);
    ASSERT_NE(pAgain, nullptr);
    ASSERT_TRUE(log.WaitFor(2, 5s));
    EXPECT_TRUE(WaitUntil([&] { return Count() == 1u; }, 5s));
    EXPECT_EQ(DeviceIdOf(0), 0x22);

    m_pBackend->ClosePipe(pipeOut);
    m_pBackend->ClosePipe(pipeIn);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(log.Changes(),
              (std::vector<EDeviceChange>{EDeviceChange::Removal, EDeviceChange::Arrival}));
    for (const std::thread::id& idThread : log.Threads())
        EXPECT_NE(idThread, std::this_thread::get_id());
}

TEST_F(LibusbBackendTest, ChangesNeverArriveInsideACallersCall)
{
    CEmulatedBoard* pSteady = AddBoard(1, "1", 2, 0x01);
    CEmulatedBoard* pLeaving = AddBoard(1, "2", 3, 0x02);
    ASSERT_NE(pSteady, nullptr);
    ASSERT_NE(pLeaving, nullptr);
    StartBackend();
    CChangeLog log;
    m_pBackend->WatchChanges(log.Sink());

    // A caller keeps libusb's event handling busy inside its own reads, so libusb runs the
    // hot-plug callback on that caller's thread more often than not.
    const UsbPipeId pipeIn = Open(0, kIn);
    ASSERT_NE(pipeIn, 0u);
    std::atomic<bool> bStop{false};
    std::thread thrBusy(
        [&]
        {
            Bytes vecReply;
            while (!bStop)
                Read(pipeIn, vecReply, 20);
        });

    for (unsigned nRound = 0; nRound < 3; ++nRound)
    {
        pLeaving->Unplug();
        ASSERT_TRUE(log.WaitFor(2 * nRound + 1, 5s));
        pLeaving = AddBoard(1, "2", 4 + nRound, static_cast<std::uint8_t>(0x10 + nRound));
        ASSERT_NE(pLeaving, nullptr);
        ASSERT_TRUE(log.WaitFor(2 * nRound + 2, 5s));
    }
    bStop = true;
    thrBusy.join();

    EXPECT_EQ(log.Changes().size(), 6u);
    EXPECT_EQ(log.InsideCalls(), 0);
    EXPECT_EQ(DeviceIdOf(1), 0x12);
}

TEST_F(LibusbBackendTest, WatchStopsPromptlyWithTheBackend)
{
    ASSERT_NE(AddBoard(1, "1", 2, 0x01), nullptr);
    StartBackend();
    CChangeLog log;
    m_pBackend->WatchChanges(log.Sink());
    m_pBackend->WatchChanges(log.Sink()); // a second call is ignored
    std::this_thread::sleep_for(50ms);
    const auto tStart = std::chrono::steady_clock::now();
    m_pBackend.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - tStart, 2s);
    EXPECT_TRUE(log.Changes().empty());
}

TEST_F(LibusbBackendTest, ConcurrentTransfersOnTwoBoards)
{
    std::array<CEmulatedBoard*, 2> arrBoards{AddBoard(1, "1", 2, 0x01), AddBoard(1, "2", 3, 0x02)};
    ASSERT_NE(arrBoards[0], nullptr);
    ASSERT_NE(arrBoards[1], nullptr);
    StartBackend();
    CChangeLog log;
    m_pBackend->WatchChanges(log.Sink()); // the event thread runs alongside the transfers

    constexpr int kRounds = 60;
    std::atomic<int> nFailures{0};
    std::atomic<bool> bDone{false};
    auto fnWorker = [&](std::uint32_t nInstance)
    {
        const UsbPipeId pipeOut = Open(nInstance, kOut);
        const UsbPipeId pipeIn = Open(nInstance, kIn);
        for (int i = 0; i < kRounds; ++i)
        {
            const auto byValue = static_cast<std::uint8_t>(i * 3 + nInstance);
            const Bytes vecWrite{CEmulatedBoard::kCmdWritePorts, byValue, 0, byValue, 0, 0xFF};
            Bytes vecReply;
            if (!Write(pipeOut, vecWrite) ||
                !Write(pipeOut, {CEmulatedBoard::kCmdReadPorts, 0, 0, 0, 0, 0}) ||
                !Read(pipeIn, vecReply) ||
                vecReply != Bytes{CEmulatedBoard::kCmdReadPorts, byValue, 0, byValue, 0, 0xFF})
                ++nFailures;
        }
        m_pBackend->ClosePipe(pipeOut);
        m_pBackend->ClosePipe(pipeIn);
    };
    // Meanwhile a third thread keeps opening and closing extra pipes on both boards.
    std::thread thrChurn(
        [&]
        {
            while (!bDone)
            {
                for (std::uint32_t n = 0; n < 2; ++n)
                {
                    const UsbPipeId pipe = Open(n, kOut);
                    if (pipe == 0 || Count() != 2u)
                        ++nFailures;
                    m_pBackend->ClosePipe(pipe);
                }
            }
        });
    std::thread thrA(fnWorker, 0u);
    std::thread thrB(fnWorker, 1u);
    thrA.join();
    thrB.join();
    bDone = true;
    thrChurn.join();

    EXPECT_EQ(nFailures.load(), 0);
    EXPECT_EQ(arrBoards[0]->Received().size(), 2u * kRounds);
    EXPECT_EQ(arrBoards[1]->Received().size(), 2u * kRounds);
    EXPECT_EQ(arrBoards[0]->Ports(), (std::array<std::uint8_t, 5>{177, 0, 177, 0, 0xFF}));
    EXPECT_EQ(arrBoards[1]->Ports(), (std::array<std::uint8_t, 5>{178, 0, 178, 0, 0xFF}));
    EXPECT_TRUE(log.Changes().empty());
}

TEST_F(LibusbBackendTest, SameDeviceTellsAttachmentsApart)
{
    CEmulatedBoard* pFirst = AddBoard(1, "1", 2, 0x01);
    CEmulatedBoard* pSecond = AddBoard(1, "2", 3, 0x02);
    ASSERT_NE(pFirst, nullptr);
    ASSERT_NE(pSecond, nullptr);
    StartBackend();
    const UsbPipeId pipeIn = Open(1, kIn);
    const UsbPipeId pipeOut = Open(1, kOut);
    const UsbPipeId pipeAgain = Open(1, kIn);
    const UsbPipeId pipeOther = Open(0, kIn);
    ASSERT_NE(pipeAgain, 0u);
    ASSERT_NE(pipeOther, 0u);
    EXPECT_TRUE(m_pBackend->SameDevice(pipeIn, pipeOut));
    EXPECT_TRUE(m_pBackend->SameDevice(pipeIn, pipeAgain));
    EXPECT_FALSE(m_pBackend->SameDevice(pipeIn, pipeOther));
    EXPECT_FALSE(m_pBackend->SameDevice(pipeIn, 0));
    EXPECT_FALSE(m_pBackend->SameDevice(pipeIn, 9999));

    // The board ahead leaves: the other one is instance 0 now, and still the same device.
    m_pBackend->ClosePipe(pipeOther);
    pFirst->Unplug();
    ASSERT_TRUE(WaitUntil([&] { return Count() == 1u; }, 5s));
    const UsbPipeId pipeShifted = Open(0, kIn);
    ASSERT_NE(pipeShifted, 0u);
    EXPECT_TRUE(m_pBackend->SameDevice(pipeIn, pipeShifted));
    m_pBackend->ClosePipe(pipeShifted);

    // It leaves and comes back (a new device number): another attachment.
    pSecond->Unplug();
    ASSERT_TRUE(WaitUntil([&] { return Count() == 0u; }, 5s));
    ASSERT_NE(AddBoard(1, "2", 4, 0x02), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return Count() == 1u; }, 5s));
    const UsbPipeId pipeBack = Open(0, kIn);
    ASSERT_NE(pipeBack, 0u);
    EXPECT_FALSE(m_pBackend->SameDevice(pipeIn, pipeBack));
    EXPECT_FALSE(m_pBackend->SameDevice(pipeBack, pipeIn));

    for (UsbPipeId pipe : {pipeIn, pipeOut, pipeAgain, pipeBack})
        m_pBackend->ClosePipe(pipe);
    EXPECT_FALSE(m_pBackend->SameDevice(pipeIn, pipeOut)) << "closed pipes name no device";
}
} // namespace
