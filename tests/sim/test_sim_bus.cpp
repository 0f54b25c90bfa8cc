// The simulated bus: instances and slots, the trace, faults, latency, re-attach timing and the
// board list of the environment.
#include "sim/SimBus.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace std::chrono_literals;

namespace
{
struct Pipes
{
    std::uint64_t nIn;
    std::uint64_t nOut;
};

Pipes OpenBoth(CSimBus& bus, std::uint32_t nInstance)
{
    return {bus.Open(nInstance, 0x81), bus.Open(nInstance, 0x01)};
}

bool Send(CSimBus& bus, const Pipes& pipes, std::vector<std::uint8_t> bytes,
          std::uint32_t nTimeout = 20)
{
    std::size_t nMoved = 0;
    return bus.Write(pipes.nOut, bytes.data(), bytes.size(), nMoved, nTimeout);
}

bool Receive(CSimBus& bus, const Pipes& pipes, std::vector<std::uint8_t>& reply,
             std::uint32_t nTimeout = 20)
{
    std::size_t nMoved = 0;
    const bool bOk = bus.Read(pipes.nIn, reply.data(), reply.size(), nMoved, nTimeout);
    reply.resize(nMoved ? nMoved : reply.size());
    return bOk;
}

std::uint8_t ReadId(CSimBus& bus, std::uint32_t nInstance)
{
    const Pipes pipes = OpenBoth(bus, nInstance);
    std::vector<std::uint8_t> reply(2, 0);
    const bool bOk = Send(bus, pipes, {0x3C, 0x00}) && Receive(bus, pipes, reply);
    bus.Close(pipes.nIn);
    bus.Close(pipes.nOut);
    return bOk ? reply[1] : 0;
}
} // namespace

TEST(SimBus, InstancesFollowTheSlotsOfAttachedBoards)
{
    CSimBus bus;
    auto p1 = bus.Plug(SimBoardConfig().Id(1));
    auto p2 = bus.Plug(SimBoardConfig().Id(2));
    auto p3 = bus.Plug(SimBoardConfig().Id(3));
    EXPECT_EQ(bus.Count(), 3u);
    bus.Unplug(p1);
    EXPECT_EQ(bus.Count(), 2u);
    EXPECT_EQ(ReadId(bus, 0), 2);
    EXPECT_EQ(ReadId(bus, 1), 3);
    EXPECT_EQ(bus.Open(2, 0x81), 0u);
    EXPECT_EQ(bus.Open(0, 0x02), 0u) << "only endpoint 1 exists";
    // Plugged back, a board takes its own slot again; a new board goes behind the last.
    bus.Replug(p1);
    auto p4 = bus.Plug(SimBoardConfig().Id(4));
    EXPECT_EQ(ReadId(bus, 0), 1);
    EXPECT_EQ(ReadId(bus, 3), 4);
    EXPECT_EQ(bus.Boards(), (std::vector<std::shared_ptr<CSimBoard>>{p1, p2, p3, p4}));
}

TEST(SimBus, TraceLinesAreExactAndFlushedAsTransfersComplete)
{
    const std::string strPath = ::testing::TempDir() + "sim_bus_trace.txt";
    std::remove(strPath.c_str());
    CSimBus bus;
    bus.SetTraceFile(strPath);
    bus.CaptureTrace(true);
    bus.Plug(SimBoardConfig().Id(0x2A));
    auto pSecond = bus.Plug(SimBoardConfig());
    const Pipes pipes = OpenBoth(bus, 1);
    const Pipes first = OpenBoth(bus, 0);

    std::vector<std::uint8_t> reply(2);
    EXPECT_TRUE(Send(bus, first, {0x3C, 0x00}));
    EXPECT_TRUE(Receive(bus, first, reply));
    {
        std::ifstream file(strPath); // read while the bus is still open: lines must be there
        std::string strLine;
        ASSERT_TRUE(std::getline(file, strLine));
        EXPECT_EQ(strLine, "0 > 3c 00");
        ASSERT_TRUE(std::getline(file, strLine));
        EXPECT_EQ(strLine, "0 < 3c 2a");
    }
    EXPECT_TRUE(Send(bus, pipes, {0x37, 0x00, 0x00, 0x0F, 0x00, 0x00}));
    pSecond->InjectFault(ESimFault::Fail, 1);
    EXPECT_FALSE(Send(bus, pipes, {0x37, 0xAB}));
    reply.assign(6, 0);
    EXPECT_FALSE(Receive(bus, pipes, reply)) << "nothing was asked, so nothing comes";
    bus.Unplug(pSecond);
    EXPECT_FALSE(Send(bus, pipes, {0x36}));

    EXPECT_EQ(bus.TakeTrace(),
              (std::vector<std::string>{"0 > 3c 00", "0 < 3c 2a", "1 > 37 00 00 0f 00 00",
                                        "1 >! 37 ab", "1 <!", "1 >! 36"}));
    EXPECT_TRUE(bus.TakeTrace().empty());
}

