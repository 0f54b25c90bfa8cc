// The library as an application sees it: libzorvane.so loaded with dlopen, boards on the
// simulated bus given by the environment, every byte on the wire read back from the bus trace.
#include "tests/zorvane/LoadedZorvane.h"

#include "tests/support/HexText.h"

namespace
{
// Trace line of a 64-byte request starting with one command code.
std::string Request64(const char* pszInstance, std::uint8_t byCode)
{
    return std::string(pszInstance) + " > " + HexText(&byCode, 1) + " " + Zeros(63);
}

// "0 > 3c 07" becomes "0 > 3c": instance, direction and command code.
Lines Heads(const Lines& trace)
{
    Lines heads;
    for (const std::string& strLine : trace)
        heads.push_back(strLine.substr(0, std::min<std::size_t>(strLine.size(), 6)));
    return heads;
}

// Entering one application board: read-device-id, read-serial-number, read-version, query-mode.
Lines WalkOf(const std::string& strInstance)
{
    Lines heads;
    for (const char* pszCode : {"3c", "31", "00", "08"})
        for (const char* pszDirection : {" > ", " < "})
            heads.push_back(strInstance + pszDirection + pszCode);
    return heads;
}

Lines operator+(Lines first, const Lines& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

Lines Listed(CLoadedZorvane& lib)
{
    CStringArray names;
    const int32_t nCount = lib.ListUsbDevices(&names);
    EXPECT_EQ(nCount, names.GetSize());
    Lines listed;
    for (int i = 0; i < names.GetSize(); ++i)
        listed.push_back(names[i]);
    return listed;
}
} // namespace

TEST(ZorvaneEnumeration, CountsApplicationBoardsOnceEachInTheirInstanceOrder)
{
    CLoadedZorvane lib("id=7,serial=AB12CD34;id=9,mode=boot;id=7,serial=SECOND02;id=3");
    EXPECT_EQ(lib.Initialize(), 2);
    const Lines trace = lib.Trace();
    // The bootloader board fails every request but the mode query and is not entered.
    const Lines bootBoard{"1 > 3c", "1 <!", "1 > 31", "1 <!", "1 > 00", "1 <!", "1 > 08", "1 < 08"};
    EXPECT_EQ(Heads(trace), WalkOf("0") + bootBoard + WalkOf("2") + WalkOf("3"));
    ASSERT_EQ(trace.size(), 32u);
    EXPECT_EQ(trace[0], "0 > 3c 00");
    EXPECT_EQ(trace[2], Request64("0", 0x31));
    EXPECT_EQ(trace[4], Request64("0", 0x00));
    EXPECT_EQ(trace[6], Request64("0", 0x08));
    EXPECT_EQ(Listed(lib), (Lines{"3", "7"}));
    EXPECT_EQ(lib.WriteBytePortA("7", 1), 1);
    EXPECT_EQ(lib.Trace(), (Lines{"0 > 37 01 00 00 00 00"}))
        << "the first board with ID 7 is the one reached";
}

// One board with ID 7, enumerated; the trace starts after the enumeration.
class ZorvaneBoardTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(m_lib.Initialize(), 1);
        m_lib.Trace();
    }

    CLoadedZorvane m_lib{"id=7"};
};

TEST_F(ZorvaneBoardTest, ReEnumerationKeepsTheBoardWithItsCacheAndFields)
{
    EXPECT_EQ(m_lib.WriteBytePortB("7", 0x22), 1);
    EXPECT_EQ(m_lib.AddVirtualPort(7, "field", 0, 4, 0), 0);
    m_lib.Trace();
    EXPECT_EQ(m_lib.Initialize(), 1);
    EXPECT_EQ(Heads(m_lib.Trace()), (Lines{"0 > 3c", "0 < 3c"} + WalkOf("0")))
        << "presence check, then the walk";
    EXPECT_EQ(m_lib.AddVirtualPort(7, "field", 8, 4, 0), 2);
    EXPECT_EQ(m_lib.WriteBytePortD("7", 0x44), 1);
    EXPECT_EQ(m_lib.Trace(), (Lines{"0 > 37 00 22 00 44 00"}));
}

TEST(ZorvaneNames, ListAppendsInNumericOrderAndPositionsAgree)
{
    CLoadedZorvane lib("id=10;id=2;id=31");
    ASSERT_EQ(lib.Initialize(), 3);
    CStringArray names;
    names.Add("kept");
    EXPECT_EQ(lib.ListUsbDevices(&names), 4);
    ASSERT_EQ(names.GetSize(), 4);
    EXPECT_EQ((Lines{names[0], names[1], names[2], names[3]}), (Lines{"kept", "2", "10", "31"}));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(names[1 + i], lib.GetUsbDeviceID(i)) << i;
    EXPECT_STREQ(lib.GetUsbDeviceID(3), "");
    EXPECT_STREQ(lib.GetUsbDeviceID(-1), "");
    EXPECT_EQ(lib.ListUsbDevices(nullptr), 0);
}

