// The bootloader client: identification and the chip table, the requests of an update on the
// wire, every fault an update can meet, and the firmware image generated for the simulated
// boards.
#include "BootTestSupport.h"
#include "DeviceLink.h"
#include "bootloader/BootLoadThread.h"
#include "bootloader/BootStatus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace
{
// A small image for the Pic18F4550: program data in the boot block (never to be written) and
// from 0x800 to 0x908, so the last block carries 8 bytes; 4 EEPROM bytes at 0x10; 8 ID bytes.
struct SSmallImage
{
    std::string strText;
    SUpdatePlan plan;
};

SSmallImage SmallImage()
{
    SSmallImage image;
    const Bytes byBoot(0x40, 0x00);
    const Bytes byApp = Counting(0x108, 0x31, 7);
    const Bytes byEeprom = {0xE1, 0xE2, 0xE3, 0xE4};
    const Bytes byId = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    image.strText = HexData(0x000000, byBoot) + HexData(0x000800, byApp) +
                    HexData(0xF00010, byEeprom) + HexData(0x200000, byId) + HexEnd();

    image.plan.byProgram.assign(0x908, 0xFF);
    std::copy(byBoot.begin(), byBoot.end(), image.plan.byProgram.begin());
    std::copy(byApp.begin(), byApp.end(), image.plan.byProgram.begin() + 0x800);
    image.plan.byEeprom.assign(0x14, 0xFF);
    std::copy(byEeprom.begin(), byEeprom.end(), image.plan.byEeprom.begin() + 0x10);
    image.plan.byId.assign(16, 0xFF);
    std::copy(byId.begin(), byId.end(), image.plan.byId.begin());
    return image;
}

bool Starts(const std::string& strLine, const std::string& strPrefix)
{
    return strLine.rfind(strPrefix, 0) == 0;
}

// The address of an erase or write request line ("0 > 03 01 lo mid hi ..."), or -1.
long RequestAddress(const std::string& strLine)
{
    unsigned nCode = 0, nCount = 0, nLow = 0, nMid = 0, nHigh = 0;
    if (std::sscanf(strLine.c_str(), "0 > %x %x %x %x %x", &nCode, &nCount, &nLow, &nMid, &nHigh) !=
        5)
        return -1;
    if (nCode != 0x02 && nCode != 0x03)
        return -1;
    return static_cast<long>(nLow | (nMid << 8) | (nHigh << 16));
}
} // namespace

// --- Identification and the chip table -----------------------------------------------------

class ChipTest : public ::testing::Test
{
protected:
    CSimFixture m_sim;
};

TEST_F(ChipTest, DeviceCodeAndRevisionFromTheChipIdWord)
{
    auto pBoard = m_sim.Plug(SimBoardConfig().Boot().Chip(0x90).Revision(3));
    ASSERT_EQ(pBoard->ReadMemory(0x3FFFFE, 2), (Bytes{0x03, 0x12}));
    auto pLoader = NewLoader();
    EXPECT_EQ(pLoader->ReadDeviceId(), 0x90);
    EXPECT_EQ(pLoader->m_nRevision, 3);
    // Five bytes out; the reply (read with room for 9) is the header and the two bytes asked for.
    EXPECT_EQ(m_sim.Trace(), (Lines{"0 > 01 02 fe ff 3f", "0 < 01 02 fe ff 3f 03 12"}));

    m_sim.Bus().Unplug(pBoard);
    m_sim.Plug(SimBoardConfig().Boot().Chip(0x7FF).Revision(0x1F));
    EXPECT_EQ(NewLoader()->ReadDeviceId(), 0x7FF) << "all 11 bits of the code";
}

