// The library as an application sees it: libzorvane.so loaded with dlopen, its exports found
// by name, boards on the simulated bus given by the environment, and every byte on the wire
// read back from the bus trace.
#include "TraceHeads.h"
#include "LoadedZorvane.h"

#include "HexText.h"

#include <gtest/gtest.h>

#include <cstring>

namespace
{
std::string Packet64(const char* pszPrefix, std::initializer_list<std::uint8_t> bytes)
{
    std::vector<std::uint8_t> all(bytes);
    all.resize(64, 0);
    return std::string(pszPrefix) + " " + HexText(all.data(), all.size());
}

std::vector<std::string> Listed(CLoadedZorvane& lib)
{
    CStringArray names;
    const int32_t nCount = lib.ListUsbDevices(&names);
    EXPECT_EQ(nCount, names.GetSize());
    std::vector<std::string> listed;
    for (int i = 0; i < names.GetSize(); ++i)
        listed.push_back(names[i]);
    return listed;
}
} // namespace

TEST(ZorvaneLibrary, LoadsWithEveryExportAndUnloadsCompletely)
{
    ASSERT_EQ(dlopen(ZORVANE_LIBRARY, RTLD_NOW | RTLD_NOLOAD), nullptr);
    {
        CLoadedZorvane lib("id=7");
        ASSERT_TRUE(lib.IsLoaded());
        EXPECT_EQ(lib.Initialize(), 1);
        EXPECT_EQ(lib.WriteBytePortA("7", 1), 1);
    } // unloads with a board open: ExitInstance closes it
    CLoadedZorvane again("id=8");
    EXPECT_EQ(again.Initialize(), 1) << "a fresh library reads the environment afresh";
    EXPECT_EQ(Listed(again), (std::vector<std::string>{"8"}));
}

TEST(ZorvaneEnumeration, CountsApplicationBoardsOnceEachInTheirInstanceOrder)
{
    CLoadedZorvane lib("id=7,serial=AB12CD34;id=9,mode=boot;id=7,serial=SECOND02;id=3,version=0x0205");
    EXPECT_EQ(lib.Initialize(), 2);
    const Lines trace = lib.Trace();
    EXPECT_EQ(Heads(trace), Join({WalkOf("0"), {"1 > 3c", "1 <!", "1 > 31", "1 <!", "1 > 00", "1 <!", "1 > 08",
                                                "1 < 08"},
                                  WalkOf("2"), WalkOf("3")}));
    ASSERT_EQ(trace.size(), 32u);
    EXPECT_EQ(trace[0], "0 > 3c 00");
    EXPECT_EQ(trace[1], "0 < 3c 07");
    EXPECT_EQ(trace[2], Packet64("0 >", {0x31}));
    EXPECT_EQ(trace[3], Packet64("0 <", {0x31, 16, 'A', 0, 'B', 0, '1', 0, '2', 0, 'C', 0, 'D', 0, '3', 0, '4', 0}));
    EXPECT_EQ(trace[4], Packet64("0 >", {0x00}));
    EXPECT_EQ(trace[5], Packet64("0 <", {0x00, 0x00, 0x03, 0x01}));
    EXPECT_EQ(trace[6], Packet64("0 >", {0x08}));
    EXPECT_EQ(trace[14], Packet64("1 >", {0x08}));
    EXPECT_EQ(trace[15], Packet64("1 <", {0x08, 0x00, 0x42}));
    EXPECT_EQ(trace[29], Packet64("3 <", {0x00, 0x00, 0x05, 0x02}));

    EXPECT_EQ(Listed(lib), (std::vector<std::string>{"3", "7"}));
    EXPECT_EQ(lib.WriteBytePortA("7", 1), 1);
    EXPECT_EQ(lib.Trace(), (Lines{"0 > 37 01 00 00 00 00"})) << "the first board with ID 7 is the one reached";
}

