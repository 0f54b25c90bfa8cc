// The firmware commands of zorvane in this process, where a transcript (golden/firmware.txt)
// cannot show what counts: Ctrl-C in the middle of an update, the bars drawn when the output is a
// terminal, the memory a backup reads and the files it leaves.
#include "tests/zorvane/LinkedZorvane.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <thread>

using namespace std::chrono_literals;

namespace
{
const std::string IMAGE = KELVARD_SIM_FIRMWARE; // version 1.04, program, EEPROM and ID data
const std::string RESUME =
    "; the board waits in its bootloader; resume with: zorvane update path=sim:0 " + IMAGE + "\n";

std::string ReadFile(const std::string& strPath)
{
    std::ifstream file(strPath, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}
} // namespace

TEST(FirmwareCommandTest, CtrlCLetsTheRequestInFlightCompleteAndSendsNothingMore)
{
    CLinkedZorvane sim;
    auto pBoard = sim.Plug(SimBoardConfig().Id(7).Latency(200us));
    std::thread interrupt(
        [&]
        {
            while (pBoard->TransferCount() < 300)
                std::this_thread::sleep_for(1ms);
            std::raise(SIGINT);
        });
    const ToolResult result = sim.Zorvane({"update", "--quiet", "7", IMAGE});
    interrupt.join();
    EXPECT_EQ(result.nStatus, 130);
    EXPECT_EQ(result.strErr.rfind("zorvane: board 7 (sim:0): interrupted during erase at 0x", 0),
              0u)
        << result;
    EXPECT_TRUE(result.strErr.ends_with(RESUME)) << result;
    const Lines trace = sim.Trace();
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.back().rfind("0 < 03 01", 0), 0u) << "the erase in flight got its reply";
    EXPECT_TRUE(pBoard->IsBootMode()) << "where the printed command resumes (golden/firmware.txt)";
}

// On a terminal each board has one bar, drawn again in place until every board is done.
TEST(FirmwareCommandTest, OnATerminalEachBoardHasABarRedrawnInPlace)
{
    CLinkedZorvane sim;
    sim.Bus().SetReattachDelay(200ms); // as a real board takes: the bars are drawn meanwhile
    sim.Plug(SimBoardConfig().Id(7));
    sim.Plug(SimBoardConfig().Id(9).Boot());
    const int hMaster = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(hMaster >= 0 && grantpt(hMaster) == 0 && unlockpt(hMaster) == 0);
    const int hTerminal = open(ptsname(hMaster), O_RDWR | O_NOCTTY);
    std::string strOut; // until the terminal's last user closes it
    std::thread reader(
        [&]
        {
            char szBuffer[4096];
            for (ssize_t n; (n = read(hMaster, szBuffer, sizeof szBuffer)) > 0;)
                strOut.append(szBuffer, static_cast<std::size_t>(n));
        });
    const int hStdout = dup(STDOUT_FILENO);
    dup2(hTerminal, STDOUT_FILENO);
    close(hTerminal);
    const int nStatus = ZorvaneMain({"update", "--all", IMAGE}, sim.Context());
    dup2(hStdout, STDOUT_FILENO);
    close(hStdout);
    reader.join();
    close(hMaster);
    EXPECT_EQ(nStatus, 0);
    const std::string strFull = "  [########################] 100%  ";
    const std::size_t nLastDraw = strOut.rfind("\033[2A");
    ASSERT_NE(nLastDraw, std::string::npos) << "drawn once, then over: " << strOut;
    EXPECT_EQ(strOut.substr(nLastDraw), "\033[2A\r\033[Kboard 7 (sim:0)" + strFull +
                                            "done\r\n\r\033[Kboard at sim:1 " + strFull +
                                            "done\r\nboard 7 (sim:0): firmware 1.04\r\n"
                                            "board at sim:1: firmware 1.04\r\n");
}

// backup, update with that file, backup again: the same file; srec_cat reads it as the memory
// the board holds. (What it prints, and the mode it leaves: golden/firmware.txt.)
TEST(FirmwareCommandTest, BackupRoundTrip)
{
    CLinkedZorvane sim;
    auto pBoard = sim.Plug(SimBoardConfig().Id(7));
    ASSERT_EQ(sim.Zorvane({"update", "--quiet", "7", IMAGE}).nStatus, 0);
    const std::string strFirst = sim.Dir().File("first.hex");
    const std::string strSecond = sim.Dir().File("second.hex");
    EXPECT_EQ(sim.Zorvane({"backup", "--quiet", "7", strFirst}), (ToolResult{0, "", ""}));
    ASSERT_EQ(sim.Zorvane({"update", "--quiet", "7", strFirst}).nStatus, 0);
    EXPECT_EQ(sim.Zorvane({"backup", "--quiet", "7", strSecond}), (ToolResult{0, "", ""}));
    EXPECT_EQ(ReadFile(strFirst), ReadFile(strSecond));

    const std::string strProgram = sim.Dir().File("program.bin");
    const std::string strEeprom = sim.Dir().File("eeprom.bin");
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
}

// The target is checked before the board is touched, and only a file the backup made itself is
// ever removed or renamed: the user's FILE.part survives a failed backup; a device node as FILE
// is refused; "-" writes to standard output.
TEST(FirmwareCommandTest, BackupNeverReplacesWhatItDidNotCreate)
{
    CLinkedZorvane sim;
    auto pBoard = sim.Plug(SimBoardConfig().Id(7));
    const std::string strNotes = sim.Dir().Write("mine", "notes.part");
    pBoard->InjectFault(ESimFault::Fail, 30); // while it is read
    EXPECT_EQ(sim.Zorvane({"backup", "--quiet", "7", sim.Dir().File("notes")}).nStatus, 1);
    EXPECT_EQ(ReadFile(strNotes), "mine");
    const std::filesystem::directory_iterator files(sim.Dir().File(""));
    EXPECT_EQ(std::distance(begin(files), end(files)), 1);
    ASSERT_EQ(sim.Zorvane({"update", "--quiet", "path=sim:0", IMAGE}).nStatus, 0);
    sim.Trace();
    // A named pipe of the test's own stands for a device node (/dev/full as root).
    ASSERT_EQ(mkfifo(sim.Dir().File("fifo").c_str(), 0600), 0);
    EXPECT_EQ(sim.Zorvane({"backup", "7", sim.Dir().File("fifo")}),
              (ToolResult{1, "",
                          "zorvane: " + sim.Dir().File("fifo") +
                              " is not a regular file (a device, link, pipe or socket); backup "
                              "replaces regular files only\n"}));
    EXPECT_EQ(sim.Trace(), Lines{}) << "the board is not touched";
    const ToolResult toStdout = sim.Zorvane({"backup", "7", "-"});
    EXPECT_EQ(sim.Zorvane({"backup", "--quiet", "7", sim.Dir().File("notes")}),
              (ToolResult{0, "", ""}));
    EXPECT_EQ(toStdout, (ToolResult{0, ReadFile(sim.Dir().File("notes")), ""}));
    EXPECT_EQ(ReadFile(strNotes), "mine");
}
