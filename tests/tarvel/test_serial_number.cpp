// The serial number in the boot block: reading it, and rewriting its erase block 0x7C0-0x7FF
// through the bootloader with every byte but the characters kept.
#include "BootTestSupport.h"
#include "bootloader/BootStatus.h"

#include <gtest/gtest.h>

namespace
{
constexpr std::uint32_t BLOCK = 0x7C0;

// The requests and replies of WriteSerNo on a board whose block held byBefore and, once
// written, holds byAfter (64 bytes each, from 0x7C0).
Lines ExpectedWrite(const Bytes& byBefore, const Bytes& byAfter)
{
    Lines lines;
    AddExchange(lines, Header(0x01, 2, 0x3FFFFE), {0x00, 0x12});
    for (std::uint32_t i = 0; i < 4; ++i)
        AddExchange(lines, Header(0x01, 16, BLOCK + 16 * i),
                    Bytes(byBefore.begin() + 16 * i, byBefore.begin() + 16 * (i + 1)));
    AddExchange(lines, Header(0x03, 1, 0x7F0));
    Bytes byImage(BLOCK, 0xFF);
    byImage.insert(byImage.end(), byAfter.begin(), byAfter.end());
    AddBlocks(lines, 0x02, BLOCK, BLOCK + 64, byImage, 0xFF);
    return lines;
}

Bytes WithCharacters(Bytes byBlock, const std::string& strText)
{
    for (std::size_t i = 0; i < strText.size(); ++i)
        byBlock[0x30 + 2 * i] = static_cast<std::uint8_t>(strText[i]);
    return byBlock;
}
} // namespace

class SerialNumberTest : public ::testing::Test
{
protected:
    std::shared_ptr<CSimBoard> Board(const std::string& strSerial = "")
    {
        m_pBoard = m_sim.Plug(SimBoardConfig().Boot().Serial(strSerial));
        m_byFlash = m_pBoard->ReadMemory(0, 0x8000);
        return m_pBoard;
    }
    Bytes Block() const { return m_pBoard->ReadMemory(BLOCK, 64); }
    // Everything outside 0x7C0-0x7FF is as it was.
    void ExpectRestUnchanged() const
    {
        const Bytes byFlash = m_pBoard->ReadMemory(0, 0x8000);
        EXPECT_TRUE(std::equal(byFlash.begin(), byFlash.begin() + BLOCK, m_byFlash.begin()));
        EXPECT_TRUE(std::equal(byFlash.begin() + 0x800, byFlash.end(), m_byFlash.begin() + 0x800));
    }

    CSimFixture m_sim;
    std::shared_ptr<CSimBoard> m_pBoard;
    Bytes m_byFlash;
};

TEST_F(SerialNumberTest, ReadSerNoTakesEveryOtherByteFrom0x7F0)
{
    Board("AB12CD34");
    EXPECT_EQ(NewLoader()->ReadSerNo(), "AB12CD34");
    EXPECT_EQ(m_sim.Trace(),
              (Lines{"0 > 01 10 f0 07 00",
                     "0 < 01 10 f0 07 00 41 00 42 00 31 00 32 00 43 00 44 00 33 00 34 00"}));

    // The bounds: blank and 'z' are characters; 0x1F, 0x7B and an erased 0xFF are not.
    auto pLoader = NewLoader();
    m_pBoard->StoreMemory(0x7F0, {' ', 0, 'z', 0, ' ', 0, 'z', 0, '0', 0, '9', 0, 'A', 0, 'Z', 0});
    EXPECT_EQ(pLoader->ReadSerNo(), " z z09AZ");
    for (std::uint8_t byBad : {0x1F, 0x7B, 0x7E, 0xFF, 0x00})
    {
        m_pBoard->StoreMemory(0x7FE, {byBad});
        EXPECT_EQ(pLoader->ReadSerNo(), "") << int(byBad);
        m_pBoard->StoreMemory(0x7FE, {'4'});
        m_pBoard->StoreMemory(0x7F0, {byBad});
        EXPECT_EQ(pLoader->ReadSerNo(), "") << int(byBad);
        m_pBoard->StoreMemory(0x7F0, {' '});
    }
    // The odd bytes are not part of the text.
    m_pBoard->StoreMemory(0x7F1, {0xFF});
    m_pBoard->StoreMemory(0x7F3, {0x01});
    m_pBoard->StoreMemory(0x7FF, {0x7B});
    EXPECT_EQ(pLoader->ReadSerNo(), " z z09A4");
}

TEST_F(SerialNumberTest, ReadSerNoFailureGivesNoSerialNumber)
{
    Board("AB12CD34");
    CDebugCapture debug;
    m_pBoard->InjectFault(ESimFault::Fail, 1);
    EXPECT_EQ(NewLoader()->ReadSerNo(), "");
    EXPECT_EQ(m_sim.Trace(), (Lines{"0 >! 01 10 f0 07 00"}));
    EXPECT_EQ(debug.Take(), (Lines{"Failed write\n", "Failed SendGetPacket while in ReadSerNo\n"}));
    m_pBoard->InjectFault(ESimFault::Fail, 2);
    EXPECT_EQ(NewLoader()->ReadSerNo(), "");
    EXPECT_EQ(m_sim.Trace(), (Lines{"0 > 01 10 f0 07 00", "0 <!"}));
    EXPECT_EQ(debug.Take(), (Lines{"Failed read\n", "Failed SendGetPacket while in ReadSerNo\n"}));
}

