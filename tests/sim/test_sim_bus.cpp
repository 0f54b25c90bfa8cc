// The simulated bus and its boards: instances and slots, the trace, faults, latency, re-attach
// timing, the board list of the environment, the pin model and the bootloader's flash rules.
#include "sim/SimBus.h"
#include "tests/support/HexText.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace std::chrono_literals;

namespace
{
// Both pipes of one attached board, as a host uses them.
class CRawLink
{
public:
    explicit CRawLink(CSimBus& bus, std::uint32_t nInstance = 0)
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
    std::string Receive(std::size_t nLength, std::uint32_t nTimeoutMs = 20)
    {
        std::vector<std::uint8_t> reply(nLength, 0xEE);
        std::size_t nMoved = 0;
        if (!m_bus.Read(m_nIn, reply.data(), nLength, nMoved, nTimeoutMs))
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

std::string IdOf(CSimBus& bus, std::uint32_t nInstance)
{
    return CRawLink(bus, nInstance).Exchange({0x3C, 0x00}, 2);
}
} // namespace

TEST(SimBus, InstancesFollowTheSlotsOfAttachedBoards)
{
    CSimBus bus;
    auto p1 = bus.Plug(SimBoardConfig().Id(1));
    auto p2 = bus.Plug(SimBoardConfig().Id(2));
    auto p3 = bus.Plug(SimBoardConfig().Id(3));
    bus.Unplug(p1);
    EXPECT_EQ(bus.Count(), 2u);
    EXPECT_EQ(IdOf(bus, 0), "3c 02");
    EXPECT_EQ(IdOf(bus, 1), "3c 03");
    EXPECT_EQ(bus.Open(2, 0x81), 0u);
    EXPECT_EQ(bus.Open(0, 0x02), 0u) << "only endpoint 1 exists";
    // Plugged back, a board takes its own slot again; a new board goes behind the last.
    bus.Replug(p1);
    auto p4 = bus.Plug(SimBoardConfig().Id(4));
    EXPECT_EQ(IdOf(bus, 0), "3c 01");
    EXPECT_EQ(IdOf(bus, 3), "3c 04");
    EXPECT_EQ(bus.Boards(), (std::vector<std::shared_ptr<CSimBoard>>{p1, p2, p3, p4}));
}

TEST(SimBus, TraceLinesAreExactAndFlushedAsTransfersComplete)
{
    const std::string strPath = ::testing::TempDir() + "sim_bus_trace.txt";
    std::remove(strPath.c_str());
    CSimBus bus;
    bus.SetTraceFile(strPath);
    bus.CaptureTrace(true);
    bus.Plug(SimBoardConfig().Id(0x2A));
    auto pSecond = bus.Plug(SimBoardConfig());
    CRawLink second(bus, 1);
    EXPECT_EQ(IdOf(bus, 0), "3c 2a");
    {
        std::ifstream file(strPath); // read while the bus is still open: lines must be there
        std::string strFirst, strSecond;
        EXPECT_TRUE(std::getline(file, strFirst) && std::getline(file, strSecond));
        EXPECT_EQ(strFirst + "|" + strSecond, "0 > 3c 00|0 < 3c 2a");
    }
    EXPECT_TRUE(second.Send({0x37, 0x00, 0x00, 0x0F, 0x00, 0x00}));
    pSecond->InjectFault(ESimFault::Fail, 1);
    EXPECT_FALSE(second.Send({0x37, 0xAB}));
    EXPECT_EQ(second.Receive(6), "fail") << "nothing was asked, so nothing comes";
    bus.Unplug(pSecond);
    EXPECT_FALSE(second.Send({0x36}));

    EXPECT_EQ(bus.TakeTrace(),
              (std::vector<std::string>{"0 > 3c 00", "0 < 3c 2a", "1 > 37 00 00 0f 00 00",
                                        "1 >! 37 ab", "1 <!", "1 >! 36"}));
    EXPECT_TRUE(bus.TakeTrace().empty());
}

TEST(SimBus, FaultsAndLatencyHitTheTransfersOfTheirBoard)
{
    CSimBus bus;
    auto pBoard = bus.Plug(SimBoardConfig().Id(9));
    CRawLink link(bus);

    // Fail: a write is not taken (the latch stays), a read loses its reply.
    pBoard->InjectFault(ESimFault::Fail, 1);
    EXPECT_FALSE(link.Send({0x37, 0x01, 0x02, 0x03, 0x04, 0x05}));
    EXPECT_EQ(pBoard->Pins().byLatch, (PortBytes{}));
    // Corrupt: the reply arrives with one byte inverted (the last one of a short reply).
    pBoard->InjectFault(ESimFault::Corrupt, 2);
    EXPECT_EQ(link.Exchange({0x3C, 0x00}, 2), "3c f6");
    // Timeout: the transfer fails only after its whole time-out; latency delays every one.
    pBoard->InjectFault(ESimFault::Timeout, 2);
    pBoard->SetLatency(5ms);
    EXPECT_TRUE(link.Send({0x3C, 0x00}));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link.Receive(2, 60), "fail");
    EXPECT_GE(std::chrono::steady_clock::now() - start, 65ms);
    pBoard->SetLatency(0ms);

