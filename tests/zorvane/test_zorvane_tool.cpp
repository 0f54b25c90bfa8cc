// The zorvane command-line tool as a script runs it: a child process on the simulated bus
// (boards from the environment, every byte read back from the bus trace) or on a COM-port
// board on a pseudo-terminal, checked by its output, its messages and its exit status.
#include "TempDir.h"
#include "ToolProcess.h"

#include "SimSerialBoard.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

namespace
{
// The tool's result as one comparable value: status, output, messages.
struct Outcome
{
    int nStatus;
    std::string strOut;
    std::string strErr;
    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& outcome)
{
    return out << "status " << outcome.nStatus << ", out \"" << outcome.strOut << "\", err \""
               << outcome.strErr << "\"";
}

Outcome Zorvane(const std::vector<std::string>& args)
{
    const CToolProcess::Result result = CToolProcess(args).Finish();
    return {result.nStatus, result.strOut, result.strErr};
}

// A monitor line "<seconds with 3 decimals> <values>": the seconds, and the values in strRest.
bool SplitStamp(const std::string& strLine, double& dSeconds, std::string& strRest)
{
    const std::size_t nPoint = strLine.find('.');
    const std::size_t nSpace = strLine.find(' ');
    if (nPoint == 0 || nPoint == std::string::npos || nSpace != nPoint + 4 ||
        strLine.find_first_not_of("0123456789.") != nSpace)
        return false;
    dSeconds = std::stod(strLine.substr(0, nSpace));
    strRest = strLine.substr(nSpace + 1);
    return true;
}

// A trace line of the enumeration: read-device-id, read-serial-number, read-version, query-mode.
bool IsEnumeration(const std::string& strLine)
{
    std::istringstream words(strLine);
    std::string strInstance, strDirection, strCode;
    words >> strInstance >> strDirection >> strCode;
    return strCode == "3c" || strCode == "31" || strCode == "00" || strCode == "08";
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
        setenv("KELVARD_DEBUG", "", 1);
    }

    static void Boards(const char* pszBoards) { setenv("KELVARD_SIM_BOARDS", pszBoards, 1); }

    // The trace lines since the last call, without the enumeration's exchanges (codes 3c, 31,
    // 00, 08): what the command itself sent and received.
    Lines Exchanges()
    {
        std::ifstream file(m_dir.File("trace"));
        Lines fresh;
        std::size_t nLine = 0;
        for (std::string strLine; std::getline(file, strLine); ++nLine)
            if (nLine >= m_nSeen && !IsEnumeration(strLine))
                fresh.push_back(strLine);
        m_nSeen = nLine;
        return fresh;
    }
    bool NothingOnTheBus() const { return !std::filesystem::exists(m_dir.File("trace")); }

    CTempDir m_dir;
    std::size_t m_nSeen = 0;
};

TEST_F(ZorvaneToolTest, ListPrintsTheUsbBoardsInTableOrder)
{
    Boards("id=12;id=7");
    EXPECT_EQ(Zorvane({"list"}), (Outcome{0, "7\n12\n", ""}));
    unsetenv("KELVARD_USB");
    EXPECT_EQ(Zorvane({"--simulate", "list"}), (Outcome{0, "7\n12\n", ""}));
    EXPECT_EQ(Zorvane({"list", "--simulate"}), (Outcome{0, "7\n12\n", ""}));
    Boards("");
    EXPECT_EQ(Zorvane({"--simulate", "list"}), (Outcome{0, "", ""}));
    EXPECT_EQ(Zorvane({"--simulate", "list", "7"}).nStatus, 2);
}

TEST_F(ZorvaneToolTest, GetReadsPortsAsHexOrDecimal)
{
    EXPECT_EQ(Zorvane({"get", "7", "A", "e"}), (Outcome{0, "A=0x00 E=0x00\n", ""}));
    EXPECT_EQ(Exchanges(), (Lines{"0 > 36 00 00 00 00 00", "0 < 36 00 00 00 00 00",
                                  "0 > 36 00 00 00 00 00", "0 < 36 00 00 00 00 00"}));

    CSimSerialBoard board;
    ASSERT_TRUE(m_dir.ComLink(3, board.SlavePath()));
    board.SetInputs('A', 0x5A).SetInputs('C', 0x07);
    EXPECT_EQ(Zorvane({"get", "COM3", "A", "B", "C"}), (Outcome{0, "A=0x5a B=0x00 C=0x07\n", ""}));
    EXPECT_EQ(Zorvane({"get", "--numeric", "com3", "C", "A"}), (Outcome{0, "7 90\n", ""}));
    EXPECT_EQ(board.TakeLines(), (Lines{"I\n", "I\n", "I\n", "I\n", "I\n"}));

    EXPECT_EQ(Zorvane({"get", "COM3", "D"}),
              (Outcome{1, "", "zorvane: cannot read port D of COM3\n"}));
    EXPECT_EQ(Zorvane({"get", "9", "A"}), (Outcome{1, "", "zorvane: cannot read port A of 9\n"}));
    for (const std::vector<std::string>& args : {std::vector<std::string>{"get", "7"},
                                                 {"get", "7", "F"},
                                                 {"get", "7", "AB"},
                                                 {"get", "7", "A", "--hex"}})
    {
        const Outcome outcome = Zorvane(args);
        EXPECT_EQ(outcome.nStatus, 2) << args.back();
        EXPECT_EQ(outcome.strErr.rfind("zorvane: ", 0), 0u) << outcome;
    }
}