TEST_F(ChipTest, ChipTableSetsNameAndProgramRangeAndResetsEveryDefault)
{
    struct SRow
    {
        int nCode;
        const char* pszName;
        int nAppStart, nProgramEnd;
    };
    const SRow rows[] = {{0x90, "Pic18F4550", 0x800, 0x7FFF}, {0x91, "Pic18F4455", 0x800, 0x5FFF},
                         {0x92, "Pic18F2550", 0x800, 0x7FFF}, {0x93, "Pic18F2455", 0x800, 0x5FFF},
                         {0x55, "PICUNKNOWN", 0x200, 0xFFF},  {0x94, "PICUNKNOWN", 0x200, 0xFFF},
                         {0x00, "PICUNKNOWN", 0x200, 0xFFF}};
    CBootLoader loader(nullptr, "");
    for (const SRow& row : rows)
    {
        SCOPED_TRACE(row.nCode);
        // Values left by another chip must not survive.
        loader.m_strChipName = "stale";
        loader.m_nWriteBlock = 1;
        loader.m_nEraseBlock = 2;
        loader.m_nAppStart = 3;
        loader.m_nProgramEnd = 4;
        loader.m_nEepromStart = 5;
        loader.m_nIdStart = 6;
        loader.m_nIdEnd = 7;
        loader.SetDeviceType(row.nCode);
        EXPECT_EQ(loader.m_strChipName, row.pszName);
        EXPECT_EQ(loader.m_nAppStart, row.nAppStart);
        EXPECT_EQ(loader.m_nProgramEnd, row.nProgramEnd);
        EXPECT_EQ(loader.m_nWriteBlock, 16);
        EXPECT_EQ(loader.m_nEraseBlock, 64);
        EXPECT_EQ(loader.m_nEepromStart, 0);
        EXPECT_EQ(loader.m_nIdStart, 0x200000);
        EXPECT_EQ(loader.m_nIdEnd, 0x20000F);
    }
}

TEST_F(ChipTest, FailedIdentificationEndsTheUpdateBeforeAnythingElseIsSent)
{
    CTestDir dir;
    const std::string strPath = dir.Write(SmallImage().strText);
    auto pBoard = m_sim.Plug(SimBoardConfig().Boot());
    const Bytes byFlash = pBoard->ReadMemory(0, 0x8000);
    CDebugCapture debug;

    pBoard->InjectFault(ESimFault::Fail, 1);
    EXPECT_EQ(NewLoader(strPath)->UpdateFirmware(), BL_ERR_USB);
    EXPECT_EQ(m_sim.Trace(), (Lines{"0 >! 01 02 fe ff 3f"}));
    EXPECT_EQ(debug.Take(), (Lines{"Failed write\n"}));

    pBoard->InjectFault(ESimFault::Fail, 2);
    auto pLoader = NewLoader(strPath);
    EXPECT_EQ(pLoader->ReadDeviceId(), -1);
    EXPECT_EQ(m_sim.Trace(), (Lines{"0 > 01 02 fe ff 3f", "0 <!"}));
    EXPECT_EQ(debug.Take(), (Lines{"Failed read\n"}));
    pBoard->InjectFault(ESimFault::Fail, 2);
    EXPECT_EQ(pLoader->UpdateFirmware(), BL_ERR_USB);
    EXPECT_EQ(m_sim.Trace(), (Lines{"0 > 01 02 fe ff 3f", "0 <!"}));
    EXPECT_EQ(debug.Take(), (Lines{"Failed read\n"})) << "no chip line without a chip";

    EXPECT_EQ(pBoard->ReadMemory(0, 0x8000), byFlash);
    EXPECT_TRUE(pBoard->IsBootMode());
}

// --- The requests of an update ---------------------------------------------------------------

class UpdateTest : public ::testing::Test
{
protected:
    CSimFixture m_sim;
    CTestDir m_dir;
};

