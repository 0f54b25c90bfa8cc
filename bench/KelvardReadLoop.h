// libkelvard's read of all five ports in a benchmark loop, on whatever board NAME opens.
#pragma once

#include "kelvard.h"

#include <benchmark/benchmark.h>

#include <cstdint>

inline void KelvardReadLoop(benchmark::State& state, const char* szName)
{
    kelvard_board* pBoard = nullptr;
    if (kelvard_board_open(szName, &pBoard) != KELVARD_OK)
    {
        state.SkipWithError("the board did not open");
        return;
    }
    std::uint8_t byPorts[KELVARD_PORTS];
    for (auto _ : state)
    {
        if (kelvard_board_read_ports(pBoard, byPorts, KELVARD_PORTS) != KELVARD_OK)
            state.SkipWithError("read-ports failed");
        benchmark::DoNotOptimize(byPorts);
    }
    kelvard_board_close(pBoard);
}
