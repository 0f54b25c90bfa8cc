// The serial number in the boot block: reading it, and rewriting its erase block 0x7C0-0x7FF
// through the bootloader with every byte but the characters kept.
#include "protocol/Status.h"
#include "tests/firmware/BootTestSupport.h"

namespace
{
constexpr std::uint32_t BLOCK = 0x7C0;

// WriteSerNo's requests and replies on a board whose block held byBefore and, once written,
// holds byAfter (64 bytes each, from 0x7C0).
Lines ExpectedWrite(const Bytes& byBefore, const Bytes& byAfter)
{
    Lines lines;
    AddExchange(lines, Header(0x01, 2, 0x3FFFFE), {0x00, 0x12});
    for (std::uint32_t i = 0; i < 64; i += 16)
        AddExchange(lines, Header(0x01, 16, BLOCK + i), Bytes(&byBefore[i], &byBefore[i] + 16));
    AddExchange(lines, Header(0x03, 1, 0x7F0));
    Bytes byImage(BLOCK, 0xFF);
    byImage.insert(byImage.end(), byAfter.begin(), byAfter.end());
    AddBlocks(lines, 0x02, BLOCK, BLOCK + 64, byImage);
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
    void SetUp() override
    {
        m_pBoard = m_sim.Plug(SimBoardConfig().Boot().Serial("AB12CD34"));
        m_byFlash = m_pBoard->ReadMemory(0, 0x8000);
        m_byStored = m_pBoard->ReadMemory(BLOCK, 64);
    }
    // Program memory as it was, but for the block 0x7C0-0x7FF.
    void ExpectFlash(const Bytes& byBlock) const
    {
        Bytes byExpected = m_byFlash;
        std::copy(byBlock.begin(), byBlock.end(), byExpected.begin() + BLOCK);
        EXPECT_EQ(m_pBoard->ReadMemory(0, 0x8000), byExpected);
    }

    CSimFixture m_sim;
    std::shared_ptr<CSimBoard> m_pBoard;
    Bytes m_byFlash, m_byStored;
};

TEST_F(SerialNumberTest, ReadSerNoTakesEveryOtherByteFrom0x7F0)
{
    EXPECT_EQ(NewLoader(m_sim)->ReadSerNo(), "AB12CD34");
    EXPECT_EQ(m_sim.Trace(),
              (Lines{"0 > 01 10 f0 07 00",
                     "0 < 01 10 f0 07 00 41 00 42 00 31 00 32 00 43 00 44 00 33 00 34 00"}));

    // The bounds: blank and 'z' are characters; 0x1F, 0x7B and an erased 0xFF are not. The odd
    // bytes are not part of the text.
    auto pLoader = NewLoader(m_sim);
    m_pBoard->StoreMemory(
        0x7F0, {' ', 0xFF, 'z', 0x01, ' ', 0, 'z', 0, '0', 0, '9', 0, 'A', 0, 'Z', 0x7B});
    EXPECT_EQ(pLoader->ReadSerNo(), " z z09AZ");
    for (std::uint8_t byBad : {0x1F, 0x7B, 0xFF})
    {
        m_pBoard->StoreMemory(0x7FE, {byBad});
        EXPECT_EQ(pLoader->ReadSerNo(), "") << int(byBad);
    }
    m_pBoard->InjectFault(ESimFault::Fail, 1); // a failed exchange gives no serial number
    EXPECT_EQ(NewLoader(m_sim)->ReadSerNo(), "");
}

// Into an erased block, over a stored one, characters above 'z': every byte of 0x7C0-0x7FF but
// the characters keeps its value. Three characters into an erased block leave five erased ones,
// and a character above 'z' is none: no serial number.
TEST_F(SerialNumberTest, WritingKeepsEveryOtherByteOfTheBlock)
{
    ASSERT_NE(m_byStored[0], 0xFF) << "the stored block holds boot code";
    for (const auto& [bErased, strText, strReadBack] :
         {std::tuple<bool, std::string, std::string>{true, "AB12CD34", "AB12CD34"},
          {true, "XYZ", ""},
          {false, "XYZ", "XYZ2CD34"},
          {false, "AB{~CD34", ""}})
    {
        SCOPED_TRACE(strText + (bErased ? " into an erased block" : " over a stored one"));
        const Bytes byBefore = bErased ? Bytes(64, 0xFF) : m_byStored;
        m_pBoard->StoreMemory(BLOCK, byBefore);
        m_sim.Trace();
        EXPECT_TRUE(NewLoader(m_sim)->WriteSerNo(strText));
        const Bytes byAfter = WithCharacters(byBefore, strText);
        EXPECT_EQ(m_sim.Trace(), ExpectedWrite(byBefore, byAfter));
        ExpectFlash(byAfter);
        EXPECT_EQ(NewLoader(m_sim)->ReadSerNo(), strReadBack);
    }
    // Lengths 0 and 9 write nothing: the chip is identified first, as always; nothing follows.
    m_pBoard->StoreMemory(BLOCK, m_byStored);
    m_sim.Trace();
    for (const std::string& strText : {std::string(), std::string("123456789")})
    {
        EXPECT_FALSE(NewLoader(m_sim)->WriteSerNo(strText)) << strText;
        EXPECT_EQ(m_sim.Trace(), (Lines{"0 > 01 02 fe ff 3f", "0 < 01 02 fe ff 3f 00 12"}));
    }
    ExpectFlash(m_byStored);
}

// A failure before the erase writes nothing; once the erase request went out, the block is
// written back even when the erase's reply is lost, so no bootloader byte is lost; a failure in
// the write is followed by a new erase and the whole block written again.
TEST_F(SerialNumberTest, FailureAtEveryTransfer)
{
    const Bytes byAfter = WithCharacters(m_byStored, "XYZ");
    const Lines clean = ExpectedWrite(m_byStored, byAfter);
    ASSERT_EQ(clean.size(), 28u); // 1-2 identify, 3-10 read the block, 11-12 erase, then write
    const Lines again(clean.begin() + 10, clean.end()); // erase and write once more
    for (std::uint64_t nAt = 1; nAt <= clean.size(); ++nAt)
    {
        SCOPED_TRACE("failing transfer " + std::to_string(nAt) + ": " + clean[nAt - 1]);
        m_pBoard->StoreMemory(BLOCK, m_byStored);
        m_sim.Trace();
        m_pBoard->InjectFault(ESimFault::Fail, nAt);
        EXPECT_EQ(NewLoader(m_sim)->WriteSerialNumber("XYZ"),
                  nAt <= 11 ? EStatus::Usb : EStatus::Ok);
        m_pBoard->ClearFaults();
        Lines expected = clean;
        expected[nAt - 1] = Failed(clean[nAt - 1]);
        expected.resize(nAt == 12 ? clean.size() : nAt);
        if (nAt > 12)
            expected.insert(expected.end(), again.begin(), again.end());
        EXPECT_EQ(m_sim.Trace(), expected);
        ExpectFlash(nAt <= 11 ? m_byStored : byAfter);
    }
}

// A read-back that differs every time: four tries in all, then the block may be damaged.
TEST_F(SerialNumberTest, ARewriteThatNeverReadsBackIsReported)
{
    for (const int nBadTries : {3, 4})
    {
        m_pBoard->StoreMemory(BLOCK, m_byStored);
        m_sim.Trace();
        for (int i = 0; i < nBadTries; ++i) // the first read-back of each try: 16, 22, 28, 34
            m_pBoard->InjectFault(ESimFault::Corrupt, 16 + 6 * std::uint64_t(i));
        CDebugCapture debug;
        auto pLoader = NewLoader(m_sim);
        EXPECT_EQ(pLoader->WriteSerialNumber("AB12CD34"),
                  nBadTries < 4 ? EStatus::Ok : EStatus::BootBlock);
        m_pBoard->ClearFaults();
        const Lines log = debug.Take();
        EXPECT_EQ(std::count(log.begin(), log.end(), "Boot block rewrite failed\n"),
                  nBadTries < 4 ? 0 : 1);
        const Lines trace = m_sim.Trace();
        EXPECT_EQ(std::count(trace.begin(), trace.end(), "0 > 03 01 f0 07 00"),
                  std::min(nBadTries + 1, 4));
    }
}
