// The simulated bus and its boards: instances and slots, the trace, faults, latency, re-attach
// timing, the board list of the environment, the pin model and the bootloader's flash rules.
#include "tests/support/HexText.h"
#include "tests/support/SimFixture.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// A bus with its driver context; requests and replies go over a board link as a host sends them.
class SimBusTest : public ::testing::Test
{
protected:
    void Open(std::uint32_t nInstance = 0) { m_link = m_sim.Context()->Open(nInstance); }
    bool Send(const Bytes& by) { return m_link.Write(by.data(), by.size(), 20) == EStatus::Ok; }
    // The reply in trace form, or "fail".
    std::string Receive(std::size_t nLength, std::uint32_t nTimeoutMs = 20)
    {
        Bytes byReply(nLength);
        std::size_t nMoved = 0;
        const EStatus eStatus = m_link.Read(byReply.data(), nLength, nMoved, nTimeoutMs);
        return eStatus == EStatus::Ok ? HexText(byReply.data(), nMoved) : "fail";
    }
    std::string Exchange(const Bytes& by, int n) { return Send(by) ? Receive(n) : "unsent"; }
    std::string IdOf(std::uint32_t nInstance) { return Open(nInstance), Exchange({0x3C, 0x00}, 2); }

    CSimFixture m_sim;
    CSimBus& m_bus = m_sim.Bus();
    CBoardLink m_link;
};

// Each trace line names the instance a board is at that moment. (test_python and the zorvane tool
// read the trace file as transfers complete.)
TEST_F(SimBusTest, InstancesFollowTheSlotsOfAttachedBoardsAndTraceLinesAreExact)
{
    auto p1 = m_bus.Plug(SimBoardConfig().Id(1));
    auto p2 = m_bus.Plug(SimBoardConfig().Id(2));
    auto p3 = m_bus.Plug(SimBoardConfig().Id(0x2A));
    m_bus.Unplug(p1);
    EXPECT_EQ(m_bus.Count(), 2u);
    EXPECT_EQ(IdOf(0), "3c 02");
    EXPECT_EQ(IdOf(1), "3c 2a");
    // Plugged back, a board takes its own slot again; a new board goes behind the last.
    m_bus.Replug(p1);
    auto p4 = m_bus.Plug(SimBoardConfig());
    EXPECT_EQ(IdOf(0), "3c 01");
    EXPECT_EQ(m_bus.Boards(), (std::vector<std::shared_ptr<CSimBoard>>{p1, p2, p3, p4}));
    Open(3);
    EXPECT_TRUE(Send({0x37, 0x00, 0x00, 0x0F, 0x00, 0x00}));
    p4->InjectFault(ESimFault::Fail, 1);
    EXPECT_FALSE(Send({0x37, 0xAB}));
    EXPECT_EQ(Receive(6), "fail") << "nothing was asked, so nothing comes";
    m_bus.Unplug(p4);
    EXPECT_FALSE(Send({0x36}));
    EXPECT_EQ(m_sim.Trace(), (Lines{"0 > 3c 00", "0 < 3c 02", "1 > 3c 00", "1 < 3c 2a", "0 > 3c 00",
                                    "0 < 3c 01", "3 > 37 00 00 0f 00 00", "3 >! 37 ab", "3 <!",
                                    "3 >! 36"}));
    EXPECT_TRUE(m_sim.Trace().empty());
}

