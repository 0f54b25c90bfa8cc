// The zorvane command-line tool as a script runs it: a child process on the simulated bus
// (boards from the environment, every byte read back from the bus trace) or on a COM-port
// board on a pseudo-terminal, checked by its output, its messages and its exit status.
#include "tests/support/TempDir.h"
#include "tests/support/TraceFile.h"
#include "tests/zorvane/ToolProcess.h"

#include "sim/SimSerialBoard.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

namespace
{
ToolResult Zorvane(const std::vector<std::string>& args)
{
    return CToolProcess(args).Finish();
}

// A monitor line "<seconds with 3 decimals> <values>": the seconds (-1 when malformed) and
// the values in strValues.
double Stamp(const std::string& strLine, std::string& strValues)
{
    const std::size_t nPoint = strLine.find('.');
    const std::size_t nSpace = strLine.find(' ');
    if (nPoint == 0 || nPoint == std::string::npos || nSpace != nPoint + 4 ||
        strLine.find_first_not_of("0123456789.") != nSpace)
        return -1;
    strValues = strLine.substr(nSpace + 1);
    return std::stod(strLine.substr(0, nSpace));
}
} // namespace

class ZorvaneToolTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setenv("KELVARD_USB", "sim", 1);
        Boards("id=7");
        setenv("KELVARD_SIM_TRACE", m_dir.File("trace").c_str(), 1);
        setenv("KELVARD_COM_PATTERN", m_dir.ComPattern().c_str(), 1);
    }

    static void Boards(const char* pszBoards) { setenv("KELVARD_SIM_BOARDS", pszBoards, 1); }

    // Why name 9 reaches nothing while board 7 is attached.
    std::string NoBoard9() const
    {
        return "no USB board 9 is attached (7 is), and COM port 9 (" + m_dir.File("ttyKV8") +
               ") does not exist";
    }

    // The trace lines since the last call without the enumeration's (codes 3c, 31, 00, 08):
    // what the command itself sent and received.
    Lines Exchanges()
    {
        Lines fresh;
        for (const std::string& strLine : m_trace.TakeNew())
        {
            const std::string strCode = Code(strLine);
            if (strCode != "3c" && strCode != "31" && strCode != "00" && strCode != "08")
                fresh.push_back(strLine);
        }
        return fresh;
    }

    // The codes of the requests sent since the last call, in order.
    Lines RequestCodes()
    {
        Lines codes;
        for (const std::string& strLine : m_trace.TakeNew())
            if (strLine.find(" > ") != std::string::npos)
                codes.push_back(Code(strLine));
        return codes;
    }

    static std::string Code(const std::string& strLine)
    {
        std::istringstream words(strLine);
        std::string strInstance, strDirection, strCode;
        words >> strInstance >> strDirection >> strCode;
        return strCode;
    }

    CTempDir m_dir;
    CTraceFile m_trace{m_dir.File("trace")};
};

TEST_F(ZorvaneToolTest, ListPrintsTheUsbBoardsInTableOrder)
{
    Boards("id=12;id=7");
    EXPECT_EQ(Zorvane({"list"}), (ToolResult{0, "7\n12\n", ""}));
    unsetenv("KELVARD_USB");
    EXPECT_EQ(Zorvane({"--simulate", "list"}), (ToolResult{0, "7\n12\n", ""}));
    EXPECT_EQ(Zorvane({"list", "--simulate"}), (ToolResult{0, "7\n12\n", ""}));
    Boards("");
    EXPECT_EQ(Zorvane({"--simulate", "list"}), (ToolResult{0, "", ""}));
}