TEST_F(UpdateTest, Pic18F4550UpdateOnTheWire)
{
    const SSmallImage image = SmallImage();
    const std::string strPath = m_dir.Write(image.strText);
    auto pBoard = m_sim.Plug(SimBoardConfig().Boot().Chip(0x90).Revision(3));
    const Bytes byBootBlock = pBoard->ReadMemory(0, 0x800);
    CDebugCapture debug;

    EXPECT_EQ(NewLoader(strPath)->UpdateFirmware(), BL_OK);

    SUpdatePlan plan = image.plan;
    plan.byChipLow = 0x03;
    const Lines trace = m_sim.Trace();
    EXPECT_EQ(trace, ExpectedUpdate(plan));
    EXPECT_EQ(debug.Take(), (Lines{"Device type is Pic18F4550 revision 3\n", "Device erased\n"}));

    // The landmarks, byte for byte.
    ASSERT_EQ(trace.size(), 2 + 480 * 2 + 2 + 17 * 4 + 2 * 4 + 4 + 1u);
    EXPECT_EQ(trace[2], "0 > 03 01 00 08 00") << "erasing starts at the application";
    EXPECT_EQ(trace[961], "0 < 03 01 c0 7f 00") << "and ends with the block at 0x7FC0";
    EXPECT_EQ(trace[962], "0 > 03 01 00 00 20") << "the ID erase follows";
    EXPECT_EQ(trace[964], "0 > 02 10 00 08 00 " + HexText(&plan.byProgram[0x800], 16));
    EXPECT_EQ(trace[966], "0 > 01 10 00 08 00") << "read-back: 5 bytes, data positions not sent";
    // The short last block: 13 bytes sent under count byte 16.
    EXPECT_EQ(trace[1028], "0 > 02 10 00 09 00 " + HexText(&plan.byProgram[0x900], 8));
    EXPECT_EQ(trace[1030], "0 > 01 10 00 09 00");
    // EEPROM from address 0, although the file's first EEPROM byte is at 0x10.
    EXPECT_EQ(trace[1032], "0 > 05 10 00 00 00 " + HexText(Bytes(16, 0xFF).data(), 16));
    EXPECT_EQ(trace[1036], "0 > 05 10 10 00 00 e1 e2 e3 e4");
    EXPECT_EQ(trace[1038], "0 > 04 10 10 00 00");
    // The ID write: 20 bytes, 15 of them data.
    EXPECT_EQ(trace[1040], "0 > 02 10 00 00 20 11 22 33 44 55 66 77 88 ff ff ff ff ff ff ff");
    EXPECT_EQ(trace.back(), "0 > ff");
    for (const std::string& strLine : trace)
        EXPECT_FALSE(RequestAddress(strLine) >= 0 && RequestAddress(strLine) < 0x800) << strLine;

    // The board: boot block untouched whatever the image held there, the rest as the image.
    EXPECT_EQ(pBoard->ReadMemory(0, 0x800), byBootBlock);
    EXPECT_EQ(pBoard->ReadMemory(0x800, 0x108),
              Bytes(&plan.byProgram[0x800], &plan.byProgram[0x908]));
    EXPECT_EQ(pBoard->ReadMemory(0x908, 0x8000 - 0x908), Bytes(0x8000 - 0x908, 0xFF));
    EXPECT_EQ(pBoard->ReadMemory(0x200000, 16),
              Plus(Bytes(plan.byId.begin(), plan.byId.begin() + 15), {0xFF}));
    for (std::uint32_t a = 0; a < 0x14; ++a)
        EXPECT_EQ(pBoard->ReadEeprom(a), plan.byEeprom[a]) << a;
    EXPECT_FALSE(pBoard->IsBootMode()) << "restarted into the application";
}

