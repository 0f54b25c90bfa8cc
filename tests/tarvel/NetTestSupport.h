#pragma once
// Helpers for driving the dialog's network link against a board played by the test: a
// QTcpServer on the loopback address that records what every connection receives and sends
// what the test says, a dialog that records the frames its link hands over, and Connect.
//
//     CTestPeer peer;
//     CRecordingDlg dlg;
//     OpenDialog(dlg);
//     ConnectTo(dlg, peer);                  // waits for the read-configuration frame
//     peer.Send(Bytes({0x36, 0x07, 1, 2, 3, 4, 5}));
//     QTRY_COMPARE(dlg.m_frames.size(), 1);
#include "DialogTestSupport.h"

#include "dialog/IpAddressCtrl.h"
#include "net/ClientSocket.h"
#include "net/Frames.h"

#include <QByteArray>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <initializer_list>
#include <sys/socket.h>
#include <vector>

// Waits for a condition the event loop brings about; the bound only keeps a broken build from
// hanging, it is not what the test checks.
inline constexpr int kWaitMs = 10000;

inline QByteArray Bytes(std::initializer_list<std::uint8_t> bytes)
{
    QByteArray data;
    for (std::uint8_t by : bytes)
        data.append(static_cast<char>(by));
    return data;
}

inline QString HexOf(const QByteArray& data)
{
    return QString::fromStdString(HexText(reinterpret_cast<const std::uint8_t*>(data.constData()),
                                          static_cast<std::size_t>(data.size())));
}

inline QString HexOf(const NetFrame& frame)
{
    return QString::fromStdString(HexText(frame.data(), frame.size()));
}

// A 12-byte frame as it leaves the tool: code, length byte 0x0C, the given bytes from byte 2 on,
// zeros after them.
inline QString FrameText(std::uint8_t byCode, std::initializer_list<std::uint8_t> payload = {})
{
    NetFrame frame{};
    frame[0] = byCode;
    frame[1] = 0x0C;
    std::size_t i = 2;
    for (std::uint8_t by : payload)
        frame[i++] = by;
    return HexOf(frame);
}

// The board's side: accepts every connection on 127.0.0.1 and a free port.
class CTestPeer : public QObject
{
public:
    CTestPeer()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this,
                [this]
                {
                    while (QTcpSocket* pSocket = m_server.nextPendingConnection())
                    {
                        const int nIndex = static_cast<int>(m_connections.size());
                        m_connections.push_back({pSocket, {}, false});
                        connect(pSocket, &QIODevice::readyRead, this,
                                [this, nIndex] {
                                    m_connections[nIndex].received +=
                                        m_connections[nIndex].pSocket->readAll();
                                });
                        connect(pSocket, &QAbstractSocket::disconnected, this,
                                [this, nIndex] { m_connections[nIndex].bClosed = true; });
                    }
                });
    }

    // The connections go first, their notifications cut, while what they report to is intact.
    ~CTestPeer() override
    {
        for (Connection& connection : m_connections)
        {
            QObject::disconnect(connection.pSocket, nullptr, this, nullptr);
            delete connection.pSocket;
        }
    }
    CTestPeer(const CTestPeer&) = delete;
    CTestPeer& operator=(const CTestPeer&) = delete;

    bool IsListening() const { return m_server.isListening(); }
    quint16 Port() const { return m_server.serverPort(); }
    int Connections() const { return static_cast<int>(m_connections.size()); }
    // Connection nIndex in the order accepted; none, nothing received, not closed until then.
    QTcpSocket* Socket(int nIndex = 0) const
    {
        return Has(nIndex) ? m_connections[nIndex].pSocket : nullptr;
    }
    QByteArray Received(int nIndex = 0) const
    {
        return Has(nIndex) ? m_connections[nIndex].received : QByteArray();
    }
    bool IsClosed(int nIndex = 0) const { return Has(nIndex) && m_connections[nIndex].bClosed; }

    // What the connection received, cut into the tool's 12-byte frames.
    QStringList Frames(int nIndex = 0) const
    {
        QStringList frames;
        const QByteArray data = Received(nIndex);
        for (qsizetype i = 0; i < data.size(); i += NET_FRAME_SIZE)
            frames << HexOf(data.mid(i, NET_FRAME_SIZE));
        return frames;
    }

    void Send(const QByteArray& data, int nIndex = 0)
    {
        QVERIFY(Socket(nIndex));
        Socket(nIndex)->write(data);
        Socket(nIndex)->flush();
    }

    // Ends the connection with a reset rather than an orderly close.
    void Reset(int nIndex = 0)
    {
        QTcpSocket* pSocket = Socket(nIndex);
        QVERIFY(pSocket);
        const linger noLinger{1, 0};
        ::setsockopt(static_cast<int>(pSocket->socketDescriptor()), SOL_SOCKET, SO_LINGER,
                     &noLinger, sizeof noLinger);
        pSocket->abort();
    }

private:
    bool Has(int nIndex) const { return nIndex >= 0 && nIndex < Connections(); }

    struct Connection
    {
        QTcpSocket* pSocket;
        QByteArray received;
        bool bClosed;
    };

    QTcpServer m_server;
    std::vector<Connection> m_connections;
};

// A dialog that records every frame its link hands over, then handles it as usual.
class CRecordingDlg : public CTarvelDlg
{
public:
    void OnSocketFrame(const std::uint8_t* pFrame, int nLength, CClientSocket* pLink) override
    {
        m_frames << QByteArray(reinterpret_cast<const char*>(pFrame), nLength);
        m_links << pLink;
        CTarvelDlg::OnSocketFrame(pFrame, nLength, pLink);
    }

    QList<QByteArray> m_frames;
    QList<CClientSocket*> m_links;
};

inline QStringList HexList(const QList<QByteArray>& frames)
{
    QStringList texts;
    for (const QByteArray& frame : frames)
        texts << HexOf(frame);
    return texts;
}

inline void SetAddress(CTarvelDlg& dlg, const char* pszAddress)
{
    dlg.m_ipAddress->SetAddress(QHostAddress(QString::fromLatin1(pszAddress)).toIPv4Address());
}

// Points the dialog at the peer and presses Connect; nothing is waited for.
inline void PressConnect(CTarvelDlg& dlg, quint16 nPort, const char* pszAddress = "127.0.0.1")
{
    qputenv("KELVARD_NET_PORT", QByteArray::number(nPort));
    SetAddress(dlg, pszAddress);
    ClickControl(dlg, IDC_CONNECT);
}

// Connects to the peer and waits until the read-configuration frame of the new connection
// (number nIndex at the peer) has arrived.
inline void ConnectTo(CTarvelDlg& dlg, CTestPeer& peer, int nIndex = 0)
{
    QVERIFY(peer.IsListening());
    PressConnect(dlg, peer.Port());
    QVERIFY(dlg.m_pLink);
    QTRY_VERIFY_WITH_TIMEOUT(
        peer.Connections() > nIndex && peer.Received(nIndex).size() >= NET_FRAME_SIZE, kWaitMs);
    QCOMPARE(peer.Frames(nIndex).first(), FrameText(0x38));
    QCOMPARE(dlg.m_pLink->State(), QAbstractSocket::ConnectedState);
}
