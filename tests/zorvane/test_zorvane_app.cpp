// The application object on the simulated bus: enumeration with plugging and unplugging,
// bootloader boards and duplicate IDs, the name lookup and its two tables, the device-change
// window, the error text and the end of the library's life.
#include "TraceHeads.h"
#include "TempDir.h"

#include "devices/BitIO.h"
#include "devices/HiddenWnd.h"
#include "devices/UsbDev.h"
#include "exports/ZorvaneApp.h"

#include "SimFixture.h"
#include "SimSerialBoard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace std::chrono_literals;

class ZorvaneAppTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setenv("KELVARD_COM_PATTERN", m_dir.ComPattern().c_str(), 1);
        ASSERT_TRUE(m_app.InitInstance());
    }
    void TearDown() override
    {
        m_app.ExitInstance();
        unsetenv("KELVARD_COM_PATTERN");
    }

    // Arms and enumerates, then disconnects the window's watch again: here only the notices a
    // test sends itself move the table (test_zorvane_hotplug covers the watch).
    std::int32_t Initialize()
    {
        std::int32_t nCount;
        {
            std::lock_guard lock(m_app.Mutex());
            nCount = m_app.Initialize();
        }
        m_app.GetHiddenWnd()->DestroyWindow();
        return nCount;
    }
    std::vector<std::string> Names()
    {
        std::lock_guard lock(m_app.Mutex());
        return m_app.GetUsbDeviceNames();
    }

    CTempDir m_dir;
    CSimFixture m_sim;
    CZorvaneApp m_app;
};

TEST_F(ZorvaneAppTest, ReEnumerationKeepsBoardsThatAnswerAndDropsThoseThatDoNot)
{
    auto pSeven = m_sim.Plug(SimBoardConfig().Id(7));
    auto pNine = m_sim.Plug(SimBoardConfig().Id(9));
    ASSERT_EQ(Initialize(), 2);
    CUsbDev* pKept = m_app.m_mapUsbDevices.at("7").get();
    ASSERT_EQ(pKept->WriteBytePortB(0x22), 1);
    ASSERT_EQ(pKept->AddVirtualPort("field", 0, 4, 0), 0);
    m_sim.Trace();

    m_sim.Bus().Unplug(pNine);
    EXPECT_EQ(Initialize(), 1);
    EXPECT_EQ(Names(), (std::vector<std::string>{"7"}));
    EXPECT_EQ(m_app.m_mapUsbDevices.at("7").get(), pKept) << "the same object, caches and fields";
    // Presence checks of the table's boards come first, then the walk opens 7 once more.
    EXPECT_EQ(Heads(m_sim.Trace()), Join({{"0 > 3c", "0 < 3c", "1 >! 3"}, WalkOf("0")}));
    EXPECT_EQ(pKept->AddVirtualPort("field", 8, 4, 0), 2);
    EXPECT_EQ(pKept->WriteBytePortD(0x44), 1);
    EXPECT_EQ(m_sim.Trace().back(), "0 > 37 00 22 00 44 00");

    m_sim.Bus().Replug(pNine);
    m_sim.Bus().Unplug(pSeven);
    EXPECT_EQ(Initialize(), 1);
    EXPECT_EQ(Names(), (std::vector<std::string>{"9"}));
}

// A board that leaves during its own enumeration (or a link whose two pipes landed on two
// boards) tells no device ID; entered, it would stand under the false name "0".
TEST_F(ZorvaneAppTest, ABoardThatDoesNotTellItsIdIsNotEntered)
{
    auto pBoard = m_sim.Plug(SimBoardConfig().Id(5));
    pBoard->InjectFault(ESimFault::Fail, 1); // the walk's read-device-id request
    EXPECT_EQ(Initialize(), 0);
    EXPECT_EQ(Heads(m_sim.Trace()),
              (Lines{"0 >! 3", "0 > 31", "0 < 31", "0 > 00", "0 < 00", "0 > 08", "0 < 08"}))
        << "asked as any board, then dropped";
    EXPECT_TRUE(Names().empty());
    EXPECT_EQ(Initialize(), 1);
    EXPECT_EQ(Names(), (std::vector<std::string>{"5"}));
}

TEST_F(ZorvaneAppTest, FindDeviceLooksInTheUsbTableFirstThenTheSerialTable)
{
    CSimSerialBoard board;
    ASSERT_TRUE(m_dir.ComLink(3, board.SlavePath()));
    std::lock_guard lock(m_app.Mutex());
    CBitIO* pSerial = m_app.FindDevice("3");
    ASSERT_NE(pSerial, nullptr);
    EXPECT_EQ(dynamic_cast<CUsbDev*>(pSerial), nullptr);
    EXPECT_EQ(m_app.m_mapSerialDevices.count("3"), 1u);
    EXPECT_EQ(m_app.FindUsbDevice(3), nullptr) << "the virtual-port lookup sees USB boards only";

    m_sim.Plug(SimBoardConfig().Id(3));
    m_app.Initialize();
    CBitIO* pUsb = m_app.FindDevice("3");
    EXPECT_NE(pUsb, pSerial);
    EXPECT_NE(dynamic_cast<CUsbDev*>(pUsb), nullptr);
    EXPECT_EQ(m_app.FindUsbDevice(3), pUsb);
    EXPECT_EQ(m_app.m_mapSerialDevices.count("3"), 1u) << "the serial entry stays";
}

