// The firmware commands of zorvane, run in this process on a simulated bus the test holds:
// every way to name a board, --all with one board failing, bad files, a failure in each phase
// and the run that resumes it, Ctrl-C, the backup round trip, serial numbers, list --long and
// the plain lines written when the output is no terminal and the bars drawn on one.
#include "tests/support/SimFixture.h"
#include "tests/support/TempDir.h"
#include "tests/zorvane/ToolProcess.h"
#include "zorvane/cli/ToolMain.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;

namespace
{
const std::string IMAGE = KELVARD_SIM_FIRMWARE; // version 1.04, program, EEPROM and ID data

ToolResult Zorvane(CSimFixture& sim, const std::vector<std::string>& args)
{
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int nStatus = ZorvaneMain(args, sim.Context());
    std::string strOut = testing::internal::GetCapturedStdout();
    return {nStatus, strOut, testing::internal::GetCapturedStderr()};
}

// The number of the board's transfer that the first trace line starting so is (from 1).
std::uint64_t TransferOf(const Lines& trace, const std::string& strPrefix)
{
    for (std::size_t i = 0; i < trace.size(); ++i)
        if (trace[i].rfind(strPrefix, 0) == 0)
            return i + 1;
    return 0;
}

std::string ReadFile(const std::string& strPath)
{
    std::ifstream file(strPath, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The progress lines of a firmware command, each led by the board's label.
std::string Stages(const std::string& strLabel, std::initializer_list<std::string> stages)
{
    std::string strLines;
    for (const std::string& strStage : stages)
        strLines += strLabel + ": " + strStage + "\n";
    return strLines;
}

std::string Resume(const char* pszLocation)
{
    return std::string("; the board waits in its bootloader; resume with: zorvane update path=") +
           pszLocation + " " + IMAGE + "\n";
}
} // namespace

TEST(FirmwareCommandTest, UpdateReachesTheBoardByEveryKindOfTarget)
{
    const struct
    {
        const char* pszTarget;
        const char* pszLabel;
    } rows[] = {{"7", "board 7 (sim:1)"},
                {"serial=AB12CD34", "board 7 (sim:1)"},
                {"path=sim:1", "board 7 (sim:1)"},
                {"path=sim:2", "board at sim:2"},
                {"serial=BOOT0001", "board at sim:2"}};
    for (const auto& row : rows)
    {
        CSimFixture sim;
        auto pOther = sim.Plug(SimBoardConfig().Id(5).Serial("OTHER005"));
        sim.Plug(SimBoardConfig().Id(7).Serial("AB12CD34"));
        sim.Plug(SimBoardConfig().Id(9).Boot().Serial("BOOT0001"));
        const ToolResult result = Zorvane(sim, {"update", row.pszTarget, IMAGE});
        const std::string strLabel = row.pszLabel;
        EXPECT_EQ(result, (ToolResult{0,
                                      Stages(strLabel,
                                             {"bootloader", "identify", "erase 30736 bytes",
                                              "program 202 bytes", "eeprom 11 bytes", "id 15 bytes",
                                              "restart", "application", "firmware 1.04"}),
                                      ""}))
            << row.pszTarget;
        const auto boards = sim.Bus().Boards();
        ASSERT_EQ(boards.size(), 3u);
        const auto pUpdated = boards[strLabel.find("sim:1") != std::string::npos ? 1 : 2];
        EXPECT_FALSE(pUpdated->IsBootMode());
        EXPECT_EQ(pUpdated->FirmwareVersion(), 0x0104);
        EXPECT_EQ(pOther->FirmwareVersion(), 0x0103) << "no other board is written";
        for (const std::string& strLine : sim.Trace())
            EXPECT_TRUE(strLine.rfind("0 > 03", 0) != 0 && strLine.rfind("0 > 02", 0) != 0);
    }

    CSimFixture sim;
    sim.Plug(SimBoardConfig().Id(7).Serial("AB12CD34"));
    sim.Plug(SimBoardConfig().Id(7).Serial("SAME7777"));
    EXPECT_EQ(Zorvane(sim, {"update", "9", IMAGE}),
              (ToolResult{1, "",
                          "zorvane: no board matches 9; attached:\n"
                          "  0 7 AB12CD34 1.03 app sim:0\n  1 7 SAME7777 1.03 app sim:1\n"}));
    EXPECT_EQ(Zorvane(sim, {"update", "7", IMAGE}),
              (ToolResult{1, "",
                          "zorvane: 7 matches 2 boards; name one by its path:\n"
                          "  0 7 AB12CD34 1.03 app sim:0\n  1 7 SAME7777 1.03 app sim:1\n"}));
}

TEST(FirmwareCommandTest, UpdateAllFinishesTheOthersWhenOneFails)
{
    CSimFixture sim;
    auto pA = sim.Plug(SimBoardConfig().Id(1));
    auto pB = sim.Plug(SimBoardConfig().Id(2));
    auto pC = sim.Plug(SimBoardConfig().Id(3).Boot());
    pB->InjectFault(ESimFault::Fail, 500); // in the middle of its erase
    const ToolResult result = Zorvane(sim, {"update", "--all", "--quiet", IMAGE});
    EXPECT_EQ(result.nStatus, 1);
    EXPECT_EQ(result.strOut, "") << "quiet: errors only";
    EXPECT_EQ(result.strErr.rfind("zorvane: board 2 (sim:1): erase failed: no reply at 0x", 0), 0u)
        << result;
    EXPECT_NE(result.strErr.find(Resume("sim:1")), std::string::npos) << result;
    EXPECT_EQ(std::count(result.strErr.begin(), result.strErr.end(), '\n'), 1);
    EXPECT_EQ(pA->FirmwareVersion(), 0x0104);
    EXPECT_EQ(pC->FirmwareVersion(), 0x0104);
    EXPECT_TRUE(!pA->IsBootMode() && pB->IsBootMode() && !pC->IsBootMode());
}

TEST(FirmwareCommandTest, ABadFileChangesNoBoard)
{
    CTempDir dir;
    const struct
    {
        const char* pszName;
        const char* pszText; // null: no such file
        const char* pszError;
    } rows[] = {
        {"missing.hex", nullptr, "cannot open %s: No such file or directory"},
        {"noend.hex", ":020000040000FA\n:0108000011E6\n", "%s: not a firmware image: it has no"},
        {"checksum.hex", ":0108000011E7\n:00000001FF\n", "%s: not a firmware image: a record is"},
        {"noprogram.hex", ":020000040020DA\n:0100000011EE\n:00000001FF\n",
         "%s: not a firmware image: it has no"},
        {"bootblock.hex", ":0100000011EE\n:00000001FF\n",
         "%s: fits no board: it has no program data from the application start 0x0800 on"},
        {"beyond.hex", ":0108000011E6\n:01A00000114E\n:00000001FF\n",
         "%s: fits no board: its program data reach 0xa000, beyond the last program address"},
        {"/dev/zero", nullptr, "%s: not a firmware image: it is larger than 1 MiB"},
    };
    for (const auto& row : rows)
    {
        CSimFixture sim;
        sim.Plug(SimBoardConfig().Id(7));
        const std::string strPath = row.pszName[0] == '/' ? row.pszName : dir.File(row.pszName);
        if (row.pszText)
            std::ofstream(strPath) << row.pszText;
        for (const char* pszTarget : {"7", "--all"})
        {
            const ToolResult result = Zorvane(sim, {"update", pszTarget, strPath});
            char szError[256];
            std::snprintf(szError, sizeof szError, row.pszError, strPath.c_str());
            EXPECT_EQ(result.nStatus, 1) << row.pszName;
            EXPECT_EQ(result.strErr.rfind(std::string("zorvane: ") + szError, 0), 0u) << result;
            EXPECT_EQ(sim.Trace(), Lines{}) << "nothing is sent, not even a question";
        }
    }
}

// A failure in each phase: the command names the phase and the address, leaves the board in its
// bootloader, and the command it prints completes the update.
TEST(FirmwareCommandTest, AFailureInEachPhaseLeavesTheBootloaderAndTheResumeCompletes)
{
    const struct
    {
        const char* pszAt; // the trace line whose transfer fails
        ESimFault fault;
        const char* pszError;
    } rows[] = {
        {"0 > 01 02 fe ff 3f", ESimFault::Fail, "identify failed: no reply"},
        {"0 > 03 01 00 10 00", ESimFault::Fail, "erase failed: no reply at 0x1000"},
        {"0 > 02 10 10 08 00", ESimFault::Fail, "program failed: no reply at 0x0810"},
        {"0 < 01 10 10 08 00", ESimFault::Corrupt, "program failed: verify failed at 0x0810"},
        {"0 > 05 10 00 00 00", ESimFault::Fail, "eeprom failed: no reply at 0x0000"},
        {"0 > 01 10 00 00 20", ESimFault::Timeout, "id failed: no reply at 0x200000"},
    };
    const SimBoardConfig config = SimBoardConfig().Id(7).Serial("AB12CD34");
    Lines clean;
    {
        CSimFixture sim;
        sim.Plug(config);
        ASSERT_EQ(Zorvane(sim, {"update", "7", IMAGE}).nStatus, 0);
        clean = sim.Trace();
    }
    for (const auto& row : rows)
    {
        CSimFixture sim;
        auto pBoard = sim.Plug(config);
        const std::uint64_t nTransfer = TransferOf(clean, row.pszAt);
        ASSERT_NE(nTransfer, 0u) << row.pszAt;
        pBoard->InjectFault(row.fault, nTransfer);
        EXPECT_EQ(Zorvane(sim, {"update", "--quiet", "7", IMAGE}),
                  (ToolResult{1, "",
                              std::string("zorvane: board 7 (sim:0): ") + row.pszError +
                                  Resume("sim:0")}));
        EXPECT_TRUE(pBoard->IsBootMode()) << row.pszError;
        EXPECT_EQ(sim.Trace().size(), nTransfer) << "nothing is sent after the failure";
        EXPECT_EQ(Zorvane(sim, {"update", "--quiet", "path=sim:0", IMAGE}), (ToolResult{0, "", ""}));
        EXPECT_EQ(pBoard->FirmwareVersion(), 0x0104);
        EXPECT_FALSE(pBoard->IsBootMode());
    }
}

// What fits the largest chip yet not the board's own, or a chip zorvane does not know, is found
// out after the identification: nothing is erased or written, and the board goes back to its
// application.
TEST(FirmwareCommandTest, ImagesAndChipsThatDoNotFitAreRefusedBeforeTheErase)
{
    CTempDir dir;
    const std::string strImage = dir.Write(":0108000011E6\n:01600000118E\n:00000001FF\n");
    CSimFixture sim;
    auto p4455 = sim.Plug(SimBoardConfig().Id(4).Chip(0x91));
    auto pUnknown = sim.Plug(SimBoardConfig().Id(5).Chip(0x55));
    const struct
    {
        std::vector<std::string> args;
        std::string strError;
    } rows[] = {
        {{"update", "--quiet", "4", strImage},
         "zorvane: board 4 (sim:0): the image does not fit its Pic18F4455: its program data "
         "reach 0x6000, beyond the last program address 0x5fff; nothing was written\n"},
        {{"update", "--quiet", "5", strImage},
         "zorvane: board 5 (sim:1): refused: unknown chip (device code 0x055), whose memory map "
         "zorvane does not know; nothing was written\n"},
        {{"serial", "5", "KV000005"},
         "zorvane: board 5 (sim:1): refused: unknown chip (device code 0x055), whose memory map "
         "zorvane does not know; nothing was written\n"},
    };
    for (const auto& row : rows)
    {
        EXPECT_EQ(Zorvane(sim, row.args), (ToolResult{1, "", row.strError}));
        for (const std::string& strLine : sim.Trace())
            EXPECT_TRUE(strLine.find(" > 02") == std::string::npos &&
                        strLine.find(" > 03") == std::string::npos)
                << strLine;
        EXPECT_TRUE(!p4455->IsBootMode() && !pUnknown->IsBootMode());
        EXPECT_EQ(p4455->FirmwareVersion(), 0x0103);
    }
}

// verify reads back and writes nothing; the first differing address is named.
TEST(FirmwareCommandTest, VerifyComparesTheBoardWithTheFile)
{
    CSimFixture sim;
    auto pBoard = sim.Plug(SimBoardConfig().Id(7));
    ASSERT_EQ(Zorvane(sim, {"update", "--quiet", "7", IMAGE}).nStatus, 0);
    sim.Trace();
    EXPECT_EQ(Zorvane(sim, {"verify", "--quiet", "7", IMAGE}), (ToolResult{0, "", ""}));
    pBoard->StoreMemory(0x880, {0x00});
    EXPECT_EQ(Zorvane(sim, {"verify", "7", IMAGE}).strErr,
              "zorvane: board 7 (sim:0): differs from " + IMAGE + " at 0x0880\n");
    EXPECT_FALSE(pBoard->IsBootMode());
    for (const std::string& strLine : sim.Trace())
        EXPECT_TRUE(strLine.find(" > 02") == std::string::npos &&
                    strLine.find(" > 03") == std::string::npos &&
                    strLine.find(" > 05") == std::string::npos)
            << strLine;
}

TEST(FirmwareCommandTest, CtrlCLetsTheRequestInFlightCompleteAndSendsNothingMore)
{
    CSimFixture sim;
    auto pBoard = sim.Plug(SimBoardConfig().Id(7).Latency(200us));
    std::thread interrupt(
        [&]
        {
            while (pBoard->TransferCount() < 300)
                std::this_thread::sleep_for(1ms);
            std::raise(SIGINT);
        });
    const ToolResult result = Zorvane(sim, {"update", "--quiet", "7", IMAGE});
    interrupt.join();
    EXPECT_EQ(result.nStatus, 130);
    EXPECT_EQ(result.strErr.rfind("zorvane: board 7 (sim:0): interrupted during erase at 0x", 0),
              0u)
        << result;
    EXPECT_NE(result.strErr.find(Resume("sim:0")), std::string::npos) << result;
    const Lines trace = sim.Trace();
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.back().rfind("0 < 03 01", 0), 0u) << "the erase in flight got its reply";
    EXPECT_TRUE(pBoard->IsBootMode());
    EXPECT_EQ(Zorvane(sim, {"update", "--quiet", "path=sim:0", IMAGE}).nStatus, 0);
    EXPECT_EQ(pBoard->FirmwareVersion(), 0x0104);
}

// On a terminal each board has one bar, drawn again in place until every board is done.
TEST(FirmwareCommandTest, OnATerminalEachBoardHasABarRedrawnInPlace)
{
    setenv("KELVARD_USB", "sim", 1);
    setenv("KELVARD_SIM_BOARDS", "id=7;id=9,mode=boot", 1);
    const ToolResult result = CToolProcess(ZORVANE_TOOL, {"update", "--all", IMAGE}, true).Finish();
    unsetenv("KELVARD_SIM_BOARDS");
    unsetenv("KELVARD_USB");
    const std::string strFull = "  [########################] 100%  ";
    const std::size_t nLastDraw = result.strOut.rfind("\033[2A");
    ASSERT_NE(nLastDraw, std::string::npos) << "drawn once, then over" << result;
    EXPECT_EQ(result, (ToolResult{0, result.strOut, ""}));
    EXPECT_EQ(result.strOut.substr(nLastDraw),
              "\033[2A\r\033[Kboard 7 (sim:0)" + strFull + "done\r\n\r\033[Kboard at sim:1 " +
                  strFull + "done\r\nboard 7 (sim:0): firmware 1.04\r\n"
                            "board at sim:1: firmware 1.04\r\n");
}

// backup, update with that file, backup again: the same file; srec_cat reads it as the memory
// the board holds; the board ends in the mode it was found in.
TEST(FirmwareCommandTest, BackupRoundTrip)
{
    CTempDir dir;
    CSimFixture sim;
    auto pBoard = sim.Plug(SimBoardConfig().Id(7));
    auto pBoot = sim.Plug(SimBoardConfig().Id(8).Boot());
    ASSERT_EQ(Zorvane(sim, {"update", "--quiet", "7", IMAGE}).nStatus, 0);
    const std::string strFirst = dir.File("first.hex");
    EXPECT_EQ(Zorvane(sim, {"backup", "--quiet", "7", strFirst}), (ToolResult{0, "", ""}));
    EXPECT_FALSE(pBoard->IsBootMode());
    ASSERT_EQ(Zorvane(sim, {"update", "--quiet", "7", strFirst}).nStatus, 0);
    const std::string strSecond = dir.File("second.hex");
    EXPECT_EQ(Zorvane(sim, {"backup", "7", strSecond}),
              (ToolResult{0,
                          Stages("board 7 (sim:0)",
                                 {"bootloader", "identify", "read 30992 bytes", "application",
                                  "backed up to " + strSecond +
                                      " (30720 program, 256 EEPROM and 16 ID bytes)"}),
                          ""}));
    EXPECT_EQ(ReadFile(strFirst), ReadFile(strSecond));

    const std::string strProgram = dir.File("program.bin");
    const std::string strEeprom = dir.File("eeprom.bin");
    ASSERT_EQ(std::system(
                  ("srec_cat " + strFirst + " -intel -crop 0x800 0x8000 -offset -0x800 -o " +
                   strProgram + " -binary && srec_cat " + strFirst +
                   " -intel -crop 0xF00000 0xF00100 -offset -0xF00000 -o " + strEeprom + " -binary")
                      .c_str()),
              0);
    const std::vector<std::uint8_t> byProgram = pBoard->ReadMemory(0x800, 0x7800);
    EXPECT_EQ(ReadFile(strProgram), std::string(byProgram.begin(), byProgram.end()));
    std::string strBoardEeprom;
    for (std::uint32_t i = 0; i < 256; ++i)
        strBoardEeprom += static_cast<char>(pBoard->ReadEeprom(i));
    EXPECT_EQ(ReadFile(strEeprom), strBoardEeprom);
    EXPECT_NE(strBoardEeprom, std::string(256, '\xff')) << "the image's EEPROM bytes are there";

    EXPECT_EQ(Zorvane(sim, {"backup", "--quiet", "path=sim:1", dir.File("boot.hex")}).nStatus, 0);
    EXPECT_TRUE(pBoot->IsBootMode());
}

// The target is checked before the board is touched, and only a file the backup made itself is
// ever removed or renamed: the user's FILE.part survives a failed backup; a folder or a device
// node as FILE is refused; "-" writes to standard output.
TEST(FirmwareCommandTest, BackupNeverReplacesWhatItDidNotCreate)
{
    CTempDir dir;
    CSimFixture sim;
    auto pBoard = sim.Plug(SimBoardConfig().Id(7));
    const std::string strNotes = dir.Write("mine", "notes.part");
    pBoard->InjectFault(ESimFault::Fail, 30); // while it is read
    EXPECT_EQ(Zorvane(sim, {"backup", "--quiet", "7", dir.File("notes")}).nStatus, 1);
    EXPECT_EQ(ReadFile(strNotes), "mine");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("")),
                            std::filesystem::directory_iterator()),
              1);
    ASSERT_EQ(Zorvane(sim, {"update", "--quiet", "path=sim:0", IMAGE}).nStatus, 0);
    sim.Trace();
    // A named pipe of the test's own stands for a device node (/dev/full as root).
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    for (const auto& [strFile, strError] : {std::pair{dir.File(""), " is a folder"},
                                            std::pair{dir.File("fifo"), " is not a regular file"}})
    {
        const ToolResult result = Zorvane(sim, {"backup", "7", strFile});
        EXPECT_EQ(result.nStatus, 1);
        EXPECT_NE(result.strErr.find(strError), std::string::npos) << result;
        EXPECT_EQ(sim.Trace(), Lines{}) << "the board is not touched";
    }
    const ToolResult toStdout = Zorvane(sim, {"backup", "7", "-"});
    EXPECT_EQ(Zorvane(sim, {"backup", "--quiet", "7", dir.File("notes")}), (ToolResult{0, "", ""}));
    EXPECT_EQ(toStdout, (ToolResult{0, ReadFile(dir.File("notes")), ""}));
    EXPECT_EQ(ReadFile(strNotes), "mine");
}

