// The zorvane firmware commands against boards whose every transfer takes 1 ms, as on a real
// bus, with the simulated bus's 200 ms off the bus after entering the bootloader and after the
// restart. Each is measured against its bound: transfers x 1 ms plus those two re-attach waits.
//
//   BM_UpdateOne   update of one board in its application with a full 30 KB program image
//                  (0x800-0x7FFF): over_bound_pct, target at most 2
//   BM_UpdateAll8  update --all of eight such boards at once: ratio to BM_UpdateOne's time,
//                  target at most 1.15
//   BM_Backup      backup of one board in its application: over_bound_pct, target at most 2
//
// One iteration each: they take seconds. Run on an otherwise idle machine.
#include "firmware/HexWriter.h"
#include "protocol/DriverContext.h"
#include "sim/SimBackend.h"
#include "sim/SimBus.h"
#include "tests/support/TempDir.h"
#include "zorvane/cli/ToolMain.h"

#include <benchmark/benchmark.h>

#include <chrono>

namespace
{
constexpr auto LATENCY = std::chrono::milliseconds(1);
constexpr auto REATTACH = std::chrono::milliseconds(200);
double g_dUpdateOne = 0; // seconds, for BM_UpdateAll8's ratio

// A temporary folder with the image in it, and a bus of n boards in their application.
struct CBench
{
    explicit CBench(int nBoards) : m_pBus(std::make_shared<CSimBus>())
    {
        std::vector<std::uint8_t> byProgram(0x7800);
        for (std::size_t i = 0; i < byProgram.size(); ++i)
            byProgram[i] = static_cast<std::uint8_t>(i * 31 + 7);
        CHexWriter writer;
        writer.Data(0x800, byProgram.data(), byProgram.size());
        writer.End();
        m_dir.Write(writer.Text(), "image.hex");

        m_pBus->SetReattachDelay(REATTACH);
        for (int i = 0; i < nBoards; ++i)
            m_vecBoards.push_back(m_pBus->Plug(
                SimBoardConfig().Id(static_cast<std::uint8_t>(i + 1)).Latency(LATENCY)));
        m_pContext = std::make_shared<CDriverContext>(std::make_shared<CSimBackend>(m_pBus));
    }
    std::string Image() const { return m_dir.File("image.hex"); }
    std::uint64_t Transfers() const
    {
        std::uint64_t n = 0;
        for (const auto& pBoard : m_vecBoards)
            n += pBoard->TransferCount();
        return n;
    }
    // The command's wall time in seconds; false in bOk when it failed.
    double Run(const std::vector<std::string>& args, bool& bOk) const
    {
        const auto tStart = std::chrono::steady_clock::now();
        bOk = ZorvaneMain(args, m_pContext) == 0;
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - tStart).count();
    }

    std::shared_ptr<CSimBus> m_pBus;
    std::shared_ptr<CDriverContext> m_pContext;
    std::vector<std::shared_ptr<CSimBoard>> m_vecBoards;
    CTempDir m_dir;
};

void Report(benchmark::State& state, double dSeconds, std::uint64_t nTransfers)
{
    const double dBound = static_cast<double>(nTransfers) * 1e-3 + 2 * 0.2;
    state.counters["transfers"] = static_cast<double>(nTransfers);
    state.counters["bound_s"] = dBound;
    state.counters["run_s"] = dSeconds;
    state.counters["over_bound_pct"] = (dSeconds / dBound - 1) * 100;
}

void BM_UpdateOne(benchmark::State& state)
{
    CBench bench(1);
    bool bOk = true;
    for (auto _ : state)
        g_dUpdateOne = bench.Run({"update", "--quiet", "1", bench.Image()}, bOk);
    if (!bOk)
        state.SkipWithError("the update failed");
    Report(state, g_dUpdateOne, bench.Transfers());
}

void BM_UpdateAll8(benchmark::State& state)
{
    CBench bench(8);
    bool bOk = true;
    double dSeconds = 0;
    for (auto _ : state)
        dSeconds = bench.Run({"update", "--all", "--quiet", bench.Image()}, bOk);
    if (!bOk)
        state.SkipWithError("an update failed");
    state.counters["run_s"] = dSeconds;
    state.counters["ratio_to_one"] = g_dUpdateOne > 0 ? dSeconds / g_dUpdateOne : 0;
}

void BM_Backup(benchmark::State& state)
{
    CBench bench(1);
    bool bOk = true;
    double dSeconds = 0;
    for (auto _ : state)
        dSeconds = bench.Run({"backup", "--quiet", "1", bench.m_dir.File("backup.hex")}, bOk);
    if (!bOk)
        state.SkipWithError("the backup failed");
    Report(state, dSeconds, bench.Transfers());
}
} // namespace

BENCHMARK(BM_UpdateOne)->Iterations(1)->Repetitions(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_UpdateAll8)->Iterations(1)->Repetitions(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_Backup)->Iterations(1)->Repetitions(1)->Unit(benchmark::kSecond)->UseRealTime();

BENCHMARK_MAIN();
