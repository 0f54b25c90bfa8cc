// A full firmware update of a simulated Pic18F4550 whose every transfer takes 1 ms, against the
// bound of (transfers x 1 ms): what the client adds on top of the bus is the difference.
//
// The image fills program memory from 0x800 to 0x7FFF (1920 blocks of 16 bytes). One iteration
// only: the update takes several seconds.
//
// Counters: transfers, bound_s (transfers x 1 ms), update_s (the update's wall time),
// over_bound_pct (target: at most 2) and excess_us (time above the bound per transfer). The
// simulated latency ends on time (the bus sleeps, then yields until it is due), so the excess is
// the client's and the bus's own work plus whatever else the machine runs meanwhile: run it on
// an otherwise idle machine.
#include "firmware/BootLoader.h"
#include "firmware/HexWriter.h"
#include "protocol/DriverContext.h"
#include "protocol/Status.h"
#include "sim/SimBackend.h"
#include "sim/SimBus.h"
#include "tests/support/TempDir.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <string>

namespace
{
constexpr auto LATENCY = std::chrono::milliseconds(1);

std::string HexImage()
{
    std::vector<std::uint8_t> byProgram(0x8000 - 0x800);
    for (std::size_t i = 0; i < byProgram.size(); ++i)
        byProgram[i] = static_cast<std::uint8_t>((0x800 + i) * 31 + 7);
    CHexWriter writer;
    writer.Data(0x800, byProgram.data(), byProgram.size());
    writer.End();
    return writer.Text();
}

void BM_FullUpdate(benchmark::State& state)
{
    const CTempDir dir;
    const std::string strPath = dir.Write(HexImage());

    auto pBus = std::make_shared<CSimBus>();
    pBus->SetReattachDelay(std::chrono::milliseconds(0));
    CDriverContext context(std::make_shared<CSimBackend>(pBus));
    const auto pBoard = pBus->Plug(SimBoardConfig().Boot().Chip(0x90));
    pBoard->SetLatency(LATENCY);

    double dUpdate = 0;
    std::uint64_t nTransfers = 0;
    EStatus eStatus = EStatus::Ok;
    for (auto _ : state)
    {
        const std::uint64_t nBefore = pBoard->TransferCount();
        CBootLoader loader(context.Open(0), strPath);
        const auto tStart = std::chrono::steady_clock::now();
        eStatus = loader.UpdateFirmware();
        dUpdate = std::chrono::duration<double>(std::chrono::steady_clock::now() - tStart).count();
        nTransfers = pBoard->TransferCount() - nBefore;
    }
    if (eStatus != EStatus::Ok || pBoard->IsBootMode())
        state.SkipWithError("the update failed");

    const double dBound = static_cast<double>(nTransfers) * 1e-3;
    state.counters["transfers"] = static_cast<double>(nTransfers);
    state.counters["bound_s"] = dBound;
    state.counters["update_s"] = dUpdate;
    state.counters["over_bound_pct"] = (dUpdate / dBound - 1) * 100;
    state.counters["excess_us"] = (dUpdate - dBound) / static_cast<double>(nTransfers) * 1e6;
}
} // namespace

BENCHMARK(BM_FullUpdate)->Iterations(1)->Repetitions(1)->Unit(benchmark::kSecond)->UseRealTime();

BENCHMARK_MAIN();