TEST_F(ZorvaneToolTest, SetWritesEveryValueInOrderAfterOneRead)
{
    EXPECT_EQ(Zorvane({"set", "7", "A=0x5a", "c=15", "E=255"}), (Outcome{0, "", ""}));
    EXPECT_EQ(Exchanges(),
              (Lines{"0 > 36 00 00 00 00 00", "0 < 36 00 00 00 00 00", "0 > 37 5a 00 00 00 00",
                     "0 > 37 5a 00 0f 00 00", "0 > 37 5a 00 0f 00 ff"}));

    EXPECT_EQ(
        Zorvane({"set", "9", "A=1", "B=2"}),
        (Outcome{1, "", "zorvane: cannot write port A of 9\nzorvane: cannot write port B of 9\n"}));
    for (const char* pszBad : {"A=256", "A=-1", "F=1", "A", "A=0x", "A=12z"})
    {
        const Outcome outcome = Zorvane({"set", "7", "B=1", pszBad});
        EXPECT_EQ(outcome.nStatus, 2) << pszBad;
        EXPECT_NE(outcome.strErr.find("zorvane: "), std::string::npos) << pszBad;
    }
    EXPECT_TRUE(Exchanges().empty()) << "a usage error sends nothing";
}

TEST_F(ZorvaneToolTest, ConfigWritesTheDirectionsOrPrintsTheLibraryError)
{
    EXPECT_EQ(Zorvane({"config", "7", "0", "0xff", "0x0F", "0", "1"}), (Outcome{0, "", ""}));
    EXPECT_EQ(Exchanges(), (Lines{"0 > 39 00 00 ff 00 0f 00 00 00 01 00"}));
    EXPECT_EQ(Zorvane({"config", "COM5", "0", "0", "0", "0", "0"}),
              (Outcome{1, "", "zorvane: Failed to write configuration\n"}));
    EXPECT_EQ(Zorvane({"config", "7", "1", "2", "3"}).nStatus, 2);
    EXPECT_EQ(Zorvane({"config", "7", "1", "2", "3", "4", "300"}).nStatus, 2);
    EXPECT_TRUE(Exchanges().empty());
}

TEST_F(ZorvaneToolTest, MonitorPrintsAtTheStartAndAtEveryChange)
{
    double dSeconds = -1;
    std::string strValues;
    const Outcome once = Zorvane({"monitor", "7", "--count", "1"});
    EXPECT_EQ(once.nStatus, 0);
    ASSERT_TRUE(SplitStamp(once.strOut, dSeconds, strValues)) << once.strOut;
    EXPECT_LT(dSeconds, 1.0);
    EXPECT_EQ(strValues, "A=0x00 B=0x00 C=0x00 D=0x00 E=0x00\n");
    EXPECT_EQ(Exchanges().size(), 10u) << "one sample: five reads";

    CSimSerialBoard board;
    ASSERT_TRUE(m_dir.ComLink(3, board.SlavePath()));
    CToolProcess monitor({"monitor", "COM3", "--interval=20", "--count", "2"});
    ASSERT_TRUE(SplitStamp(monitor.ReadLine(), dSeconds, strValues));
    EXPECT_EQ(strValues, "A=0x00 B=0x00 C=0x00") << "a COM-port board has ports A to C";
    std::this_thread::sleep_for(100ms); // a few samples without a change: no line
    board.SetInputs('B', 0x5A);
    const CToolProcess::Result result = monitor.Finish();
    EXPECT_EQ(result.nStatus, 0);
    EXPECT_EQ(result.strErr, "");
    const std::string strSecond = result.strOut.substr(result.strOut.find('\n') + 1);
    ASSERT_TRUE(SplitStamp(strSecond, dSeconds, strValues)) << result.strOut;
    EXPECT_GE(dSeconds, 0.1);
    EXPECT_EQ(strValues, "A=0x00 B=0x5a C=0x00\n");
}

