// What the library adds to a port exchange: WriteBytePortB and ReadBytePortA through the
// exports of libzorvane.so (lock, name lookup, cache, one command) beside the bare write-ports
// and read-ports exchanges of the driver layer, each on a simulated bus with zero latency.
// After the run the ratios library / bare exchange are printed; the target is below 1.3.
#include "protocol/DriverContext.h"
#include "sim/SimBackend.h"
#include "sim/SimBus.h"
#include "zorvane.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace
{
// One board on a bus and context of our own, opened once: the bare link.
CBoardLink BareLink()
{
    auto pBus = std::make_shared<CSimBus>();
    pBus->Plug({});
    return CDriverContext(std::make_shared<CSimBackend>(pBus)).Open(0);
}
} // namespace

static void BM_ReadPortsExchange(benchmark::State& state)
{
    CBoardLink link = BareLink();
    PortBytes ports{};
    for (auto _ : state)
    {
        if (link.ReadPorts(ports) != EStatus::Ok)
            state.SkipWithError("read-ports failed");
        benchmark::DoNotOptimize(ports);
    }
}
BENCHMARK(BM_ReadPortsExchange);

static void BM_WritePortsExchange(benchmark::State& state)
{
    CBoardLink link = BareLink();
    PortBytes ports{0, 0x5A, 0, 0, 0};
    for (auto _ : state)
    {
        if (link.WritePorts(ports) != EStatus::Ok)
            state.SkipWithError("write-ports failed");
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_WritePortsExchange);

// The library's own bus comes from the environment set in main: one board, ID 7.
static void BM_ReadBytePortA(benchmark::State& state)
{
    std::uint8_t byValue = 0;
    for (auto _ : state)
    {
        if (ReadBytePortA("7", &byValue) != 1)
            state.SkipWithError("ReadBytePortA failed");
        benchmark::DoNotOptimize(byValue);
    }
}
BENCHMARK(BM_ReadBytePortA);

static void BM_WriteBytePortB(benchmark::State& state)
{
    int32_t nValue = 0;
    for (auto _ : state)
    {
        if (WriteBytePortB("7", ++nValue) != 1)
            state.SkipWithError("WriteBytePortB failed");
    }
}
BENCHMARK(BM_WriteBytePortB);

namespace
{
// Prints as usual and keeps each benchmark's time (the median when repeated) for the ratios.
class CRatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
        {
            const bool bMedian =
                run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type == Run::RT_Iteration || bMedian)
                m_times[run.run_name.function_name] = run.GetAdjustedRealTime();
        }
    }

    void PrintRatio(const char* pszLibrary, const char* pszBare) const
    {
        const auto library = m_times.find(pszLibrary);
        const auto bare = m_times.find(pszBare);
        if (library == m_times.end() || bare == m_times.end() || bare->second <= 0)
            return;
        std::printf("%-20s / %-22s = %.2f (target < 1.30)\n", pszLibrary, pszBare,
                    library->second / bare->second);
    }

private:
    std::map<std::string, double> m_times;
};
} // namespace

int main(int argc, char** argv)
{
    setenv("KELVARD_USB", "sim", 1);
    setenv("KELVARD_SIM_BOARDS", "id=7", 1);
    unsetenv("KELVARD_SIM_TRACE");
    if (Initialize() != 1)
    {
        std::fprintf(stderr, "bench_zorvane: the simulated board was not found\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    CRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatio("BM_ReadBytePortA", "BM_ReadPortsExchange");
    reporter.PrintRatio("BM_WriteBytePortB", "BM_WritePortsExchange");
    reporter.PrintRatio("BM_WriteBytePortB", "BM_ReadPortsExchange");
    benchmark::Shutdown();
    return 0;
}
