#include "zorvane/cli/MqttBoard.h"

#include "zorvane/cli/PortText.h"
#include "zorvane/cli/ToolArgs.h"

#include <algorithm>
#include <cctype>

namespace
{
// A serial number names the board's topics only when every character is safe in a topic.
bool TopicSafe(const std::string& strText)
{
    return !strText.empty() && std::all_of(strText.begin(), strText.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '-' || c == '_';
    });
}

std::string TopicName(const std::string& strText)
{
    std::string strName = strText;
    std::replace_if(strName.begin(), strName.end(),
                    [](unsigned char c) { return !std::isalnum(c) && c != '-' && c != '_'; }, '_');
    return strName;
}

std::string Upper(std::string strText)
{
    for (char& c : strText)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return strText;
}
} // namespace

CMqttBoard::CMqttBoard(std::string strOpen) : m_strOpen(std::move(strOpen))
{
}

int CMqttBoard::Open()
{
    kelvard_board* pBoard = nullptr;
    const int nResult = kelvard_board_open(m_strOpen.c_str(), &pBoard);
    if (nResult != KELVARD_OK)
        return nResult;
    m_pBoard.reset(pBoard);
    m_eKind = kelvard_board_kind(pBoard);
    m_nPorts = static_cast<int>(kelvard_board_port_count(pBoard));
    m_bKnown = false;
    const kelvard_identity* pIdentity = nullptr;
    if (kelvard_board_identity(pBoard, &pIdentity) == KELVARD_OK)
    {
        m_strSerial = kelvard_identity_serial(pIdentity);
        m_strLocation = kelvard_identity_location(pIdentity);
        m_strVersion = FormatVersion(static_cast<std::uint16_t>(kelvard_identity_version(pIdentity)));
        m_strName = TopicSafe(m_strSerial) ? m_strSerial
                                           : "id" + std::to_string(kelvard_identity_device_id(pIdentity));
    }
    else if (m_strName.empty())
        m_strName = TopicName(m_strOpen);
    return KELVARD_OK;
}

void CMqttBoard::Close()
{
    m_pBoard.reset();
}

std::string CMqttBoard::Failure(int nResult)
{
    if (nResult == KELVARD_ERR_GONE)
        Close();
    return kelvard_result_text(nResult);
}

void CMqttBoard::PublishPort(int nPort, std::uint8_t byValue, std::uint8_t byChanged,
                             MqttMessages& messages) const
{
    const std::string strPort(1, PortLetter(nPort));
    messages.push_back({strPort, std::to_string(byValue)});
    for (int nBit = 0; nBit < 8; ++nBit)
        if ((byChanged >> nBit) & 1)
            messages.push_back({strPort + std::to_string(nBit), (byValue >> nBit) & 1 ? "1" : "0"});
}

int CMqttBoard::Poll(bool bAll, bool bConfig, unsigned nForcePorts, MqttMessages& messages,
                     bool& bDirections)
{
    if (!m_pBoard)
        return KELVARD_ERR_GONE;
    bAll = bAll || !m_bKnown;
    std::array<std::uint8_t, KELVARD_PORTS> byPorts{};
    int nResult = kelvard_board_read_ports(m_pBoard.get(), byPorts.data(), static_cast<std::size_t>(m_nPorts));
    kelvard_config config{};
    if (nResult == KELVARD_OK && (bConfig || bAll) && !IsCom())
        nResult = kelvard_board_read_config(m_pBoard.get(), &config);
    const bool bConfigRead = (bConfig || bAll) && !IsCom();
    std::array<std::uint16_t, KELVARD_ANALOG_CHANNELS> wAnalog{};
    unsigned nAnalog = 0;
    if (nResult == KELVARD_OK && (bConfigRead ? config.analog_count : m_nAnalogCount) > 0)
        nResult = kelvard_board_read_analog(m_pBoard.get(), wAnalog.data(), &nAnalog);
    if (nResult != KELVARD_OK)
    {
        Failure(nResult);
        return nResult;
    }

    for (int nPort = 0; nPort < m_nPorts; ++nPort)
    {
        const auto byChanged =
            static_cast<std::uint8_t>(bAll ? 0xFF : byPorts[nPort] ^ m_byPorts[nPort]);
        if (byChanged || ((nForcePorts >> nPort) & 1))
            PublishPort(nPort, byPorts[nPort], byChanged, messages);
    }
    m_byPorts = byPorts;
    if (bConfigRead)
    {
        bDirections = bDirections || !std::equal(m_byDir.begin(), m_byDir.end(), config.direction) ||
                      m_nAnalogCount != config.analog_count;
        for (int nPort = 0; nPort < KELVARD_PORTS; ++nPort)
            if (bAll || m_byDir[nPort] != config.direction[nPort])
                messages.push_back({std::string(1, PortLetter(nPort)) + "/direction",
                                    std::to_string(config.direction[nPort])});
        std::copy(config.direction, config.direction + KELVARD_PORTS, m_byDir.begin());
        m_nAnalogCount = config.analog_count;
    }
    else if (bAll)
        for (int nPort = 0; nPort < m_nPorts; ++nPort)
            messages.push_back({std::string(1, PortLetter(nPort)) + "/direction",
                                std::to_string(m_byDir[nPort])});
    for (unsigned i = 0; i < nAnalog; ++i)
        if (bAll || wAnalog[i] != m_wAnalog[i])
            messages.push_back({"analog/E" + std::to_string(i), std::to_string(wAnalog[i])});
    m_wAnalog = wAnalog;
    m_bKnown = true;
    return KELVARD_OK;
}

