// End to end: the stand-alone COM-port board `kelvard-sim serial` in its own process, linked
// where KELVARD_COM_PATTERN makes COM1, driven by libzorvane.so loaded as an application loads
// it. Its --verbose lines show each line it receives.
#include "tests/zorvane/LoadedZorvane.h"

#define ZORVANE_TOOL KELVARD_SIM_PROGRAM // the program CToolProcess runs
#include "tests/zorvane/ToolProcess.h"

#include <gtest/gtest.h>

TEST(KelvardSimSerial, TheLibraryWritesAndReadsTheComPortBoard)
{
    CLoadedZorvane lib(""); // no USB board; COM n is <its folder>/ttyKV(n-1)
    ASSERT_TRUE(lib.IsLoaded());
    const std::string strLink = lib.Dir().File("ttyKV0");
    // A late board whose replies end without a line end: read all the same.
    CToolProcess board(
        {"serial", "--link", strLink, "--line-end", "none", "--reply-delay", "30", "--verbose"});
    const std::string strReady = board.ReadLine();
    EXPECT_TRUE(strReady.rfind("kelvard-sim: COM-port board on /dev/pts/", 0) == 0 &&
                strReady.find(" linked as " + strLink) != std::string::npos)
        << strReady;

    // Port B output, A and C inputs; then 0x5A on B, with A and C as the library last knew them.
    EXPECT_EQ(lib.ConfigurePorts("COM1", 0xFF, 0x00, 0xFF, 0), 14); // "C,255,0,255,0\n"
    lib.WriteBytePortB("COM1", 0x5A);
    std::uint8_t byA = 0xEE, byB = 0xEE;
    EXPECT_EQ(lib.ReadBytePortA("COM1", &byA), 1);
    EXPECT_EQ(lib.ReadBytePortB("COM1", &byB), 1);
    EXPECT_EQ(byA, 0x00); // inputs at rest
    EXPECT_EQ(byB, 0x5A); // an output reads back its latch
    for (const char* pszLine : {"C,255,0,255,0", "O,0,90,0", "I", "I"})
        EXPECT_EQ(board.ReadLine(), std::string("serial < ") + pszLine);
    EXPECT_TRUE(lib.Trace().empty()) << "no USB traffic";

    board.Signal(SIGTERM); // as Ctrl-C ends it
    EXPECT_EQ(board.Finish().nStatus, 0);
    EXPECT_NE(::access(strLink.c_str(), F_OK), 0) << "the link goes with the board";
}
