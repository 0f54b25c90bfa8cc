#pragma once
// What the network link tells its owner (the dialog): each complete frame that arrives, the
// outcome of its connection and the peer's close. Every call comes on the owner's thread, from
// inside one of the link's socket notifications.
#include <cstdint>

class CClientSocket;

class CLinkOwner
{
public:
    // A complete frame from the peer. The owner may drop the link from here.
    virtual void OnSocketFrame(const std::uint8_t* pFrame, int nLength, CClientSocket* pLink) = 0;
    // The connection was made (nErrorCode 0) or failed (a socket error code).
    virtual void RequestConfiguration(int nErrorCode) = 0;
    // The peer closed the connection: the owner lets the link go.
    virtual void DropConnection() = 0;

protected:
    ~CLinkOwner() = default;
};
