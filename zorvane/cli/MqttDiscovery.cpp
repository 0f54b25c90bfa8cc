#include "zorvane/cli/MqttDiscovery.h"

#include "zorvane/cli/JsonLine.h"
#include "zorvane/cli/PortText.h"

namespace
{
struct SEntity
{
    const char* pszComponent; // switch, binary_sensor, sensor
    std::string strObject;    // A3, analog_E0
    std::string strState;     // the state topic, relative to the board
    bool bCommand;            // a switch: commands on <state>/set
};

std::string ConfigTopic(const std::string& strPrefix, const char* pszComponent,
                        const std::string& strNode, const std::string& strObject)
{
    return strPrefix + "/" + pszComponent + "/" + strNode + "/" + strObject + "/config";
}
} // namespace

MqttMessages DiscoveryMessages(const CMqttBoard& board, const std::string& strBase,
                               const std::string& strPrefix)
{
    const std::string strNode = "kelvard_" + board.Name();
    const std::string strBoard = strBase + "/" + board.Name();
    CJsonLine device;
    device.AddJson("identifiers", "[" + JsonString(strNode) + "]")
        .Add("name", "Kelvard I/O " + board.Name())
        .Add("model", "Kelvard I/O")
        .Add("manufacturer", "Kelvard");
    if (!board.Serial().empty())
        device.Add("serial_number", board.Serial());
    if (!board.Version().empty())
        device.Add("sw_version", board.Version());
    const std::string strAvailability = "[{\"topic\":" + JsonString(strBase + "/status") +
                                        "},{\"topic\":" + JsonString(strBoard + "/status") + "}]";

    MqttMessages messages;
    auto add = [&](const SEntity& entity, bool bPresent, const char* pszOther) {
        // The pin's entity of the other kind goes.
        if (pszOther)
            messages.push_back({ConfigTopic(strPrefix, pszOther, strNode, entity.strObject), ""});
        const std::string strTopic =
            ConfigTopic(strPrefix, entity.pszComponent, strNode, entity.strObject);
        if (!bPresent)
        {
            messages.push_back({strTopic, ""});
            return;
        }
        CJsonLine config;
        config.Add("name", entity.strObject)
            .Add("unique_id", strNode + "_" + entity.strObject)
            .Add("object_id", strNode + "_" + entity.strObject)
            .Add("state_topic", strBoard + "/" + entity.strState)
            .AddJson("availability", strAvailability)
            .Add("availability_mode", "all")
            .Add("qos", 1)
            .AddJson("device", device.Text());
        if (entity.bCommand)
            config.Add("command_topic", strBoard + "/" + entity.strState + "/set")
                .Add("payload_on", "1")
                .Add("payload_off", "0")
                .Add("state_on", "1")
                .Add("state_off", "0");
        else if (entity.pszComponent[0] == 'b')
            config.Add("payload_on", "1").Add("payload_off", "0");
        messages.push_back({strTopic, config.Text()});
    };
    for (int nPort = 0; nPort < board.PortCount(); ++nPort)
        for (int nBit = 0; nBit < 8; ++nBit)
        {
            const std::string strPin = std::string(1, PortLetter(nPort)) + std::to_string(nBit);
            if (board.IsInput(nPort, nBit))
                add({"binary_sensor", strPin, strPin, false}, true, "switch");
            else
                add({"switch", strPin, strPin, true}, true, "binary_sensor");
        }
    if (!board.IsCom())
        for (int i = 0; i < KELVARD_ANALOG_CHANNELS; ++i)
        {
            const std::string strChannel = "E" + std::to_string(i);
            add({"sensor", "analog_" + strChannel, "analog/" + strChannel, false},
                i < board.AnalogCount(), nullptr);
        }
    return messages;
}