TEST_F(ZorvaneBoardTest, EmptyOrNullNameGivesZeroAndAnErrorTextTakenOnceInAnyBuffer)
{
    std::uint8_t byValue = 0x77;
    EXPECT_EQ(m_lib.ReadBytePortA("", &byValue), 0);
    EXPECT_EQ(byValue, 0x77);
    EXPECT_EQ(m_lib.TakeError(), "No Port defined");
    EXPECT_EQ(m_lib.TakeError(), "") << "taken";

    EXPECT_EQ(m_lib.WriteBytePortA(nullptr, 1), 0);
    EXPECT_EQ(m_lib.ConfigurePorts(nullptr, 1, 2, 3, 0), 0);
    EXPECT_EQ(m_lib.ConfigurePortsEx("", 1, 2, 3, 4, 5, 0), 0);
    char szBuffer[8];
    std::memset(szBuffer, 'x', sizeof szBuffer);
    for (const int32_t nSize : {64, 0, -3}) // no buffer: the text stays
        EXPECT_EQ(m_lib.GetBitIOError(nSize == 64 ? nullptr : szBuffer, nSize), 0);
    EXPECT_EQ(m_lib.GetBitIOError(szBuffer, 4), 3) << "not the configuration failure, and cut";
    EXPECT_EQ(std::string(szBuffer, 5), std::string("No \0x", 5));
    EXPECT_EQ(m_lib.TakeError(), "") << "taken, even when cut";
    EXPECT_TRUE(m_lib.Trace().empty());
}

TEST_F(ZorvaneBoardTest, ByteWritesCarryAllFiveCachedPortsAndReadsRefreshThem)
{
    ASSERT_EQ(m_lib.ConfigurePortsEx("7", 0, 0, 0, 0, 0, 0), 1);
    m_lib.Trace();
    EXPECT_EQ(m_lib.WriteBytePortC("7", 0x33), 1);
    EXPECT_EQ(m_lib.WriteBytePortA("7", 0x1A5), 1);
    EXPECT_EQ(m_lib.WriteBytePortE("7", -1), 1);
    EXPECT_EQ(m_lib.WriteBytePortB("7", 0x22), 1);
    EXPECT_EQ(m_lib.WriteBytePortD("7", 0x44), 1);
    EXPECT_EQ(m_lib.Trace(),
              (Lines{"0 > 37 00 00 33 00 00", "0 > 37 a5 00 33 00 00", "0 > 37 a5 00 33 00 ff",
                     "0 > 37 a5 22 33 00 ff", "0 > 37 a5 22 33 44 ff"}));
    EXPECT_EQ(m_lib.WriteBytePortA("8", 1), 0) << "no board 8: a COM port that does not open";
    EXPECT_TRUE(m_lib.Trace().empty());

    // Port A becomes an input again: the board reads its level, 0, not the latch.
    ASSERT_EQ(m_lib.ConfigurePortsEx("7", 0xFF, 0, 0, 0, 0, 0), 1);
    m_lib.Trace();
    std::uint8_t byValue = 0x99;
    EXPECT_EQ(m_lib.ReadBytePortA("7", &byValue), 1);
    EXPECT_EQ(byValue, 0);
    EXPECT_EQ(m_lib.ReadBytePortE("7", &byValue), 1);
    EXPECT_EQ(byValue, 0xFF);
    EXPECT_EQ(m_lib.WriteBytePortE("7", 0x66), 1);
    EXPECT_EQ(m_lib.Trace(),
              (Lines{"0 > 36 00 00 00 00 00", "0 < 36 00 22 33 44 ff", "0 > 36 00 00 00 00 00",
                     "0 < 36 00 22 33 44 ff", "0 > 37 00 22 33 44 66"}));
    for (auto [read, byExpected] : {std::pair{m_lib.ReadBytePortB, 0x22},
                                    {m_lib.ReadBytePortC, 0x33},
                                    {m_lib.ReadBytePortD, 0x44}})
    {
        byValue = 0;
        EXPECT_EQ(read("7", &byValue), 1);
        EXPECT_EQ(byValue, byExpected);
    }
    EXPECT_EQ(m_lib.ReadBytePortC("7", nullptr), 1);
    EXPECT_EQ(m_lib.Trace().size(), 8u) << "every byte read is one read-ports exchange";
}