TEST_F(SimBusTest, FaultsAndLatencyHitTheTransfersOfTheirBoard)
{
    auto pBoard = m_bus.Plug(SimBoardConfig().Id(9));
    Open();
    // Fail: a write is not taken (the latch stays), a read loses its reply.
    pBoard->InjectFault(ESimFault::Fail, 1);
    EXPECT_FALSE(Send({0x37, 0x01, 0x02, 0x03, 0x04, 0x05}));
    EXPECT_EQ(pBoard->Pins().byLatch, (PortBytes{}));
    // Corrupt: the reply arrives with one byte inverted (the last one of a short reply).
    pBoard->InjectFault(ESimFault::Corrupt, 2);
    EXPECT_EQ(Exchange({0x3C, 0x00}, 2), "3c f6");
    // Timeout: the transfer fails only after its whole time-out; latency delays every one.
    pBoard->InjectFault(ESimFault::Timeout, 2);
    pBoard->SetLatency(5ms);
    EXPECT_TRUE(Send({0x3C, 0x00}));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Receive(2, 60), "fail");
    EXPECT_GE(std::chrono::steady_clock::now() - start, 65ms);
    // Unplug: the transfer completes, then the board is gone.
    pBoard->InjectFault(ESimFault::Unplug, 1);
    EXPECT_TRUE(Send({0x3C, 0x00}));
    EXPECT_EQ(m_bus.Count(), 0u);
    EXPECT_EQ(Receive(2), "fail");
    EXPECT_EQ(pBoard->TransferCount(), 6u) << "transfers on a detached board never reach it";
}

TEST_F(SimBusTest, ABoardThatResetsStaysAwayForTheReattachDelay)
{
    m_bus.SetReattachDelay(50ms);
    std::mutex mutex;
    std::vector<bool> changes;
    m_bus.SetChangeListener(
        [&](bool bArrival)
        {
            std::lock_guard lock(mutex);
            changes.push_back(bArrival);
        });
    auto pBoard = m_bus.Plug(SimBoardConfig());
    Open();
    EXPECT_TRUE(Send({0x32}));
    EXPECT_EQ(m_bus.Count(), 0u);
    ASSERT_TRUE(m_bus.WaitSettled(2s));
    EXPECT_EQ(m_bus.Count(), 1u);
    EXPECT_TRUE(pBoard->IsBootMode());
    EXPECT_FALSE(Send({0x08})) << "pipes of the old attachment stay dead";
    // Unplugging during the reset cancels the return.
    Open();
    EXPECT_TRUE(Send({0xFF}));
    m_bus.Unplug(pBoard);
    EXPECT_TRUE(m_bus.WaitSettled(2s));
    std::this_thread::sleep_for(80ms);
    EXPECT_EQ(m_bus.Count(), 0u);
    std::lock_guard lock(mutex);
    EXPECT_EQ(changes, (std::vector<bool>{true, false, true, false})) << "no return after all";
}

// Each board as "id serial version mode chip"; bad values are skipped, good ones still count, and
// the boot block holds eight characters of the serial number.
TEST(SimBoardList, BoardListOfTheEnvironment)
{
    std::vector<std::string> warnings;
    const auto parsed = [&](const char* pszBoards)
    {
        std::ostringstream text;
        for (const SimBoardConfig& c : ParseSimBoards(pszBoards, warnings))
            text << int(c.byId) << ' ' << c.strSerial << ' ' << std::hex << c.wVersion
                 << (c.bBootMode ? " boot " : " app ") << c.wChip << std::dec << ';';
        return text.str();
    };
    EXPECT_EQ(parsed(nullptr), "1 SIM00001 103 app 90;2  102 app 90;");
    EXPECT_EQ(parsed("") + parsed(" ; "), "");
    EXPECT_EQ(parsed("id=7,serial=AB12CD34XY,version=259,mode=boot,chip=0x55;;version=0x0200"),
              "7 AB12CD34 103 boot 55;1  200 app 90;");
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(parsed("id=256,colour=red,mode=sleep,version=x,id=3,serial"), "3  103 app 90;");
    EXPECT_EQ(warnings, (std::vector<std::string>{"ignoring 'id=256'", "ignoring 'colour=red'",
                                                  "ignoring 'mode=sleep'", "ignoring 'version=x'",
                                                  "ignoring 'serial'"}));
}

