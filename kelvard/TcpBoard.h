#pragma once
// A board reached over TCP through the network frames of the dialog's link: `zorvane serve` in
// front of a USB board, or a network board. The frames carry the ports and the whole
// configuration block; there is no frame for the analog readings or the board's identity. Writes
// are not answered: each is followed by a read on the same connection, whose reply tells that the
// board handled it (and, for the configuration, what it now holds).
#include "kelvard/KelvardBoard.h"

#include "protocol/net/FrameReceiver.h"
#include "protocol/net/Frames.h"

#include <cstdint>
#include <memory>
#include <string>

class CKelvardTcpBoard : public CKelvardBlockBoard
{
public:
    // Connects to "HOST[:PORT]" ("[::1]:9764" for an IPv6 address); port 9764 when none is given.
    static int Open(const std::string& strAddress, std::unique_ptr<CKelvardBoard>& pBoard);

    explicit CKelvardTcpBoard(int hSocket) : m_hSocket(hSocket) {}
    ~CKelvardTcpBoard() override;
    CKelvardTcpBoard(const CKelvardTcpBoard&) = delete;
    CKelvardTcpBoard& operator=(const CKelvardTcpBoard&) = delete;

    kelvard_kind Kind() const override { return KELVARD_KIND_TCP; }

protected:
    int ExchangeReadPorts(PortBytes& ports) override;
    int ExchangeWritePorts(const PortBytes& ports) override;
    int ExchangeReadConfig(ConfigBlock& config) override;
    int ExchangeWriteConfig(const ConfigBlock& config) override;

private:
    // Sends the frame; for a request with a reply (byReply not 0) waits for the first frame of
    // that code, whole, into reply. Bytes left over from an earlier request are dropped first.
    int Exchange(const NetFrame& frame, std::uint8_t byReply, NetFrame& reply);
    int Send(const NetFrame& frame);
    int Receive(std::uint8_t byReply, NetFrame& reply);
    int DropStale();

    int m_hSocket;
    CFrameReceiver m_rcvFrames;
};
