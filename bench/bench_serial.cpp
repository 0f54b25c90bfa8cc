// The COM read through libzorvane.so: ReadBytePorts on a board on a pseudo-terminal, by how
// the board ends its reply and how long it takes to answer. A reply without a line end must
// cost at most 5 ms beyond the board's own reply time (the quiet time is about 3.1 ms), never
// the 500 ms bound. Per case: the wall time of one read and, as "beyond_reply_ms", what it
// took beyond the board's delay.
#include "sim/SimSerialBoard.h"
#include "tests/support/TempDir.h"
#include "zorvane.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>

namespace
{
// A COM-port board as COM1, in a folder of its own that goes with it.
struct CComBoard
{
    CComBoard()
    {
        setenv("KELVARD_COM_PATTERN", dir.ComPattern().c_str(), 1);
        bReady = board.IsReady() && dir.ComLink(1, board.SlavePath());
    }

    CTempDir dir;
    CSimSerialBoard board;
    bool bReady = false;
};

CComBoard& TheBoard()
{
    static CComBoard com;
    return com;
}
} // namespace

// Arguments: the board's reply delay in milliseconds; 1 = replies end with "\n", 0 = nothing.
static void BM_ComReadBytePorts(benchmark::State& state)
{
    CComBoard& com = TheBoard();
    if (!com.bReady)
    {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    const auto delay = std::chrono::milliseconds(state.range(0));
    com.board.SetInputs('A', 0x5A).SetReplyDelay(delay).SetReplyEnd(state.range(1) ? "\n" : "");
    std::uint8_t byA = 0, byB = 0, byC = 0;
    std::chrono::steady_clock::duration spent{};
    for (auto _ : state)
    {
        const auto start = std::chrono::steady_clock::now();
        const bool bRead = ReadBytePorts("COM1", &byA, &byB, &byC) == 1;
        spent += std::chrono::steady_clock::now() - start;
        if (!bRead || byA != 0x5A)
        {
            state.SkipWithError("the read failed");
            break;
        }
    }
    if (state.iterations() > 0)
        state.counters["beyond_reply_ms"] =
            std::chrono::duration<double, std::milli>(spent - state.iterations() * delay).count() /
            static_cast<double>(state.iterations());
}
BENCHMARK(BM_ComReadBytePorts)
    ->ArgNames({"delay_ms", "line_end"})
    ->Args({0, 1})
    ->Args({0, 0})
    ->Args({20, 1})
    ->Args({20, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
