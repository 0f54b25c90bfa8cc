#include "tarvel/net/ClientSocket.h"

#include "protocol/net/Frames.h"
#include "tarvel/net/LinkOwner.h"

#include "protocol/DebugOutput.h"

#include <QMetaObject>

#include <algorithm>
#include <cstdlib>
#include <exception>

namespace
{
constexpr char NOT_CONNECTED[] = "Socket not connected\n";

// QTcpSocket's errors in the platform's socket numbering, translated here and nowhere else.
int ErrorCodeOf(QAbstractSocket::SocketError error)
{
    switch (error)
    {
    case QAbstractSocket::ConnectionRefusedError:
        return 10061;
    case QAbstractSocket::RemoteHostClosedError:
        return 10054;
    case QAbstractSocket::HostNotFoundError:
        return 11001;
    case QAbstractSocket::SocketAccessError:
        return 10013;
    case QAbstractSocket::SocketResourceError:
        return 10055;
    case QAbstractSocket::SocketTimeoutError:
        return 10060;
    case QAbstractSocket::NetworkError:
        return 10050;
    default:
        return 10053; // the connection went away for a reason the socket does not name
    }
}

// The socket's error as the link reports it, with a debug line that names it.
int LinkErrorCode(const QTcpSocket& socket)
{
    const int nCode = ErrorCodeOf(socket.error());
    DebugOutputFormat("Socket error %d: %s\n", nCode, qPrintable(socket.errorString()));
    return nCode;
}

// A notification must not let an exception reach the event loop: it is reported and dropped.
template <typename F> void Guarded(const char* pszWhere, F&& handler)
{
    try
    {
        handler();
    }
    catch (const std::exception& e)
    {
        DebugOutputFormat("%s: %s\n", pszWhere, e.what());
    }
    catch (...)
    {
        DebugOutputFormat("%s: unknown exception\n", pszWhere);
    }
}
} // namespace

std::uint16_t LinkPort()
{
    const char* pszPort = std::getenv("KELVARD_NET_PORT");
    if (!pszPort || !*pszPort)
        return NET_PORT;
    char* pEnd = nullptr;
    const unsigned long nPort = std::strtoul(pszPort, &pEnd, 10);
    if (*pEnd != '\0' || nPort < 1 || nPort > 65535)
        return NET_PORT;
    return static_cast<std::uint16_t>(nPort);
}

class CClientSocket::CNotification
{
public:
    explicit CNotification(CClientSocket& link) : m_lnkOwner(link) { ++m_lnkOwner.m_nNotifying; }
    ~CNotification() { --m_lnkOwner.m_nNotifying; }
    CNotification(const CNotification&) = delete;
    CNotification& operator=(const CNotification&) = delete;

private:
    CClientSocket& m_lnkOwner;
};

CClientSocket::CClientSocket(CLinkOwner* pOwner, QObject* pParent)
    : QObject(pParent), m_pOwner(pOwner)
{
    m_sockLink.setReadBufferSize(LINK_READ_BUFFER);

    // The socket's notifications. The link is their context, and its destructor cuts them
    // before the socket goes, so none reaches a link that is half destroyed.
    connect(&m_sockLink, &QAbstractSocket::connected, this,
            [this] { Guarded("OnConnect", [this] { OnConnect(SOCKET_NO_ERROR); }); });
    connect(&m_sockLink, &QAbstractSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError)
            {
                // Errors of an open connection end in disconnected; only a connection that
                // could not be made is reported here.
                if (m_bConnecting)
                    Guarded("OnConnect", [this] { OnConnect(LinkErrorCode(m_sockLink)); });
            });
    connect(&m_sockLink, &QIODevice::readyRead, this,
            [this] { Guarded("OnReceive", [this] { OnReceive(SOCKET_NO_ERROR); }); });
    connect(&m_sockLink, &QIODevice::bytesWritten, this,
            [this] { Guarded("OnSend", [this] { OnSend(SOCKET_NO_ERROR); }); });
    connect(&m_sockLink, &QAbstractSocket::disconnected, this,
            [this]
            {
                const QAbstractSocket::SocketError error = m_sockLink.error();
                const int nErrorCode = error == QAbstractSocket::RemoteHostClosedError ||
                                               error == QAbstractSocket::UnknownSocketError
                                           ? SOCKET_NO_ERROR
                                           : LinkErrorCode(m_sockLink);
                Guarded("OnClose", [this, nErrorCode] { OnClose(nErrorCode); });
            });
}

CClientSocket::~CClientSocket()
{
    QObject::disconnect(&m_sockLink, nullptr, this, nullptr);
    m_rcvFrames.Reset();
    m_sendQueue.clear();
    m_sockLink.abort();
}

void CClientSocket::Connect(const QString& strHost, std::uint16_t nPort)
{
    m_bConnecting = true;
    m_sockLink.connectToHost(strHost, nPort);
}

void CClientSocket::Close()
{
    m_bConnecting = false;
    QObject::disconnect(&m_sockLink, nullptr, this, nullptr);
    // What the network takes at once still leaves; the peer then sees the connection end.
    m_sockLink.flush();
    m_sockLink.abort();
}

