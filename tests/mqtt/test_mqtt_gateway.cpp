// zorvane mqtt against a real broker on loopback: what a subscriber sees, what reaches the board
// (the simulated bus's trace), and what the gateway survives.
#include "tests/support/GatewayThread.h"
#include "tests/support/GoldenFile.h"
#include "tests/support/MqttBroker.h"
#include "tests/support/SimFixture.h"
#include "tests/zorvane/ToolProcess.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace std::chrono_literals;

namespace
{
const std::string BASE = "kelvard/t";
const std::string BOARD = BASE + "/AB12CD34/";

// Each test's board, unplugged at its end, a broker and the gateway on a thread.
class MqttGateway : public ::testing::Test
{
protected:
    ~MqttGateway() override { DefaultSim().Bus().Unplug(m_pBoard); }
    std::shared_ptr<CSimBoard> m_pBoard =
        DefaultSim().Plug(SimBoardConfig().Id(7).Serial("AB12CD34"));
    CMqttBroker m_broker;
    CGatewayThread m_gateway{m_broker.Port(), BASE};
};

std::string Golden(const std::string& strTopic)
{
    return GoldenSection(std::getenv("KELVARD_GOLDEN"), strTopic).at(0);
}

// The board's writes in the trace since it was last taken.
Lines Writes()
{
    Lines writes;
    for (const std::string& strLine : DefaultSim().Trace())
        if (strLine.rfind("0 > 37", 0) == 0 || strLine.rfind("0 > 39", 0) == 0)
            writes.push_back(strLine);
    return writes;
}
} // namespace

// Everything the gateway publishes retained of the board: status, 5 ports, 40 pins, 5 directions,
// and a switch or binary_sensor per pin.
bool Whole(const CMqttRecorder::Payloads& latest)
{
    int nStates = 0, nDiscovery = 0;
    for (const auto& [strTopic, strPayload] : latest)
    {
        nStates += strTopic.starts_with(BOARD) && !strPayload.empty();
        nDiscovery += strTopic.starts_with("homeassistant/") && !strPayload.empty();
    }
    return latest.count(BASE + "/status") && nStates == 1 + 5 + 40 + 5 && nDiscovery == 40;
}

