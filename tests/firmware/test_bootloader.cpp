// The bootloader client: identification, the requests of an update on the wire, every fault an
// update can meet.
#include "firmware/BootLoadThread.h"
#include "protocol/Status.h"
#include "protocol/UsbBackend.h"
#include "tests/firmware/BootTestSupport.h"

using namespace std::chrono_literals;

namespace
{
// A small image for the Pic18F4550: program data in the boot block (never to be written) and
// from 0x800 to 0x908, so the last block carries 8 bytes; 4 EEPROM bytes at 0x10; 8 ID bytes.
const Bytes APP_DATA = Counting(0x108, 0x31, 7), EEPROM_DATA{0xE1, 0xE2, 0xE3, 0xE4},
            ID_DATA{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
const std::string SMALL_IMAGE = HexData(0, Bytes(0x40, 0)) + HexData(0x800, APP_DATA) +
                                HexData(0xF00010, EEPROM_DATA) + HexData(0x200000, ID_DATA) +
                                HEX_END;
const SUpdatePlan SMALL_PLAN{{0x00, 0x12},
                             0x800,
                             0x7FFF,
                             Filled(0x908, {{0, Bytes(0x40, 0)}, {0x800, APP_DATA}}),
                             Filled(0x14, {{0x10, EEPROM_DATA}}),
                             Filled(16, {{0, ID_DATA}})};

// A backend without boards whose every reply is the request's 5-byte header alone: a completed
// short read that carries none of the bytes asked for.
class CShortReplies : public CUsbBackend
{
public:
    std::uint32_t CountDevices(std::uint16_t, std::uint16_t) override { return 1; }
    EStatus OpenPipe(std::uint32_t, std::uint16_t, std::uint16_t, std::uint8_t by,
                     UsbPipeId& pipe) override
    {
        pipe = by;
        return EStatus::Ok;
    }
    EStatus WritePipe(UsbPipeId, const std::uint8_t* p, std::size_t n, std::size_t& nMoved,
                      std::uint32_t) override
    {
        m_byHeader.assign(p, p + std::min<std::size_t>(n, 5));
        nMoved = n;
        return EStatus::Ok;
    }
    EStatus ReadPipe(UsbPipeId, std::uint8_t* p, std::size_t, std::size_t& nMoved,
                     std::uint32_t) override
    {
        std::copy(m_byHeader.begin(), m_byHeader.end(), p);
        nMoved = m_byHeader.size();
        return EStatus::Ok;
    }
    void ClosePipe(UsbPipeId) override {}
    bool SameDevice(UsbPipeId, UsbPipeId) override { return false; }
    std::string Location(std::uint32_t, std::uint16_t, std::uint16_t) override { return ""; }
    std::string PipeLocation(UsbPipeId) override { return ""; }
    EStatus ProbeOpen(std::uint32_t, std::uint16_t, std::uint16_t) override { return EStatus::Ok; }
    void WatchChanges(ChangeSink) override {}
    Bytes m_byHeader;
};
} // namespace

// (A failed identification is among the faults below.)
TEST(ChipTest, IdentificationOnTheWire)
{
    CSimFixture sim;
    auto pBoard = sim.Plug(SimBoardConfig().Boot().Chip(0x7FF).Revision(0x1D));
    auto pLoader = NewLoader(sim);
    EXPECT_EQ(pLoader->ReadDeviceId(), 0x7FF) << "all 11 bits of the code";
    EXPECT_EQ(pLoader->m_nRevision, 0x1D);
    EXPECT_EQ(sim.Trace(), (Lines{"0 > 01 02 fe ff 3f", "0 < 01 02 fe ff 3f fd ff"}));
}

// An update on the wire for a chip of the table, and for one it does not know, whose last row it
// uses (programs from 0x200 to 0xFFF, no EEPROM or ID area): every request as the request layout
// says, the landmarks byte for byte, the boot block untouched whatever the image held there.
TEST(UpdateTest, UpdateOnTheWire)
{
    const Bytes byUnknownApp = Counting(0x150, 0x80, 3); // from 0x100: written from 0x200 only
    SUpdatePlan planPic = SMALL_PLAN;
    planPic.byChipId[0] = 0x03;
    const struct
    {
        std::uint16_t nChip;
        std::uint8_t nRevision;
        std::string strImage;
        SUpdatePlan updatePlan;
        std::string strDevice; // as the debug log names it
        std::size_t nLines;
        std::vector<std::pair<std::size_t, std::string>> vecLandmarks;
    } cases[] = {
        {0x90,
         3,
         SMALL_IMAGE,
         planPic,
         "Pic18F4550 revision 3",
         2 + 480 * 2 + 2 + 17 * 4 + 2 * 4 + 4 + 1,
         {{1, "0 < 01 02 fe ff 3f 03 12"},
          {2, "0 > 03 01 00 08 00"},   // erasing starts at the application
          {961, "0 < 03 01 c0 7f 00"}, // and ends with the block at 0x7FC0
          {962, "0 > 03 01 00 00 20"}, // the ID erase follows
          {964, "0 > 02 10 00 08 00 31 38 3f 46 4d 54 5b 62 69 70 77 7e 85 8c 93 9a"},
          {966, "0 > 01 10 00 08 00"}, // read-back: 5 bytes, data positions not sent
          {967, "0 < 01 10 00 08 00 31 38 3f 46 4d 54 5b 62 69 70 77 7e 85 8c 93 9a"},
          // The short last block: 13 bytes sent under count byte 16.
          {1028, "0 > 02 10 00 09 00 " + HexText(&APP_DATA[0x100], 8)},
          {1030, "0 > 01 10 00 09 00"},
          // EEPROM from address 0, although the file's first EEPROM byte is at 0x10.
          {1032, "0 > 05 10 00 00 00 ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff"},
          {1036, "0 > 05 10 10 00 00 e1 e2 e3 e4"},
          {1038, "0 > 04 10 10 00 00"},
          // The ID write: 20 bytes, 15 of them data.
          {1040, "0 > 02 10 00 00 20 11 22 33 44 55 66 77 88 ff ff ff ff ff ff ff"}}},
        {0x55,
         0,
         HexData(0x100, byUnknownApp) + HEX_END,
         SUpdatePlan{{0xA0, 0x0A}, 0x200, 0xFFF, Filled(0x250, {{0x100, byUnknownApp}}), {}, {}},
         "PICUNKNOWN revision 0",
         2 + 56 * 2 + 5 * 4 + 1,           // no ID erase, no EEPROM or ID write
         {{1, "0 < 01 02 fe ff 3f a0 0a"}, // the code's bits 0-2 shifted up by 5
          {2, "0 > 03 01 00 02 00"},
          {112, "0 > 03 01 c0 0f 00"},
          {114, "0 > 02 10 00 02 00 " + HexText(&byUnknownApp[0x100], 16)}}}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.strDevice);
        CSimFixture sim;
        CTempDir dir;
        auto pBoard = sim.Plug(SimBoardConfig().Boot().Chip(c.nChip).Revision(c.nRevision));
        const Bytes byBootBlock = pBoard->ReadMemory(0, c.updatePlan.nAppStart);
        CDebugCapture debug;
        auto pLoader = NewLoader(sim, dir.Write(c.strImage));
        std::vector<int> vecPercent;
        pLoader->m_fnProgress = [&](const SBootProgress& progress)
        { vecPercent.push_back(progress.Percent()); };
        EXPECT_EQ(pLoader->UpdateFirmware(), EStatus::Ok);
        // A step per request: the bar is full with the restart, not before.
        ASSERT_GE(vecPercent.size(), 2u);
        EXPECT_EQ(vecPercent.back(), 100);
        EXPECT_LT(vecPercent.end()[-2], 100);

        const Lines trace = sim.Trace();
        EXPECT_EQ(trace, ExpectedUpdate(c.updatePlan));
        ASSERT_EQ(trace.size(), c.nLines);
        for (const auto& [nAt, strLine] : c.vecLandmarks)
            EXPECT_EQ(trace[nAt], strLine) << "line " << nAt;
        EXPECT_EQ(debug.Take(), (Lines{"Device type is " + c.strDevice + "\n", "Device erased\n"}));
        EXPECT_EQ(pBoard->ReadMemory(0, c.updatePlan.nAppStart), byBootBlock);
        EXPECT_FALSE(pBoard->IsBootMode()) << "restarted into the application";
    }
}

