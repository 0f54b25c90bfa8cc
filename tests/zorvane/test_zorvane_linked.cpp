// The exports linked into the test, on a simulated bus the test controls: failures only a test
// can cause (a board that stops answering, failed transfers). (Threads calling exports while
// boards come and go and the table is enumerated again: test_zorvane_hotplug.)
#include "zorvane.h"
#include "zorvane/exports/TheApp.h"
#include "zorvane/exports/ZorvaneApp.h"

#include "tests/support/SimFixture.h"

#include <gtest/gtest.h>

namespace
{
std::string TakeError()
{
    char szText[64] = "untouched";
    GetBitIOError(szText, sizeof szText);
    return szText;
}
} // namespace

class ZorvaneLinkedTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Names that are no USB board become COM ports: keep them off the host's real ones.
        setenv("KELVARD_COM_PATTERN", "/nonexistent/ttyKV%d", 1);
        // The library's own object, restarted so every test begins with empty tables.
        TheZorvaneApp().ExitInstance();
        ASSERT_TRUE(TheZorvaneApp().InitInstance(m_sim.Context()));
        TakeError();
    }
    void TearDown() override { TheZorvaneApp().ExitInstance(); }

    CSimFixture m_sim;
};

TEST_F(ZorvaneLinkedTest, ReadOfABoardThatStoppedAnsweringGivesTheStaleValue)
{
    auto pBoard = m_sim.Plug(SimBoardConfig().Id(7));
    {
        // Filled without arming: the unplug below is no notice, the board merely stops answering.
        std::lock_guard lock(TheZorvaneApp().Mutex());
        TheZorvaneApp().EnumerateDevices();
    }
    ASSERT_EQ(ConfigurePortsEx("7", 0, 0, 0, 0, 0, 0), 1);
    ASSERT_EQ(WriteBytePortB("7", 0x22), 1);
    std::uint8_t byValue = 0;
    ASSERT_EQ(ReadBytePortB("7", &byValue), 1);
    m_sim.Trace();
    m_sim.Bus().Unplug(pBoard);
    byValue = 0;
    EXPECT_EQ(ReadBytePortB("7", &byValue), 0);
    EXPECT_EQ(byValue, 0x22);
    EXPECT_EQ(WriteBytePortA("7", 1), 0);
    EXPECT_EQ(m_sim.Trace(), (Lines{"0 >! 36 00 00 00 00 00", "0 >! 37 01 22 00 00 00"}));
    const char* pszName = GetUsbDeviceID(0);
    EXPECT_STREQ(pszName, "7") << "kept until the next enumeration";
    EXPECT_EQ(Initialize(), 0);
    EXPECT_STREQ(GetUsbDeviceID(0), "");
    EXPECT_STREQ(pszName, "7") << "a name given out outlives its board";
}

TEST_F(ZorvaneLinkedTest, FailedTransfersKeepTheCacheAndOnlyAConfigurationSetsTheErrorText)
{
    auto pBoard = m_sim.Plug(SimBoardConfig().Id(7));
    ASSERT_EQ(Initialize(), 1);
    m_sim.Trace();
    pBoard->InjectFault(ESimFault::Fail, 1);
    EXPECT_EQ(WriteBytePortB("7", 0x5A), 0);
    EXPECT_EQ(WriteBytePortD("7", 0x01), 1);
    EXPECT_EQ(m_sim.Trace(), (Lines{"0 >! 37 00 5a 00 00 00", "0 > 37 00 5a 00 01 00"}));
    EXPECT_EQ(TakeError(), "");
    pBoard->InjectFault(ESimFault::Fail, 1);
    EXPECT_EQ(ConfigurePortsEx("7", 1, 2, 3, 4, 5, 0), 0);
    EXPECT_EQ(TakeError(), "Failed to write configuration");
    pBoard->InjectFault(ESimFault::Timeout, 1);
    EXPECT_EQ(WriteBytePortC("7", 1), 0);
    EXPECT_EQ(TakeError(), "");
}

// Entered, a board that tells no device ID (it left during its walk) would stand as "0".
TEST_F(ZorvaneLinkedTest, ABoardThatDoesNotTellItsIdIsNotEntered)
{
    m_sim.Plug(SimBoardConfig().Id(5))->InjectFault(ESimFault::Fail, 1);
    EXPECT_EQ(Initialize(), 0);
    EXPECT_STREQ(GetUsbDeviceID(0), "");
    EXPECT_EQ(Initialize(), 1);
    EXPECT_STREQ(GetUsbDeviceID(0), "5");
}