// Two driver layers live in the tool: the plain list goes through the library's (read-device-id
// first), list --long through the tool's own (query-mode first); no run opens a board through
// both. A board that does not open is a warning to the one and a line of the other.
TEST_F(ZorvaneToolTest, ListUsesTheLibraryAndListLongTheDriverLayerAlone)
{
    Boards("id=7,serial=AB12CD34;id=3,open=denied");
    const ToolResult plain = Zorvane({"list"});
    EXPECT_EQ(plain.strOut, "7\n");
    EXPECT_EQ(plain.strErr.rfind("zorvane: warning: board at sim:1 cannot be opened: permission "
                                 "denied (install the udev rule",
                                 0),
              0u)
        << plain;
    EXPECT_EQ(RequestCodes(), (Lines{"3c", "31", "00", "08"}));
    const ToolResult full = Zorvane({"list", "--long"});
    EXPECT_EQ(full.strOut.substr(0, full.strOut.find('\n')), "0 7 AB12CD34 1.03 app sim:0");
    EXPECT_EQ(full.strErr, "");
    EXPECT_EQ(RequestCodes(), (Lines{"08", "31", "00", "3c"}));

    // The refused open itself is a debug line, which KELVARD_DEBUG=1 puts on stderr.
    setenv("KELVARD_DEBUG", "1", 1);
    const ToolResult debug = Zorvane({"list"});
    unsetenv("KELVARD_DEBUG");
    EXPECT_NE(debug.strErr.find("sim: cannot open the board at sim:1: permission denied\n"),
              std::string::npos)
        << debug;
}

TEST_F(ZorvaneToolTest, GetReadsPortsAsHexOrDecimal)
{
    EXPECT_EQ(Zorvane({"get", "7", "A", "e"}), (ToolResult{0, "A=0x00 E=0x00\n", ""}));
    EXPECT_EQ(Exchanges(), (Lines{"0 > 36 00 00 00 00 00", "0 < 36 00 00 00 00 00",
                                  "0 > 36 00 00 00 00 00", "0 < 36 00 00 00 00 00"}));

    CSimSerialBoard board;
    ASSERT_TRUE(m_dir.ComLink(3, board.SlavePath()));
    board.SetInputs('A', 0x5A).SetInputs('C', 0x07);
    EXPECT_EQ(Zorvane({"get", "COM3", "A", "B", "C"}),
              (ToolResult{0, "A=0x5a B=0x00 C=0x07\n", ""}));
    EXPECT_EQ(Zorvane({"get", "--numeric", "com3", "C", "A"}), (ToolResult{0, "7 90\n", ""}));
    EXPECT_EQ(board.TakeLines(), (Lines{"I\n", "I\n", "I\n", "I\n", "I\n"}));

    EXPECT_EQ(Zorvane({"get", "COM3", "D"}),
              (ToolResult{1, "",
                          "zorvane: cannot read port D of COM3: COM port 3 (" +
                              m_dir.File("ttyKV2") + ") did not answer\n"}));
    EXPECT_EQ(Zorvane({"get", "9", "A"}),
              (ToolResult{1, "", "zorvane: cannot read port A of 9: " + NoBoard9() + "\n"}));
}

TEST_F(ZorvaneToolTest, SetWritesEveryValueInOrderAfterOneRead)
{
    EXPECT_EQ(Zorvane({"set", "7", "A=0x5a", "c=15", "E=255"}), (ToolResult{0, "", ""}));
    EXPECT_EQ(Exchanges(),
              (Lines{"0 > 36 00 00 00 00 00", "0 < 36 00 00 00 00 00", "0 > 37 5a 00 00 00 00",
                     "0 > 37 5a 00 0f 00 00", "0 > 37 5a 00 0f 00 ff"}));
    EXPECT_EQ(Zorvane({"set", "9", "A=1", "B=2"}),
              (ToolResult{1, "",
                          "zorvane: cannot write port A of 9: " + NoBoard9() +
                              "\nzorvane: cannot write port B of 9\n"}));

    // A COM-port board: its lines went out once it answered the read.
    CSimSerialBoard board;
    ASSERT_TRUE(m_dir.ComLink(3, board.SlavePath()));
    EXPECT_EQ(Zorvane({"set", "COM3", "B=0x5a", "C=1"}), (ToolResult{0, "", ""}));
    ASSERT_TRUE(board.WaitLines(3, 2s)) << "the next run's open empties the line";
    EXPECT_EQ(board.TakeLines(), (Lines{"I\n", "O,0,90,0\n", "O,0,90,1\n"}));
    EXPECT_EQ(Zorvane({"set", "COM3", "D=1"}),
              (ToolResult{1, "", "zorvane: COM3 has ports A to C only\n"}));
}

