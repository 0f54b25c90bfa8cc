#pragma once
// The frames of the network link, both directions: byte 0 the command code, byte 1 the frame's
// total length (header included), then the USB request's or reply's bytes from byte 1 on, one
// place further on. Pure encode and decode; the dialog's CClientSocket and the zorvane tool's
// bridge move the bytes.
//
//     NetFrame frame = BuildWritePortsFrame({0x01, 0x02, 0x03, 0x04, 0x05});
//     // 37 0c 01 02 03 04 05 00 00 00 00 00
#include "protocol/CommandSet.h"
#include "protocol/PortTypes.h"

#include <array>
#include <cstddef>
#include <cstdint>

// The TCP port a network board listens on.
inline constexpr std::uint16_t NET_PORT = 9764;

// Every frame the tool sends is 12 bytes long.
inline constexpr int NET_FRAME_SIZE = 12;
inline constexpr int NET_HEADER_SIZE = 2;
// The length byte cannot describe more.
inline constexpr int NET_FRAME_MAX = 255;

using NetFrame = std::array<std::uint8_t, NET_FRAME_SIZE>;

// A frame with the code and the length byte and zeros elsewhere: read-ports (0x36) and
// read-configuration (0x38) carry nothing more.
NetFrame BuildFrame(std::uint8_t byCode);
// write-ports: ports A to E at bytes 2 to 6.
NetFrame BuildWritePortsFrame(const PortBytes& byPorts);
// write-configuration of the direction masks A to E at bytes 2, 4, 6, 8, 10; nothing else.
NetFrame BuildWriteDirectionsFrame(const PortBytes& byDirections);
// write-configuration of the inversion masks A to E at bytes 3, 5, 7, 9, 11; nothing else.
NetFrame BuildWriteInversionsFrame(const PortBytes& byInversions);

// The commands the tool sends over the link, and so the ones a network board answers: read-ports,
// write-ports, read-configuration and write-configuration.
bool IsLinkCommand(std::uint8_t byCode);

// The USB request a frame carries: the code, then the frame's bytes from position 2 on, each one
// place back, zero-filled up to the command's request length (a frame's bytes beyond it are not
// part of the request). Returns that length; 0, with the packet zeroed, for a code outside the
// command set.
//
//     37 0c 01 02 03 04 05 00 00 00 00 00  ->  37 01 02 03 04 05 (6 bytes)
std::size_t FrameRequest(const std::uint8_t* pFrame, std::size_t nLength, Packet& packet);
// The frame that carries a command's USB reply: the code, the length byte 12, the reply's bytes
// from position 1 on, each one place further on, zeros after them. A 12-byte frame holds reply
// bytes 1 to 10, all that the link's commands answer with.
//
//     read-ports reply ?? 01 02 03 04 05  ->  36 0c 01 02 03 04 05 00 00 00 00 00
NetFrame ReplyFrame(std::uint8_t byCode, const Packet& reply, std::size_t nReplyLength);

// The five port bytes a received frame draws on the grid: a read-ports reply's bytes 2 to 6,
// or a read-configuration reply's direction masks at 2, 4, 6, 8, 10. False, with byPorts
// untouched, for any other code and for a reply too short to hold those positions. The
// length byte is not consulted: nLength is what actually arrived.
bool DecodeGridFrame(const std::uint8_t* pFrame, std::size_t nLength, PortBytes& byPorts);