TEST_F(SerialNumberTest, WritingIntoAnErasedBlock)
{
    Board();
    m_pBoard->StoreMemory(BLOCK, Bytes(64, 0xFF));
    CDebugCapture debug;

    EXPECT_TRUE(NewLoader()->WriteSerNo("AB12CD34"));

    const Bytes byAfter = WithCharacters(Bytes(64, 0xFF), "AB12CD34");
    EXPECT_EQ(m_sim.Trace(), ExpectedWrite(Bytes(64, 0xFF), byAfter));
    EXPECT_EQ(Block(), byAfter);
    EXPECT_EQ(m_pBoard->ReadMemory(0x7F0, 4), (Bytes{'A', 0xFF, 'B', 0xFF}));
    EXPECT_EQ(m_pBoard->ReadMemory(0x7FE, 2), (Bytes{'4', 0xFF}));
    EXPECT_EQ(debug.Take(), (Lines{"Device type is Pic18F4550 revision 0\n"}));
    ExpectRestUnchanged();
    EXPECT_EQ(NewLoader()->ReadSerNo(), "AB12CD34");

    // Three characters into an erased block leave five erased ones: no serial number.
    m_pBoard->StoreMemory(BLOCK, Bytes(64, 0xFF));
    EXPECT_TRUE(NewLoader()->WriteSerNo("XYZ"));
    EXPECT_EQ(Block(), WithCharacters(Bytes(64, 0xFF), "XYZ"));
    EXPECT_EQ(NewLoader()->ReadSerNo(), "");
}

TEST_F(SerialNumberTest, WritingOverAStoredSerialNumberKeepsEveryOtherByte)
{
    Board("AB12CD34");
    const Bytes byBefore = Block();
    // The block holds boot code up to 0x7EF and the units' other bytes: all must survive.
    ASSERT_NE(byBefore[0], 0xFF);
    ASSERT_EQ(byBefore[0x31], 0x00);

    EXPECT_TRUE(NewLoader()->WriteSerNo("XYZ"));

    const Bytes byAfter = WithCharacters(byBefore, "XYZ");
    EXPECT_EQ(m_sim.Trace(), ExpectedWrite(byBefore, byAfter));
    const Bytes byBlock = Block();
    for (std::size_t i = 0; i < 64; ++i)
        EXPECT_EQ(byBlock[i], byAfter[i]) << "at 0x" << std::hex << BLOCK + i;
    ExpectRestUnchanged();
    EXPECT_EQ(NewLoader()->ReadSerNo(), "XYZ2CD34");
}

TEST_F(SerialNumberTest, CharactersOutsideTheRangeAreWrittenUnchanged)
{
    Board("AB12CD34");
    const Bytes byBefore = Block();
    EXPECT_TRUE(NewLoader()->WriteSerNo("AB{~CD34"));
    EXPECT_EQ(Block(), WithCharacters(byBefore, "AB{~CD34"));
    EXPECT_EQ(m_pBoard->ReadMemory(0x7F4, 3), (Bytes{0x7B, 0x00, 0x7E}));
    EXPECT_EQ(NewLoader()->ReadSerNo(), "") << "so the board counts as having none";
}

TEST_F(SerialNumberTest, WrongLengthsWriteNothing)
{
    Board("AB12CD34");
    for (const std::string& strText :
         {std::string(), std::string("123456789"), std::string("ABCDEFGHIJKL")})
    {
        SCOPED_TRACE(strText);
        EXPECT_FALSE(NewLoader()->WriteSerNo(strText));
        // The chip is identified first, as always; nothing follows.
        EXPECT_EQ(m_sim.Trace(), (Lines{"0 > 01 02 fe ff 3f", "0 < 01 02 fe ff 3f 00 12"}));
    }
    EXPECT_EQ(m_pBoard->ReadMemory(0, 0x8000), m_byFlash);
    // Eight is the most, one the least.
    EXPECT_TRUE(NewLoader()->WriteSerNo("12345678"));
    EXPECT_EQ(NewLoader()->ReadSerNo(), "12345678");
    EXPECT_TRUE(NewLoader()->WriteSerNo("9"));
    EXPECT_EQ(NewLoader()->ReadSerNo(), "92345678");
}