TEST_F(UpdateTest, UnknownChipUsesTheLastRow)
{
    // Program data from 0x100: the update still writes from 0x200 only.
    const Bytes byApp = Counting(0x150, 0x80, 3);
    const std::string strPath = m_dir.Write(HexData(0x100, byApp) + HexEnd());
    auto pBoard = m_sim.Plug(SimBoardConfig().Boot().Chip(0x55));
    const Bytes byLow = pBoard->ReadMemory(0, 0x200);
    CDebugCapture debug;

    EXPECT_EQ(NewLoader(strPath)->UpdateFirmware(), BL_OK);

    SUpdatePlan plan;
    plan.byChipLow = 0xA0; // 0x55: bits 0-2 << 5
    plan.byChipHigh = 0x0A;
    plan.nAppStart = 0x200;
    plan.nProgramEnd = 0xFFF;
    plan.byProgram.assign(0x250, 0xFF);
    std::copy(byApp.begin(), byApp.end(), plan.byProgram.begin() + 0x100);
    const Lines trace = m_sim.Trace();
    EXPECT_EQ(trace, ExpectedUpdate(plan));
    ASSERT_EQ(trace.size(), 2 + 56 * 2 + 5 * 4 + 1u) << "no ID erase, no EEPROM or ID write";
    EXPECT_EQ(trace[2], "0 > 03 01 00 02 00");
    EXPECT_EQ(trace[112], "0 > 03 01 c0 0f 00");
    EXPECT_EQ(trace[114], "0 > 02 10 00 02 00 " + HexText(&plan.byProgram[0x200], 16));
    EXPECT_EQ(debug.Take(), (Lines{"Device type is PICUNKNOWN revision 0\n", "Device erased\n"}));
    EXPECT_EQ(pBoard->ReadMemory(0, 0x200), byLow);
    EXPECT_EQ(pBoard->ReadMemory(0x200, 0x50),
              Bytes(&plan.byProgram[0x200], &plan.byProgram[0x250]));
}

TEST_F(UpdateTest, ImageEndingAtTheApplicationStartErasesAndWritesNoProgram)
{
    const std::string strPath = m_dir.Write(HexData(0x7F0, Bytes(16, 0x00)) + HexEnd());
    auto pBoard = m_sim.Plug(SimBoardConfig().Boot());
    const Bytes byBootBlock = pBoard->ReadMemory(0, 0x800);

    EXPECT_EQ(NewLoader(strPath)->UpdateFirmware(), BL_OK);

    SUpdatePlan plan;
    plan.byProgram.assign(0x800, 0xFF);
    EXPECT_EQ(m_sim.Trace(), ExpectedUpdate(plan));
    EXPECT_EQ(pBoard->ReadMemory(0, 0x800), byBootBlock);
    EXPECT_EQ(pBoard->ReadMemory(0x800, 0x7800), Bytes(0x7800, 0xFF));
}

TEST_F(UpdateTest, ImageFileFaultsEndTheUpdateAfterIdentification)
{
    struct SCase
    {
        const char* pszName;
        std::string strText; // empty: no file at all
        int nStatus;
    };
    const SCase cases[] = {
        {"missing file", "", BL_ERR_OPEN},
        {"no end record", HexData(0x800, Bytes(16, 1)), BL_ERR_EOF},
        {"no program data", HexData(0xF00000, Bytes(4, 1)) + HexEnd(), BL_ERR_EOF},
        {"bad checksum", ":10080000000000000000000000000000000000000E\n" + HexEnd(),
         BL_ERR_CHECKSUM},
        {"ID record over 16 bytes",
         HexData(0x800, Bytes(16, 1)) + HexRecord(0x04, 0, {0x00, 0x20}) +
             HexRecord(0x00, 0, Bytes(17, 2)) + HexEnd(),
         BL_ERR_CHECKSUM},
    };
    auto pBoard = m_sim.Plug(SimBoardConfig().Boot());
    const Bytes byFlash = pBoard->ReadMemory(0, 0x8000);
    for (const SCase& test : cases)
    {
        SCOPED_TRACE(test.pszName);
        const std::string strPath =
            test.strText.empty() ? m_dir.File("absent.hex") : m_dir.Write(test.strText);
        EXPECT_EQ(NewLoader(strPath)->UpdateFirmware(), test.nStatus);
        EXPECT_EQ(m_sim.Trace(), (Lines{"0 > 01 02 fe ff 3f", "0 < 01 02 fe ff 3f 00 12"}));
        EXPECT_EQ(pBoard->ReadMemory(0, 0x8000), byFlash);
        EXPECT_TRUE(pBoard->IsBootMode());
    }
}

