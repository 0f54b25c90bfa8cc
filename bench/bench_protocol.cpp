// The cost of the command set alone and of one read-ports exchange through the driver layer on
// the simulated bus with zero latency: the baseline the libraries' overhead is measured against
// (libkelvard's read of all ports: at most 1.3 times the bare exchange).
#include "bench/KelvardReadLoop.h"

#include "protocol/DriverContext.h"
#include "protocol/Mpusb.h"
#include "sim/SimBackend.h"
#include "sim/SimBus.h"

#include <benchmark/benchmark.h>

static void BM_EncodeReadPorts(benchmark::State& state)
{
    Packet packet;
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(BuildRequest(packet, CMD_READ_PORTS));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_EncodeReadPorts);

static void BM_EncodeWritePorts(benchmark::State& state)
{
    Packet packet;
    const PortBytes ports{1, 2, 3, 4, 5};
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(BuildWritePorts(packet, ports));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_EncodeWritePorts);

static void BM_ParsePorts(benchmark::State& state)
{
    Packet packet{0x36, 1, 2, 3, 4, 5};
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(packet);
        benchmark::DoNotOptimize(ParsePorts(packet));
    }
}
BENCHMARK(BM_ParsePorts);

static void BM_ParseSerialNumber(benchmark::State& state)
{
    Packet packet{0x31, 16, 'S', 0, 'I', 0, 'M', 0, '0', 0, '0', 0, '0', 0, '0', 0, '1', 0};
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(packet);
        benchmark::DoNotOptimize(ParseSerialNumber(packet));
    }
}
BENCHMARK(BM_ParseSerialNumber);

// One simulated board with zero latency, on the default context (the driver operations' own).
static const std::shared_ptr<CDriverContext>& SimulatedDefault()
{
    static const std::shared_ptr<CDriverContext> pContext = []
    {
        auto pBus = std::make_shared<CSimBus>();
        pBus->Plug({});
        auto pSim = std::make_shared<CDriverContext>(std::make_shared<CSimBackend>(pBus));
        CDriverContext::SetDefault(pSim);
        return pSim;
    }();
    return pContext;
}

// The bare exchange: read-ports (write 6 bytes, read 6 bytes) through MPUSBWrite/MPUSBRead.
static void BM_ReadPortsExchange(benchmark::State& state)
{
    SimulatedDefault();
    const MPUSB_HANDLE hRead = MPUSBOpen(0, MPUSB_VID_PID, MPUSB_ENDPOINT, MP_READ, 0);
    const MPUSB_HANDLE hWrite = MPUSBOpen(0, MPUSB_VID_PID, MPUSB_ENDPOINT, MP_WRITE, 0);
    Packet packet{};
    std::uint32_t nMoved = 0;
    for (auto _ : state)
    {
        BuildRequest(packet, CMD_READ_PORTS);
        if (MPUSBWrite(hWrite, packet.data(), 6, &nMoved, MPUSB_TIMEOUT_MS) != MPUSB_SUCCESS ||
            MPUSBRead(hRead, packet.data(), 6, &nMoved, MPUSB_TIMEOUT_MS) != MPUSB_SUCCESS)
            state.SkipWithError("read-ports failed");
        benchmark::DoNotOptimize(ParsePorts(packet));
    }
    MPUSBClose(hRead);
    MPUSBClose(hWrite);
}
BENCHMARK(BM_ReadPortsExchange);

// The same exchange through a board link.
static void BM_ReadPortsLink(benchmark::State& state)
{
    CBoardLink link = SimulatedDefault()->Open(0);
    PortBytes ports{};
    for (auto _ : state)
    {
        if (link.ReadPorts(ports) != EStatus::Ok)
            state.SkipWithError("read-ports failed");
        benchmark::DoNotOptimize(ports);
    }
}
BENCHMARK(BM_ReadPortsLink);

// The same exchange as libkelvard's read of all five ports.
static void BM_KelvardReadPorts(benchmark::State& state)
{
    SimulatedDefault();
    KelvardReadLoop(state, "1");
}
BENCHMARK(BM_KelvardReadPorts);

BENCHMARK_MAIN();
