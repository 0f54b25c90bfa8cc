// The simulated boards: pin model, bootloader memories and their flash rules, mode changes.
#include "sim/SimBus.h"
#include "tests/support/HexText.h"

#include <gtest/gtest.h>

namespace
{
// Raw transfers on one attached board, as a host would make them.
class CRawLink
{
public:
    CRawLink(CSimBus& bus, std::uint32_t nInstance = 0)
        : m_bus(bus), m_nIn(bus.Open(nInstance, 0x81)), m_nOut(bus.Open(nInstance, 0x01))
    {
    }
    ~CRawLink()
    {
        m_bus.Close(m_nIn);
        m_bus.Close(m_nOut);
    }
    bool Send(std::vector<std::uint8_t> request)
    {
        std::size_t nMoved = 0;
        return m_bus.Write(m_nOut, request.data(), request.size(), nMoved, 20);
    }
    // The reply in trace form, or "fail".
    std::string Receive(std::size_t nLength)
    {
        std::vector<std::uint8_t> reply(nLength, 0xEE);
        std::size_t nMoved = 0;
        if (!m_bus.Read(m_nIn, reply.data(), nLength, nMoved, 20))
            return "fail";
        return HexText(reply.data(), nMoved);
    }
    std::string Exchange(std::vector<std::uint8_t> request, std::size_t nLength)
    {
        return Send(std::move(request)) ? Receive(nLength) : "send failed";
    }

private:
    CSimBus& m_bus;
    std::uint64_t m_nIn;
    std::uint64_t m_nOut;
};

std::vector<std::uint8_t> Bytes(std::size_t n, std::uint8_t byFirst, std::uint8_t byStep)
{
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<std::uint8_t>(byFirst + i * byStep);
    return bytes;
}
} // namespace

class SimBoardTest : public ::testing::Test
{
protected:
    SimBoardTest() { m_bus.SetReattachDelay(std::chrono::milliseconds(0)); }
    CSimBus m_bus;
};

TEST_F(SimBoardTest, StartsAsAfterResetAndReadsPinsThroughDirectionAndInversion)
{
    auto pBoard = m_bus.Plug(SimBoardConfig());
    CRawLink link(m_bus);
    EXPECT_EQ(link.Exchange({0x38}, 11), "38 ff 00 ff 00 ff 00 ff 00 ff 00");
    EXPECT_EQ(link.Exchange({0x36}, 6), "36 00 00 00 00 00");

    pBoard->SetInputs(PORT_A, 0xF0);
    pBoard->SetInputs(PORT_D, 0x0F);
    pBoard->SetInputs(PORT_E, 0x81);
    // A: all inputs, low nibble inverted; D: high nibble outputs; E: inputs, never inverted.
    EXPECT_TRUE(link.Send({0x39, 0xFF, 0x0F, 0x00, 0x00, 0x00, 0x00, 0x0F, 0xFF, 0xFF, 0x00}));
    EXPECT_TRUE(link.Send({0x37, 0x11, 0x22, 0x33, 0xA5, 0x55}));
    EXPECT_EQ(link.Exchange({0x36}, 6), "36 ff 22 33 a0 81");
    EXPECT_EQ(pBoard->Pins().byLatch, (PortBytes{0x11, 0x22, 0x33, 0xA5, 0x55}));
}

TEST_F(SimBoardTest, AnalogCountLimitsTheValidChannels)
{
    auto pBoard = m_bus.Plug(SimBoardConfig());
    for (int k = 0; k < 4; ++k)
        pBoard->SetAnalog(k, static_cast<std::uint16_t>(0x100 * (k + 1) + 0xFC00)); // 10 bits kept
    CRawLink link(m_bus);
    EXPECT_EQ(link.Exchange({0x3D}, 10), "3d 00 00 00 00 00 00 00 00 00");
    link.Send({0x39, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 2});
    EXPECT_EQ(link.Exchange({0x3D}, 10), "3d 02 00 01 00 02 00 00 00 00");
    link.Send({0x39, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 9});
    EXPECT_EQ(link.Exchange({0x3D}, 10), "3d 04 00 01 00 02 00 03 00 00");
    EXPECT_EQ(link.Exchange({0x38}, 11), "38 ff 00 ff 00 ff 00 ff 00 ff 09") << "stored as sent";
}

TEST_F(SimBoardTest, IdentityRepliesAndUnknownCodes)
{
    m_bus.Plug(SimBoardConfig().Id(200).Serial("XYZ").Version(0x0207));
    CRawLink link(m_bus);
    EXPECT_EQ(link.Exchange({0x3C, 0x00}, 2), "3c c8");
    EXPECT_EQ(link.Exchange({0x00}, 64).substr(0, 11), "00 00 07 02");
    // Characters 3 to 7 were never programmed: 0xFF, which no reader takes as text.
    EXPECT_EQ(link.Exchange({0x31}, 64).substr(0, 53),
              "31 10 58 00 59 00 5a 00 ff 00 ff 00 ff 00 ff 00 ff 00");
    // A code the firmware does not know gets no reply: the read runs into its time-out.
    EXPECT_EQ(link.Exchange({0x55}, 64), "fail");
    // Asking for less than the reply holds is an overflow, not a reply.
    EXPECT_EQ(link.Exchange({0x36}, 4), "fail");
}

