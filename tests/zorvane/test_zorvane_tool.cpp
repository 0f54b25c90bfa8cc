// The port commands of zorvane where a transcript (golden/tool.txt) cannot show what counts:
// monitor over time, in this process, and --simulate, which takes a process of its own.
#include "tests/zorvane/LinkedZorvane.h"

#include "sim/SimSerialBoard.h"

#include <csignal>
#include <future>
#include <thread>

using namespace std::chrono_literals;

namespace
{
// The monitor lines "<seconds with 3 decimals> <values>": the seconds (-1 when malformed), and
// the values in order.
std::vector<double> Stamps(const std::string& strOut, Lines& values)
{
    std::vector<double> stamps;
    std::istringstream lines(strOut);
    for (std::string strLine; std::getline(lines, strLine);)
    {
        const std::size_t nSpace = strLine.find(' ');
        const bool bStamp = nSpace > 4 && strLine[nSpace - 4] == '.' &&
                            strLine.find_first_not_of("0123456789.") == nSpace;
        stamps.push_back(bStamp ? std::stod(strLine.substr(0, nSpace)) : -1);
        values.push_back(strLine.substr(nSpace + 1));
    }
    return stamps;
}
} // namespace

TEST(ZorvaneToolTest, MonitorPrintsAtTheStartAndAtEveryChange)
{
    CLinkedZorvane sim;
    CSimSerialBoard board;
    ASSERT_TRUE(sim.Dir().ComLink(3, board.SlavePath()));
    auto monitor =
        std::async(std::launch::async,
                   [&] {
                       return sim.Zorvane({"monitor", "COM3", "--interval=20", "--count", "2"});
                   });
    EXPECT_TRUE(board.WaitLines(5, 2s)) << "a few samples without a change: no line";
    board.SetInputs('B', 0x5A);
    const ToolResult result = monitor.get();
    Lines values;
    const std::vector<double> stamps = Stamps(result.strOut, values);
    EXPECT_EQ(result.nStatus, 0);
    EXPECT_EQ(result.strErr, "");
    EXPECT_EQ(values, (Lines{"A=0x00 B=0x00 C=0x00", "A=0x00 B=0x5a C=0x00"}))
        << "a COM-port board has ports A to C";
    EXPECT_TRUE(stamps.size() == 2 && stamps[0] >= 0 && stamps[0] < 1.0 &&
                stamps[1] >= stamps[0] + 0.08)
        << result;
}

TEST(ZorvaneToolTest, MonitorReadsEveryIntervalUntilCtrlC)
{
    CLinkedZorvane sim;
    auto pBoard = sim.Plug(SimBoardConfig().Id(7));
    const auto start = std::chrono::steady_clock::now();
    std::thread interrupt(
        [&]
        {
            while (pBoard->TransferCount() < 30) // the enumeration, and the first samples
                std::this_thread::sleep_for(1ms);
            std::this_thread::sleep_for(150ms);
            std::raise(SIGINT);
        });
    const ToolResult result = sim.Zorvane({"monitor", "7", "--interval", "10"});
    interrupt.join();
    const auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    EXPECT_EQ(result.nStatus, 0) << "Ctrl-C is the normal end";
    Lines values;
    const std::vector<double> stamps = Stamps(result.strOut, values);
    EXPECT_TRUE(stamps.size() == 1 && stamps[0] >= 0 && stamps[0] < 1.0) << result << "no change";
    EXPECT_EQ(values, Lines{"A=0x00 B=0x00 C=0x00 D=0x00 E=0x00"});
    const Lines trace = sim.Trace();
    const auto nSamples = std::count(trace.begin(), trace.end(), "0 > 36 00 00 00 00 00") / 5;
    EXPECT_GE(nSamples, 5);
    EXPECT_LE(nSamples, elapsedMs.count() / 10 + 2) << "more often than every 10 ms";
}

// --simulate, before the command or among its options, puts the library's exports on the
// simulated bus too (with KELVARD_USB unset they would use real boards), which only the first
// choice of a process's default context can.
TEST(ZorvaneToolTest, SimulateInItsOwnProcessTakesTheExportsOntoTheSimulatedBus)
{
    unsetenv("KELVARD_USB");
    setenv("KELVARD_SIM_BOARDS", "id=7", 1);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--simulate", "get", "7", "A"}, {"get", "7", "A", "--simulate"}})
        EXPECT_EQ(CToolProcess(args).Finish(), (ToolResult{0, "A=0x00\n", ""})) << args[0];
}
