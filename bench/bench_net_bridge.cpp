// One read-ports frame round trip over loopback TCP through the bridge of 'zorvane serve', against
// the bare USB exchange it carries, both on the simulated bus with zero latency: the difference is
// what the bridge adds (two loopback hops, the wake-up of its loop, the frame code). And the same
// read as libkelvard's tcp: board makes it (at most twice the bare frame round trip).
#include "bench/KelvardReadLoop.h"
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

// A bridge of 'zorvane serve' on loopback, serving while it lives.
class CServing
{
public:
    CServing()
        : m_bridge(*m_board.sim.Context(), ScanBoards(*m_board.sim.Context()).at(0),
                   [](const std::string&) {})
    {
        if (m_bridge.Start(SBridgeOptions{}) && pipe(m_hStop) == 0)
            m_thread = std::thread([this] { m_bridge.Run(m_hStop[0]); });
    }
    ~CServing()
    {
        if (!m_thread.joinable())
            return;
        [[maybe_unused]] const ssize_t nWritten = write(m_hStop[1], "x", 1);
        m_thread.join();
        close(m_hStop[0]);
        close(m_hStop[1]);
    }
    bool IsServing() const { return m_thread.joinable(); }
    std::uint16_t Port() const { return m_bridge.Port(); }

private:
    SBoardOnBus m_board;
    CNetBridge m_bridge;
    int m_hStop[2] = {-1, -1};
    std::thread m_thread;
};

static void BM_BridgeReadPortsFrame(benchmark::State& state)
{
    CServing serving;
    if (!serving.IsServing())
    {
        state.SkipWithError("the bridge did not start");
        return;
    }
    CLoopbackClient client(serving.Port());
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
BENCHMARK(BM_BridgeReadPortsFrame)->UseRealTime();

static void BM_KelvardTcpReadPorts(benchmark::State& state)
{
    CServing serving;
    if (!serving.IsServing())
    {
        state.SkipWithError("no board on TCP");
        return;
    }
    KelvardReadLoop(state, ("tcp:127.0.0.1:" + std::to_string(serving.Port())).c_str());
}
BENCHMARK(BM_KelvardTcpReadPorts)->UseRealTime();

BENCHMARK_MAIN();