TEST_F(UpdateTest, RangeEdges)
{
    m_sim.Plug(SimBoardConfig().Boot());
    auto pLoader = NewLoader();

    // The last address of an erase is inclusive.
    EXPECT_EQ(pLoader->EraseRange(0x800, 0x840), BL_OK);
    EXPECT_EQ(m_sim.Trace(), (Lines{"0 > 03 01 00 08 00", "0 < 03 01 00 08 00",
                                    "0 > 03 01 40 08 00", "0 < 03 01 40 08 00"}));
    EXPECT_EQ(pLoader->EraseRange(0x800, 0x83F), BL_OK);
    EXPECT_EQ(m_sim.Trace(), (Lines{"0 > 03 01 00 08 00", "0 < 03 01 00 08 00"}));
    EXPECT_EQ(pLoader->EraseRange(0x801, 0x800), BL_OK);
    EXPECT_EQ(m_sim.Trace(), Lines{});

    const Bytes bySource = Counting(0x10000, 0);
    // An empty or reversed range sends nothing.
    EXPECT_EQ(pLoader->WriteRangeMem(0x02, 16, 0x900, 0x900, bySource.data()), BL_OK);
    EXPECT_EQ(pLoader->WriteRangeMem(0x02, 16, 0x910, 0x900, bySource.data()), BL_OK);
    EXPECT_EQ(m_sim.Trace(), Lines{});

    // A single byte: 6 bytes out, count byte still the block size, source at address & 0xFFFF.
    EXPECT_EQ(pLoader->WriteRangeMem(0x02, 16, 0x1234, 0x1235, bySource.data()), BL_OK);
    EXPECT_EQ(m_sim.Trace(),
              (Lines{"0 > 02 10 34 12 00 34", "0 < 02 10 34 12 00", "0 > 01 10 34 12 00",
                     "0 < 01 10 34 12 00 34 " + HexText(Bytes(15, 0xFF).data(), 15)}));
}

TEST(ShortReplies, NeverPassForTheBytesAsked)
{
    CFakeFixture fake; // replies of the 5-byte header alone
    CDebugCapture debug;
    auto pLoader = NewLoader();
    const Bytes bySource = Counting(0x10000, 0x5A);
    // The request still holds the data written; the read-back must not compare against it.
    EXPECT_EQ(pLoader->WriteRangeMem(0x02, 16, 0x800, 0x810, bySource.data()), BL_ERR_VERIFY);
    EXPECT_EQ(pLoader->WriteRangeMem(0x05, 16, 0x00, 0x04, bySource.data()), BL_ERR_VERIFY);
    EXPECT_EQ(debug.Take(), (Lines{"Verify failed\n", "Verify failed\n"}));
    EXPECT_EQ(pLoader->ReadSerNo(), "");
    // The chip ID positions read as 0: an unknown chip, revision 0.
    EXPECT_EQ(pLoader->ReadDeviceId(), 0);
    EXPECT_EQ(pLoader->m_nRevision, 0);
}

// --- Faults ---------------------------------------------------------------------------------

// For every transfer of a small update: make it fail, and check the status, that nothing
// follows the failed transfer on the wire, the failure hook, the boot block, and that the next
// update of the board (the next discovery) completes.
class UpdateFaultTest : public ::testing::Test
{
protected:
    struct SOutcome
    {
        int nStatus = 1;
        int nHookCalls = 0;
        int nHookStatus = 1;
        Lines trace;
    };

