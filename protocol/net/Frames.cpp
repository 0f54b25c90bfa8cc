#include "protocol/net/Frames.h"

#include <algorithm>

namespace
{
// Each port's pair in the configuration block: direction mask first, inversion mask second.
constexpr std::size_t DIRECTION_AT = 2;
constexpr std::size_t INVERSION_AT = 3;
constexpr std::size_t READ_PORTS_MIN = 2 + PORT_COUNT;                 // 7
constexpr std::size_t READ_CONFIGURATION_MIN = 2 + 2 * PORT_COUNT - 1; // 11

NetFrame BuildPairsFrame(std::uint8_t byCode, const PortBytes& byPorts, std::size_t nFirst)
{
    NetFrame frame = BuildFrame(byCode);
    for (int nPort = PORT_A; nPort < PORT_COUNT; ++nPort)
        frame[nFirst + 2 * static_cast<std::size_t>(nPort)] = byPorts[nPort];
    return frame;
}
} // namespace

NetFrame BuildFrame(std::uint8_t byCode)
{
    NetFrame frame{};
    frame[0] = byCode;
    frame[1] = NET_FRAME_SIZE;
    return frame;
}

NetFrame BuildWritePortsFrame(const PortBytes& byPorts)
{
    NetFrame frame = BuildFrame(CMD_WRITE_PORTS);
    for (int nPort = PORT_A; nPort < PORT_COUNT; ++nPort)
        frame[2 + static_cast<std::size_t>(nPort)] = byPorts[nPort];
    return frame;
}

NetFrame BuildWriteDirectionsFrame(const PortBytes& byDirections)
{
    return BuildPairsFrame(CMD_WRITE_CONFIGURATION, byDirections, DIRECTION_AT);
}

NetFrame BuildWriteInversionsFrame(const PortBytes& byInversions)
{
    return BuildPairsFrame(CMD_WRITE_CONFIGURATION, byInversions, INVERSION_AT);
}

bool IsLinkCommand(std::uint8_t byCode)
{
    return byCode == CMD_READ_PORTS || byCode == CMD_WRITE_PORTS ||
           byCode == CMD_READ_CONFIGURATION || byCode == CMD_WRITE_CONFIGURATION;
}

std::size_t FrameRequest(const std::uint8_t* pFrame, std::size_t nLength, Packet& packet)
{
    packet.fill(0);
    const CommandInfo* pInfo = pFrame && nLength > 0 ? FindCommand(pFrame[0]) : nullptr;
    if (!pInfo)
        return 0;
    packet[0] = pFrame[0];
    const std::size_t nRequest = pInfo->byRequestLength;
    for (std::size_t i = 1; i < nRequest && i + 1 < nLength; ++i)
        packet[i] = pFrame[i + 1];
    return nRequest;
}

NetFrame ReplyFrame(std::uint8_t byCode, const Packet& reply, std::size_t nReplyLength)
{
    NetFrame frame = BuildFrame(byCode);
    const std::size_t nCarried = std::min<std::size_t>(nReplyLength, NET_FRAME_SIZE - 1);
    for (std::size_t i = 1; i < nCarried; ++i)
        frame[i + 1] = reply[i];
    return frame;
}

bool DecodeGridFrame(const std::uint8_t* pFrame, std::size_t nLength, PortBytes& byPorts)
{
    if (!pFrame || nLength < 1)
        return false;
    switch (pFrame[0])
    {
    case CMD_READ_PORTS:
        if (nLength < READ_PORTS_MIN)
            return false;
        for (int nPort = PORT_A; nPort < PORT_COUNT; ++nPort)
            byPorts[nPort] = pFrame[2 + static_cast<std::size_t>(nPort)];
        return true;
    case CMD_READ_CONFIGURATION:
        if (nLength < READ_CONFIGURATION_MIN)
            return false;
        for (int nPort = PORT_A; nPort < PORT_COUNT; ++nPort)
            byPorts[nPort] = pFrame[DIRECTION_AT + 2 * static_cast<std::size_t>(nPort)];
        return true;
    default:
        return false;
    }
}