TEST_F(ZorvaneBoardTest, ConfigurePortsExSendsTheBlockAndClearsOrSetsTheErrorText)
{
    EXPECT_EQ(m_lib.ReadBytePortA("", nullptr), 0); // leaves "No Port defined"
    EXPECT_EQ(m_lib.ConfigurePortsEx("7", 0x1FF, 0x00, 0x0F, 0xF0, 0x07, 1234), 1);
    EXPECT_EQ(m_lib.Trace(), (Lines{"0 > 39 ff 00 00 00 0f 00 f0 00 07 00"}));
    EXPECT_EQ(m_lib.TakeError(), "") << "success clears the text";

    EXPECT_EQ(m_lib.ConfigurePortsEx("COM9", 1, 2, 3, 4, 5, 6), 0) << "a COM port that cannot open";
    EXPECT_EQ(m_lib.TakeError(), "Failed to write configuration");
    EXPECT_EQ(m_lib.ConfigurePortsEx("COM9", 1, 2, 3, 4, 5, 6), 0);
    EXPECT_EQ(m_lib.ConfigurePortsEx("7", 1, 2, 3, 4, 5, 6), 1);
    EXPECT_EQ(m_lib.TakeError(), "");
    EXPECT_EQ(m_lib.Trace(), (Lines{"0 > 39 01 00 02 00 03 00 04 00 05 00"}));
}

TEST_F(ZorvaneBoardTest, UsbBoardAnswersZeroSendsNothingAndLeavesOutputsAlone)
{
    std::uint8_t byA = 9, byB = 9, byC = 9;
    int32_t nValue = 9;
    EXPECT_EQ(m_lib.ConfigurePorts("7", 0, 255, 15, 0), 0);
    EXPECT_EQ(m_lib.ReadBytePorts("7", &byA, &byB, &byC), 0);
    for (auto write : {m_lib.WriteBitPortA, m_lib.WriteBitPortB, m_lib.WriteBitPortC})
        EXPECT_EQ(write("7", 1, 1), 0);
    for (auto read : {m_lib.ReadBitPortA, m_lib.ReadBitPortB, m_lib.ReadBitPortC})
        EXPECT_EQ(read("7", 1, &nValue), 0);
    EXPECT_EQ((std::array<int, 4>{byA, byB, byC, nValue}), (std::array<int, 4>{9, 9, 9, 9}));
    EXPECT_TRUE(m_lib.Trace().empty());
    EXPECT_EQ(m_lib.TakeError(), "");
}

TEST_F(ZorvaneBoardTest, AddingZeroesTheFieldWithFourPortWritesThenConfiguresIt)
{
    ASSERT_EQ(m_lib.WriteBytePortA("7", 0xFF), 1);
    m_lib.Trace();
    EXPECT_EQ(m_lib.AddVirtualPort(7, "Span", 6, 12, 0), 0); // output, pins A6 to C1
    EXPECT_EQ(m_lib.Trace(),
              (Lines{"0 > 37 3f 00 00 00 00", "0 > 37 3f 00 00 00 00", "0 > 37 3f 00 00 00 00",
                     "0 > 37 3f 00 00 00 00", "0 > 39 3f 00 00 00 fc 00 ff 00 ff 00"}));
    EXPECT_EQ(m_lib.WriteVirtualPort(7, "Span", 0xFFF), 0);
    EXPECT_EQ(m_lib.Trace(), (Lines{"0 > 37 ff 00 00 00 00", "0 > 37 ff ff 00 00 00",
                                    "0 > 37 ff ff 03 00 00", "0 > 37 ff ff 03 00 00"}));
    EXPECT_EQ(m_lib.WriteVirtualPort(7, "Span", 0x1FFF), 0);
    EXPECT_EQ(m_lib.Trace().back(), "0 > 37 ff ff 07 00 00") << "a too wide value spills over";

    // An input field sets its direction bits and keeps port E's; only the low bytes count.
    ASSERT_EQ(m_lib.ConfigurePortsEx("7", 0, 0, 0, 0, 0x3C, 0), 1);
    m_lib.Trace();
    EXPECT_EQ(m_lib.AddVirtualPort(7, "In", 0x114, 0x106, 0x101), 0); // pins C4 to D1
    const Lines trace = m_lib.Trace();
    ASSERT_EQ(trace.size(), 5u);
    EXPECT_EQ(trace[4], "0 > 39 00 00 00 00 f0 00 03 00 3c 00");
    EXPECT_EQ(m_lib.AddVirtualPort(7, "Out", 0, 1, 0x100), 0);
    EXPECT_EQ(m_lib.Trace().back(), "0 > 39 00 00 00 00 f0 00 03 00 3c 00");
}

