#pragma once
// One command over a device link (a read pipe and a write pipe of one board): zero-filled
// 64-byte packet, the request length written with a 500 ms time-out, and, for commands with a
// reply, the reply length read into the same packet. No read follows a failed write.
#include "protocol/CommandSet.h"
#include "protocol/Mpusb.h"

struct ExchangeResult
{
    bool bWritten = false; // the write returned MPUSB_SUCCESS
    bool bRead = false;    // a read was made and returned MPUSB_SUCCESS
};

// Sends the request already built in packet (code in byte 0, lengths from the command table)
// and reads the reply when the command has one.
ExchangeResult ExchangeCommand(MPUSB_HANDLE hRead, MPUSB_HANDLE hWrite, Packet& packet);

// Checked commands: true only when the write and (where there is one) the read succeeded; the
// outputs are written only then.
bool UsbReadPorts(MPUSB_HANDLE hRead, MPUSB_HANDLE hWrite, PortBytes& ports);
bool UsbWritePorts(MPUSB_HANDLE hWrite, const PortBytes& ports);
bool UsbReadConfiguration(MPUSB_HANDLE hRead, MPUSB_HANDLE hWrite, ConfigBlock& config);
bool UsbWriteConfiguration(MPUSB_HANDLE hWrite, const ConfigBlock& config);
bool UsbReadDeviceId(MPUSB_HANDLE hRead, MPUSB_HANDLE hWrite, std::uint8_t& byId);
bool UsbReadAnalog(MPUSB_HANDLE hRead, MPUSB_HANDLE hWrite, int& nChannels,
                   std::array<std::uint16_t, ANALOG_CHANNELS>& wReadings);
bool UsbEnterBootloader(MPUSB_HANDLE hWrite);

// Unchecked commands: after a successful write the reply is parsed as the read left the packet
// (a failed read leaves the request, which parses as version 0, application firmware and an
// empty text). A failed write gives the same neutral values.
std::uint16_t UsbReadVersion(MPUSB_HANDLE hRead, MPUSB_HANDLE hWrite);
bool UsbQueryBootloader(MPUSB_HANDLE hRead, MPUSB_HANDLE hWrite);
std::string UsbReadSerialNumber(MPUSB_HANDLE hRead, MPUSB_HANDLE hWrite);
