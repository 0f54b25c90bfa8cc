// The bridge of 'zorvane serve' in this process, before a board on a simulated bus the test holds,
// with a real loopback client; the bus trace shows the USB request every frame became.
#include "tests/support/LoopbackClient.h"
#include "tests/support/SimFixture.h"
#include "zorvane/cli/NetBridge.h"

#include "protocol/net/Frames.h"

#include <gtest/gtest.h>

#include <thread>

namespace
{
// A 12-byte frame as hex: code, length byte, payload from byte 2, zeros.
std::string Frame(std::uint8_t byCode, std::initializer_list<std::uint8_t> payload = {})
{
    NetFrame frame = BuildFrame(byCode);
    std::copy(payload.begin(), payload.end(), frame.begin() + 2);
    return HexText(frame.data(), frame.size());
}

// The bridge on a thread of its own before the first board on the bus, and a client of it.
struct SServedBoard
{
    explicit SServedBoard(CSimFixture& sim, std::vector<SNetRange> vecIn = {})
        : context(*sim.Context()), vecAllow(std::move(vecIn))
    {
    }
    ~SServedBoard() { Stop(); }
    // Stops the bridge, which closes the client's connection; what it logged.
    Lines Stop()
    {
        if (thread.joinable() && write(hStop[1], "x", 1) == 1)
        {
            thread.join();
            close(hStop[0]);
            close(hStop[1]);
        }
        return log;
    }

    const CDriverContext& context;
    std::vector<SNetRange> vecAllow;
    Lines log; // the bridge's thread writes it until the join
    CNetBridge bridge{context, ScanBoards(context).at(0),
                      [this](const std::string& strLine) { log.push_back(strLine); }};
    int hStop[2] = {-1, -1};
    const bool bStarted = pipe(hStop) == 0 && bridge.Start({0x7F000001, 0, vecAllow});
    std::thread thread{[this]
                       {
                           if (bStarted)
                               bridge.Run(hStop[0]);
                       }};
    CLoopbackClient client{bridge.Port()};
};
} // namespace