TEST(ZorvaneEnumeration, NoBoardGivesZeroAndNothingOnTheWire)
{
    CLoadedZorvane lib("");
    EXPECT_EQ(lib.Initialize(), 0);
    EXPECT_EQ(lib.InitializeZorvane(), 0);
    EXPECT_STREQ(lib.GetUsbDeviceID(0), "");
    EXPECT_TRUE(Listed(lib).empty());
    EXPECT_TRUE(lib.Trace().empty());
}

TEST(ZorvaneEnumeration, ReEnumerationKeepsTheBoardWithItsCacheAndFields)
{
    CLoadedZorvane lib("id=7");
    ASSERT_EQ(lib.Initialize(), 1);
    EXPECT_EQ(lib.WriteBytePortB("7", 0x22), 1);
    EXPECT_EQ(lib.AddVirtualPort(7, "field", 0, 4, 0), 0);
    lib.Trace();
    EXPECT_EQ(lib.Initialize(), 1);
    EXPECT_EQ(Heads(lib.Trace()), Join({{"0 > 3c", "0 < 3c"}, WalkOf("0")}));
    EXPECT_EQ(lib.AddVirtualPort(7, "field", 8, 4, 0), 2);
    EXPECT_EQ(lib.WriteBytePortD("7", 0x44), 1);
    EXPECT_EQ(lib.Trace(), (Lines{"0 > 37 00 22 00 44 00"}));
}

TEST(ZorvaneNames, ListAndPositionsAgreeAndListingAppends)
{
    CLoadedZorvane lib("id=10;id=2;id=31");
    ASSERT_EQ(lib.Initialize(), 3);
    CStringArray names;
    names.Add("kept");
    names.Add("too");
    EXPECT_EQ(lib.ListUsbDevices(&names), 5);
    ASSERT_EQ(names.GetSize(), 5);
    EXPECT_EQ(names.GetAt(0), "kept");
    EXPECT_EQ(names.GetAt(1), "too");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(names.GetAt(2 + i), lib.GetUsbDeviceID(i)) << i;
    EXPECT_EQ(names.GetAt(2), "2");
    EXPECT_EQ(names.GetAt(4), "31");
    EXPECT_STREQ(lib.GetUsbDeviceID(3), "");
    EXPECT_STREQ(lib.GetUsbDeviceID(-1), "");
    EXPECT_EQ(lib.ListUsbDevices(nullptr), 0);
}

TEST(ZorvaneNames, EmptyOrNullNameGivesZeroAndTheErrorTextOnce)
{
    CLoadedZorvane lib("id=7");
    ASSERT_EQ(lib.Initialize(), 1);
    lib.Trace();
    std::uint8_t byValue = 0x77;
    EXPECT_EQ(lib.ReadBytePortA("", &byValue), 0);
    EXPECT_EQ(byValue, 0x77);
    char szBuffer[64];
    std::memset(szBuffer, 'x', sizeof szBuffer);
    EXPECT_EQ(lib.GetBitIOError(szBuffer, 64), 15);
    EXPECT_STREQ(szBuffer, "No Port defined");
    EXPECT_EQ(lib.GetBitIOError(szBuffer, 64), 0);
    EXPECT_STREQ(szBuffer, "");

    EXPECT_EQ(lib.WriteBytePortA(nullptr, 1), 0);
    EXPECT_EQ(lib.ConfigurePorts(nullptr, 1, 2, 3, 0), 0);
    EXPECT_EQ(lib.ConfigurePortsEx("", 1, 2, 3, 4, 5, 0), 0);
    EXPECT_EQ(lib.TakeError(), "No Port defined") << "not the configuration failure";
    EXPECT_TRUE(lib.Trace().empty());
}

