// The transcripts in tests/zorvane/golden: calls of the library's exports and runs of the zorvane
// tool on a simulated bus, each followed by what it returned or printed and every byte it moved.
//
// A transcript is a list of cases separated by blank lines; each case starts on a fresh bus with
// a fresh library. Its lines:
//   # TEXT                 a comment
//   boards LIST            boards plugged in, as KELVARD_SIM_BOARDS lists them
//   com N [P=HEX]...       a board on COM port N, with the input levels of its ports A to C;
//                          its line starts cooked (echo, "\r\n"): the library must set it up
//   send N TEXT            that board sends TEXT unasked
//   bitreply N [TEXT]      it answers a bit read with TEXT instead of the pin's level
//   env NAME=VALUE         set for the rest of the case
//   file NAME TEXT         the file $TMP/NAME holding TEXT
//   fault INSTANCE KIND N  that board's N-th transfer from now: fail, timeout or corrupt
//   store INSTANCE AT BYTE that byte into that board's memory (flash, ID locations)
//   trace on|off|count     after each step the bus trace (the default), nothing, or its size
//   $ EXPORT ARGS...       a call: "= RESULT" and what it stored (0xee or -1: nothing); "" is
//                          the empty text, null a null pointer
//   $ zorvane ARGS...      a run: "| " each line of standard output, "! " of standard error,
//                          "= STATUS" unless 0; each run starts a fresh library, as a process does
// Each step is followed by what it gave, the bus trace, then "~N LINE" for each line that COM
// port N received. In TEXT "\n" is a line end; $IMAGE is the simulator's firmware image, $TMP/
// the case's directory. KELVARD_GOLDEN_UPDATE=1 writes the transcripts as they come out.
#include "tests/zorvane/LinkedZorvane.h"

#include "sim/SimSerialBoard.h"

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

using namespace std::chrono_literals;
using Args = std::vector<std::string>;

