// The serial number in the boot block: reading it, and rewriting its erase block 0x7C0-0x7FF
// through the bootloader with every byte but the characters kept.
#include "tests/firmware/BootTestSupport.h"

constexpr std::uint32_t BLOCK = 0x7C0;

class SerialNumberTest : public ::testing::Test
{
protected:
    CSimFixture m_sim;
    std::shared_ptr<CSimBoard> m_pBoard = m_sim.Plug(SimBoardConfig().Boot().Serial("AB12CD34"));
    const Bytes m_byFlash = m_pBoard->ReadMemory(0, 0x8000);
    const Bytes m_byStored = m_pBoard->ReadMemory(BLOCK, 64);
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

// Into an erased block, over a stored one, characters above 'z', and lengths that write
// nothing: every byte of 0x7C0-0x7FF but the characters keeps its value.
TEST(SerialNumber, GoldenCases)
{
    CheckGoldenCases("serial-");
}

// A failure before the erase writes nothing; once the erase request went out, the block is
// written back even when the erase's reply is lost, so no bootloader byte is lost; a failure in
// the write is followed by a new erase and the whole block written again.
TEST_F(SerialNumberTest, FailureAtEveryTransfer)
{
    const Lines clean = SGolden("serial-over-stored").trace;
    ASSERT_EQ(clean.size(), 28u); // 1-2 identify, 3-10 read the block, 11-12 erase, then write
    const Lines again(clean.begin() + 10, clean.end()); // erase and write once more
    ASSERT_EQ(NewLoader(m_sim)->WriteSerialNumber("XYZ"), EStatus::Ok);
    const Bytes byWritten = m_pBoard->ReadMemory(0, 0x8000); // as the golden case leaves it
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
        EXPECT_EQ(m_pBoard->ReadMemory(0, 0x8000), nAt <= 11 ? m_byFlash : byWritten);
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
        EXPECT_TRUE(NewLoader(m_sim)->WriteSerNo("AB12CD34")) << "done, if maybe damaged";
        m_pBoard->ClearFaults();
        const Lines log = debug.Take();
        EXPECT_EQ(std::count(log.begin(), log.end(), "Boot block rewrite failed\n"),
                  nBadTries < 4 ? 0 : 1);
        const Lines trace = m_sim.Trace();
        EXPECT_EQ(std::count(trace.begin(), trace.end(), "0 > 03 01 f0 07 00"),
                  std::min(nBadTries + 1, 4));
    }
    EXPECT_FALSE(NewLoader(m_sim)->WriteSerNo("")) << "nothing written";
}