TEST_F(ZorvaneToolTest, ConfigWritesTheDirectionsOrPrintsTheLibraryError)
{
    EXPECT_EQ(Zorvane({"config", "7", "0", "0xff", "0x0F", "0", "1"}), (ToolResult{0, "", ""}));
    EXPECT_EQ(Exchanges(), (Lines{"0 > 39 00 00 ff 00 0f 00 00 00 01 00"}));
    EXPECT_EQ(Zorvane({"config", "COM5", "0", "0", "0", "0", "0"}),
              (ToolResult{1, "",
                          "zorvane: Failed to write configuration: COM port 5 (" +
                              m_dir.File("ttyKV4") + ") does not exist\n"}));
    CSimSerialBoard board;
    ASSERT_TRUE(m_dir.ComLink(5, board.SlavePath()));
    EXPECT_EQ(Zorvane({"config", "COM5", "1", "2", "3", "0", "0"}), (ToolResult{0, "", ""}));
    ASSERT_TRUE(board.WaitLines(1, 2s));
    EXPECT_EQ(board.TakeLines(), (Lines{"C,1,2,3,0\n"}));
}

TEST_F(ZorvaneToolTest, MonitorPrintsAtTheStartAndAtEveryChange)
{
    std::string strValues;
    const ToolResult once = Zorvane({"monitor", "7", "--count", "1"});
    EXPECT_EQ(once.nStatus, 0);
    const double dFirst = Stamp(once.strOut, strValues);
    EXPECT_TRUE(dFirst >= 0 && dFirst < 1.0) << once.strOut;
    EXPECT_EQ(strValues, "A=0x00 B=0x00 C=0x00 D=0x00 E=0x00\n");
    EXPECT_EQ(Exchanges().size(), 10u) << "one sample: five reads";

    CSimSerialBoard board;
    ASSERT_TRUE(m_dir.ComLink(3, board.SlavePath()));
    CToolProcess monitor({"monitor", "COM3", "--interval=20", "--count", "2"});
    EXPECT_GE(Stamp(monitor.ReadLine(), strValues), 0);
    EXPECT_EQ(strValues, "A=0x00 B=0x00 C=0x00") << "a COM-port board has ports A to C";
    std::this_thread::sleep_for(100ms); // a few samples without a change: no line
    board.SetInputs('B', 0x5A);
    const ToolResult result = monitor.Finish();
    EXPECT_EQ(result.nStatus, 0);
    EXPECT_EQ(result.strErr, "");
    EXPECT_GE(Stamp(result.strOut.substr(result.strOut.find('\n') + 1), strValues), 0.1) << result;
    EXPECT_EQ(strValues, "A=0x00 B=0x5a C=0x00\n");
}

TEST_F(ZorvaneToolTest, MonitorReadsEveryIntervalUntilCtrlC)
{
    CToolProcess monitor({"monitor", "7", "--interval", "10"});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NE(monitor.ReadLine(), "");
    std::this_thread::sleep_for(150ms);
    monitor.Signal(SIGINT);
    const ToolResult result = monitor.Finish();
    const auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    EXPECT_EQ(result.nStatus, 0) << "Ctrl-C is the normal end";
    EXPECT_EQ(std::count(result.strOut.begin(), result.strOut.end(), '\n'), 1) << "nothing changed";
    const Lines exchanges = Exchanges();
    const auto nSamples =
        std::count_if(exchanges.begin(), exchanges.end(),
                      [](const std::string& strLine) { return strLine.rfind("0 > 36", 0) == 0; }) /
        5;
    EXPECT_GE(nSamples, 5);
    EXPECT_LE(nSamples, elapsedMs.count() / 10 + 2) << "more often than every 10 ms";

    EXPECT_EQ(Zorvane({"monitor", "9", "--count", "1"}),
              (ToolResult{1, "", "zorvane: cannot read the ports of 9: " + NoBoard9() + "\n"}));
}

