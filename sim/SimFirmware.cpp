#include "sim/SimFirmware.h"

#include <algorithm>

PortBytes SimPins::Levels() const
{
    PortBytes levels{};
    for (int p = 0; p < PORT_COUNT; ++p)
    {
        std::uint8_t byIn = byInput[p];
        if (p < PORT_E)
            byIn ^= byInv[p];
        levels[p] = static_cast<std::uint8_t>((byDir[p] & byIn) | (~byDir[p] & byLatch[p]));
    }
    return levels;
}

std::optional<std::vector<std::uint8_t>>
CSimFirmware::Handle(SimPins& pins, const CSimMemory& memory, std::uint8_t byId,
                     const Packet& request, ESimAction& action)
{
    const std::uint8_t byCode = request[0];
    const CommandInfo* pInfo = FindCommand(byCode);
    if (!pInfo)
        return std::nullopt;
    std::vector<std::uint8_t> reply(pInfo->byReplyLength, 0);
    if (!reply.empty())
        reply[0] = byCode;

    switch (byCode)
    {
    case CMD_READ_VERSION:
        reply[2] = static_cast<std::uint8_t>(memory.Version() & 0xFF);
        reply[3] = static_cast<std::uint8_t>(memory.Version() >> 8);
        break;
    case CMD_QUERY_MODE:
        reply[2] = 'A';
        break;
    case CMD_READ_SERIAL_NUMBER:
        // The firmware reports the eight 16-bit units stored in its boot block as they are.
        reply[1] = 16;
        for (std::uint32_t i = 0; i < 16; ++i)
            reply[2 + i] = memory.Read(SIM_SERIAL_ADDRESS + i);
        break;
    case CMD_ENTER_BOOTLOADER:
        action = ESimAction::EnterBootloader;
        return std::nullopt;
    case CMD_READ_PORTS:
    {
        const PortBytes levels = pins.Levels();
        std::copy(levels.begin(), levels.end(), reply.begin() + 1);
        break;
    }
    case CMD_WRITE_PORTS:
        std::copy_n(request.begin() + 1, PORT_COUNT, pins.byLatch.begin());
        return std::nullopt;
    case CMD_READ_CONFIGURATION:
    {
        ConfigBlock config;
        config.byDir = pins.byDir;
        config.byInv = pins.byInv;
        config.byAnalogCount = pins.byAnalogCount;
        EncodeConfiguration(config, reply.data() + 1);
        break;
    }
    case CMD_WRITE_CONFIGURATION:
    {
        const ConfigBlock config = DecodeConfiguration(request.data() + 1);
        pins.byDir = config.byDir;
        pins.byInv = config.byInv;
        pins.byAnalogCount = config.byAnalogCount;
        return std::nullopt;
    }
    case CMD_READ_DEVICE_ID:
        reply[1] = byId;
        break;
    case CMD_READ_ANALOG:
    {
        const int nValid = std::min<int>(pins.byAnalogCount, ANALOG_CHANNELS);
        reply[1] = static_cast<std::uint8_t>(nValid);
        for (int k = 0; k < nValid; ++k)
        {
            reply[2 + 2 * k] = static_cast<std::uint8_t>(pins.wAnalog[k] & 0xFF);
            reply[3 + 2 * k] = static_cast<std::uint8_t>(pins.wAnalog[k] >> 8);
        }
        break;
    }
    default:
        return std::nullopt;
    }
    return reply;
}