TEST_F(ZorvaneToolTest, MonitorReadsEveryIntervalUntilCtrlC)
{
    CToolProcess monitor({"monitor", "7", "--interval", "10"});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NE(monitor.ReadLine(), "");
    std::this_thread::sleep_for(150ms);
    monitor.Signal(SIGINT);
    const CToolProcess::Result result = monitor.Finish();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result.nStatus, 0) << "Ctrl-C is the normal end";
    EXPECT_EQ(std::count(result.strOut.begin(), result.strOut.end(), '\n'), 1) << "nothing changed";
    Lines reads;
    for (const std::string& strLine : Exchanges())
        if (strLine.rfind("0 > 36", 0) == 0)
            reads.push_back(strLine);
    const auto nSamples = static_cast<long>(reads.size() / 5);
    EXPECT_GE(nSamples, 5);
    EXPECT_LE(nSamples,
              std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() / 10 + 2)
        << "more often than every 10 ms";

    EXPECT_EQ(Zorvane({"monitor", "9", "--count", "1"}),
              (Outcome{1, "", "zorvane: cannot read the ports of 9\n"}));
    for (const char* pszBad : {"--interval=0", "--count=0", "--count=x", "--interval"})
        EXPECT_EQ(Zorvane({"monitor", "7", pszBad}).nStatus, 2) << pszBad;
}

TEST_F(ZorvaneToolTest, VportWritesFieldsAcrossPortBoundaries)
{
    EXPECT_EQ(Zorvane({"vport", "7", "4:8=0xa5", "20:3=5"}), (Outcome{0, "", ""}));
    Lines writes = Exchanges();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back(), "0 > 37 50 0a 50 00 00")
        << "pins 4 to 11 carry 0xa5, pins 20 to 22 carry 5";

    EXPECT_EQ(Zorvane({"vport", "7", "0:4=1", "2:4=1", "20:8=1"}),
              (Outcome{1, "",
                       "zorvane: 2:4=1: overlaps an earlier field\n"
                       "zorvane: 20:8=1: pins 20 to 27 go beyond pin 26\n"}));
    writes = Exchanges();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back(), "0 > 37 01 00 00 00 00") << "the field that was defined is written";

    EXPECT_EQ(Zorvane({"vport", "9", "0:4=1"}), (Outcome{1, "", "zorvane: no USB board 9\n"}));
    for (const std::vector<std::string>& args : {std::vector<std::string>{"vport", "7", "0:4=16"},
                                                 {"vport", "COM3", "0:1=1"},
                                                 {"vport", "7", "0:0=0"},
                                                 {"vport", "7", "0=1"},
                                                 {"vport", "7"}})
        EXPECT_EQ(Zorvane(args).nStatus, 2) << args.back();
}

TEST_F(ZorvaneToolTest, HelpForEveryCommandAndUsageErrors)
{
    for (const char* pszCommand : {"list", "get", "set", "config", "monitor", "vport"})
    {
        const Outcome outcome = Zorvane({pszCommand, "--help"});
        EXPECT_EQ(outcome.nStatus, 0) << pszCommand;
        EXPECT_EQ(outcome.strOut.rfind(std::string("Usage: zorvane ") + pszCommand, 0), 0u)
            << outcome.strOut;
        EXPECT_EQ(outcome.strErr, "");
        EXPECT_NE(Zorvane({"--help"}).strOut.find(std::string("  ") + pszCommand + " "),
                  std::string::npos);
    }
    EXPECT_EQ(
        Zorvane({}),
        (Outcome{2, "", "zorvane: missing command\nTry 'zorvane --help' for more information.\n"}));
    EXPECT_EQ(
        Zorvane({"frob"}),
        (Outcome{2, "",
                 "zorvane: unknown command 'frob'\nTry 'zorvane --help' for more information.\n"}));
    EXPECT_EQ(Zorvane({"get", "7", "A", "--bogus"}),
              (Outcome{2, "",
                       "zorvane: unknown option '--bogus'\nTry 'zorvane get --help' for more "
                       "information.\n"}));
    const std::string strVersion = Zorvane({"--version"}).strOut;
    EXPECT_EQ(strVersion.rfind("zorvane ", 0), 0u);
    EXPECT_EQ(strVersion.find_first_not_of("0123456789.", 8), strVersion.size() - 1) << strVersion;
    EXPECT_TRUE(NothingOnTheBus());
}
