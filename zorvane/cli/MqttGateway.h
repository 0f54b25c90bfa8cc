#pragma once
// The boards on an MQTT broker (zorvane mqtt): one worker thread polls the boards every
// interval and publishes what changed, applies the commands that arrive in their order, and
// follows boards that come and go; the client's own thread keeps the connection, and every
// (re)connect subscribes again and has every retained message published again.
//
// Topics under BASE (kelvard/HOSTNAME): status; BOARD/status; BOARD/A to E and BOARD/A0 to E7
// (levels), BOARD/A/direction, BOARD/analog/E0 to E3; commands BOARD/A/set, BOARD/A3/set,
// BOARD/A/direction/set; rejected commands on BOARD/error.
#include "zorvane/cli/MqttBoard.h"
#include "zorvane/cli/MqttClient.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct SMqttOptions
{
    SMqttConnection conBroker;
    std::string strBase;                           // kelvard/HOSTNAME
    std::string strDiscoveryPrefix = "homeassistant"; // "" : no discovery
    std::chrono::milliseconds tInterval{100};
    std::vector<std::string> vecTargets; // libkelvard names; none: every USB board
};

class CMqttGateway
{
public:
    explicit CMqttGateway(SMqttOptions options);
    ~CMqttGateway();
    CMqttGateway(const CMqttGateway&) = delete;
    CMqttGateway& operator=(const CMqttGateway&) = delete;

    // Serves until hStop is readable, then publishes "offline" and disconnects. False, with
    // Error() saying why, when it could not start; a broker that is away is no reason.
    bool Run(int hStop);
    const std::string& Error() const { return m_strError; }

private:
    struct SCommand
    {
        std::string strBoard;
        std::string strCommand; // relative to the board: "A3/set"
        std::string strPayload;
    };

    // On the client's thread.
    void OnConnect();
    void OnMessage(const std::string& strTopic, const std::string& strPayload);
    void Wake();

    // On the worker thread.
    void FindBoards();
    // A board found by the scan: in the place of the one of its name that left, or added.
    void OpenBoard(std::unique_ptr<CMqttBoard> pBoard);
    // Its states, status and discovery, all of them.
    void Online(CMqttBoard& board);
    void PollBoards(bool bConfig);
    void Republish();
    void TakeCommands();
    void Poll(CMqttBoard& board, bool bAll, bool bConfig);
    void Publish(const CMqttBoard& board, const MqttMessages& messages);
    void PublishStatus(const CMqttBoard& board);
    void PublishDiscovery(const CMqttBoard& board);
    CMqttBoard* FindBoard(const std::string& strName);

    SMqttOptions m_optGateway;
    CMqttClient m_cliBroker;
    std::string m_strError;
    std::vector<std::unique_ptr<CMqttBoard>> m_vecBoards;
    std::uint64_t m_nPolls = 0;
    int m_hWake = -1; // an eventfd: commands wait, or the connection is new
    std::atomic<bool> m_bRepublish{false};
    std::mutex m_mtxCommands;
    std::deque<SCommand> m_dqCommands;
};

// "kelvard/" and the host's name made safe for a topic.
std::string DefaultMqttBase();