TEST(FirmwareCommandTest, SerialNumbersAreReadAndWritten)
{
    CSimFixture sim;
    auto pApp = sim.Plug(SimBoardConfig().Id(7).Serial("AB12CD34"));
    auto pBoot = sim.Plug(SimBoardConfig().Id(9).Boot().Serial("BOOT0001"));
    EXPECT_EQ(Zorvane(sim, {"serial", "7"}), (ToolResult{0, "AB12CD34\n", ""}));
    EXPECT_EQ(Zorvane(sim, {"serial", "serial=BOOT0001"}), (ToolResult{0, "BOOT0001\n", ""}));
    for (const std::string& strLine : sim.Trace())
        EXPECT_EQ(strLine.find(" > 03"), std::string::npos) << "reading writes nothing";

    EXPECT_EQ(Zorvane(sim, {"serial", "7", "NEWSER01"}), (ToolResult{0, "NEWSER01\n", ""}));
    EXPECT_EQ(Zorvane(sim, {"serial", "path=sim:1", "KV000042"}), (ToolResult{0, "KV000042\n", ""}));
    EXPECT_FALSE(pApp->IsBootMode());
    EXPECT_TRUE(pBoot->IsBootMode());
    EXPECT_EQ(Zorvane(sim, {"serial", "7"}), (ToolResult{0, "NEWSER01\n", ""}));
    // What would not read back as a valid serial number is refused before the board is touched.
    sim.Trace();
    for (const char* pszText : {"NEWSN01", "NEWSER012", "NEWSER0{"})
        EXPECT_EQ(Zorvane(sim, {"serial", "7", pszText}).nStatus, 2) << pszText;
    EXPECT_EQ(sim.Trace(), Lines{});
    EXPECT_EQ(Zorvane(sim, {"serial", "7"}), (ToolResult{0, "NEWSER01\n", ""}));
}