// Files that cannot be read, images that do not fit the identified chip, and (for callers that
// take known chips only) an unknown chip end the update after the identification: nothing is
// erased or written, and no restart is sent.
TEST(UpdateTest, ImagesThatCannotBeWrittenEndTheUpdateAfterIdentification)
{
    CTempDir dir;
    const Bytes byApp{1, 2, 3};
    const std::string strApp = HexData(0x800, byApp);
    const struct
    {
        int nChip;
        std::string strText; // empty: no file
        EStatus eStatus;
        std::string strRefusal;
    } rows[] = {
        {0x90, "", EStatus::FileOpen, ""},
        {0x90, HexData(0xF00000, {1}) + HEX_END, EStatus::FileEnd, ""},
        {0x90, HexData(0, byApp) + HEX_END, EStatus::NoFit,
         "it has no program data from the application start 0x0800 on"},
        {0x90, strApp + HexData(0xA000, byApp) + HEX_END, EStatus::NoFit,
         "its program data reach 0xa002, beyond the last program address 0x7fff"},
        {0x91, strApp + HexData(0x6000, byApp) + HEX_END, EStatus::NoFit,
         "its program data reach 0x6002, beyond the last program address 0x5fff"},
        {0x90, strApp + HexData(0x10800, byApp) + HEX_END, EStatus::NoFit,
         "it has program data at 0x00010000 and above, beyond the chips' 64 KB"},
        {0x90, strApp + HexData(0xF000FE, byApp) + HEX_END, EStatus::NoFit,
         "its EEPROM data reach 0x0100, beyond the 256 bytes of data EEPROM"},
        {0x90, strApp + HexData(0x20000E, byApp) + HEX_END, EStatus::NoFit,
         "its ID data reach 0x200010, beyond the 16 ID locations"},
        {0x55, strApp + HEX_END, EStatus::UnknownChip, "unknown chip (device code 0x055)"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.strText);
        CSimFixture sim;
        auto pBoard = sim.Plug(SimBoardConfig().Boot().Chip(std::uint16_t(row.nChip)));
        const Bytes byFlash = pBoard->ReadMemory(0, 0x8000);
        auto pLoader =
            NewLoader(sim, row.strText.empty() ? dir.File("absent.hex") : dir.Write(row.strText));
        pLoader->m_bKnownChipsOnly = true;
        EXPECT_EQ(pLoader->UpdateFirmware(), row.eStatus);
        EXPECT_EQ(pLoader->m_strRefusal, row.strRefusal);
        const Lines trace = sim.Trace();
        ASSERT_EQ(trace.size(), 2u);
        EXPECT_EQ(trace[0], "0 > 01 02 fe ff 3f");
        EXPECT_EQ(pBoard->ReadMemory(0, 0x8000), byFlash);
        EXPECT_TRUE(pBoard->IsBootMode());
    }
}