std::string CMqttBoard::Apply(const std::string& strCommand, const std::string& strPayload,
                              MqttMessages& messages, bool& bDirections)
{
    // "A/set", "A3/set", "A/direction/set"
    const std::size_t nSlash = strCommand.find('/');
    const std::string strSubject = Upper(strCommand.substr(0, nSlash));
    const std::string strRest = nSlash == std::string::npos ? "" : strCommand.substr(nSlash);
    const int nPort = strSubject.empty() ? -1 : strSubject[0] - 'A';
    if (nPort < 0 || nPort >= m_nPorts || strSubject.size() > 2 ||
        (strSubject.size() == 2 && (strSubject[1] < '0' || strSubject[1] > '7')))
        return "no port or pin " + strSubject + " on this board";
    if (!m_pBoard)
        return "the board is absent";
    if (strSubject.size() == 1)
        return ApplyPort(nPort, strRest, strPayload, messages, bDirections);
    if (strRest != "/set")
        return "no such command";

    const int nBit = strSubject[1] - '0';
    const std::string strLevel = Upper(strPayload);
    if (strLevel != "0" && strLevel != "1" && strLevel != "ON" && strLevel != "OFF")
        return "'" + strPayload + "' is no pin level (0, 1, ON or OFF)";
    if (IsInput(nPort, nBit))
        return strSubject + " is an input";
    const int nResult = kelvard_board_write_bit(m_pBoard.get(), static_cast<kelvard_port>(nPort),
                                                static_cast<unsigned>(nBit),
                                                strLevel == "1" || strLevel == "ON");
    if (nResult != KELVARD_OK)
        return Failure(nResult);
    const int nRead = Poll(false, false, 1u << nPort, messages, bDirections);
    return nRead == KELVARD_OK ? "" : Failure(nRead);
}

std::string CMqttBoard::ApplyPort(int nPort, const std::string& strRest,
                                  const std::string& strPayload, MqttMessages& messages,
                                  bool& bDirections)
{
    const bool bDirection = strRest == "/direction/set";
    if (!bDirection && strRest != "/set")
        return "no such command";
    std::uint8_t byValue = 0;
    try
    {
        byValue = static_cast<std::uint8_t>(ParseNumber(strPayload, 255, bDirection ? "direction mask" : "value"));
    }
    catch (const CUsageError& error)
    {
        return error.what();
    }
    int nResult = KELVARD_OK;
    if (bDirection)
    {
        kelvard_config config{};
        std::copy(m_byDir.begin(), m_byDir.end(), config.direction);
        config.direction[nPort] = byValue;
        // A COM-port board takes the directions of A to C together only.
        const unsigned nMask = IsCom() ? 0x7u : KELVARD_CONFIG_DIRECTION(nPort);
        nResult = kelvard_board_change_config(m_pBoard.get(), &config, nMask);
        if (nResult == KELVARD_OK)
        {
            bDirections = bDirections || m_byDir[nPort] != byValue;
            m_byDir[nPort] = byValue;
            messages.push_back({std::string(1, PortLetter(nPort)) + "/direction", std::to_string(byValue)});
        }
    }
    else
        nResult = kelvard_board_write_port(m_pBoard.get(), static_cast<kelvard_port>(nPort), byValue);
    if (nResult != KELVARD_OK)
        return Failure(nResult);
    const int nRead = Poll(false, false, 1u << nPort, messages, bDirections);
    return nRead == KELVARD_OK ? "" : Failure(nRead);
}
