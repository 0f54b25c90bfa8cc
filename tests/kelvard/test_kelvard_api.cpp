// libkelvard through its C functions only. USB boards sit on the test's own simulated bus, made
// the process's default context before the first call; COM-port boards on pseudo-terminals;
// network boards on loopback.
#include "kelvard.h"

#include "sim/SimNetBoard.h"
#include "sim/SimSerialBoard.h"
#include "tests/support/GoldenFile.h"
#include "tests/support/HexText.h"
#include "tests/support/SimFixture.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <poll.h>
#include <thread>

namespace
{

Lines Golden(const std::string& strName)
{
    return GoldenSection(std::getenv("KELVARD_GOLDEN"), strName);
}

// An open board that closes itself.
struct SOpen
{
    kelvard_board* pBoard = nullptr;
    int nResult = KELVARD_ERR_ARGUMENT;
    explicit SOpen(const std::string& strName) { nResult = kelvard_board_open(strName.c_str(), &pBoard); }
    ~SOpen() { kelvard_board_close(pBoard); }
    SOpen(const SOpen&) = delete;
    SOpen& operator=(const SOpen&) = delete;
};

// Each test's USB boards leave the bus at its end.
class KelvardUsb : public ::testing::Test
{
protected:
    ~KelvardUsb() override
    {
        for (const auto& pBoard : DefaultSim().Bus().Boards())
            DefaultSim().Bus().Unplug(pBoard);
    }
};

// The board holds directions 0x0F, 0x00, 0xFF, 0xF0, 0xFF, polarity 0x01, 0, 0, 0x80 and two
// analog inputs before each scenario.
const kelvard_config HELD{{0x0F, 0x00, 0xFF, 0xF0, 0xFF}, {0x01, 0, 0, 0x80}, 2};
} // namespace