// What an update wrote reads back equal; a byte that differs is found at its address, and
// nothing is erased or written either way.
TEST(UpdateTest, VerifyComparesWhatAnUpdateWrites)
{
    CSimFixture sim;
    auto pBoard = sim.Plug(SimBoardConfig().Boot());
    ASSERT_EQ(NewLoader(sim)->UpdateFirmware(SMALL_IMAGE), EStatus::Ok);
    ASSERT_TRUE(sim.Bus().WaitSettled(1s));
    sim.Context()->Open(0).EnterBootloader();
    ASSERT_TRUE(sim.Bus().WaitSettled(1s) && pBoard->IsBootMode());
    for (const auto& [nAddress, nStatus] :
         {std::pair{-1, EStatus::Ok}, std::pair{0x907, EStatus::Verify},
          std::pair{0x20000E, EStatus::Verify}})
    {
        const std::uint32_t nAt = std::uint32_t(std::max(nAddress, 0));
        const Bytes byWritten = pBoard->ReadMemory(nAt, 1);
        if (nAddress >= 0)
            pBoard->StoreMemory(nAt, {std::uint8_t(~byWritten[0])});
        sim.Trace();
        auto pLoader = NewLoader(sim);
        EXPECT_EQ(pLoader->VerifyFirmware(SMALL_IMAGE), nStatus);
        EXPECT_EQ(pLoader->m_nFailedAddress, nAddress);
        pBoard->StoreMemory(nAt, byWritten);
        for (const std::string& strLine : sim.Trace())
            EXPECT_TRUE(strLine.find(" > 01 ") != std::string::npos ||
                        strLine.find(" > 04 ") != std::string::npos ||
                        strLine.find(" < ") != std::string::npos)
                << strLine;
    }
}