TEST_F(MqttGateway, PublishesStatesAppliesCommandsAndRefusesBadOnes)
{
    CMqttRecorder recorder(m_broker.Port(), "#");
    ASSERT_TRUE(recorder.WaitUntil(Whole));
    auto latest = recorder.Latest();
    EXPECT_EQ(latest[BASE + "/status"], "online");
    EXPECT_EQ(latest[BOARD + "status"], "online");
    EXPECT_EQ(latest[BOARD + "B/direction"], "255");
    EXPECT_EQ(latest[BOARD + "E7"], "0");
    const std::string strB0 = "homeassistant/binary_sensor/kelvard_AB12CD34/B0/config";
    EXPECT_EQ(latest[strB0], Golden(strB0));

    // B0 to B7 become outputs: discovery moves B3 to a switch; B3 set reaches the board as one
    // write and is confirmed.
    recorder.Publish(BOARD + "B/direction/set", "0");
    ASSERT_TRUE(recorder.WaitFor(BOARD + "B/direction", "0"));
    const std::string strB3 = "homeassistant/switch/kelvard_AB12CD34/B3/config";
    ASSERT_TRUE(recorder.WaitFor(strB3, Golden(strB3)));
    EXPECT_TRUE(recorder.WaitFor("homeassistant/binary_sensor/kelvard_AB12CD34/B3/config", ""));
    Writes();
    recorder.Publish(BOARD + "B3/set", "ON");
    ASSERT_TRUE(recorder.WaitFor(BOARD + "B3", "1"));
    EXPECT_TRUE(recorder.WaitFor(BOARD + "B", "8"));
    EXPECT_EQ(Writes(), (Lines{"0 > 37 00 08 00 00 00"}));

    // An input that changes is published by the next poll.
    m_pBoard->SetInputs(PORT_A, 0x81);
    EXPECT_TRUE(recorder.WaitFor(BOARD + "A7", "1"));
    EXPECT_TRUE(recorder.WaitFor(BOARD + "A", "129"));

    // Refused with a reason on the error topic, and nothing written.
    for (const auto& [strTopic, strPayload] : std::vector<std::pair<std::string, std::string>>{
             {BOARD + "A3/set", "1"}, {BOARD + "B/set", "0x100"}, {BOARD + "B2/set", "maybe"},
             {BOARD + "F/set", "1"}, {BASE + "/id99/A/set", "1"}})
        recorder.Publish(strTopic, strPayload);
    EXPECT_TRUE(recorder.WaitFor(BASE + "/id99/error", BASE + "/id99/A/set: no such board"));
    for (const char* pszError :
         {"A3/set: A3 is an input", "B/set: invalid value '0x100' (0 to 255, decimal or 0x hex)",
          "B2/set: 'maybe' is no pin level (0, 1, ON or OFF)", "F/set: no port or pin F on this board"})
        EXPECT_TRUE(recorder.WaitFor(BOARD + "error", BOARD + pszError)) << pszError;
    const auto messages = recorder.Messages();
    EXPECT_TRUE(std::none_of(messages.begin(), messages.end(), [](const auto& message) {
        return message.strTopic == BOARD + "error" && message.bRetained;
    }));
    EXPECT_EQ(Writes(), Lines{});

    // Unplugged and plugged in again elsewhere: the status follows, the board is whole again.
    DefaultSim().Bus().Unplug(m_pBoard);
    EXPECT_TRUE(recorder.WaitFor(BOARD + "status", "offline"));
    recorder.Clear();
    m_pBoard = DefaultSim().Plug(SimBoardConfig().Id(7).Serial("AB12CD34"));
    EXPECT_TRUE(recorder.WaitFor(BOARD + "status", "online"));
}

TEST_F(MqttGateway, ABrokerWithoutPersistenceIsWholeAgainAfterARestart)
{
    ASSERT_TRUE(CMqttRecorder(m_broker.Port(), "#").WaitFor(BOARD + "status", "online"));
    m_broker.Stop();
    ASSERT_TRUE(m_broker.Start());
    CMqttRecorder recorder(m_broker.Port(), "#");
    ASSERT_TRUE(recorder.WaitUntil(Whole, 40s)); // the gateway's backoff is up to 30 s
    const auto latest = recorder.Latest();
    EXPECT_EQ(latest.at(BASE + "/status"), "online");
    EXPECT_EQ(latest.at(BOARD + "status"), "online");
    recorder.Publish(BOARD + "C/direction/set", "0");
    recorder.Publish(BOARD + "C/set", "0x5a");
    EXPECT_TRUE(recorder.WaitFor(BOARD + "C", "90"));
}

TEST(MqttGatewayProcess, KilledItLeavesOfflineAndItRefusesAPasswordOthersCanRead)
{
    CMqttBroker broker;
    CTempDir dir;
    const std::string strPassword = dir.Write("secret\n", "password");
    chmod(strPassword.c_str(), 0644);
    const std::string strBroker = "127.0.0.1:" + std::to_string(broker.Port());
    EXPECT_EQ(CToolProcess({"--simulate", "mqtt", "--broker", strBroker, "--username", "u",
                            "--password-file", strPassword})
                  .Finish(),
              (ToolResult{1, "", "zorvane: the password file " + strPassword +
                                     " may be read by others: make it chmod 600 (or 640)\n"}));

    CMqttRecorder recorder(broker.Port(), BASE + "/status");
    setenv("KELVARD_SIM_BOARDS", "id=7", 1);
    CToolProcess gateway({"--simulate", "mqtt", "--broker", strBroker, "--topic", BASE});
    ASSERT_TRUE(recorder.WaitFor(BASE + "/status", "online"));
    gateway.Signal(SIGKILL);
    EXPECT_TRUE(recorder.WaitFor(BASE + "/status", "offline", 60s)); // 1.5 keepalives at most
}
