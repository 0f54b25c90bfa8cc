// One read-ports frame round trip over loopback TCP through the bridge of 'zorvane serve', against
// the bare USB exchange it carries, both on the simulated bus with zero latency: the difference is
// what the bridge adds (two loopback hops, the wake-up of its loop, the frame code).
#include "tests/support/LoopbackClient.h"
#include "tests/support/SimFixture.h"
#include "zorvane/cli/NetBridge.h"

#include "protocol/net/Frames.h"

#include <benchmark/benchmark.h>

#include <thread>

namespace
{
// One board, no trace kept: the transfers cost the same in both benchmarks.
struct SBoardOnBus
{
    SBoardOnBus()
    {
        sim.Plug(SimBoardConfig().Id(7));
        sim.Bus().CaptureTrace(false);
    }
    CSimFixture sim;
};
} // namespace

static void BM_UsbReadPorts(benchmark::State& state)
{
    SBoardOnBus board;
    CBoardLink link = board.sim.Context()->Open(0);
    PortBytes ports{};
    for (auto _ : state)
    {
        if (link.ReadPorts(ports) != EStatus::Ok)
            state.SkipWithError("read-ports failed");
        benchmark::DoNotOptimize(ports);
    }
}
BENCHMARK(BM_UsbReadPorts)->UseRealTime();

static void BM_BridgeReadPortsFrame(benchmark::State& state)
{
    SBoardOnBus board;
    CNetBridge bridge(*board.sim.Context(), ScanBoards(*board.sim.Context()).at(0),
                      [](const std::string&) {});
    int hStop[2] = {-1, -1};
    if (!bridge.Start(SBridgeOptions{}) || pipe(hStop) != 0)
    {
        state.SkipWithError("the bridge did not start");
        return;
    }
    std::thread thread([&] { bridge.Run(hStop[0]); });
    {
        CLoopbackClient client(bridge.Port());
        // A board after reset reads all zeros: its reply frame reads as the request.
        const NetFrame request = BuildFrame(CMD_READ_PORTS);
        const std::string strFrame = HexText(request.data(), request.size());
        for (auto _ : state)
        {
            if (!client.Send(strFrame) || client.Receive(NET_FRAME_SIZE, 1000) != strFrame)
            {
                state.SkipWithError("no reply frame");
                break;
            }
        }
    }
    [[maybe_unused]] const ssize_t nWritten = write(hStop[1], "x", 1);
    thread.join();
    close(hStop[0]);
    close(hStop[1]);
}
BENCHMARK(BM_BridgeReadPortsFrame)->UseRealTime();

BENCHMARK_MAIN();