// What each call sends and receives, compared byte for byte with the golden file; a failure
// changes nothing, a call refused sends nothing, a board gone stays gone.
TEST_F(KelvardUsb, CallsMoveTheGoldenBytes)
{
    auto pSimBoard = DefaultSim().Plug(SimBoardConfig().Id(7).Serial("AB12CD34"));
    pSimBoard->SetInputs(PORT_A, 0xA5);
    pSimBoard->SetAnalog(0, 967);
    pSimBoard->SetAnalog(1, 744);
    const std::pair<const char*, std::function<void(kelvard_board*)>> scenarios[] = {
        {"read ports", [](kelvard_board* p) {
             std::uint8_t byValues[5] = {};
             ASSERT_EQ(kelvard_board_read_ports(p, byValues, 5), KELVARD_OK);
             EXPECT_EQ(byValues[0], 0x04); // inputs 0-3 of 0xA5, pin 0 inverted; outputs low
         }},
        {"write port, then bit", [](kelvard_board* p) {
             EXPECT_EQ(kelvard_board_write_port(p, KELVARD_PORT_B, 0x5A), KELVARD_OK);
             EXPECT_EQ(kelvard_board_write_bit(p, KELVARD_PORT_B, 0, 1), KELVARD_OK);
         }},
        {"read config", [](kelvard_board* p) {
             kelvard_config config{};
             ASSERT_EQ(kelvard_board_read_config(p, &config), KELVARD_OK);
             EXPECT_EQ(std::memcmp(&config, &HELD, sizeof config), 0);
         }},
        {"change polarity of A", [](kelvard_board* p) {
             const kelvard_config change{{}, {0x3C}, 0};
             EXPECT_EQ(kelvard_board_change_config(p, &change, KELVARD_CONFIG_POLARITY(0)),
                       KELVARD_OK);
         }},
        {"change analog count", [](kelvard_board* p) {
             const kelvard_config change{{}, {}, 4};
             EXPECT_EQ(kelvard_board_change_config(p, &change, KELVARD_CONFIG_ANALOG_COUNT),
                       KELVARD_OK);
         }},
        {"read analog", [](kelvard_board* p) {
             std::uint16_t wReadings[4] = {};
             unsigned nCount = 9;
             ASSERT_EQ(kelvard_board_read_analog(p, wReadings, &nCount), KELVARD_OK);
             EXPECT_EQ(std::vector(wReadings, wReadings + std::min(nCount, 4u)),
                       (std::vector<std::uint16_t>{967, 744}));
         }},
        {"add, write and remove a field", [](kelvard_board* p) {
             EXPECT_EQ(kelvard_board_add_field(p, "f", 6, 4, 0), KELVARD_OK);
             EXPECT_EQ(kelvard_board_add_field(p, "f", 20, 1, 0), KELVARD_ERR_EXISTS);
             EXPECT_EQ(kelvard_board_add_field(p, "g", 9, 2, 0), KELVARD_ERR_OVERLAP);
             EXPECT_EQ(kelvard_board_write_field(p, "f", 0xFF), KELVARD_OK);
             EXPECT_EQ(kelvard_board_remove_field(p, "f"), KELVARD_OK);
             EXPECT_EQ(kelvard_board_remove_field(p, "f"), KELVARD_ERR_NOT_FOUND);
         }},
        {"failed read before a change", [&](kelvard_board* p) {
             pSimBoard->InjectFault(ESimFault::Fail, 2); // nothing is written
             const kelvard_config change{};
             EXPECT_EQ(kelvard_board_change_config(p, &change, KELVARD_CONFIG_ALL_DIRECTIONS),
                       KELVARD_ERR_IO);
             EXPECT_EQ(pSimBoard->Pins().byDir, (PortBytes{0x0F, 0x00, 0xFF, 0xF0, 0xFF}));
         }},
        {"refused, then gone", [&](kelvard_board* p) { // the last: the board leaves
             std::uint8_t byValues[5] = {1, 2, 3, 4, 5};
             const kelvard_config bad{{}, {}, 5};
             EXPECT_EQ(kelvard_board_change_config(p, &bad, KELVARD_CONFIG_ANALOG_COUNT),
                       KELVARD_ERR_ARGUMENT);
             EXPECT_EQ(kelvard_board_change_config(p, &bad, 1u << 10), KELVARD_ERR_ARGUMENT);
             EXPECT_EQ(kelvard_board_read_ports(p, byValues, 6), KELVARD_ERR_ARGUMENT);
             EXPECT_EQ(kelvard_board_write_bit(p, KELVARD_PORT_A, 8, 1), KELVARD_ERR_ARGUMENT);
             EXPECT_EQ(kelvard_board_add_field(p, "f", 20, 8, 0), KELVARD_ERR_ARGUMENT);
             DefaultSim().Bus().Unplug(pSimBoard);
             EXPECT_EQ(kelvard_board_read_ports(p, byValues, 5), KELVARD_ERR_GONE);
             EXPECT_EQ(byValues[0], 1);
             EXPECT_EQ(kelvard_board_write_port(p, KELVARD_PORT_A, 1), KELVARD_ERR_GONE);
         }},
    };
    for (const auto& [pszName, fnRun] : scenarios)
    {
        SCOPED_TRACE(pszName);
        SOpen board("serial=AB12CD34");
        ASSERT_EQ(board.nResult, KELVARD_OK);
        ASSERT_EQ(kelvard_board_change_config(board.pBoard, &HELD, 0x3FF), KELVARD_OK);
        DefaultSim().Trace();
        fnRun(board.pBoard);
        EXPECT_EQ(DefaultSim().Trace(), Golden(pszName));
    }
}