void CClientSocket::Delete()
{
    if (m_nNotifying == 0)
    {
        delete this;
        return;
    }
    // Inside a notification the socket is still at work further up the stack.
    Detach();
    deleteLater();
}

void CClientSocket::Detach()
{
    m_pOwner = nullptr;
    m_bConnecting = false;
    QObject::disconnect(&m_sockLink, nullptr, this, nullptr);
    m_sendQueue.clear();
    m_sockLink.abort();
    // The frame under way may be in the owner's hands right now; it goes with the link.
}

int CClientSocket::SendFrame(std::uint8_t* pFrame, int nLength)
{
    if (!pFrame || nLength < NET_HEADER_SIZE || nLength > NET_FRAME_MAX)
        return SOCKET_INVALID_ARGUMENT;
    pFrame[1] = static_cast<std::uint8_t>(nLength);

    const auto Enqueue = [this, pFrame, nLength]
    {
        if (m_sendQueue.size() >= LINK_QUEUE_MAX)
        {
            DebugOutput("Send queue full\n");
            return false;
        }
        m_sendQueue.emplace_back(pFrame, pFrame + nLength);
        return true;
    };
    // Behind frames that already wait, so that frames leave in the order they were given.
    if (!m_sendQueue.empty())
        return Enqueue() ? SOCKET_NO_ERROR : SOCKET_WOULD_BLOCK;

    if (m_sockLink.state() != QAbstractSocket::ConnectedState)
    {
        DebugOutput(NOT_CONNECTED);
        return SOCKET_NOT_CONNECTED;
    }
    if (TrySend(pFrame, nLength))
        return SOCKET_NO_ERROR;
    Enqueue();
    return SOCKET_WOULD_BLOCK;
}

bool CClientSocket::TrySend(const std::uint8_t* pFrame, int nLength)
{
    // QTcpSocket would buffer without end; a backlog at the limit is what refusal means here.
    if (m_sockLink.bytesToWrite() >= m_nSendLimit)
        return false;
    return m_sockLink.write(reinterpret_cast<const char*>(pFrame), nLength) == nLength;
}

void CClientSocket::OnSend(int nErrorCode)
{
    CNotification busy(*this);
    if (nErrorCode != SOCKET_NO_ERROR)
        return;
    while (!m_sendQueue.empty())
    {
        if (m_sockLink.state() != QAbstractSocket::ConnectedState)
        {
            DebugOutput(NOT_CONNECTED);
            break;
        }
        const std::vector<std::uint8_t>& frame = m_sendQueue.front();
        if (!TrySend(frame.data(), static_cast<int>(frame.size())))
            break; // stays first, for the next time the socket takes bytes
        m_sendQueue.pop_front();
    }
}

void CClientSocket::OnConnect(int nErrorCode)
{
    CNotification busy(*this);
    m_bConnecting = false;
    if (m_pOwner)
        m_pOwner->RequestConfiguration(nErrorCode);
}

void CClientSocket::OnReceive(int nErrorCode)
{
    CNotification busy(*this);
    if (nErrorCode != SOCKET_NO_ERROR || !m_pOwner)
        return;
    // The socket's read buffer is bounded, so what waits here is too; it is read in chunks
    // rather than in one piece of whatever size the socket announces.
    m_nLargestBacklog = std::max(m_nLargestBacklog, m_sockLink.bytesAvailable());
    std::uint8_t byChunk[LINK_READ_CHUNK];
    qint64 nTaken = 0;
    while (m_pOwner)
    {
        if (nTaken >= LINK_READ_BUFFER)
        {
            // More than the buffer holds: the rest comes at the next turn of the event loop,
            // so a peer that keeps sending cannot hold the dialog here.
            QMetaObject::invokeMethod(
                this, [this] { Guarded("OnReceive", [this] { OnReceive(SOCKET_NO_ERROR); }); },
                Qt::QueuedConnection);
            break;
        }
        // Reading on until the buffer is empty also lets the socket read from the network
        // again; a failed read ends the notification, nothing waits for announced bytes.
        const qint64 nRead = m_sockLink.read(reinterpret_cast<char*>(byChunk), sizeof byChunk);
        if (nRead <= 0)
            break;
        nTaken += nRead;
        if (!Deliver(byChunk, static_cast<std::size_t>(nRead)))
            break;
    }
}

bool CClientSocket::Deliver(const std::uint8_t* pData, std::size_t nLength)
{
    m_rcvFrames.Feed(pData, nLength,
                     [this](const std::uint8_t* pFrame, int nFrameLength)
                     {
                         m_pOwner->OnSocketFrame(pFrame, nFrameLength, this);
                         return m_pOwner != nullptr; // the owner may have dropped the link
                     });
    return m_pOwner != nullptr;
}

void CClientSocket::OnClose(int /*nErrorCode*/)
{
    CNotification busy(*this);
    if (m_pOwner)
        m_pOwner->DropConnection();
}