// An identification reply without the ID word is a failed exchange: nothing follows it.
TEST(ChipTest, AShortIdentificationReplyIsAFailure)
{
    auto pBackend = std::make_shared<CShortReplies>();
    CBootLoader loader(CDriverContext(pBackend).Open(0), "");
    EXPECT_EQ(loader.ReadDeviceId(), -1);
    EXPECT_EQ(loader.UpdateFirmware(SMALL_IMAGE), EStatus::Usb);
    EXPECT_EQ(pBackend->m_byHeader, (Bytes{0x01, 0x02, 0xFE, 0xFF, 0x3F})) << "no erase followed";
}

// Zeroed read-back positions: a reply without the bytes asked for never passes for them.
TEST(ShortReplies, NeverPassForTheBytesAsked)
{
    CDebugCapture debug;
    CBootLoader loader(CDriverContext(std::make_shared<CShortReplies>()).Open(0), "");
    const Bytes bySource(0x1000, 0x5A);
    EXPECT_EQ(loader.WriteRangeMem(0x02, 16, 0x800, 0x810, bySource.data()), EStatus::Verify);
    EXPECT_EQ(loader.WriteRangeMem(0x05, 16, 0x00, 0x04, bySource.data()), EStatus::Verify);
    EXPECT_EQ(debug.Take(), (Lines{"Verify failed\n", "Verify failed\n"}));
    EXPECT_EQ(loader.ReadSerNo(), "");
}

// For every transfer of a small update, it fails (or its read-back differs): the status, nothing
// more on the wire, the failure hook once, the boot block unchanged, and the next update of the
// board (the next discovery) completes.
class UpdateFaultTest : public ::testing::Test
{
protected:
    // A fresh bus with one board in its bootloader, and an update through the worker procedure
    // with the fault at transfer nAt.
    EStatus Run(ESimFault fault, std::uint64_t nAt, std::size_t nPosition = 5)
    {
        m_pSim.reset();
        m_pSim = std::make_unique<CSimFixture>();
        m_pBoard = m_pSim->Plug(SimBoardConfig().Boot());
        m_byBootBlock = m_pBoard->ReadMemory(0, 0x800);
        m_pBoard->InjectFault(fault, nAt, nPosition);
        m_hooks.clear();
        const EStatus eStatus =
            BootLoadThread(NewLoader(*m_pSim, m_strPath), [&](EStatus n) { m_hooks.push_back(n); });
        m_pBoard->ClearFaults();
        m_vecTrace = m_pSim->Trace();
        return eStatus;
    }

