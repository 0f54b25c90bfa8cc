#include "protocol/DeviceLink.h"

ExchangeResult ExchangeCommand(MPUSB_HANDLE hRead, MPUSB_HANDLE hWrite, Packet& packet)
{
    ExchangeResult result;
    const CommandInfo* pInfo = FindCommand(packet[0]);
    if (!pInfo)
        return result;
    std::uint32_t nMoved = 0;
    result.bWritten = MPUSBWrite(hWrite, packet.data(), pInfo->byRequestLength, &nMoved,
                                 MPUSB_TIMEOUT_MS) == MPUSB_SUCCESS;
    if (result.bWritten && pInfo->byReplyLength > 0)
        result.bRead = MPUSBRead(hRead, packet.data(), pInfo->byReplyLength, &nMoved,
                                 MPUSB_TIMEOUT_MS) == MPUSB_SUCCESS;
    return result;
}

namespace
{
// A command whose reply counts only when both transfers succeeded.
bool CheckedExchange(MPUSB_HANDLE hRead, MPUSB_HANDLE hWrite, Packet& packet)
{
    const ExchangeResult result = ExchangeCommand(hRead, hWrite, packet);
    return result.bWritten && result.bRead;
}

// A command whose reply is parsed whatever the read returned.
bool UncheckedExchange(MPUSB_HANDLE hRead, MPUSB_HANDLE hWrite, Packet& packet)
{
    return ExchangeCommand(hRead, hWrite, packet).bWritten;
}
} // namespace

bool UsbReadPorts(MPUSB_HANDLE hRead, MPUSB_HANDLE hWrite, PortBytes& ports)
{
    Packet packet;
    BuildRequest(packet, CMD_READ_PORTS);
    if (!CheckedExchange(hRead, hWrite, packet))
        return false;
    ports = ParsePorts(packet);
    return true;
}

bool UsbWritePorts(MPUSB_HANDLE hWrite, const PortBytes& ports)
{
    Packet packet;
    BuildWritePorts(packet, ports);
    return ExchangeCommand(MPUSB_INVALID_HANDLE, hWrite, packet).bWritten;
}

bool UsbReadConfiguration(MPUSB_HANDLE hRead, MPUSB_HANDLE hWrite, ConfigBlock& config)
{
    Packet packet;
    BuildRequest(packet, CMD_READ_CONFIGURATION);
    if (!CheckedExchange(hRead, hWrite, packet))
        return false;
    config = ParseConfiguration(packet);
    return true;
}

bool UsbWriteConfiguration(MPUSB_HANDLE hWrite, const ConfigBlock& config)
{
    Packet packet;
    BuildWriteConfiguration(packet, config);
    return ExchangeCommand(MPUSB_INVALID_HANDLE, hWrite, packet).bWritten;
}

bool UsbReadDeviceId(MPUSB_HANDLE hRead, MPUSB_HANDLE hWrite, std::uint8_t& byId)
{
    Packet packet;
    BuildRequest(packet, CMD_READ_DEVICE_ID);
    if (!CheckedExchange(hRead, hWrite, packet))
        return false;
    byId = ParseDeviceId(packet);
    return true;
}

bool UsbReadAnalog(MPUSB_HANDLE hRead, MPUSB_HANDLE hWrite, int& nChannels,
                   std::array<std::uint16_t, ANALOG_CHANNELS>& wReadings)
{
    Packet packet;
    BuildRequest(packet, CMD_READ_ANALOG);
    if (!CheckedExchange(hRead, hWrite, packet))
        return false;
    nChannels = ParseAnalog(packet, wReadings);
    return true;
}

bool UsbEnterBootloader(MPUSB_HANDLE hWrite)
{
    Packet packet;
    BuildRequest(packet, CMD_ENTER_BOOTLOADER);
    return ExchangeCommand(MPUSB_INVALID_HANDLE, hWrite, packet).bWritten;
}

std::uint16_t UsbReadVersion(MPUSB_HANDLE hRead, MPUSB_HANDLE hWrite)
{
    Packet packet;
    BuildRequest(packet, CMD_READ_VERSION);
    return UncheckedExchange(hRead, hWrite, packet) ? ParseVersion(packet) : 0;
}

bool UsbQueryBootloader(MPUSB_HANDLE hRead, MPUSB_HANDLE hWrite)
{
    Packet packet;
    BuildRequest(packet, CMD_QUERY_MODE);
    return UncheckedExchange(hRead, hWrite, packet) && ParseIsBootloader(packet);
}

std::string UsbReadSerialNumber(MPUSB_HANDLE hRead, MPUSB_HANDLE hWrite)
{
    Packet packet;
    BuildRequest(packet, CMD_READ_SERIAL_NUMBER);
    return UncheckedExchange(hRead, hWrite, packet) ? ParseSerialNumber(packet) : std::string();
}