TEST_F(SimBusTest, BoardsStartAsAfterResetReadPinsThroughTheirSettingsAndFlashOnlyClearsBits)
{
    auto pBoard = m_bus.Plug(SimBoardConfig());
    Open();
    EXPECT_EQ(Exchange({0x38}, 11), "38 ff 00 ff 00 ff 00 ff 00 ff 00");
    EXPECT_EQ(Exchange({0x36}, 6), "36 00 00 00 00 00");
    pBoard->SetInputs(PORT_A, 0xF0);
    pBoard->SetInputs(PORT_D, 0x0F);
    pBoard->SetInputs(PORT_E, 0x81);
    // A: all inputs, low nibble inverted; D: high nibble outputs; E: inputs, never inverted.
    EXPECT_TRUE(Send({0x39, 0xFF, 0x0F, 0x00, 0x00, 0x00, 0x00, 0x0F, 0xFF, 0xFF, 0x00}));
    EXPECT_TRUE(Send({0x37, 0x11, 0x22, 0x33, 0xA5, 0x55}));
    EXPECT_EQ(Exchange({0x36}, 6), "36 ff 22 33 a0 81");
    EXPECT_EQ(pBoard->Pins().byLatch, (PortBytes{0x11, 0x22, 0x33, 0xA5, 0x55}));
    // A code the firmware does not know gets no reply; asking for less than the reply holds is
    // an overflow, not a reply.
    EXPECT_EQ(Exchange({0x55}, 64), "fail");
    EXPECT_EQ(Exchange({0x36}, 4), "fail");

    // The bootloader's flash, on a board of its own.
    pBoard = m_bus.Plug(SimBoardConfig().Boot());
    Open(1);
    const auto before = pBoard->ReadMemory(0x7C0, 0x80);
    // Erasing any address clears its whole 64-byte block, and only that block.
    EXPECT_EQ(Exchange({0x03, 0x01, 0xF5, 0x07, 0x00}, 64), "03 01 f5 07 00");
    EXPECT_EQ(pBoard->ReadMemory(0x7C0, 64), Bytes(64, 0xFF));
    EXPECT_EQ(pBoard->ReadMemory(0x800, 64), Bytes(before.begin() + 64, before.end()));
    // 16-byte write into the erased block, then over it again: flash can only clear bits.
    Bytes byRequest = {0x02, 0x10, 0xC0, 0x07, 0x00};
    for (std::uint8_t i = 0; i < 16; ++i)
        byRequest.push_back(static_cast<std::uint8_t>(0x0F + i * 0x11));
    EXPECT_EQ(Exchange(byRequest, 64), "02 10 c0 07 00");
    EXPECT_EQ(pBoard->ReadMemory(0x7C0, 16), Bytes(byRequest.begin() + 5, byRequest.end()));
    EXPECT_EQ(Exchange({0x02, 0x10, 0xC0, 0x07, 0x00, 0xF0}, 64), "02 10 c0 07 00");
    // A short block writes only the bytes that came, whatever the count byte says.
    EXPECT_EQ(Exchange({0x01, 0x10, 0xC0, 0x07, 0x00}, 64).substr(15, 8), "00 20 31");
    // ID locations: one erase clears all 16, writes land from 0x200000.
    EXPECT_EQ(Exchange({0x02, 0x10, 0x00, 0x00, 0x20, 0x12, 0x34}, 64), "02 10 00 00 20");
    EXPECT_EQ(pBoard->ReadMemory(0x200000, 3), (Bytes{0x12, 0x34, 0xFF}));
    Exchange({0x03, 0x01, 0x00, 0x00, 0x20}, 64);
    EXPECT_EQ(pBoard->ReadMemory(0x200000, 16), Bytes(16, 0xFF));
    // EEPROM is byte-writable: a second write replaces.
    Exchange({0x05, 0x10, 0x10, 0x00, 0x00, 0xAA, 0xBB}, 64);
    Exchange({0x05, 0x10, 0x10, 0x00, 0x00, 0x55}, 64);
    EXPECT_EQ(Exchange({0x04, 0x03, 0x10, 0x00, 0x00}, 64), "04 03 10 00 00 55 bb ff");
}