TEST_F(SimBoardTest, EnterBootloaderAndRestartChangeModeWithADeviceChangeEach)
{
    std::vector<bool> changes;
    m_bus.SetChangeListener([&](bool bArrival) { changes.push_back(bArrival); });
    auto pBoard = m_bus.Plug(SimBoardConfig().Version(0x0103));
    {
        CRawLink link(m_bus);
        EXPECT_EQ(link.Exchange({0x08}, 64).substr(0, 8), "08 00 41");
        EXPECT_TRUE(link.Send({0x32}));
        EXPECT_EQ(link.Exchange({0x08}, 64), "send failed") << "pipes die with the reset";
    }
    EXPECT_TRUE(pBoard->IsBootMode());
    CRawLink boot(m_bus);
    EXPECT_EQ(boot.Exchange({0x08}, 64).substr(0, 8), "08 00 42");
    EXPECT_EQ(boot.Exchange({0x36}, 6), "fail") << "the bootloader knows no port commands";

    // New firmware with a new version word, then restart.
    boot.Exchange({0x03, 0x01, 0x00, 0x08, 0x00}, 64);
    boot.Exchange({0x02, 0x10, 0x20, 0x08, 0x00, 0x04, 0x01}, 64);
    EXPECT_TRUE(boot.Send({0xFF}));
    EXPECT_FALSE(pBoard->IsBootMode());
    EXPECT_EQ(pBoard->FirmwareVersion(), 0x0104);
    CRawLink app(m_bus);
    EXPECT_EQ(app.Exchange({0x00}, 64).substr(0, 11), "00 00 04 01");
    EXPECT_EQ(changes, (std::vector<bool>{true, false, true, false, true}));
}

TEST_F(SimBoardTest, BootloaderIdentificationAndSerialNumberBlock)
{
    auto pBoard = m_bus.Plug(SimBoardConfig().Boot().Chip(0x90).Revision(3).Serial("AB12CD34"));
    CRawLink link(m_bus);
    // The chip ID word: revision in bits 0-4, the device code above.
    EXPECT_EQ(link.Exchange({0x01, 0x02, 0xFE, 0xFF, 0x3F}, 9), "01 02 fe ff 3f 03 12");
    EXPECT_EQ(link.Exchange({0x01, 0x10, 0xF0, 0x07, 0x00}, 64),
              "01 10 f0 07 00 41 00 42 00 31 00 32 00 43 00 44 00 33 00 34 00");

    m_bus.Unplug(pBoard);
    auto pOther = m_bus.Plug(SimBoardConfig().Boot().Chip(0x55));
    CRawLink other(m_bus);
    EXPECT_EQ(other.Exchange({0x01, 0x02, 0xFE, 0xFF, 0x3F}, 9), "01 02 fe ff 3f a0 0a");
}

TEST_F(SimBoardTest, FlashErasesWholeBlocksAndWritesOnlyClearBits)
{
    auto pBoard = m_bus.Plug(SimBoardConfig().Boot());
    CRawLink link(m_bus);
    const auto before = pBoard->ReadMemory(0x7C0, 0x80);

    // Erasing any address clears its whole 64-byte block, and only that block.
    EXPECT_EQ(link.Exchange({0x03, 0x01, 0xF5, 0x07, 0x00}, 64), "03 01 f5 07 00");
    EXPECT_EQ(pBoard->ReadMemory(0x7C0, 64), std::vector<std::uint8_t>(64, 0xFF));
    EXPECT_EQ(pBoard->ReadMemory(0x800, 64),
              std::vector<std::uint8_t>(before.begin() + 64, before.end()));

    // 16-byte write into the erased block, then over it again: flash can only clear bits.
    std::vector<std::uint8_t> request = {0x02, 0x10, 0xC0, 0x07, 0x00};
    const auto data = Bytes(16, 0x0F, 0x11);
    request.insert(request.end(), data.begin(), data.end());
    EXPECT_EQ(link.Exchange(request, 64), "02 10 c0 07 00");
    EXPECT_EQ(pBoard->ReadMemory(0x7C0, 16), data);
    EXPECT_EQ(link.Exchange({0x02, 0x10, 0xC0, 0x07, 0x00, 0xF0}, 64), "02 10 c0 07 00");
    EXPECT_EQ(pBoard->ReadMemory(0x7C0, 1), std::vector<std::uint8_t>{0x00});
    // A short block writes only the bytes that came, whatever the count byte says.
    EXPECT_EQ(pBoard->ReadMemory(0x7C1, 1), std::vector<std::uint8_t>{data[1]});
    EXPECT_EQ(link.Exchange({0x01, 0x10, 0xC0, 0x07, 0x00}, 64).substr(15, 8), "00 20 31");

    // ID locations: one erase clears all 16, writes land from 0x200000.
    EXPECT_EQ(link.Exchange({0x02, 0x10, 0x00, 0x00, 0x20, 0x12, 0x34}, 64), "02 10 00 00 20");
    EXPECT_EQ(pBoard->ReadMemory(0x200000, 3), (std::vector<std::uint8_t>{0x12, 0x34, 0xFF}));
    link.Exchange({0x03, 0x01, 0x00, 0x00, 0x20}, 64);
    EXPECT_EQ(pBoard->ReadMemory(0x200000, 16), std::vector<std::uint8_t>(16, 0xFF));

    // EEPROM is byte-writable: a second write replaces.
    link.Exchange({0x05, 0x10, 0x10, 0x00, 0x00, 0xAA, 0xBB}, 64);
    link.Exchange({0x05, 0x10, 0x10, 0x00, 0x00, 0x55}, 64);
    EXPECT_EQ(link.Exchange({0x04, 0x03, 0x10, 0x00, 0x00}, 64), "04 03 10 00 00 55 bb ff");
}
