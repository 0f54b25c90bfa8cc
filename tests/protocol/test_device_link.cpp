// One command over a device link: the bytes on the wire, which reads are checked, and what a
// failed write or read leaves behind.
#include "protocol/DeviceLink.h"
#include "tests/support/HexText.h"
#include "tests/support/SimFixture.h"

#include <gtest/gtest.h>

class DeviceLinkTest : public ::testing::Test
{
protected:
    CSimFixture m_sim;
    std::shared_ptr<CSimBoard> m_pBoard =
        m_sim.Plug(SimBoardConfig().Id(7).Serial("AB12CD34").Version(0x0105));
    CTestLink m_link;
};

TEST_F(DeviceLinkTest, IdentityCommandsMoveFullPackets)
{
    ASSERT_TRUE(m_link.IsOpen());
    EXPECT_EQ(UsbReadVersion(m_link.Read(), m_link.Write()), 0x0105);
    EXPECT_FALSE(UsbQueryBootloader(m_link.Read(), m_link.Write()));
    EXPECT_EQ(UsbReadSerialNumber(m_link.Read(), m_link.Write()), "AB12CD34");
    std::uint8_t byId = 0;
    EXPECT_TRUE(UsbReadDeviceId(m_link.Read(), m_link.Write(), byId));
    EXPECT_EQ(byId, 7);

    EXPECT_EQ(
        m_sim.Trace(),
        (Lines{Line("0 >", {0x00}, 64), Line("0 <", {0x00, 0x00, 0x05, 0x01}, 64),
               Line("0 >", {0x08}, 64), Line("0 <", {0x08, 0x00, 0x41}, 64),
               Line("0 >", {0x31}, 64),
               Line("0 <",
                    {0x31, 16, 'A', 0, 'B', 0, '1', 0, '2', 0, 'C', 0, 'D', 0, '3', 0, '4', 0}, 64),
               "0 > 3c 00", "0 < 3c 07"}));
}

TEST_F(DeviceLinkTest, PortAndConfigurationCommands)
{
    EXPECT_TRUE(UsbWriteConfiguration(m_link.Write(),
                                      ConfigBlock{{0x0F, 0, 0, 0, 0xFF}, {0x01, 0, 0, 0}, 2}));
    m_pBoard->SetInputs(PORT_A, 0xA5);
    m_pBoard->SetAnalog(0, 0x3FF);
    m_pBoard->SetAnalog(1, 0x123);
    EXPECT_TRUE(UsbWritePorts(m_link.Write(), {0x50, 0x02, 0x03, 0x04, 0x05}));
    PortBytes ports{};
    EXPECT_TRUE(UsbReadPorts(m_link.Read(), m_link.Write(), ports));
    // A0-A3 are inputs (A0 inverted), A4-A7 read back their latch.
    EXPECT_EQ(ports, (PortBytes{0x54, 0x02, 0x03, 0x04, 0x00}));
    ConfigBlock config;
    EXPECT_TRUE(UsbReadConfiguration(m_link.Read(), m_link.Write(), config));
    EXPECT_EQ(config, (ConfigBlock{{0x0F, 0, 0, 0, 0xFF}, {0x01, 0, 0, 0}, 2}));
    int nChannels = -1;
    std::array<std::uint16_t, 4> wReadings{};
    EXPECT_TRUE(UsbReadAnalog(m_link.Read(), m_link.Write(), nChannels, wReadings));
    EXPECT_EQ(nChannels, 2);
    EXPECT_EQ(wReadings, (std::array<std::uint16_t, 4>{0x3FF, 0x123, 0, 0}));

    EXPECT_EQ(m_sim.Trace(),
              (Lines{"0 > 39 0f 01 00 00 00 00 00 00 ff 02", "0 > 37 50 02 03 04 05",
                     "0 > 36 00 00 00 00 00", "0 < 36 54 02 03 04 00",
                     "0 > 38 00 00 00 00 00 00 00 00 00 00", "0 < 38 0f 01 00 00 00 00 00 00 ff 02",
                     "0 > 3d", "0 < 3d 02 ff 03 23 01 00 00 00 00"}));
}

// A failed write makes no read. A failed read fails the commands that check it; the others
// parse the packet as it still is, the request, which reads as neutral values.
TEST_F(DeviceLinkTest, FailedTransfersLeaveTheOutputsAndGiveNeutralValues)
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
        EXPECT_EQ(UsbReadVersion(m_link.Read(), m_link.Write()), 0);
        EXPECT_FALSE(UsbQueryBootloader(m_link.Read(), m_link.Write()));
        EXPECT_EQ(UsbReadSerialNumber(m_link.Read(), m_link.Write()), "");
        EXPECT_FALSE(UsbReadPorts(m_link.Read(), m_link.Write(), ports));
        EXPECT_FALSE(UsbReadConfiguration(m_link.Read(), m_link.Write(), config));
        EXPECT_FALSE(UsbReadDeviceId(m_link.Read(), m_link.Write(), byId));
        EXPECT_FALSE(UsbReadAnalog(m_link.Read(), m_link.Write(), nChannels, wReadings));
        EXPECT_EQ(ports, (PortBytes{9, 9, 9, 9, 9}));
        EXPECT_EQ((std::array<int, 3>{config.byAnalogCount, byId, nChannels}),
                  (std::array<int, 3>{9, 9, 9}));
        const Lines trace = m_sim.Trace();
        ASSERT_EQ(trace.size(), 7u * nStep);
        EXPECT_EQ(trace[nStep == 1 ? 3 : 7], nStep == 1 ? "0 >! 36 00 00 00 00 00" : "0 <!");
    }
}

TEST_F(DeviceLinkTest, EnterBootloaderSendsOneByteAndTheBoardComesBackInItsBootloader)
{
    EXPECT_TRUE(UsbEnterBootloader(m_link.Write()));
    EXPECT_EQ(m_sim.Trace(), (Lines{"0 > 32"}));
    // The old link died with the reset; a new one reaches the bootloader.
    EXPECT_EQ(UsbReadVersion(m_link.Read(), m_link.Write()), 0);
    CTestLink boot;
    EXPECT_TRUE(UsbQueryBootloader(boot.Read(), boot.Write()));
}