TEST(ZorvaneNames, ErrorTextNeverOverrunsASmallBuffer)
{
    CLoadedZorvane lib("");
    EXPECT_EQ(lib.WriteBytePortE("", 0), 0);
    char szBuffer[8];
    std::memset(szBuffer, 'x', sizeof szBuffer);
    EXPECT_EQ(lib.GetBitIOError(szBuffer, 4), 3);
    EXPECT_EQ(std::string(szBuffer, 5), std::string("No \0x", 5));
    EXPECT_EQ(lib.TakeError(), "") << "taken";
    EXPECT_EQ(lib.WriteBytePortE("", 0), 0);
    EXPECT_EQ(lib.GetBitIOError(nullptr, 64), 0);
    EXPECT_EQ(lib.GetBitIOError(szBuffer, 0), 0);
    EXPECT_EQ(lib.TakeError(), "No Port defined") << "kept while no buffer took it";
}

TEST(ZorvanePorts, ByteWritesCarryAllFiveCachedPorts)
{
    CLoadedZorvane lib("id=7");
    ASSERT_EQ(lib.Initialize(), 1);
    lib.Trace();
    EXPECT_EQ(lib.WriteBytePortC("7", 0x0F), 1);
    EXPECT_EQ(lib.WriteBytePortA("7", 0x1A5), 1);
    EXPECT_EQ(lib.WriteBytePortE("7", -1), 1);
    EXPECT_EQ(lib.WriteBytePortB("7", 0x22), 1);
    EXPECT_EQ(lib.WriteBytePortD("7", 0x44), 1);
    EXPECT_EQ(lib.Trace(), (Lines{"0 > 37 00 00 0f 00 00", "0 > 37 a5 00 0f 00 00", "0 > 37 a5 00 0f 00 ff",
                                  "0 > 37 a5 22 0f 00 ff", "0 > 37 a5 22 0f 44 ff"}));
    EXPECT_EQ(lib.WriteBytePortA("8", 1), 0) << "no board 8: a COM port that does not open";
    EXPECT_TRUE(lib.Trace().empty());
}

TEST(ZorvanePorts, ByteReadsRefreshEveryCachedPort)
{
    CLoadedZorvane lib("id=7");
    ASSERT_EQ(lib.Initialize(), 1);
    ASSERT_EQ(lib.ConfigurePortsEx("7", 0, 0, 0, 0, 0, 0), 1);
    for (auto write : {lib.WriteBytePortA, lib.WriteBytePortB, lib.WriteBytePortC, lib.WriteBytePortD,
                       lib.WriteBytePortE})
        ASSERT_EQ(write("7", 0x11), 1);
    // Port A becomes an input again: the board reads its level, 0, not the latch.
    ASSERT_EQ(lib.ConfigurePortsEx("7", 0xFF, 0, 0, 0, 0, 0), 1);
    lib.Trace();
    std::uint8_t byValue = 0x99;
    EXPECT_EQ(lib.ReadBytePortA("7", &byValue), 1);
    EXPECT_EQ(byValue, 0);
    EXPECT_EQ(lib.ReadBytePortE("7", &byValue), 1);
    EXPECT_EQ(byValue, 0x11);
    EXPECT_EQ(lib.WriteBytePortE("7", 0x66), 1);
    EXPECT_EQ(lib.Trace(), (Lines{"0 > 36 00 00 00 00 00", "0 < 36 00 11 11 11 11", "0 > 36 00 00 00 00 00",
                                  "0 < 36 00 11 11 11 11", "0 > 37 00 11 11 11 66"}));
    for (auto read : {lib.ReadBytePortB, lib.ReadBytePortC, lib.ReadBytePortD})
    {
        byValue = 0;
        EXPECT_EQ(read("7", &byValue), 1);
        EXPECT_EQ(byValue, 0x11);
    }
    EXPECT_EQ(lib.ReadBytePortC("7", nullptr), 1);
    EXPECT_EQ(lib.Trace().size(), 8u) << "every byte read is one read-ports exchange";
}

