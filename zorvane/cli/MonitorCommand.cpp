// zorvane monitor NAME [--interval MS] [--count N]: a line at the start and at every change.
#include "zorvane/cli/Board.h"
#include "zorvane/cli/Commands.h"
#include "zorvane/cli/StopSignal.h"

#include "zorvane.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

namespace
{
using Clock = std::chrono::steady_clock;

void PrintLine(Clock::duration elapsed, const std::array<std::uint8_t, PORT_COUNT>& byValues,
               int nPorts)
{
    std::string strLine;
    for (int nPort = 0; nPort < nPorts; ++nPort)
        strLine += ' ' + FormatPortValue(nPort, byValues[static_cast<std::size_t>(nPort)]);
    std::printf("%.3f%s\n", std::chrono::duration<double>(elapsed).count(), strLine.c_str());
    std::fflush(stdout); // a script reading a pipe sees each change as it happens
}
} // namespace

int RunMonitor(const CToolArgs& args)
{
    args.ExpectOperands(1, 1, "NAME");
    const auto interval =
        std::chrono::milliseconds(ParseNumber(args.Value("interval", "100"), 3600000, "interval"));
    const std::uint32_t nCount =
        args.Has("count") ? ParseNumber(args.Value("count", ""), 0x7FFFFFFF, "count") : 0;
    if (interval.count() == 0)
        throw CUsageError("the interval must be at least 1 ms");
    if (args.Has("count") && nCount == 0)
        throw CUsageError("the count must be at least 1");

    CStopSignal stop;
    Initialize();
    const CBoard board(args.Operands()[0]);
    const int nPorts = board.PortCount();
    const Clock::time_point start = Clock::now();
    Clock::time_point due = start;
    std::array<std::uint8_t, PORT_COUNT> byLast{};
    std::uint32_t nLines = 0;
    while (true)
    {
        std::array<std::uint8_t, PORT_COUNT> byValues{};
        if (!board.ReadPorts(byValues, nPorts))
            return Fail("cannot read the ports of %s: %s", board.Name(),
                        board.WhyNoAnswer().c_str());
        if (nLines == 0 || byValues != byLast)
        {
            PrintLine(Clock::now() - start, byValues, nPorts);
            byLast = byValues;
            if (++nLines == nCount)
                return 0;
        }
        // A late read moves the schedule instead of making up for lost time in a burst.
        due = std::max(due + interval, Clock::now());
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now());
        if (stop.WaitFor(static_cast<int>(wait.count())))
            return 0;
    }
}