TEST_F(KelvardUsb, OpensByEveryNameAndListsWithoutAskingOpenBoards)
{
    DefaultSim().Plug(SimBoardConfig().Id(7).Serial("AB12CD34").Version(0x0102));
    DefaultSim().Plug(SimBoardConfig().Id(9));
    DefaultSim().Plug(SimBoardConfig().Id(9));
    DefaultSim().Plug(SimBoardConfig().Serial("BOOT0001").Boot());
    const std::pair<const char*, int> cases[] = {
        {"7", KELVARD_OK},           {"0x07", KELVARD_OK},          {"path=sim:1", KELVARD_OK},
        {"9", KELVARD_ERR_AMBIGUOUS}, {"8", KELVARD_ERR_NOT_FOUND}, {"serial=BOOT0001", KELVARD_ERR_BOOTLOADER},
        {"COM0", KELVARD_ERR_ARGUMENT}, {"tcp:", KELVARD_ERR_ARGUMENT}, {"tcp:[::1", KELVARD_ERR_ARGUMENT},
        {"tcp:127.0.0.1:70000", KELVARD_ERR_ARGUMENT}, {"", KELVARD_ERR_ARGUMENT},
    };
    for (const auto& [pszName, nResult] : cases)
        EXPECT_EQ(SOpen(pszName).nResult, nResult) << pszName;

    SOpen board("serial=AB12CD34");
    ASSERT_EQ(board.nResult, KELVARD_OK);
    const kelvard_identity* pIdentity = nullptr;
    ASSERT_EQ(kelvard_board_identity(board.pBoard, &pIdentity), KELVARD_OK);
    EXPECT_EQ(kelvard_identity_device_id(pIdentity), 7);
    EXPECT_EQ(std::string(kelvard_identity_location(pIdentity)).rfind("sim:", 0), 0u);
    EXPECT_EQ(kelvard_identity_version(pIdentity), 0x0102u);
    EXPECT_EQ(kelvard_board_kind(board.pBoard), KELVARD_KIND_USB);
    EXPECT_EQ(kelvard_board_port_count(board.pBoard), 5u);

    kelvard_list* pList = nullptr;
    DefaultSim().Trace();
    ASSERT_EQ(kelvard_list_boards(&pList), KELVARD_OK);
    ASSERT_EQ(kelvard_list_count(pList), 4u);
    for (const std::string& strLine : DefaultSim().Trace())
        EXPECT_NE(strLine.substr(0, 2), "0 ") << "the open board was asked: " << strLine;
    EXPECT_STREQ(kelvard_identity_serial(kelvard_list_get(pList, 0)), "AB12CD34");
    EXPECT_EQ(kelvard_identity_mode(kelvard_list_get(pList, 3)), KELVARD_MODE_BOOTLOADER);
    EXPECT_EQ(kelvard_identity_device_id(kelvard_list_get(pList, 3)), -1);
    EXPECT_EQ(kelvard_list_get(pList, 4), nullptr);
    kelvard_list_free(pList);
}

TEST_F(KelvardUsb, WatchQueuesBehindItsFdOrCalls)
{
    kelvard_watch* pWatch = nullptr;
    ASSERT_EQ(kelvard_watch_new(&pWatch), KELVARD_OK);
    kelvard_event eEvent{};
    EXPECT_EQ(kelvard_watch_read(pWatch, &eEvent), KELVARD_ERR_AGAIN);
    auto pSimBoard = DefaultSim().Plug(SimBoardConfig().Id(3));
    pollfd fd{kelvard_watch_fd(pWatch), POLLIN, 0};
    ASSERT_EQ(poll(&fd, 1, 5000), 1);
    ASSERT_EQ(kelvard_watch_read(pWatch, &eEvent), KELVARD_OK);
    EXPECT_EQ(eEvent, KELVARD_EVENT_ARRIVAL);
    EXPECT_EQ(poll(&fd, 1, 0), 0);

    std::promise<kelvard_event> called;
    auto fnCall = [](kelvard_event e, void* pUser) {
        static_cast<std::promise<kelvard_event>*>(pUser)->set_value(e);
    };
    ASSERT_EQ(kelvard_watch_set_callback(pWatch, fnCall, &called), KELVARD_OK);
    DefaultSim().Bus().Unplug(pSimBoard);
    auto future = called.get_future();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(future.get(), KELVARD_EVENT_REMOVAL);
    EXPECT_EQ(kelvard_watch_set_callback(pWatch, nullptr, nullptr), KELVARD_OK);
    kelvard_watch_free(pWatch);

    EXPECT_EQ(kelvard_use_backend("sim"), KELVARD_ERR_BUSY);
    EXPECT_EQ(kelvard_use_backend("usb"), KELVARD_ERR_ARGUMENT);
}