    // One update through the worker procedure, the fault injected at transfer nAt.
    SOutcome Run(CSimFixture& sim, const std::shared_ptr<CSimBoard>& pBoard, ESimFault fault,
                 std::uint64_t nAt, std::size_t nPosition = 5)
    {
        SOutcome outcome;
        pBoard->InjectFault(fault, nAt, nPosition);
        outcome.nStatus = BootLoadThread(NewLoader(m_strPath),
                                         [&](int nStatus)
                                         {
                                             ++outcome.nHookCalls;
                                             outcome.nHookStatus = nStatus;
                                         });
        pBoard->ClearFaults();
        outcome.trace = sim.Trace();
        return outcome;
    }

    // The board after a failed update: boot block as before, still in its bootloader, and a
    // new update brings it to the image.
    void ExpectRecoverable(CSimFixture& sim, const std::shared_ptr<CSimBoard>& pBoard,
                           const Bytes& byBootBlock)
    {
        EXPECT_EQ(pBoard->ReadMemory(0, 0x800), byBootBlock);
        EXPECT_TRUE(pBoard->IsBootMode());
        if (!pBoard->IsBootMode())
            return;
        sim.Bus().CaptureTrace(false);
        int nHookCalls = 0;
        EXPECT_EQ(BootLoadThread(NewLoader(m_strPath), [&](int) { ++nHookCalls; }), BL_OK);
        sim.Bus().CaptureTrace(true);
        EXPECT_EQ(nHookCalls, 0);
        EXPECT_FALSE(pBoard->IsBootMode());
        EXPECT_EQ(pBoard->ReadMemory(0x800, 0x108),
                  Bytes(&m_image.plan.byProgram[0x800], &m_image.plan.byProgram[0x908]));
        EXPECT_EQ(pBoard->ReadMemory(0, 0x800), byBootBlock);
    }

    void SetUp() override { m_strPath = m_dir.Write(m_image.strText); }

    CTestDir m_dir;
    SSmallImage m_image = SmallImage();
    std::string m_strPath;
    Lines m_clean = ExpectedUpdate(m_image.plan); // every transfer of the update, in order
};

TEST_F(UpdateFaultTest, EveryFailedTransferStopsTheUpdateRecoverably)
{
    ASSERT_EQ(m_clean.back(), "0 > ff");
    for (std::uint64_t nAt = 1; nAt <= m_clean.size(); ++nAt)
    {
        SCOPED_TRACE("failing transfer " + std::to_string(nAt) + ": " + m_clean[nAt - 1]);
        CSimFixture sim;
        auto pBoard = sim.Plug(SimBoardConfig().Boot());
        const Bytes byBootBlock = pBoard->ReadMemory(0, 0x800);
        const SOutcome outcome = Run(sim, pBoard, ESimFault::Fail, nAt);

        // The wire: the clean update up to the failed transfer, and nothing after it.
        ASSERT_EQ(outcome.trace.size(), nAt);
        EXPECT_TRUE(std::equal(outcome.trace.begin(), outcome.trace.end() - 1, m_clean.begin()));
        const std::string& strExpected = m_clean[nAt - 1];
        EXPECT_EQ(outcome.trace.back(),
                  Starts(strExpected, "0 >") ? "0 >!" + strExpected.substr(3) : "0 <!");

        if (nAt == m_clean.size())
        {
            // The restart's own failure does not count; the board, fully written, stays in its
            // bootloader until the next update restarts it.
            EXPECT_EQ(outcome.nStatus, BL_OK);
            EXPECT_EQ(outcome.nHookCalls, 0);
        }
        else
        {
            EXPECT_EQ(outcome.nStatus, BL_ERR_USB);
            EXPECT_EQ(outcome.nHookCalls, 1);
            EXPECT_EQ(outcome.nHookStatus, BL_ERR_USB);
        }
        ExpectRecoverable(sim, pBoard, byBootBlock);
    }
}