TEST_F(ZorvaneToolTest, VportWritesFieldsAcrossPortBoundaries)
{
    EXPECT_EQ(Zorvane({"vport", "7", "4:8=0xa5", "20:3=5"}), (ToolResult{0, "", ""}));
    Lines writes = Exchanges();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back(), "0 > 37 50 0a 50 00 00")
        << "pins 4 to 11 carry 0xa5, pins 20 to 22 carry 5";

    EXPECT_EQ(Zorvane({"vport", "7", "0:4=1", "2:4=1", "20:8=1"}),
              (ToolResult{1, "",
                          "zorvane: 2:4=1: overlaps an earlier field\n"
                          "zorvane: 20:8=1: pins 20 to 27 go beyond pin 26\n"}));
    writes = Exchanges();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back(), "0 > 37 01 00 00 00 00") << "the field that was defined is written";

    EXPECT_EQ(Zorvane({"vport", "9", "0:4=1"}),
              (ToolResult{1, "", "zorvane: no USB board 9 is attached (7 is)\n"}));
}

TEST_F(ZorvaneToolTest, HelpForEveryCommandAndUsageMessages)
{
    const std::string strHelp = Zorvane({"--help"}).strOut;
    for (const char* pszCommand : {"list", "get", "set", "config", "monitor", "vport", "update",
                                   "backup", "serial", "serve"})
    {
        const ToolResult result = Zorvane({pszCommand, "--help"});
        EXPECT_EQ(result.nStatus, 0) << pszCommand;
        EXPECT_EQ(result.strOut.rfind(std::string("Usage: zorvane ") + pszCommand, 0), 0u)
            << result;
        EXPECT_EQ(result.strErr, "");
        EXPECT_NE(strHelp.find(std::string("  ") + pszCommand + " "), std::string::npos)
            << pszCommand;
    }
    const std::string strTry = "Try 'zorvane --help' for more information.\n";
    EXPECT_EQ(Zorvane({}), (ToolResult{2, "", "zorvane: missing command\n" + strTry}));
    EXPECT_EQ(Zorvane({"frob"}), (ToolResult{2, "", "zorvane: unknown command 'frob'\n" + strTry}));
    EXPECT_EQ(Zorvane({"get", "7", "A", "--bogus"}),
              (ToolResult{2, "",
                          "zorvane: unknown option '--bogus'\nTry 'zorvane get --help' for more "
                          "information.\n"}));
    EXPECT_FALSE(std::filesystem::exists(m_dir.File("trace"))) << "nothing on the bus";
}

TEST_F(ZorvaneToolTest, UsageErrorsExitWithTwoAndSendNothing)
{
    // clang-format off
    for (const char* pszArgs : {"list 7", "get 7", "get 7 F", "get 7 AB", "get 7 A --hex",
             "set 7 B=1 A=256", "set 7 A=-1", "set 7 F=1", "set 7 A", "set 7 A=0x", "set 7 A=12z",
             "config 7 1 2 3", "config 7 1 2 3 4 300", "monitor 7 --interval=0",
             "monitor 7 --count=0", "monitor 7 --count=x", "monitor 7 --interval",
             "vport 7 0:4=16", "vport COM3 0:1=1", "vport 7 0:0=0", "vport 7 0=1", "vport 7",
             "update 7", "update --all", "update 7 f g", "update serial= f", "update 256 f",
             "backup path= f", "serial 7 123456789", "serial 7 a{b", "serial 7 é", "list -x",
             "serve", "serve 7 --listen 0.0.0.0", "serve 7 --listen host:1", "serve 7 --listen :1",
             "serve 7 --listen 0.0.0.0:65536", "serve 7 --allow 10.0.0.0/33", "serve 7 --allow 10.0"})
    // clang-format on
    {
        std::istringstream words(pszArgs);
        const ToolResult result = Zorvane({std::istream_iterator<std::string>(words), {}});
        EXPECT_EQ(result.nStatus, 2) << pszArgs;
        EXPECT_EQ(result.strErr.rfind("zorvane: ", 0), 0u) << pszArgs << ": " << result;
    }
    EXPECT_TRUE(Exchanges().empty()) << "a usage error sends nothing";
}