TEST_F(ZorvaneBoardTest, ResultsZeroToThreeSendNothingAndNamesDifferInCase)
{
    EXPECT_EQ(m_lib.AddVirtualPort(7, "Top", 20, 7, 1), 0);
    m_lib.Trace();
    EXPECT_EQ(m_lib.AddVirtualPort(7, "Top", 0, 1, 0), 2) << "the name counts before the bits";
    EXPECT_EQ(m_lib.AddVirtualPort(7, "Wide", 20, 8, 0), 3);
    EXPECT_EQ(m_lib.AddVirtualPort(7, "Huge", 255, 255, 0), 3) << "no wrap-around of start + width";
    EXPECT_EQ(m_lib.AddVirtualPort(7, "Clash", 26, 1, 0), 1) << "one shared pin is an overlap";
    EXPECT_TRUE(m_lib.Trace().empty()) << "refused fields send nothing";
    EXPECT_EQ(m_lib.AddVirtualPort(7, "Empty", 27, 0, 0), 0);
    EXPECT_EQ(m_lib.AddVirtualPort(7, "top", 19, 1, 0), 0)
        << "bordering, and another name by its case";
    EXPECT_EQ(m_lib.Trace().size(), 10u);
    EXPECT_EQ(m_lib.RemoveVirtualPort(7, "TOP"), 0);
    EXPECT_EQ(m_lib.WriteVirtualPort(7, "tOp", 1), 0);
    EXPECT_TRUE(m_lib.Trace().empty());
    EXPECT_EQ(m_lib.AddVirtualPort(7, nullptr, 0, 1, 0), 0);
    EXPECT_EQ(m_lib.AddVirtualPort(7, "", 1, 1, 0), 2) << "a null name is the empty name";
}

TEST_F(ZorvaneBoardTest, RemovingWritesTheFieldsZeroOnce)
{
    for (auto [pszName, nStart] : {std::pair{"Low", 0}, {"Mid", 8}, {"High", 16}})
    {
        ASSERT_EQ(m_lib.AddVirtualPort(7, pszName, nStart, 8, 0), 0);
        ASSERT_EQ(m_lib.WriteVirtualPort(7, pszName, 0xAA), 0);
    }
    m_lib.Trace();
    EXPECT_EQ(m_lib.RemoveVirtualPort(7, "Low"), 1);
    EXPECT_EQ(m_lib.Trace(), (Lines{"0 > 37 00 aa aa 00 00", "0 > 37 00 aa aa 00 00",
                                    "0 > 37 00 aa aa 00 00", "0 > 37 00 aa aa 00 00"}));
    EXPECT_EQ(m_lib.RemoveVirtualPort(7, "Low"), 0);
    EXPECT_EQ(m_lib.RemoveAllVirtualPorts(7), 0);
    const Lines trace = m_lib.Trace();
    ASSERT_EQ(trace.size(), 8u) << "four writes for each of the two fields left";
    EXPECT_EQ(trace.back(), "0 > 37 00 00 00 00 00");
    EXPECT_EQ(m_lib.RemoveVirtualPort(7, "Mid"), 0);
    EXPECT_EQ(m_lib.RemoveAllVirtualPorts(7), 0);
    int32_t nValue = 1234;
    EXPECT_EQ(m_lib.ReadVirtualPort(7, "High", &nValue), 0);
    EXPECT_EQ(nValue, 1234);
    EXPECT_TRUE(m_lib.Trace().empty());
}

TEST_F(ZorvaneBoardTest, UnknownNumbersAndComPortBoardsHaveNoVirtualPorts)
{
    EXPECT_EQ(m_lib.WriteBytePortA("42", 1), 0); // makes a COM-port board named 42
    m_lib.Trace();
    int32_t nValue = 5;
    for (int32_t nDevice : {42, 8, -7, 0})
    {
        EXPECT_EQ(m_lib.AddVirtualPort(nDevice, "f", 0, 30, 0), 0) << nDevice;
        EXPECT_EQ(m_lib.RemoveVirtualPort(nDevice, "f"), 0);
        EXPECT_EQ(m_lib.RemoveAllVirtualPorts(nDevice), 0);
        EXPECT_EQ(m_lib.WriteVirtualPort(nDevice, "f", 1), 0);
        EXPECT_EQ(m_lib.ReadVirtualPort(nDevice, "f", &nValue), 0);
    }
    EXPECT_EQ(nValue, 5);
    EXPECT_TRUE(m_lib.Trace().empty());
    EXPECT_EQ(m_lib.TakeError(), "");
    EXPECT_EQ(m_lib.AddVirtualPort(7, "f", 0, 30, 0), 3) << "board 7 itself is reached";
}