TEST_F(UpdateFaultTest, EveryDifferingReadBackStopsTheUpdateRecoverably)
{
    int nReadBacks = 0;
    for (std::uint64_t nAt = 1; nAt <= m_clean.size(); ++nAt)
    {
        const std::string& strLine = m_clean[nAt - 1];
        const bool bReadBack = Starts(strLine, "0 < 01 10") || Starts(strLine, "0 < 04 10");
        const bool bWriteReply =
            Starts(strLine, "0 < 02") || Starts(strLine, "0 < 03") || Starts(strLine, "0 < 05");
        if (!bReadBack && !bWriteReply)
            continue;
        SCOPED_TRACE("corrupting transfer " + std::to_string(nAt) + ": " + strLine);
        CSimFixture sim;
        auto pBoard = sim.Plug(SimBoardConfig().Boot());
        const Bytes byBootBlock = pBoard->ReadMemory(0, 0x800);
        CDebugCapture debug;

        if (bWriteReply)
        {
            // Replies to writes and erases are read, never examined.
            const SOutcome outcome = Run(sim, pBoard, ESimFault::Corrupt, nAt, 0);
            EXPECT_EQ(outcome.nStatus, BL_OK);
            EXPECT_EQ(outcome.trace.size(), m_clean.size());
            continue;
        }
        ++nReadBacks;
        // The last data byte of the block: the comparison covers every byte written. The
        // block's write request is three lines up: "0 > " and the header, then 3 per byte.
        const std::size_t nData = (m_clean[nAt - 4].size() - 18) / 3;
        const SOutcome outcome = Run(sim, pBoard, ESimFault::Corrupt, nAt, 5 + nData - 1);
        EXPECT_EQ(outcome.nStatus, BL_ERR_VERIFY);
        EXPECT_EQ(outcome.nHookCalls, 1);
        EXPECT_EQ(outcome.nHookStatus, BL_ERR_VERIFY);
        ASSERT_EQ(outcome.trace.size(), nAt) << "nothing after the differing read-back";
        EXPECT_NE(outcome.trace.back(), m_clean[nAt - 1]);
        EXPECT_EQ(debug.Take(), (Lines{"Device type is Pic18F4550 revision 0\n", "Device erased\n",
                                       "Verify failed\n"}));
        ExpectRecoverable(sim, pBoard, byBootBlock);

        if (nData < 16)
        {
            // A byte beyond the ones written differs: not part of the comparison.
            CSimFixture simBeyond;
            auto pOther = simBeyond.Plug(SimBoardConfig().Boot());
            EXPECT_EQ(Run(simBeyond, pOther, ESimFault::Corrupt, nAt, 5 + nData).nStatus, BL_OK);
        }
    }
    EXPECT_EQ(nReadBacks, 17 + 2 + 1);
}