TEST(SimBus, FaultsHitTheNthTransferOfTheirBoard)
{
    CSimBus bus;
    bus.CaptureTrace(true);
    auto pBoard = bus.Plug(SimBoardConfig().Id(9));
    const Pipes pipes = OpenBoth(bus, 0);
    std::vector<std::uint8_t> reply(2);

    // Fail: a write is not taken (the latch stays), a read loses its reply.
    pBoard->InjectFault(ESimFault::Fail, 1);
    EXPECT_FALSE(Send(bus, pipes, {0x37, 0x01, 0x02, 0x03, 0x04, 0x05}));
    EXPECT_EQ(pBoard->Pins().byLatch, (PortBytes{}));

    // Corrupt: the reply arrives with one byte inverted (the last one of a short reply).
    pBoard->InjectFault(ESimFault::Corrupt, 2);
    EXPECT_TRUE(Send(bus, pipes, {0x3C, 0x00}));
    EXPECT_TRUE(Receive(bus, pipes, reply));
    EXPECT_EQ(reply[1], 0xF6);

    // Timeout: the transfer fails only after its whole time-out.
    pBoard->InjectFault(ESimFault::Timeout, 2);
    EXPECT_TRUE(Send(bus, pipes, {0x3C, 0x00}));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Receive(bus, pipes, reply, 60));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 60ms);

    // Unplug: the transfer completes, then the board is gone.
    pBoard->InjectFault(ESimFault::Unplug, 1);
    EXPECT_TRUE(Send(bus, pipes, {0x3C, 0x00}));
    EXPECT_EQ(bus.Count(), 0u);
    EXPECT_FALSE(Receive(bus, pipes, reply));
    EXPECT_EQ(pBoard->TransferCount(), 6u) << "transfers on a detached board never reach it";
}

TEST(SimBus, LatencyDelaysEveryTransfer)
{
    CSimBus bus;
    auto pBoard = bus.Plug(SimBoardConfig());
    pBoard->SetLatency(5ms);
    const Pipes pipes = OpenBoth(bus, 0);
    std::vector<std::uint8_t> reply(2);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 4; ++i)
    {
        ASSERT_TRUE(Send(bus, pipes, {0x3C, 0x00}));
        ASSERT_TRUE(Receive(bus, pipes, reply));
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start, 40ms);
}

TEST(SimBus, ABoardThatResetsStaysAwayForTheReattachDelay)
{
    CSimBus bus;
    bus.SetReattachDelay(50ms);
    std::mutex mutex;
    std::vector<bool> changes;
    bus.SetChangeListener(
        [&](bool bArrival)
        {
            std::lock_guard lock(mutex);
            changes.push_back(bArrival);
        });
    auto pBoard = bus.Plug(SimBoardConfig());
    const Pipes pipes = OpenBoth(bus, 0);
    EXPECT_TRUE(Send(bus, pipes, {0x32}));
    EXPECT_EQ(bus.Count(), 0u);
    ASSERT_TRUE(bus.WaitSettled(2s));
    EXPECT_EQ(bus.Count(), 1u);
    EXPECT_TRUE(pBoard->IsBootMode());
    EXPECT_FALSE(Send(bus, pipes, {0x08})) << "pipes of the old attachment stay dead";
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(changes, (std::vector<bool>{true, false, true}));
    }

    // Unplugging during the reset cancels the return.
    const Pipes boot = OpenBoth(bus, 0);
    EXPECT_TRUE(Send(bus, boot, {0xFF}));
    bus.Unplug(pBoard);
    EXPECT_TRUE(bus.WaitSettled(2s));
    std::this_thread::sleep_for(80ms);
    EXPECT_EQ(bus.Count(), 0u);
}

TEST(SimBus, BoardListOfTheEnvironment)
{
    std::vector<std::string> warnings;
    auto boards = ParseSimBoards(nullptr, warnings);
    ASSERT_EQ(boards.size(), 2u);
    EXPECT_EQ(boards[0].byId, 1);
    EXPECT_EQ(boards[0].strSerial, "SIM00001");
    EXPECT_EQ(boards[0].wVersion, 0x0103);
    EXPECT_EQ(boards[1].byId, 2);
    EXPECT_EQ(boards[1].strSerial, "");
    EXPECT_EQ(boards[1].wVersion, 0x0102);
    EXPECT_FALSE(boards[1].bBootMode);
    EXPECT_EQ(boards[1].wChip, 0x90);

    EXPECT_TRUE(ParseSimBoards("", warnings).empty());
    EXPECT_TRUE(ParseSimBoards(" ; ", warnings).empty());
    EXPECT_TRUE(warnings.empty());

    boards = ParseSimBoards(
        "id=7,serial=AB12CD34XY,version=259,mode=boot,chip=0x55;;version=0x0200", warnings);
    ASSERT_EQ(boards.size(), 2u);
    EXPECT_EQ(boards[0].byId, 7);
    EXPECT_EQ(boards[0].strSerial, "AB12CD34") << "the boot block holds eight characters";
    EXPECT_EQ(boards[0].wVersion, 0x0103);
    EXPECT_TRUE(boards[0].bBootMode);
    EXPECT_EQ(boards[0].wChip, 0x55);
    EXPECT_EQ(boards[1].byId, 1);
    EXPECT_EQ(boards[1].wVersion, 0x0200);
    EXPECT_TRUE(warnings.empty());

    boards = ParseSimBoards("id=256,colour=red,mode=sleep,version=x,id=3,serial", warnings);
    ASSERT_EQ(boards.size(), 1u);
    EXPECT_EQ(boards[0].byId, 3) << "bad values are skipped, good ones still count";
    EXPECT_EQ(warnings, (std::vector<std::string>{"ignoring 'id=256'", "ignoring 'colour=red'",
                                                  "ignoring 'mode=sleep'", "ignoring 'version=x'",
                                                  "ignoring 'serial'"}));
}