TEST_F(SerialNumberTest, FailuresBeforeTheEraseLeaveTheBoardUntouched)
{
    Board("AB12CD34");
    const Lines clean = ExpectedWrite(Block(), WithCharacters(Block(), "XYZ"));
    CDebugCapture debug;
    // Transfers 1-2 identify, 3-10 read the block.
    for (std::uint64_t nAt = 1; nAt <= 10; ++nAt)
    {
        SCOPED_TRACE("failing transfer " + std::to_string(nAt) + ": " + clean[nAt - 1]);
        m_pBoard->InjectFault(ESimFault::Fail, nAt);
        EXPECT_FALSE(NewLoader()->WriteSerNo("XYZ"));
        m_pBoard->ClearFaults();
        const Lines trace = m_sim.Trace();
        ASSERT_EQ(trace.size(), nAt) << "nothing after the failed transfer";
        EXPECT_TRUE(std::equal(trace.begin(), trace.end() - 1, clean.begin()));
        const Lines lines = debug.Take();
        if (nAt <= 2)
            EXPECT_EQ(lines, (Lines{nAt == 1 ? "Failed write\n" : "Failed read\n"}));
        else
            EXPECT_EQ(lines,
                      (Lines{"Device type is Pic18F4550 revision 0\n",
                             nAt % 2 ? "Failed write\n" : "Failed read\n",
                             "Failed SendGetPacket while verifying data in WriteRangeMem\n"}));
        EXPECT_EQ(m_pBoard->ReadMemory(0, 0x8000), m_byFlash);
    }
    EXPECT_EQ(NewLoader()->ReadSerNo(), "AB12CD34");
}

TEST_F(SerialNumberTest, FailuresFromTheEraseOnStopTheWriteButCountAsAttempted)
{
    Board("AB12CD34");
    const Bytes byBefore = Block();
    const Bytes byAfter = WithCharacters(byBefore, "XYZ");
    const Lines clean = ExpectedWrite(byBefore, byAfter);
    ASSERT_EQ(clean.size(), 28u);
    CDebugCapture debug;
    // Transfer 11 sends the erase, 12 reads its reply, 13-28 write and read back.
    for (std::uint64_t nAt = 11; nAt <= clean.size(); ++nAt)
    {
        SCOPED_TRACE("failing transfer " + std::to_string(nAt) + ": " + clean[nAt - 1]);
        m_pBoard->StoreMemory(BLOCK, byBefore);
        m_sim.Trace();
        m_pBoard->InjectFault(ESimFault::Fail, nAt);
        EXPECT_TRUE(NewLoader()->WriteSerNo("XYZ"));
        m_pBoard->ClearFaults();
        const Lines trace = m_sim.Trace();
        const Lines lines = debug.Take();
        if (nAt == 12)
        {
            // Taken, but its reply lost: the board has erased the block, so it is written
            // back all the same and no bootloader byte is lost.
            Lines expected = clean;
            expected[11] = "0 <!";
            EXPECT_EQ(trace, expected);
            EXPECT_EQ(Block(), byAfter);
            EXPECT_EQ(lines, (Lines{"Device type is Pic18F4550 revision 0\n", "Failed read\n"}));
            ExpectRestUnchanged();
            continue;
        }
        ASSERT_EQ(trace.size(), nAt) << "nothing after the failed transfer";
        EXPECT_TRUE(std::equal(trace.begin(), trace.end() - 1, clean.begin()));
        if (nAt == 11)
        {
            // The erase was not taken: the block is as it was.
            EXPECT_EQ(Block(), byBefore);
            EXPECT_EQ(lines.back(), "Failed write\n");
        }
        else
        {
            EXPECT_EQ(lines.back(),
                      (nAt - 13) % 4 < 2
                          ? "Failed SendGetPacket while writing data in WriteRangeMem\n"
                          : "Failed SendGetPacket while verifying data in WriteRangeMem\n");
            // Written up to the failed block; the blocks after it stay erased.
            const std::size_t nWritten = 16 * ((nAt - 13) / 4 + ((nAt - 13) % 4 >= 1 ? 1 : 0));
            const Bytes byBlock = Block();
            EXPECT_TRUE(std::equal(byBlock.begin(), byBlock.begin() + static_cast<long>(nWritten),
                                   byAfter.begin()));
            EXPECT_TRUE(std::all_of(byBlock.begin() + static_cast<long>(nWritten), byBlock.end(),
                                    [](std::uint8_t by) { return by == 0xFF; }));
        }
        ExpectRestUnchanged();
    }

    // An erase reply that never comes (the read runs into its time-out) is lost the same way:
    // the erased block is written back.
    m_pBoard->StoreMemory(BLOCK, byBefore);
    m_sim.Trace();
    debug.Take();
    m_pBoard->InjectFault(ESimFault::Timeout, 12);
    EXPECT_TRUE(NewLoader()->WriteSerNo("XYZ"));
    Lines expected = clean;
    expected[11] = "0 <!";
    EXPECT_EQ(m_sim.Trace(), expected);
    EXPECT_EQ(Block(), byAfter);

    // A read-back that differs ends the write too.
    m_pBoard->StoreMemory(BLOCK, byBefore);
    m_sim.Trace();
    debug.Take();
    m_pBoard->InjectFault(ESimFault::Corrupt, 16, 5);
    EXPECT_TRUE(NewLoader()->WriteSerNo("XYZ"));
    EXPECT_EQ(m_sim.Trace().size(), 16u);
    EXPECT_EQ(debug.Take().back(), "Verify failed\n");
}
