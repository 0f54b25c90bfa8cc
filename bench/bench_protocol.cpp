// The cost of the command set alone and of one read-ports exchange through the driver layer on
// the simulated bus with zero latency: the baseline the library's overhead is measured against.
#include "protocol/DeviceLink.h"
#include "protocol/backends/SimBackend.h"
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

// One read-ports exchange (write 6 bytes, read 6 bytes) through MPUSBWrite/MPUSBRead.
static void BM_ReadPortsExchange(benchmark::State& state)
{
    auto pBus = std::make_shared<CSimBus>();
    pBus->Plug({});
    MpusbInstallBackend(std::make_shared<CSimBackend>(pBus));
    const MPUSB_HANDLE hRead = MPUSBOpen(0, MPUSB_VID_PID, MPUSB_ENDPOINT, MP_READ, 0);
    const MPUSB_HANDLE hWrite = MPUSBOpen(0, MPUSB_VID_PID, MPUSB_ENDPOINT, MP_WRITE, 0);
    PortBytes ports{};
    for (auto _ : state)
    {
        if (!UsbReadPorts(hRead, hWrite, ports))
            state.SkipWithError("read-ports failed");
        benchmark::DoNotOptimize(ports);
    }
    MPUSBClose(hRead);
    MPUSBClose(hWrite);
    MpusbInstallBackend(nullptr);
}
BENCHMARK(BM_ReadPortsExchange);

BENCHMARK_MAIN();
