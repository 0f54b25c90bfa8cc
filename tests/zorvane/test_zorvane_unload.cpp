// The library's one watcher thread as an application sees it through dlopen: none before the
// first Initialize, exactly one after any number of them, and none once dlclose has unmapped
// the library, so that no thread is left running code that is gone; its COM ports let go with
// it, so that the next load opens them again.
#include "tests/zorvane/LoadedZorvane.h"
#include "tests/zorvane/ThreadCount.h"

#include "sim/SimSerialBoard.h"

TEST(ZorvaneUnload, TheWatcherThreadStartsWithTheFirstInitializeAndEndsWithTheLibrary)
{
    CSimSerialBoard board;
    const int nBefore = ThreadCount();
    for (int nRound = 1; nRound <= 2; ++nRound)
    {
        {
            CLoadedZorvane lib("id=7");
            ASSERT_TRUE(lib.IsLoaded() && lib.Dir().ComLink(3, board.SlavePath()));
            EXPECT_EQ(lib.WriteBytePortA("7", 1), 0) << "no COM port 7";
            EXPECT_EQ(lib.WriteBytePortA("COM3", nRound), 0);
            EXPECT_TRUE(board.WaitLines(std::size_t(nRound), std::chrono::seconds(2)))
                << "round " << nRound << ": COM port 3 not opened again";
            EXPECT_EQ(ThreadCount(), nBefore)
                << "round " << nRound << ": a thread before Initialize";
            EXPECT_EQ(lib.Initialize(), 1);
            EXPECT_EQ(lib.InitializeZorvane(), 1);
            EXPECT_EQ(lib.Initialize(), 1);
            EXPECT_EQ(ThreadCount(), nBefore + 1) << "round " << nRound << ": not one watcher";
        } // dlclose, and the check that the library really went
        EXPECT_EQ(ThreadCount(), nBefore)
            << "round " << nRound << ": a thread outlived the library";
    }
}