TEST(ZorvaneConfigure, ConfigurePortsExSendsTheBlockAndClearsOrSetsTheErrorText)
{
    CLoadedZorvane lib("id=7");
    ASSERT_EQ(lib.Initialize(), 1);
    lib.Trace();
    EXPECT_EQ(lib.ReadBytePortA("", nullptr), 0); // leaves "No Port defined"
    EXPECT_EQ(lib.ConfigurePortsEx("7", 0xFF, 0x00, 0x0F, 0xF0, 0x07, 1234), 1);
    EXPECT_EQ(lib.Trace(), (Lines{"0 > 39 ff 00 00 00 0f 00 f0 00 07 00"}));
    EXPECT_EQ(lib.TakeError(), "") << "success clears the text";
    EXPECT_EQ(lib.ConfigurePortsEx("7", 0, 0, 0, 0, 0, 0), 1);
    EXPECT_EQ(lib.Trace(), (Lines{"0 > 39 00 00 00 00 00 00 00 00 00 00"}));

    EXPECT_EQ(lib.ConfigurePortsEx("COM9", 1, 2, 3, 4, 5, 6), 0) << "a COM port that cannot open";
    EXPECT_EQ(lib.TakeError(), "Failed to write configuration");
    EXPECT_EQ(lib.TakeError(), "");
    EXPECT_EQ(lib.ConfigurePortsEx("COM9", 1, 2, 3, 4, 5, 6), 0);
    EXPECT_EQ(lib.ConfigurePortsEx("7", 1, 2, 3, 4, 5, 6), 1);
    EXPECT_EQ(lib.TakeError(), "");
    EXPECT_EQ(lib.Trace(), (Lines{"0 > 39 01 00 02 00 03 00 04 00 05 00"}));
}

TEST(ZorvaneUnsupported, UsbBoardAnswersZeroSendsNothingAndLeavesOutputsAlone)
{
    CLoadedZorvane lib("id=7");
    ASSERT_EQ(lib.Initialize(), 1);
    lib.Trace();
    std::uint8_t byA = 9, byB = 9, byC = 9;
    int32_t nValue = 9;
    EXPECT_EQ(lib.ConfigurePorts("7", 0, 255, 15, 0), 0);
    EXPECT_EQ(lib.ReadBytePorts("7", &byA, &byB, &byC), 0);
    EXPECT_EQ(lib.WriteBitPortA("7", 1, 1), 0);
    EXPECT_EQ(lib.WriteBitPortB("7", 1, 1), 0);
    EXPECT_EQ(lib.WriteBitPortC("7", 1, 1), 0);
    EXPECT_EQ(lib.ReadBitPortA("7", 1, &nValue), 0);
    EXPECT_EQ(lib.ReadBitPortB("7", 1, &nValue), 0);
    EXPECT_EQ(lib.ReadBitPortC("7", 1, &nValue), 0);
    EXPECT_EQ((std::array<int, 4>{byA, byB, byC, nValue}), (std::array<int, 4>{9, 9, 9, 9}));
    EXPECT_TRUE(lib.Trace().empty());
    EXPECT_EQ(lib.TakeError(), "");
}

TEST(ZorvaneVirtualPorts, AddingSendsFourPortWritesThenTheConfiguration)
{
    CLoadedZorvane lib("id=7");
    ASSERT_EQ(lib.Initialize(), 1);
    ASSERT_EQ(lib.WriteBytePortA("7", 0xFF), 1);
    lib.Trace();
    EXPECT_EQ(lib.AddVirtualPort(7, "Nibble", 4, 4, 0), 0);
    EXPECT_EQ(lib.Trace(), (Lines{"0 > 37 0f 00 00 00 00", "0 > 37 0f 00 00 00 00", "0 > 37 0f 00 00 00 00",
                                  "0 > 37 0f 00 00 00 00", "0 > 39 0f 00 ff 00 ff 00 ff 00 ff 00"}));
    EXPECT_EQ(lib.WriteVirtualPort(7, "Nibble", 5), 0);
    EXPECT_EQ(lib.Trace(), (Lines{"0 > 37 5f 00 00 00 00", "0 > 37 5f 00 00 00 00", "0 > 37 5f 00 00 00 00",
                                  "0 > 37 5f 00 00 00 00"}));
}