// What a COM-port board and a network board cannot do is refused with nothing sent; what they can
// do reaches them as their protocols carry it.
TEST(KelvardKinds, RefuseWhatTheirProtocolCannotCarry)
{
    CTempDir dir;
    CSimSerialBoard serial;
    ASSERT_TRUE(dir.ComLink(3, serial.SlavePath()));
    setenv("KELVARD_COM_PATTERN", dir.ComPattern().c_str(), 1);
    CSimNetBoard net("127.0.0.1", 0);
    ASSERT_TRUE(net.IsListening()) << net.Error();
    SOpen com("COM3");
    SOpen tcp("tcp:127.0.0.1:" + std::to_string(net.Port()));
    ASSERT_EQ(com.nResult, KELVARD_OK);
    ASSERT_EQ(tcp.nResult, KELVARD_OK);
    EXPECT_EQ(SOpen("COM4").nResult, KELVARD_ERR_NOT_FOUND);

    std::uint8_t byValues[5] = {};
    std::uint16_t wReadings[4] = {};
    unsigned nCount = 0;
    kelvard_config config{};
    const kelvard_identity* pIdentity = nullptr;
    const kelvard_config change{{0x00, 0xFF, 0x0F, 0xF0, 0xFF}, {0x11}, 3};
    const std::tuple<const char*, std::function<int(kelvard_board*)>, int, int> cases[] = {
        {"read A-C", [&](auto* p) { return kelvard_board_read_ports(p, byValues, 3); }, KELVARD_OK, KELVARD_OK},
        {"read A-D", [&](auto* p) { return kelvard_board_read_ports(p, byValues, 4); }, KELVARD_ERR_NOT_SUPPORTED, KELVARD_OK},
        {"write D", [&](auto* p) { return kelvard_board_write_port(p, KELVARD_PORT_D, 1); }, KELVARD_ERR_NOT_SUPPORTED, KELVARD_OK},
        {"write bit", [&](auto* p) { return kelvard_board_write_bit(p, KELVARD_PORT_C, 7, 1); }, KELVARD_OK, KELVARD_OK},
        {"read config", [&](auto* p) { return kelvard_board_read_config(p, &config); }, KELVARD_ERR_NOT_SUPPORTED, KELVARD_OK},
        {"directions A", [&](auto* p) { return kelvard_board_change_config(p, &change, KELVARD_CONFIG_DIRECTION(0)); }, KELVARD_ERR_NOT_SUPPORTED, KELVARD_OK},
        {"directions A-C", [&](auto* p) { return kelvard_board_change_config(p, &change, 0x7); }, KELVARD_OK, KELVARD_OK},
        {"polarity, analog count", [&](auto* p) { return kelvard_board_change_config(p, &change, 0x221); }, KELVARD_ERR_NOT_SUPPORTED, KELVARD_OK},
        {"read analog", [&](auto* p) { return kelvard_board_read_analog(p, wReadings, &nCount); }, KELVARD_ERR_NOT_SUPPORTED, KELVARD_ERR_NOT_SUPPORTED},
        {"identity", [&](auto* p) { return kelvard_board_identity(p, &pIdentity); }, KELVARD_ERR_NOT_SUPPORTED, KELVARD_ERR_NOT_SUPPORTED},
        {"add field", [&](auto* p) { return kelvard_board_add_field(p, "f", 0, 2, 0); }, KELVARD_ERR_NOT_SUPPORTED, KELVARD_ERR_NOT_SUPPORTED},
    };
    for (const auto& [pszCall, fnCall, nCom, nTcp] : cases)
    {
        EXPECT_EQ(fnCall(com.pBoard), nCom) << "COM: " << pszCall;
        EXPECT_EQ(fnCall(tcp.pBoard), nTcp) << "tcp: " << pszCall;
    }
    EXPECT_EQ(kelvard_board_port_count(com.pBoard), 3u);
    EXPECT_EQ(kelvard_board_kind(tcp.pBoard), KELVARD_KIND_TCP);

    Lines frames;
    for (const auto& frame : net.Frames())
        frames.push_back(HexText(frame.data(), frame.size()));
    EXPECT_EQ(frames, Golden("network board frames"));
    // A COM-port board's lines are not answered: they arrive when they arrive.
    const Lines expected = Golden("COM-port board lines");
    for (int nWait = 0; nWait < 200 && serial.Lines().size() < expected.size(); ++nWait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    Lines lines = serial.Lines();
    for (std::string& strLine : lines)
        strLine.pop_back();
    EXPECT_EQ(lines, expected);
}