TEST_F(UpdateFaultTest, TimeoutsAndUnplugFailTheUpdate)
{
    CDebugCapture debug;
    {
        // A read-back that never comes: the 500 ms time-out, then BL_ERR_USB.
        CSimFixture sim;
        auto pBoard = sim.Plug(SimBoardConfig().Boot());
        const Bytes byBootBlock = pBoard->ReadMemory(0, 0x800);
        const std::uint64_t nAt = 2 + 480 * 2 + 2 + 4; // the first program read-back's reply
        ASSERT_TRUE(Starts(m_clean[nAt - 1], "0 < 01 10 00 08 00"));
        const auto tStart = std::chrono::steady_clock::now();
        const SOutcome outcome = Run(sim, pBoard, ESimFault::Timeout, nAt);
        EXPECT_GE(std::chrono::steady_clock::now() - tStart, std::chrono::milliseconds(500));
        EXPECT_EQ(outcome.nStatus, BL_ERR_USB);
        EXPECT_EQ(outcome.nHookCalls, 1);
        EXPECT_EQ(outcome.trace.size(), nAt);
        EXPECT_EQ(
            debug.Take(),
            (Lines{"Device type is Pic18F4550 revision 0\n", "Device erased\n", "Failed read\n",
                   "Failed SendGetPacket while verifying data in WriteRangeMem\n"}));
        ExpectRecoverable(sim, pBoard, byBootBlock);
    }
    {
        // Unplugged in the middle of the program writes: every later transfer fails at once.
        CSimFixture sim;
        auto pBoard = sim.Plug(SimBoardConfig().Boot());
        const Bytes byBootBlock = pBoard->ReadMemory(0, 0x800);
        const std::uint64_t nAt = 2 + 480 * 2 + 2 + 5 * 4 + 1; // a program write
        ASSERT_TRUE(Starts(m_clean[nAt - 1], "0 > 02 10 50 08 00"));
        debug.Take();
        const SOutcome outcome = Run(sim, pBoard, ESimFault::Unplug, nAt);
        EXPECT_EQ(outcome.nStatus, BL_ERR_USB);
        EXPECT_EQ(outcome.nHookCalls, 1);
        ASSERT_EQ(outcome.trace.size(), nAt + 1);
        EXPECT_EQ(outcome.trace[nAt - 1], m_clean[nAt - 1]);
        EXPECT_EQ(outcome.trace[nAt], "0 <!");
        EXPECT_EQ(
            debug.Take(),
            (Lines{"Device type is Pic18F4550 revision 0\n", "Device erased\n", "Failed read\n",
                   "Failed SendGetPacket while writing data in WriteRangeMem\n"}));
        EXPECT_EQ(sim.Bus().Count(), 0u);
        sim.Bus().Replug(pBoard); // plugged again: the next discovery updates it
        ExpectRecoverable(sim, pBoard, byBootBlock);
    }
}

// --- The firmware image for the simulated boards ---------------------------------------------

TEST(SimulatedFirmwareImage, LoadsWithTheNextVersionAtTheBoardsVersionWord)
{
    CBootLoader loader(nullptr, KELVARD_SIM_FIRMWARE);
    ASSERT_EQ(loader.LoadHexFile(), BL_OK) << KELVARD_SIM_FIRMWARE;
    ASSERT_GT(loader.m_nProgramExtent, 0x822);
    const std::uint8_t* pProgram = loader.m_pProgramImage.get();
    EXPECT_EQ(pProgram[0x820] | (pProgram[0x821] << 8), 0x0104);
    EXPECT_EQ(SimBoardConfig().wVersion + 1, 0x0104) << "one step above the boards' default";
    EXPECT_TRUE(std::all_of(pProgram, pProgram + 0x800, [](std::uint8_t by) { return by == 0xFF; }))
        << "nothing for the boot block";
    EXPECT_NE(pProgram[0x800], 0xFF) << "a reset vector at the application start";
    EXPECT_GT(loader.m_nEepromExtent, 0);
    EXPECT_GT(loader.m_nIdExtent, 0);
}

TEST(SimulatedFirmwareImage, UpdatesASimulatedBoardToVersion104)
{
    CSimFixture sim;
    auto pBoard = sim.Plug(SimBoardConfig().Boot().Serial("AB12CD34"));
    const Bytes byBootBlock = pBoard->ReadMemory(0, 0x800);
    EXPECT_EQ(BootLoadThread(NewLoader(KELVARD_SIM_FIRMWARE), nullptr), BL_OK);
    EXPECT_EQ(pBoard->ReadMemory(0, 0x800), byBootBlock);
    ASSERT_FALSE(pBoard->IsBootMode());
    EXPECT_EQ(pBoard->FirmwareVersion(), 0x0104);
    CTestLink link;
    EXPECT_EQ(UsbReadVersion(link.Read(), link.Write()), 0x0104) << "the application says so";
    EXPECT_EQ(UsbReadSerialNumber(link.Read(), link.Write()), "AB12CD34");
}