TEST(FirmwareCommandTest, ListLongShowsEveryModeAndWhyABoardDoesNotOpen)
{
    CSimFixture sim;
    sim.Plug(SimBoardConfig().Id(7).Serial("AB12CD34").Version(0x0102));
    sim.Plug(SimBoardConfig().Id(9).Boot());
    sim.Plug(SimBoardConfig().Id(3).Access(ESimAccess::Denied));
    sim.Plug(SimBoardConfig().Id(4).Access(ESimAccess::Busy));
    const ToolResult result = Zorvane(sim, {"list", "-l"});
    EXPECT_EQ(result.nStatus, 0);
    EXPECT_EQ(result.strOut.substr(0, result.strOut.find("sim:2") + 5),
              "0 7 AB12CD34 1.02 app sim:0\n1 - - - boot sim:1\n2 ? ? ? ? sim:2");
    EXPECT_NE(result.strOut.find("sim:2 cannot be opened: permission denied (install the udev rule "
                                 "70-kelvard.rules"),
              std::string::npos);
    EXPECT_NE(result.strOut.find("\n3 ? ? ? ? sim:3 cannot be opened: in use by another program\n"),
              std::string::npos);
    EXPECT_EQ(Zorvane(sim, {"update", "3", IMAGE}).strErr.rfind("zorvane: no board matches 3", 0), 0u);
    EXPECT_EQ(Zorvane(sim, {"update", "path=sim:2", IMAGE})
                  .strErr.rfind("zorvane: board at sim:2 cannot be opened: permission denied", 0),
              0u);
}