    // Unplug: the transfer completes, then the board is gone.
    pBoard->InjectFault(ESimFault::Unplug, 1);
    EXPECT_TRUE(link.Send({0x3C, 0x00}));
    EXPECT_EQ(bus.Count(), 0u);
    EXPECT_EQ(link.Receive(2), "fail");
    EXPECT_EQ(pBoard->TransferCount(), 6u) << "transfers on a detached board never reach it";
}

TEST(SimBus, ABoardThatResetsStaysAwayForTheReattachDelay)
{
    CSimBus bus;
    bus.SetReattachDelay(50ms);
    std::mutex mutex;
    std::vector<bool> changes;
    bus.SetChangeListener(
        [&](bool bArrival)
        {
            std::lock_guard lock(mutex);
            changes.push_back(bArrival);
        });
    auto pBoard = bus.Plug(SimBoardConfig());
    CRawLink link(bus);
    EXPECT_TRUE(link.Send({0x32}));
    EXPECT_EQ(bus.Count(), 0u);
    ASSERT_TRUE(bus.WaitSettled(2s));
    EXPECT_EQ(bus.Count(), 1u);
    EXPECT_TRUE(pBoard->IsBootMode());
    EXPECT_FALSE(link.Send({0x08})) << "pipes of the old attachment stay dead";
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(changes, (std::vector<bool>{true, false, true}));
    }

    // Unplugging during the reset cancels the return.
    EXPECT_TRUE(CRawLink(bus).Send({0xFF}));
    bus.Unplug(pBoard);
    EXPECT_TRUE(bus.WaitSettled(2s));
    std::this_thread::sleep_for(80ms);
    EXPECT_EQ(bus.Count(), 0u);
}

TEST(SimBus, BoardListOfTheEnvironment)
{
    // Each board as "id serial version mode chip".
    const auto Parsed = [](const char* pszBoards, std::vector<std::string>& warnings)
    {
        std::vector<std::string> boards;
        for (const SimBoardConfig& config : ParseSimBoards(pszBoards, warnings))
        {
            char szBoard[64];
            std::snprintf(szBoard, sizeof szBoard, "%d %s %04x %s %x", config.byId,
                          config.strSerial.c_str(), config.wVersion,
                          config.bBootMode ? "boot" : "app", config.wChip);
            boards.push_back(szBoard);
        }
        return boards;
    };
    std::vector<std::string> warnings;
    EXPECT_EQ(Parsed(nullptr, warnings),
              (std::vector<std::string>{"1 SIM00001 0103 app 90", "2  0102 app 90"}));
    EXPECT_TRUE(Parsed("", warnings).empty());
    EXPECT_TRUE(Parsed(" ; ", warnings).empty());
    // The boot block holds eight characters of the serial number.
    EXPECT_EQ(
        Parsed("id=7,serial=AB12CD34XY,version=259,mode=boot,chip=0x55;;version=0x0200", warnings),
        (std::vector<std::string>{"7 AB12CD34 0103 boot 55", "1  0200 app 90"}));
    EXPECT_TRUE(warnings.empty());

    // Bad values are skipped, good ones still count.
    EXPECT_EQ(Parsed("id=256,colour=red,mode=sleep,version=x,id=3,serial", warnings),
              (std::vector<std::string>{"3  0103 app 90"}));
    EXPECT_EQ(warnings, (std::vector<std::string>{"ignoring 'id=256'", "ignoring 'colour=red'",
                                                  "ignoring 'mode=sleep'", "ignoring 'version=x'",
                                                  "ignoring 'serial'"}));
}

TEST(SimBoard, StartsAsAfterResetAndReadsPinsThroughDirectionAndInversion)
{
    CSimBus bus;
    auto pBoard = bus.Plug(SimBoardConfig());
    CRawLink link(bus);
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
    // A code the firmware does not know gets no reply; asking for less than the reply holds is
    // an overflow, not a reply.
    EXPECT_EQ(link.Exchange({0x55}, 64), "fail");
    EXPECT_EQ(link.Exchange({0x36}, 4), "fail");
}

TEST(SimBoard, FlashErasesWholeBlocksAndWritesOnlyClearBits)
{
    CSimBus bus;
    auto pBoard = bus.Plug(SimBoardConfig().Boot());
    CRawLink link(bus);
    const auto before = pBoard->ReadMemory(0x7C0, 0x80);

    // Erasing any address clears its whole 64-byte block, and only that block.
    EXPECT_EQ(link.Exchange({0x03, 0x01, 0xF5, 0x07, 0x00}, 64), "03 01 f5 07 00");
    EXPECT_EQ(pBoard->ReadMemory(0x7C0, 64), std::vector<std::uint8_t>(64, 0xFF));
    EXPECT_EQ(pBoard->ReadMemory(0x800, 64),
              std::vector<std::uint8_t>(before.begin() + 64, before.end()));

    // 16-byte write into the erased block, then over it again: flash can only clear bits.
    std::vector<std::uint8_t> request = {0x02, 0x10, 0xC0, 0x07, 0x00};
    for (std::uint8_t i = 0; i < 16; ++i)
        request.push_back(static_cast<std::uint8_t>(0x0F + i * 0x11));
    EXPECT_EQ(link.Exchange(request, 64), "02 10 c0 07 00");
    EXPECT_EQ(pBoard->ReadMemory(0x7C0, 16), std::vector(request.begin() + 5, request.end()));
    EXPECT_EQ(link.Exchange({0x02, 0x10, 0xC0, 0x07, 0x00, 0xF0}, 64), "02 10 c0 07 00");
    // A short block writes only the bytes that came, whatever the count byte says.
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