    // The clean update up to transfer nAt, which failed, and nothing after it.
    Lines FailedAt(std::uint64_t nAt) const
    {
        Lines lines(m_clean.begin(), m_clean.begin() + long(nAt));
        lines.back() = Failed(lines.back());
        return lines;
    }

    void ExpectRecoverable()
    {
        EXPECT_EQ(m_pBoard->ReadMemory(0, 0x800), m_byBootBlock);
        ASSERT_TRUE(m_pBoard->IsBootMode());
        EXPECT_EQ(BootLoadThread(NewLoader(*m_pSim, m_strPath), [](EStatus) { ADD_FAILURE(); }),
                  EStatus::Ok);
        EXPECT_FALSE(m_pBoard->IsBootMode());
        Bytes byExpected = SMALL_PLAN.byProgram; // the image from the application start
        std::copy(m_byBootBlock.begin(), m_byBootBlock.end(), byExpected.begin());
        EXPECT_EQ(m_pBoard->ReadMemory(0, 0x908), byExpected);
    }

    CTempDir m_dir;
    std::string m_strPath = m_dir.Write(SMALL_IMAGE);
    Lines m_clean = ExpectedUpdate(SMALL_PLAN); // every transfer of the update, in order
    std::unique_ptr<CSimFixture> m_pSim;
    std::shared_ptr<CSimBoard> m_pBoard;
    Bytes m_byBootBlock;
    std::vector<EStatus> m_hooks; // the failure hook's calls
    Lines m_vecTrace;
};

TEST_F(UpdateFaultTest, EveryFailedTransferStopsTheUpdateRecoverably)
{
    for (std::uint64_t nAt = 1; nAt <= m_clean.size(); ++nAt)
    {
        SCOPED_TRACE("failing transfer " + std::to_string(nAt) + ": " + m_clean[nAt - 1]);
        // The restart's own failure does not count: the board, fully written, stays in its
        // bootloader until the next update restarts it.
        const bool bRestart = nAt == m_clean.size();
        EXPECT_EQ(Run(ESimFault::Fail, nAt), bRestart ? EStatus::Ok : EStatus::Usb);
        EXPECT_EQ(m_hooks, bRestart ? std::vector<EStatus>{} : std::vector<EStatus>{EStatus::Usb});
        ASSERT_TRUE(m_vecTrace == FailedAt(nAt));
        ExpectRecoverable();
    }
}

TEST_F(UpdateFaultTest, EveryDifferingReadBackStopsTheUpdateRecoverably)
{
    int nReadBacks = 0;
    for (std::uint64_t nAt = 1; nAt <= m_clean.size(); ++nAt)
    {
        const std::string& strLine = m_clean[nAt - 1];
        if (strLine.substr(0, 9) != "0 < 01 10" && strLine.substr(0, 9) != "0 < 04 10")
            continue;
        SCOPED_TRACE("corrupting transfer " + std::to_string(nAt) + ": " + strLine);
        ++nReadBacks;
        // The last byte written in the block, so that the comparison must cover every one: the
        // write request is three lines up, "0 > " and the header, then 3 characters per byte.
        const std::size_t nData = (m_clean[nAt - 4].size() - 18) / 3;
        CDebugCapture debug;
        EXPECT_EQ(Run(ESimFault::Corrupt, nAt, 5 + nData - 1), EStatus::Verify);
        EXPECT_EQ(m_hooks, std::vector<EStatus>{EStatus::Verify});
        ASSERT_EQ(m_vecTrace.size(), nAt) << "nothing after the differing read-back";
        EXPECT_NE(m_vecTrace.back(), strLine);
        EXPECT_EQ(debug.Take().back(), "Verify failed\n");
        ExpectRecoverable();
    }
    EXPECT_EQ(nReadBacks, 17 + 2 + 1);
}