TEST_F(ZorvaneAppTest, SerialNamesAreUpperCasedAndKeptWhetherOrNotTheyOpen)
{
    std::lock_guard lock(m_app.Mutex());
    CBitIO* pLower = m_app.FindDevice("com4");
    CBitIO* pUpper = m_app.FindDevice("COM4");
    CBitIO* pMixed = m_app.FindDevice("Com4");
    EXPECT_EQ(pLower, pUpper);
    EXPECT_EQ(pLower, pMixed);
    CBitIO* pOther = m_app.FindDevice("4");
    EXPECT_NE(pOther, pLower) << "a different name is a different board";
    EXPECT_NE(m_app.FindDevice("printer"), nullptr);
    std::vector<std::string> keys;
    for (const auto& entry : m_app.m_mapSerialDevices)
        keys.push_back(entry.first);
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, (std::vector<std::string>{"4", "COM4", "PRINTER"}));
    EXPECT_EQ(pLower->WriteBytePortA(1), 0) << "its port never opened";
    EXPECT_EQ(m_app.GetLastErrorText(), "") << "an unopened port leaves no error text";
}

TEST_F(ZorvaneAppTest, ErrorTextIsCopiedWithinTheBufferAndCleared)
{
    std::lock_guard lock(m_app.Mutex());
    m_app.SetLastErrorText("No Port defined");
    char szBuffer[16];
    std::memset(szBuffer, 'x', sizeof szBuffer);
    EXPECT_EQ(m_app.GetBitIOError(szBuffer, 5), 4);
    EXPECT_EQ(std::string(szBuffer, 6), std::string("No P\0x", 6)) << "nothing past the buffer";
    EXPECT_EQ(m_app.GetLastErrorText(), "") << "taken, even when cut";

    m_app.SetLastErrorText("No Port defined");
    EXPECT_EQ(m_app.GetBitIOError(nullptr, 64), 0);
    EXPECT_EQ(m_app.GetBitIOError(szBuffer, 0), 0);
    EXPECT_EQ(m_app.GetBitIOError(szBuffer, -3), 0);
    EXPECT_EQ(m_app.GetLastErrorText(), "No Port defined") << "kept when nothing could be copied";
    EXPECT_EQ(m_app.GetBitIOError(szBuffer, 16), 15);
    EXPECT_STREQ(szBuffer, "No Port defined");
    std::memset(szBuffer, 'x', sizeof szBuffer);
    EXPECT_EQ(m_app.GetBitIOError(szBuffer, 1), 0);
    EXPECT_EQ(szBuffer[0], '\0');
    EXPECT_EQ(szBuffer[1], 'x');
}

TEST_F(ZorvaneAppTest, WindowFollowsDeviceChangesOnlyOnceArmedAndOnlyForEventSeven)
{
    CHiddenWnd* pWnd = m_app.GetHiddenWnd();
    ASSERT_NE(pWnd, nullptr);
    auto pBoard = m_sim.Plug(SimBoardConfig().Id(4));
    EXPECT_EQ(pWnd->OnDeviceChange(CHiddenWnd::DBT_DEVNODES_CHANGED, 0), 0);
    EXPECT_TRUE(Names().empty()) << "not armed before Initialize";
    EXPECT_TRUE(m_sim.Trace().empty());

    m_sim.Bus().Unplug(pBoard);
    EXPECT_EQ(Initialize(), 0);
    m_sim.Bus().Replug(pBoard);
    EXPECT_EQ(pWnd->OnDeviceChange(0x8000, 0), 0);
    EXPECT_EQ(pWnd->OnDeviceChange(0x8004, 0x1234), 0);
    EXPECT_TRUE(Names().empty()) << "arrival and removal notices change nothing";
    EXPECT_EQ(pWnd->OnDeviceChange(7, 0), 0);
    EXPECT_EQ(Names(), (std::vector<std::string>{"4"}));
    m_sim.Bus().Unplug(pBoard);
    EXPECT_EQ(pWnd->OnDeviceChange(7, 0), 0);
    EXPECT_TRUE(Names().empty());
    EXPECT_EQ(m_app.m_nDeviceCount, 0);
}

TEST_F(ZorvaneAppTest, ExitClosesEveryBoardAndSendsNothing)
{
    CSimSerialBoard board;
    ASSERT_TRUE(m_dir.ComLink(2, board.SlavePath()));
    m_sim.Plug(SimBoardConfig().Id(1));
    ASSERT_EQ(Initialize(), 1);
    MPUSB_HANDLE hRead;
    {
        std::lock_guard lock(m_app.Mutex());
        hRead = m_app.m_mapUsbDevices.at("1")->m_hRead;
        ASSERT_EQ(m_app.m_mapUsbDevices.at("1")->AddVirtualPort("f", 0, 3, 0), 0);
        ASSERT_NE(m_app.FindDevice("COM2"), nullptr);
    }
    m_sim.Trace();
    EXPECT_EQ(m_app.ExitInstance(), 0);
    EXPECT_EQ(m_app.GetHiddenWnd(), nullptr);
    EXPECT_TRUE(m_app.m_mapUsbDevices.empty());
    EXPECT_TRUE(m_app.m_mapSerialDevices.empty());
    EXPECT_TRUE(m_sim.Trace().empty());
    EXPECT_FALSE(MPUSBClose(hRead)) << "the pipes were closed";
    // The COM port was let go: another opener gets it.
    CBitIO other("COM2");
    EXPECT_EQ(other.Open(), 1);
    ASSERT_TRUE(m_app.InitInstance()); // TearDown ends it again
}