TEST(ZorvaneVirtualPorts, ResultsZeroToThreeAndNamesThatDifferInCase)
{
    CLoadedZorvane lib("id=7");
    ASSERT_EQ(lib.Initialize(), 1);
    EXPECT_EQ(lib.AddVirtualPort(7, "Top", 20, 7, 1), 0);
    lib.Trace();
    EXPECT_EQ(lib.AddVirtualPort(7, "Top", 0, 1, 0), 2);
    EXPECT_EQ(lib.AddVirtualPort(7, "Wide", 20, 8, 0), 3);
    EXPECT_EQ(lib.AddVirtualPort(7, "Clash", 26, 1, 0), 1);
    EXPECT_TRUE(lib.Trace().empty()) << "refused fields send nothing";
    EXPECT_EQ(lib.AddVirtualPort(7, "Empty", 27, 0, 0), 0);
    EXPECT_EQ(lib.AddVirtualPort(7, "top", 19, 1, 0), 0) << "bordering, and another name by its case";
    EXPECT_EQ(lib.Trace().size(), 10u);
    EXPECT_EQ(lib.RemoveVirtualPort(7, "TOP"), 0);
    EXPECT_EQ(lib.WriteVirtualPort(7, "tOp", 1), 0);
    EXPECT_TRUE(lib.Trace().empty());
}

TEST(ZorvaneVirtualPorts, RemovingWritesZeroOnceAndRemovingAllReturnsZero)
{
    CLoadedZorvane lib("id=7");
    ASSERT_EQ(lib.Initialize(), 1);
    EXPECT_EQ(lib.RemoveAllVirtualPorts(7), 0);
    ASSERT_EQ(lib.AddVirtualPort(7, "Low", 0, 8, 0), 0);
    ASSERT_EQ(lib.WriteVirtualPort(7, "Low", 0xAA), 0);
    lib.Trace();
    EXPECT_EQ(lib.RemoveVirtualPort(7, "Low"), 1);
    EXPECT_EQ(lib.Trace(), (Lines{"0 > 37 00 00 00 00 00", "0 > 37 00 00 00 00 00", "0 > 37 00 00 00 00 00",
                                  "0 > 37 00 00 00 00 00"}));
    EXPECT_EQ(lib.RemoveVirtualPort(7, "Low"), 0);
    EXPECT_EQ(lib.RemoveAllVirtualPorts(7), 0);
    EXPECT_TRUE(lib.Trace().empty());
    int32_t nValue = 1234;
    EXPECT_EQ(lib.ReadVirtualPort(7, "Low", &nValue), 0);
    EXPECT_EQ(nValue, 1234);
}

TEST(ZorvaneVirtualPorts, UnknownNumbersAndComPortBoardsHaveNoVirtualPorts)
{
    CLoadedZorvane lib("id=7");
    ASSERT_EQ(lib.Initialize(), 1);
    EXPECT_EQ(lib.WriteBytePortA("42", 1), 0); // makes a COM-port board named 42
    lib.Trace();
    int32_t nValue = 5;
    for (int32_t nDevice : {42, 8, -7, 0})
    {
        EXPECT_EQ(lib.AddVirtualPort(nDevice, "f", 0, 30, 0), 0) << nDevice;
        EXPECT_EQ(lib.RemoveVirtualPort(nDevice, "f"), 0);
        EXPECT_EQ(lib.RemoveAllVirtualPorts(nDevice), 0);
        EXPECT_EQ(lib.WriteVirtualPort(nDevice, "f", 1), 0);
        EXPECT_EQ(lib.ReadVirtualPort(nDevice, "f", &nValue), 0);
    }
    EXPECT_EQ(nValue, 5);
    EXPECT_TRUE(lib.Trace().empty());
    EXPECT_EQ(lib.TakeError(), "");
    EXPECT_EQ(lib.AddVirtualPort(7, "f", 0, 30, 0), 3) << "board 7 itself is reached";
    EXPECT_EQ(lib.AddVirtualPort(7, nullptr, 0, 1, 0), 0);
    EXPECT_EQ(lib.AddVirtualPort(7, "", 1, 1, 0), 2) << "a null name is the empty name";
}