namespace
{
constexpr std::array WRITE_BYTE{WriteBytePortA, WriteBytePortB, WriteBytePortC, WriteBytePortD,
                                WriteBytePortE};
constexpr std::array READ_BYTE{ReadBytePortA, ReadBytePortB, ReadBytePortC, ReadBytePortD,
                               ReadBytePortE};
constexpr std::array WRITE_BIT{WriteBitPortA, WriteBitPortB, WriteBitPortC};
constexpr std::array READ_BIT{ReadBitPortA, ReadBitPortB, ReadBitPortC};
const bool UPDATING = std::getenv("KELVARD_GOLDEN_UPDATE") != nullptr;

// "= RESULT" and what the call stored.
std::string CallExport(const Args& a)
{
    auto Text = [&](std::size_t i) {
        return a.at(i) == "null" ? nullptr : a[i] == "\"\"" ? "" : a[i].c_str();
    };
    auto Int = [&](std::size_t i) { return std::int32_t(std::stoll(a.at(i), nullptr, 0)); };
    const std::string& strName = a[0];
    const auto nPort = static_cast<std::size_t>(strName.back() - 'A');
    std::int32_t nResult = 0;
    std::uint8_t by[3] = {0xEE, 0xEE, 0xEE};
    std::int32_t nValue = -1;
    char szBuffer[128];
    std::memset(szBuffer, 'x', sizeof szBuffer);
    CStringArray names;
    if (strName == "Initialize" || strName == "InitializeZorvane")
        nResult = strName == "Initialize" ? Initialize() : InitializeZorvane();
    else if (strName == "ReadBytePorts")
        nResult = ReadBytePorts(Text(1), &by[0], &by[1], &by[2]);
    else if (strName.starts_with("WriteBytePort"))
        nResult = WRITE_BYTE.at(nPort)(Text(1), Int(2));
    else if (strName.starts_with("ReadBytePort")) // a third argument: no pointer
        nResult = READ_BYTE.at(nPort)(Text(1), a.size() > 2 ? nullptr : &by[0]);
    else if (strName.starts_with("WriteBitPort"))
        nResult = WRITE_BIT.at(nPort)(Text(1), Int(2), Int(3));
    else if (strName.starts_with("ReadBitPort"))
        nResult = READ_BIT.at(nPort)(Text(1), Int(2), &nValue);
    else if (strName == "ConfigurePorts")
        nResult = ConfigurePorts(Text(1), Int(2), Int(3), Int(4), Int(5));
    else if (strName == "ConfigurePortsEx")
        nResult = ConfigurePortsEx(Text(1), Int(2), Int(3), Int(4), Int(5), Int(6), Int(7));
    else if (strName == "GetBitIOError") // into a buffer of 'x' ("buffer") or none, and a size
        nResult = GetBitIOError(a.at(1) == "null" ? nullptr : szBuffer, Int(2));
    else if (strName == "GetUsbDeviceID")
        return "= \"" + std::string(GetUsbDeviceID(Int(1))) + "\"";
    else if (strName == "ListUsbDevices") // appending to the names given
    {
        for (std::size_t i = 1; i < a.size() && a[1] != "null"; ++i)
            names.Add(a[i]);
        nResult = ListUsbDevices(a.size() > 1 && a[1] == "null" ? nullptr : &names);
    }
    else if (strName == "AddVirtualPort")
        nResult = AddVirtualPort(Int(1), Text(2), Int(3), Int(4), Int(5));
    else if (strName == "RemoveVirtualPort")
        nResult = RemoveVirtualPort(Int(1), Text(2));
    else if (strName == "RemoveAllVirtualPorts")
        nResult = RemoveAllVirtualPorts(Int(1));
    else if (strName == "WriteVirtualPort")
        nResult = WriteVirtualPort(Int(1), Text(2), Int(3));
    else if (strName == "ReadVirtualPort")
        nResult = ReadVirtualPort(Int(1), Text(2), &nValue);
    else
        ADD_FAILURE() << "no export " << strName;
    std::string strResult = "= " + std::to_string(nResult);
    char szHex[8];
    for (int i = 0; i < (strName == "ReadBytePorts" ? 3 : strName.starts_with("ReadBytePort")); ++i)
        strResult += std::string(szHex, std::size_t(std::snprintf(szHex, 8, " 0x%02x", by[i])));
    if (strName.starts_with("ReadBitPort") || strName == "ReadVirtualPort")
        strResult += " " + std::to_string(nValue);
    for (int i = 0; i < names.GetSize(); ++i)
        strResult += " " + names[i];
    const char* pEnd = static_cast<const char*>(std::memchr(szBuffer, 0, sizeof szBuffer - 1));
    if (strName == "GetBitIOError" && pEnd) // the text, its end and the character after it
        strResult +=
            " \"" + std::string(szBuffer, std::size_t(pEnd - szBuffer)) + "\\0" + pEnd[1] + "\"";
    return strResult;
}

std::string Replaced(std::string strText, const std::string& strFrom, const std::string& strTo)
{
    for (std::size_t n = 0; (n = strText.find(strFrom, n)) != std::string::npos; n += strTo.size())
        strText.replace(n, strFrom.size(), strTo);
    return strText;
}

// "0 > 31 00 00 ... 00", a packet of 64 bytes, as "0 > 31 00*63".
std::string Compact(const std::string& strLine)
{
    std::size_t nAt = strLine.size();
    while (nAt >= 3 && strLine.compare(nAt - 3, 3, " 00") == 0)
        nAt -= 3;
    const std::size_t nZeros = (strLine.size() - nAt) / 3;
    return nZeros < 8 ? strLine : strLine.substr(0, nAt) + " 00*" + std::to_string(nZeros);
}

// A comment, a set-up line or a step; what a step gives is the rest.
bool IsInput(const std::string& strLine)
{
    return std::string("=|!~(0123456789").find(strLine.at(0)) == std::string::npos;
}

// The input lines of one case, each step followed by what it gives now.
Lines RunCase(const Lines& given)
{
    CLinkedZorvane sim;
    const std::string strImage = KELVARD_SIM_FIRMWARE, strTmp = sim.Dir().File("");
    std::map<int, std::unique_ptr<CSimSerialBoard>> com;
    std::string strTrace = "on";
    Lines actual, env;
    auto Put = [&](const std::string& strLine)
    { actual.push_back(Replaced(Replaced(strLine, strImage, "$IMAGE"), strTmp, "$TMP/")); };
    auto PutText = [&](const char* pszMark, const std::string& strText)
    {
        std::istringstream lines(strText);
        for (std::string strLine; std::getline(lines, strLine);)
            Put(pszMark + strLine);
        if (!strText.empty() && strText.back() != '\n')
            Put(std::string(pszMark) + "[no line end]");
    };
    // What each COM port received, once the lines expected (given[nFirst] to given[nLast - 1])
    // are there; at the end of the case, the lines that came late.
    auto PutComLines = [&](std::size_t nFirst, std::size_t nLast)
    {
        if (!com.empty() && (UPDATING || nFirst == given.size()))
            std::this_thread::sleep_for(50ms);
        for (const auto& [nPort, pBoard] : com)
        {
            const std::string strMark = "~" + std::to_string(nPort) + " ";
            pBoard->WaitLines(
                std::size_t(std::count_if(given.begin() + nFirst, given.begin() + nLast,
                                          [&](const std::string& str)
                                          { return str.starts_with(strMark); })),
                2s);
            for (const std::string& strReceived : pBoard->TakeLines())
                Put(strMark + strReceived.substr(0, strReceived.size() - 1));
        }
    };
    for (std::size_t i = 0; i < given.size(); ++i)
    {
        if (!IsInput(given[i]))
            continue;
        Put(given[i]);
        std::istringstream words(Replaced(Replaced(given[i], "$IMAGE", strImage), "$TMP/", strTmp));
        std::string strWord;
        words >> strWord;
        Args args;
        for (std::string strArg; words >> strArg;)
            args.push_back(Replaced(strArg, "\\n", "\n"));
        auto Board = [&] { return sim.Bus().Board(std::stoul(args.at(0))); };
        if (strWord == "boards")
        {
            Lines warnings;
            for (const SimBoardConfig& config : ParseSimBoards(args.at(0).c_str(), warnings))
                sim.Plug(config);
            EXPECT_EQ(warnings, Lines{});
        }
        else if (strWord == "com")
        {
            auto& pBoard = com[std::stoi(args.at(0))] = std::make_unique<CSimSerialBoard>(true);
            EXPECT_TRUE(sim.Dir().ComLink(std::stoi(args[0]), pBoard->SlavePath()));
            for (std::size_t k = 1; k < args.size(); ++k)
                pBoard->SetInputs(args[k][0], std::uint8_t(std::stoul(args[k].substr(2), 0, 16)));
        }
        else if (strWord == "send")
        {
            com.at(std::stoi(args.at(0)))->Send(args.at(1));
            EXPECT_TRUE(com[std::stoi(args[0])]->WaitHostPending(int(args[1].size()), 2s));
        }
        else if (strWord == "bitreply")
            com.at(std::stoi(args.at(0)))->SetBitReplyText(args.size() > 1 ? args[1] : "");
        else if (strWord == "env")
            setenv(env.emplace_back(args.at(0).substr(0, args[0].find('='))).c_str(),
                   args[0].substr(args[0].find('=') + 1).c_str(), 1);
        else if (strWord == "file")
            sim.Dir().Write(args.size() > 1 ? args[1] : "", args.at(0));
        else if (strWord == "fault")
            Board()->InjectFault(args.at(1) == "fail"   ? ESimFault::Fail
                                 : args[1] == "timeout" ? ESimFault::Timeout
                                                        : ESimFault::Corrupt,
                                 std::stoull(args.at(2)));
        else if (strWord == "store")
            Board()->StoreMemory(std::uint32_t(std::stoul(args.at(1), nullptr, 0)),
                                 {std::uint8_t(std::stoul(args.at(2), nullptr, 16))});
        else if (strWord == "trace")
            strTrace = args.at(0);
        else if (strWord != "$" && strWord[0] != '#')
            ADD_FAILURE() << "what is this line: " << given[i];
        if (strWord != "$")
            continue;
        if (args.at(0) != "zorvane")
            Put(CallExport(args));
        else
        {
            const ToolResult result = sim.Zorvane(Args(args.begin() + 1, args.end()));
            PutText("| ", result.strOut);
            PutText("! ", result.strErr);
            if (result.nStatus != 0)
                Put("= " + std::to_string(result.nStatus));
        }
        const Lines trace = sim.Trace();
        if (strTrace == "count")
            Put("(" + std::to_string(trace.size()) + " trace lines)");
        for (std::size_t k = 0; strTrace == "on" && k < trace.size(); ++k)
            Put(Compact(trace[k]));
        std::size_t nLast = i + 1;
        while (nLast < given.size() && !IsInput(given[nLast]))
            ++nLast;
        PutComLines(i + 1, nLast);
    }
    PutComLines(given.size(), given.size());
    for (const std::string& strName : env)
        unsetenv(strName.c_str());
    return actual;
}

void CheckTranscript(const std::string& strName)
{
    const std::string strPath = std::string(GOLDEN_DIR) + "/" + strName;
    std::ifstream file(strPath);
    ASSERT_TRUE(file) << strPath;
    std::vector<Lines> cases(1);
    for (std::string strLine; std::getline(file, strLine);)
        if (!strLine.empty())
            cases.back().push_back(strLine);
        else if (!cases.back().empty())
            cases.emplace_back();
    std::string strWritten;
    for (const Lines& given : cases)
    {
        std::string strGiven, strActual;
        for (const std::string& strLine : given)
            strGiven += strLine + "\n";
        for (const std::string& strLine : RunCase(given))
            strActual += strLine + "\n";
        EXPECT_EQ(strGiven, strActual) << strPath << ": the case of " << given.at(0);
        strWritten += (strWritten.empty() ? "" : "\n") + strActual;
    }
    if (UPDATING)
        std::ofstream(strPath) << strWritten;
}
} // namespace

TEST(Golden, Exports)
{
    CheckTranscript("exports.txt");
}
TEST(Golden, Tool)
{
    CheckTranscript("tool.txt");
}
TEST(Golden, FirmwareCommands)
{
    CheckTranscript("firmware.txt");
}
