#pragma once
// The network link to a board over TCP: connects, sends the dialog's frames in the order they
// are given, reassembles the frames that arrive and hands each to the owner dialog, and tells
// the owner how the connection went and when the peer closed it. Everything happens on the
// dialog's thread, through QTcpSocket's notifications.
//
// Sending: a frame goes to the socket unless frames already wait, so frames leave in the
// order they were given. While the socket is not connected a frame is dropped with the debug
// line "Socket not connected\n". The socket refuses a frame while its outgoing backlog is at
// the send limit; refused frames wait in m_sendQueue, oldest first, and leave as the socket
// takes bytes again.
//
// Receiving: the socket's read buffer is bounded, and each notification reads what is there in
// fixed-size chunks, so whatever a peer sends, the tool holds at most that buffer, one chunk and
// one frame of at most 255 bytes.
#include "protocol/net/FrameReceiver.h"
#include "protocol/net/Frames.h"

#include <QObject>
#include <QString>
#include <QTcpSocket>

#include <cstdint>
#include <deque>
#include <vector>

class CLinkOwner;

// The board's TCP port, NET_PORT; KELVARD_NET_PORT (1 to 65535) overrides it, for tests and for
// boards simulated beside others.
std::uint16_t LinkPort();

// Socket error codes as the link reports them (the platform's socket numbering).
inline constexpr int SOCKET_NO_ERROR = 0;
inline constexpr int SOCKET_INVALID_ARGUMENT = 10022;
inline constexpr int SOCKET_WOULD_BLOCK = 10035;
inline constexpr int SOCKET_NOT_CONNECTED = 10057;

// Bytes the socket may hold unread; beyond it the peer waits (TCP flow control).
inline constexpr qint64 LINK_READ_BUFFER = 64 * 1024;
// Bytes read from the socket at a time.
inline constexpr qint64 LINK_READ_CHUNK = 4096;
// Default outgoing backlog at which the socket refuses a frame.
inline constexpr qint64 LINK_SEND_LIMIT = 64 * 1024;
// Frames that may wait for the socket; a frame given beyond that is dropped with the debug line
// "Send queue full\n", so a peer that stops reading cannot make the queue grow without end.
inline constexpr std::size_t LINK_QUEUE_MAX = 1024;

class CClientSocket : public QObject
{
    Q_OBJECT
public:
    // No frame, counts 0, empty queue. pOwner hears of frames, the connection and the peer's
    // close; pParent (the dialog) is the Qt parent, so a link whose deletion had to wait (see
    // Delete) never outlives it.
    CClientSocket(CLinkOwner* pOwner, QObject* pParent);
    // Frees the frame being received and every queued frame, then closes the socket.
    ~CClientSocket() override;
    CClientSocket(const CClientSocket&) = delete;
    CClientSocket& operator=(const CClientSocket&) = delete;

    // Starts connecting to the dotted address on nPort and returns at once; the outcome
    // arrives through OnConnect.
    void Connect(const QString& strHost, std::uint16_t nPort);
    // Closes the connection without telling the owner.
    void Close();
    // Deletes the link: now, or, when called from inside one of its socket's notifications
    // (the peer's close drops the link from there), once control is back in the event loop.
    // From this call on the link tells the owner nothing more.
    void Delete();

    // Writes nLength into byte 1 of the frame and sends it; returns 0, or the socket error
    // code (SOCKET_NOT_CONNECTED: dropped; SOCKET_WOULD_BLOCK: queued, or dropped when the
    // queue is full).
    virtual int SendFrame(std::uint8_t* pFrame, int nLength);

    // The outgoing backlog at which the socket refuses a frame (LINK_SEND_LIMIT by default).
    void SetSendLimit(qint64 nBytes) { m_nSendLimit = nBytes; }
    QAbstractSocket::SocketState State() const { return m_sockLink.state(); }
    std::size_t QueuedFrames() const { return m_sendQueue.size(); }
    const CFrameReceiver& Receiver() const { return m_rcvFrames; }
    // The most bytes found waiting in the socket at one read notification.
    qint64 LargestBacklog() const { return m_nLargestBacklog; }

private:
    // The socket's notifications, routed in the constructor.
    void OnReceive(int nErrorCode);
    void OnSend(int nErrorCode);
    void OnConnect(int nErrorCode);
    void OnClose(int nErrorCode);

    // Hands the frames in freshly read bytes to the owner; false once the link is dropped.
    bool Deliver(const std::uint8_t* pData, std::size_t nLength);
    // Hands the frame to the socket unless its backlog is at the limit; false when refused.
    bool TrySend(const std::uint8_t* pFrame, int nLength);
    void Detach();

    // Counts the notifications under way, so that Delete knows when it must wait.
    class CNotification;

    CFrameReceiver m_rcvFrames; // m_pFrame, m_nReceived, m_nWanted: the frame being received
    std::deque<std::vector<std::uint8_t>> m_sendQueue; // refused frames, oldest first
    CLinkOwner* m_pOwner;                              // not owned; none once detached
    QTcpSocket m_sockLink;
    qint64 m_nSendLimit = LINK_SEND_LIMIT;
    qint64 m_nLargestBacklog = 0;
    int m_nNotifying = 0;
    bool m_bConnecting = false;
};
