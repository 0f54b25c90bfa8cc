// One command over a board link: the bytes on the wire, which reads are checked, and what a
// failed write or read leaves behind.
#include "protocol/BoardLink.h"
#include "tests/support/SimFixture.h"
#include "tests/support/TraceFile.h"

#include <gtest/gtest.h>

namespace
{
// The simulated bus, but every write moves one byte fewer than asked.
class CShortWrites : public CSimBackend
{
public:
    using CSimBackend::CSimBackend;
    EStatus WritePipe(UsbPipeId pipe, const std::uint8_t* p, std::size_t n, std::size_t& nMoved,
                      std::uint32_t nTimeoutMs) override
    {
        return CSimBackend::WritePipe(pipe, p, n - 1, nMoved, nTimeoutMs);
    }
};
} // namespace

class BoardLinkTest : public ::testing::Test
{
protected:
    CSimFixture m_sim;
    std::shared_ptr<CSimBoard> m_pBoard =
        m_sim.Plug(SimBoardConfig().Id(7).Serial("AB12CD34").Version(0x0105));
    CBoardLink m_lnkBoard = m_sim.Context()->Open(0);
};

TEST_F(BoardLinkTest, EveryCommandOnTheWire)
{
    ASSERT_TRUE(m_lnkBoard.IsOpen());
    EXPECT_EQ(m_lnkBoard.ReadVersion(), 0x0105);
    EXPECT_FALSE(m_lnkBoard.QueryBootloader());
    EXPECT_EQ(m_lnkBoard.ReadSerialNumber(), "AB12CD34");
    std::uint8_t byId = 0;
    EXPECT_EQ(m_lnkBoard.ReadDeviceId(byId), EStatus::Ok);
    EXPECT_EQ(byId, 7);
    EXPECT_EQ(m_lnkBoard.Location(), "sim:0");
    EXPECT_EQ(m_lnkBoard.WriteConfiguration(ConfigBlock{{0x0F, 0, 0, 0, 0xFF}, {0x01, 0, 0, 0}, 2}),
              EStatus::Ok);
    m_pBoard->SetInputs(PORT_A, 0xA5);
    m_pBoard->SetAnalog(0, 0x3FF);
    m_pBoard->SetAnalog(1, 0x123);
    EXPECT_EQ(m_lnkBoard.WritePorts({0x50, 0x02, 0x03, 0x04, 0x05}), EStatus::Ok);
    PortBytes ports{};
    EXPECT_EQ(m_lnkBoard.ReadPorts(ports), EStatus::Ok);
    // A0-A3 are inputs (A0 inverted), A4-A7 read back their latch.
    EXPECT_EQ(ports, (PortBytes{0x54, 0x02, 0x03, 0x04, 0x00}));
    ConfigBlock config;
    EXPECT_EQ(m_lnkBoard.ReadConfiguration(config), EStatus::Ok);
    EXPECT_EQ(config, (ConfigBlock{{0x0F, 0, 0, 0, 0xFF}, {0x01, 0, 0, 0}, 2}));
    int nChannels = -1;
    std::array<std::uint16_t, 4> wReadings{};
    EXPECT_EQ(m_lnkBoard.ReadAnalog(nChannels, wReadings), EStatus::Ok);
    EXPECT_EQ(nChannels, 2);
    EXPECT_EQ(wReadings, (std::array<std::uint16_t, 4>{0x3FF, 0x123, 0, 0}));

    // Every request and reply, byte for byte: the version, mode and serial-number commands move
    // whole 64-byte packets, the others their own lengths.
    EXPECT_EQ(m_sim.Trace(), CTraceFile(KELVARD_GOLDEN_DIR "/every-command.trace").TakeNew());
}

// A failed write makes no read. A failed read fails the commands that check it; the others
// parse the packet as it still is, the request, which reads as neutral values. A write that
// moves fewer bytes than asked is a failed one.
TEST_F(BoardLinkTest, FailedTransfersLeaveTheOutputsAndGiveNeutralValues)
{
    for (const int nStep : {1, 2}) // every write fails, then every read
    {
        for (int i = 1; i <= 7; ++i)
            m_pBoard->InjectFault(ESimFault::Fail, nStep * i);
        PortBytes ports{9, 9, 9, 9, 9};
        ConfigBlock config;
        config.byAnalogCount = 9;
        std::uint8_t byId = 9;
        int nChannels = 9;
        std::array<std::uint16_t, 4> wReadings{};
        EXPECT_EQ(m_lnkBoard.ReadVersion(), 0);
        EXPECT_FALSE(m_lnkBoard.QueryBootloader());
        EXPECT_EQ(m_lnkBoard.ReadSerialNumber(), "");
        EXPECT_EQ((std::vector{m_lnkBoard.ReadPorts(ports), m_lnkBoard.ReadConfiguration(config),
                               m_lnkBoard.ReadDeviceId(byId),
                               m_lnkBoard.ReadAnalog(nChannels, wReadings)}),
                  std::vector(4, EStatus::Usb));
        EXPECT_EQ(ports, (PortBytes{9, 9, 9, 9, 9}));
        EXPECT_EQ((std::array<int, 3>{config.byAnalogCount, byId, nChannels}),
                  (std::array<int, 3>{9, 9, 9}));
        const Lines trace = m_sim.Trace();
        ASSERT_EQ(trace.size(), 7u * nStep);
        EXPECT_EQ(trace[nStep == 1 ? 3 : 7], nStep == 1 ? "0 >! 36 00 00 00 00 00" : "0 <!");
    }
    const auto pBus = std::static_pointer_cast<CSimBackend>(m_sim.Context()->Backend())->Bus();
    CBoardLink lnkShort = CDriverContext(std::make_shared<CShortWrites>(pBus)).Open(0);
    EXPECT_EQ(lnkShort.WritePorts({1, 2, 3, 4, 5}), EStatus::Usb);
    PortBytes ports{};
    EXPECT_EQ(lnkShort.ReadPorts(ports), EStatus::Usb) << "no read after the short write";
    EXPECT_EQ(m_sim.Trace(), (Lines{"0 > 37 01 02 03 04", "0 > 36 00 00 00 00"}));
}

// A link owns its pipes: moved, the new owner holds them; closed or gone, it fails as Gone.
TEST_F(BoardLinkTest, EnterBootloaderEndsTheLinkAndTheBoardComesBackInItsBootloader)
{
    CBoardLink moved = std::move(m_lnkBoard);
    EXPECT_FALSE(m_lnkBoard.IsOpen());
    EXPECT_EQ(moved.EnterBootloader(), EStatus::Ok);
    EXPECT_EQ(m_sim.Trace(), (Lines{"0 > 32"}));
    // The link died with the reset; a new one reaches the bootloader, on another attachment.
    PortBytes ports{};
    EXPECT_EQ(moved.ReadPorts(ports), EStatus::Gone);
    CBoardLink boot = m_sim.Context()->Open(0);
    EXPECT_TRUE(boot.QueryBootloader());
    EXPECT_FALSE(boot.SameDevice(moved));
    EXPECT_TRUE(boot.SameDevice(boot.Tag()));
    moved.Close();
    EXPECT_EQ(moved.ReadPorts(ports), EStatus::Gone);
}