TEST(NetBridgeTest, FramesReachTheBoardWhateverTheirCutsAndGarbageReachesNothing)
{
    CSimFixture sim;
    sim.Plug(SimBoardConfig().Id(7));
    SServedBoard served(sim);
    ASSERT_TRUE(served.bStarted) << served.bridge.Error();
    sim.Trace();
    // Two frames in one segment (A and B become outputs; a write-ports frame shorter than its
    // request is zero-filled), then a read-ports frame in pieces of 1, 5 and 6 bytes.
    for (const std::string& strPiece :
         {Frame(0x39, {0, 0, 0, 0, 0xFF, 0, 0xFF, 0, 0xFF}) + " 37 04 5a a5", std::string("36"),
          std::string("0c 00 00 00 00"), std::string("00 00 00 00 00 00")})
    {
        EXPECT_TRUE(served.client.Send(strPiece));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(served.client.Receive(12), Frame(0x36, {0x5A, 0xA5}));
    // Length bytes 0 and 1, an unknown code and enter-bootloader, then read-configuration.
    EXPECT_TRUE(served.client.Send("36 00 36 01 " + Frame(0x3C) + " " + Frame(0x32) + " " +
                                   Frame(0x3C) + " " + Frame(0x38)));
    EXPECT_EQ(served.client.Receive(12), Frame(0x38, {0, 0, 0, 0, 0xFF, 0, 0xFF, 0, 0xFF}));
    EXPECT_EQ(sim.Trace(), (Lines{"0 > 39 00 00 00 00 ff 00 ff 00 ff 00", "0 > 37 5a a5 00 00 00",
                                  "0 > 36 00 00 00 00 00", "0 < 36 5a a5 00 00 00",
                                  "0 > 38 00 00 00 00 00 00 00 00 00 00",
                                  "0 < 38 00 00 00 00 ff 00 ff 00 ff 00"}));
    const std::string strPeer = served.client.Name();
    EXPECT_EQ(served.Stop(), (Lines{strPeer + " connected",
                                    strPeer + ": frames with code 0x3c are ignored (not served)",
                                    strPeer + ": frames with code 0x32 are ignored (not served)",
                                    strPeer + " closed: the bridge stops"}));
}

// A range lets in the peers whose first PREFIX bits are its address's, and no other: the
// addresses just inside and just outside each end. No range: every peer.
TEST(NetBridgeTest, APeerOutsideTheAllowedRangesIsClosedAtOnce)
{
    const SBridgeOptions options = SBridgeOptions::Parse("", {"10.0.0.0/24", "192.168.1.7"});
    for (const std::uint32_t nPeer : {0x0A000000u, 0x0A0000FFu, 0xC0A80107u})
        EXPECT_TRUE(options.Allows(nPeer)) << std::hex << nPeer;
    for (const std::uint32_t nPeer : {0x09FFFFFFu, 0x0A000100u, 0xC0A80106u, 0xC0A80108u})
        EXPECT_FALSE(options.Allows(nPeer)) << std::hex << nPeer;
    EXPECT_TRUE(SBridgeOptions::Parse("", {}).Allows(0xC0A80106u));
    EXPECT_TRUE(SBridgeOptions::Parse("", {"0.0.0.0/0"}).Allows(0xFFFFFFFFu));

    CSimFixture sim;
    sim.Plug(SimBoardConfig().Id(7));
    SServedBoard served(sim, {{0x0A000000, 8}}); // 10.0.0.0/8
    EXPECT_EQ(served.client.Receive(1), "closed");
    EXPECT_EQ(served.Stop(), Lines{served.client.Name() + " refused: outside --allow"});
}

TEST(NetBridgeTest, AnUnpluggedBoardAnswersNothingAndIsOpenedAgainAtItsPlaceOrByItsSerial)
{
    for (const bool bSameSlot : {true, false})
    {
        CSimFixture sim;
        const auto pBoard = sim.Plug(SimBoardConfig().Id(7).Serial("AB12CD34"));
        SServedBoard served(sim);
        sim.Bus().Unplug(pBoard);
        EXPECT_TRUE(served.client.Send(Frame(0x36) + " " + Frame(0x36) + " " + Frame(0x36)));
        EXPECT_EQ(served.client.Receive(1, 300), "") << "no reply while it is away";
        bSameSlot ? sim.Bus().Replug(pBoard)
                  : void(sim.Plug(SimBoardConfig().Id(7).Serial("AB12CD34"))); // elsewhere
        std::string strReply;
        for (int i = 0; i < 200 && strReply.empty() && served.client.Send(Frame(0x36)); ++i)
            strReply = served.client.Receive(12, 50);
        EXPECT_EQ(strReply, Frame(0x36));
        const Lines log = served.Stop();
        ASSERT_EQ(log.size(), 4u) << "said once, not per frame";
        EXPECT_EQ(log[1], "board 7 (sim:0) does not answer (unplugged?): frames get no reply "
                          "until it is back");
        const std::string strBack =
            bSameSlot ? "board 7 (sim:0) is back (" : "board 7 (sim:1) is back (";
        EXPECT_EQ(log[2].rfind(strBack, 0), 0u) << log[2];
    }
}

// Another board plugged in where the served one sat is not served in its place.
TEST(NetBridgeTest, AnotherBoardAtItsPlaceIsNotTakenForIt)
{
    CSimFixture sim;
    const auto pBoard = sim.Plug(SimBoardConfig().Id(7).Serial("AB12CD34"));
    SServedBoard served(sim);
    sim.Bus().Unplug(pBoard);
    EXPECT_TRUE(served.client.Send(Frame(0x36)));
    EXPECT_EQ(served.client.Receive(1, 300), "") << "no reply while it is away";
    sim.Bus().PlugInPlaceOf(pBoard, SimBoardConfig().Id(7).Serial("OTHER777"));
    EXPECT_TRUE(served.client.Send(Frame(0x36)));
    EXPECT_EQ(served.client.Receive(1, 1500), "") << "not the board that was served";
    const Lines log = served.Stop();
    ASSERT_EQ(log.size(), 3u) << testing::PrintToString(log);
    EXPECT_EQ(log[1].rfind("board 7 (sim:0) does not answer", 0), 0u);
}
