// The bootloader client: identification, the requests of an update on the wire, every fault an
// update can meet.
#include "firmware/BootLoadThread.h"
#include "tests/firmware/BootTestSupport.h"

#include <gmock/gmock.h>

namespace
{
// The simulated bus, but every reply cut to its first five bytes, the request's header: a
// completed short read that carries none of the bytes asked for.
class CShortReplies : public CSimBackend
{
public:
    using CSimBackend::CSimBackend;
    EStatus ReadPipe(UsbPipeId pipe, std::uint8_t* p, std::size_t n, std::size_t& nMoved,
                     std::uint32_t nTimeoutMs) override
    {
        Bytes byReply(n);
        const EStatus eStatus = CSimBackend::ReadPipe(pipe, byReply.data(), n, nMoved, nTimeoutMs);
        nMoved = std::min<std::size_t>(nMoved, 5);
        std::copy_n(byReply.begin(), nMoved, p);
        return eStatus;
    }
};
} // namespace

// Updates of a chip of the table and of one it does not know, and images that cannot be
// written: files that cannot be read, images that do not fit the identified chip and (for callers
// that take known chips only) an unknown chip, which end the update after the identification.
TEST(UpdateTest, GoldenCases)
{
    CheckGoldenCases("update-");
}

// What an update wrote reads back equal; a byte that differs is found at its address, and
// nothing is erased or written either way.
TEST(UpdateTest, VerifyComparesWhatAnUpdateWrites)
{
    const SGolden golden("update-small-image");
    CSimFixture sim;
    auto pBoard = sim.Plug(SimBoardConfig().Boot());
    ASSERT_EQ(NewLoader(sim)->UpdateFirmware(golden.strImage), EStatus::Ok);
    sim.Context()->Open(0).EnterBootloader(); // back at once: the fixture's boards do not wait
    ASSERT_TRUE(pBoard->IsBootMode());
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
        EXPECT_EQ(pLoader->VerifyFirmware(golden.strImage), nStatus);
        EXPECT_EQ(pLoader->m_nFailedAddress, nAddress);
        pBoard->StoreMemory(nAt, byWritten);
        for (const std::string& strLine : sim.Trace())
            EXPECT_THAT(strLine, ::testing::MatchesRegex("0 (> 0[14] .*|< .*)"));
    }
}

// Replies without the bytes asked for: an identification without the ID word is a failed
// exchange that nothing follows; zeroed read-back positions never pass for the bytes written, nor
// for a serial number.
TEST(ChipTest, ShortRepliesNeverPassForTheBytesAsked)
{
    auto pBus = std::make_shared<CSimBus>();
    pBus->CaptureTrace(true);
    pBus->Plug(SimBoardConfig().Boot().Serial("AB12CD34"));
    CDebugCapture debug;
    CBootLoader loader(CDriverContext(std::make_shared<CShortReplies>(pBus)).Open(0), "");
    EXPECT_EQ(loader.ReadDeviceId(), -1);
    EXPECT_EQ(loader.UpdateFirmware(HexData(0x800, {1}) + HEX_END), EStatus::Usb);
    EXPECT_EQ(pBus->TakeTrace().size(), 4u) << "two identifications, nothing else";
    const Bytes bySource(0x1000, 0x5A);
    EXPECT_EQ(loader.WriteRangeMem(0x02, 16, 0x800, 0x810, bySource.data()), EStatus::Verify);
    EXPECT_EQ(loader.WriteRangeMem(0x05, 16, 0x00, 0x04, bySource.data()), EStatus::Verify);
    EXPECT_EQ(debug.Take(), (Lines{"Verify failed\n", "Verify failed\n"}));
    EXPECT_EQ(loader.ReadSerNo(), "");
}

// For every transfer of the small update, it fails, and every read-back differs in the last byte
// written to its block (so that the comparison must cover every one): the status, the failure hook
// once, nothing more on the wire (so nothing reached the boot block), and the next update of the
// board (the next discovery) puts the whole golden trace on the wire.
TEST(UpdateTest, EveryFaultStopsTheUpdateRecoverably)
{
    SGolden golden("update-small-image");
    const Lines& clean = golden.trace;
    CTempDir dir;
    const std::string strPath = dir.Write(golden.strImage);
    int nReadBacks = 0;
    for (std::uint64_t nAt = 1; nAt <= clean.size(); ++nAt)
    {
        const std::string& strLine = clean[nAt - 1];
        const bool bReadBack = strLine.starts_with("0 < 01 10") || strLine.starts_with("0 < 04 10");
        nReadBacks += bReadBack;
        for (int nFault = 0; nFault <= int(bReadBack); ++nFault)
        {
            const ESimFault fault = nFault == 0 ? ESimFault::Fail : ESimFault::Corrupt;
            SCOPED_TRACE((fault == ESimFault::Fail ? "failing " : "corrupting ") +
                         std::to_string(nAt) + ": " + strLine);
            CSimFixture sim;
            auto pBoard = golden.Plug(sim);
            // The write request is three lines up: "0 > ", the header, then 3 characters a byte.
            pBoard->InjectFault(fault, nAt,
                                bReadBack ? 5 + (clean[nAt - 4].size() - 18) / 3 - 1 : 5);
            std::vector<EStatus> hooks;
            const EStatus eStatus =
                BootLoadThread(NewLoader(sim, strPath), [&](EStatus e) { hooks.push_back(e); });
            pBoard->ClearFaults();
            // The restart's own failure does not count: the board, fully written, stays in its
            // bootloader until the next update restarts it.
            const EStatus eExpected = fault == ESimFault::Corrupt ? EStatus::Verify
                                      : nAt == clean.size()       ? EStatus::Ok
                                                                  : EStatus::Usb;
            EXPECT_EQ(eStatus, eExpected);
            EXPECT_EQ(hooks,
                      eExpected == EStatus::Ok ? std::vector<EStatus>{} : std::vector{eExpected});
            const Lines trace = sim.Trace();
            ASSERT_TRUE(trace.size() == nAt &&
                        std::equal(trace.begin(), trace.end() - 1, clean.begin()))
                << "nothing after the fault";
            EXPECT_TRUE(fault == ESimFault::Fail ? trace.back() == Failed(strLine)
                                                 : trace.back() != strLine)
                << trace.back();
            EXPECT_EQ(BootLoadThread(NewLoader(sim, strPath), [](EStatus) { ADD_FAILURE(); }),
                      EStatus::Ok);
            ASSERT_TRUE(sim.Trace() == clean) << "the next update differs";
        }
    }
    EXPECT_EQ(nReadBacks, 17 + 2 + 1);
}
