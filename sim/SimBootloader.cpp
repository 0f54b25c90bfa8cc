#include "sim/SimBootloader.h"

#include <algorithm>

std::optional<std::vector<std::uint8_t>> CSimBootloader::Handle(CSimMemory& memory,
                                                                const Packet& request,
                                                                std::size_t nLength,
                                                                ESimAction& action)
{
    const std::uint8_t byCode = request[0];
    const std::uint32_t nAddress = request[2] | (request[3] << 8) | (request[4] << 16);
    // A reply never exceeds one packet.
    const std::size_t nCount = std::min<std::size_t>(request[1], PACKET_SIZE - BL_REQUEST_HEADER);
    const std::size_t nData = nLength > BL_REQUEST_HEADER ? nLength - BL_REQUEST_HEADER : 0;
    std::vector<std::uint8_t> reply(request.begin(), request.begin() + BL_REQUEST_HEADER);

    switch (byCode)
    {
    case CMD_QUERY_MODE:
        reply.assign(PACKET_SIZE, 0);
        reply[0] = CMD_QUERY_MODE;
        reply[2] = BOOTLOADER_MARK;
        return reply;
    case BL_READ_MEMORY:
        for (std::size_t i = 0; i < nCount; ++i)
            reply.push_back(memory.Read(nAddress + static_cast<std::uint32_t>(i)));
        return reply;
    case BL_WRITE_MEMORY:
        // The count byte holds the block size; the data that came is what gets written.
        for (std::size_t i = 0; i < nData; ++i)
            memory.Program(nAddress + static_cast<std::uint32_t>(i),
                           request[BL_REQUEST_HEADER + i]);
        return reply;
    case BL_ERASE_MEMORY:
        memory.Erase(nAddress);
        return reply;
    case BL_READ_EEPROM:
        for (std::size_t i = 0; i < nCount; ++i)
            reply.push_back(memory.ReadEeprom(nAddress + static_cast<std::uint32_t>(i)));
        return reply;
    case BL_WRITE_EEPROM:
        for (std::size_t i = 0; i < nData; ++i)
            memory.WriteEeprom(nAddress + static_cast<std::uint32_t>(i),
                               request[BL_REQUEST_HEADER + i]);
        return reply;
    case BL_RESTART:
        action = ESimAction::Restart;
        return std::nullopt;
    default:
        return std::nullopt;
    }
}
