#pragma once
// One board behind the MQTT gateway, through libkelvard: what it holds as last read (ports,
// directions, analog inputs), the messages that tell it (relative topics such as "A", "A3",
// "A/direction", "analog/E0"), and the commands that change it. Used by the gateway's one worker
// thread only.
#include "zorvane/cli/OpenBoard.h"

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// A message to publish, its topic relative to the board's (or the gateway's) base.
struct SMqttMessage
{
    std::string strTopic;
    std::string strPayload;
    bool bRetain = true;
};
using MqttMessages = std::vector<SMqttMessage>;

class CMqttBoard
{
public:
    // strOpen: the libkelvard name that opens it ("path=1-2", "COM3", "serial=AB12CD34").
    explicit CMqttBoard(std::string strOpen);

    // Opens the board; KELVARD_OK once open. The topic name is known from then on.
    int Open();
    // Forgets the open board (it left); its states are published again when it is back.
    void Close();
    bool IsOpen() const { return m_pBoard != nullptr; }
    // The board's part of the topics: its serial number when that is a valid one, else "id<N>",
    // else its libkelvard name made safe for a topic (COM3).
    const std::string& Name() const { return m_strName; }
    const std::string& Location() const { return m_strLocation; }
    const std::string& Serial() const { return m_strSerial; }
    const std::string& Version() const { return m_strVersion; }
    bool IsCom() const { return m_eKind == KELVARD_KIND_COM; }
    int PortCount() const { return m_nPorts; }
    bool IsInput(int nPort, int nBit) const { return (m_byDir[nPort] >> nBit) & 1; }
    int AnalogCount() const { return m_nAnalogCount; }

    // Reads what changes: the ports every time, the configuration when bConfig (not on a COM
    // port board, which cannot tell it), the enabled analog inputs. Adds a message for each
    // value that differs from the last one published (for every value when bAll), and for the
    // ports in nForcePorts (bit n: port n) whether they differ or not: a command's confirmation. bDirections turns true when a direction
    // or the analog count changed. KELVARD_OK, or the result of the read that failed.
    int Poll(bool bAll, bool bConfig, unsigned nForcePorts, MqttMessages& messages,
             bool& bDirections);

    // A command on a relative topic ("A/set", "A3/set", "A/direction/set"), applied at once;
    // "" when done, else why not (nothing written then).
    std::string Apply(const std::string& strCommand, const std::string& strPayload,
                      MqttMessages& messages, bool& bDirections);

private:
    void PublishPort(int nPort, std::uint8_t byValue, std::uint8_t byChanged, MqttMessages& messages) const;
    std::string ApplyPort(int nPort, const std::string& strRest, const std::string& strPayload,
                          MqttMessages& messages, bool& bDirections);
    std::string Failure(int nResult);

    std::string m_strOpen;
    std::unique_ptr<kelvard_board, void (*)(kelvard_board*)> m_pBoard{nullptr, kelvard_board_close};
    kelvard_kind m_eKind = KELVARD_KIND_USB;
    int m_nPorts = KELVARD_PORTS;
    std::string m_strName;
    std::string m_strLocation;
    std::string m_strSerial;
    std::string m_strVersion;
    bool m_bKnown = false; // something was published since it opened
    std::array<std::uint8_t, KELVARD_PORTS> m_byPorts{};
    // Directions as the board holds them; a COM-port board cannot tell, so all inputs (as it
    // starts) until a direction command sets them.
    std::array<std::uint8_t, KELVARD_PORTS> m_byDir{0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    int m_nAnalogCount = 0;
    std::array<std::uint16_t, KELVARD_ANALOG_CHANNELS> m_wAnalog{};
};
