#pragma once
// Driving the dialog's network link against a board played by the test: a QTcpServer on the
// loopback address that records what each connection receives, and Connect.
#include "tests/tarvel/DialogTestSupport.h"

#include "protocol/net/Frames.h"
#include "tarvel/dialog/IpAddressCtrl.h"
#include "tarvel/net/ClientSocket.h"

#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>

// Only keeps a broken build from hanging; not what the tests check.
inline constexpr int WAIT_MS = 10000;

inline QByteArray Bytes(std::initializer_list<std::uint8_t> bytes)
{
    return QByteArray(reinterpret_cast<const char*>(std::data(bytes)),
                      static_cast<qsizetype>(bytes.size()));
}

// A 12-byte frame as the tool sends it: code, length 0x0C, the payload from byte 2, zeros.
inline QString FrameText(std::uint8_t byCode, std::initializer_list<std::uint8_t> payload = {})
{
    QByteArray frame = Bytes({byCode, 0x0C}) + Bytes(payload);
    frame.resize(NET_FRAME_SIZE, '\0');
    return QString::fromLatin1(frame.toHex(' '));
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
                        const auto n = m_connections.size();
                        m_connections.push_back({pSocket, {}, false});
                        connect(pSocket, &QIODevice::readyRead, this,
                                [this, n] { m_connections[n].received += Socket(n)->readAll(); });
                        connect(pSocket, &QAbstractSocket::disconnected, this,
                                [this, n] { m_connections[n].bClosed = true; });
                    }
                });
    }

    quint16 Port() const { return m_server.serverPort(); }
    QTcpSocket* Socket(std::size_t n = 0) const
    {
        return Has(n) ? m_connections[n].pSocket : nullptr;
    }
    QByteArray Received(std::size_t n = 0) const { return Has(n) ? m_connections[n].received : ""; }
    bool IsClosed(std::size_t n = 0) const { return Has(n) && m_connections[n].bClosed; }
    // What connection n received, cut into the tool's 12-byte frames.
    QStringList Frames(std::size_t n = 0) const
    {
        QStringList frames;
        for (qsizetype i = 0; i < Received(n).size(); i += NET_FRAME_SIZE)
            frames << QString::fromLatin1(Received(n).mid(i, NET_FRAME_SIZE).toHex(' '));
        return frames;
    }
    void Send(const QByteArray& data, std::size_t n = 0)
    {
        QVERIFY(Socket(n));
        Socket(n)->write(data);
        Socket(n)->flush();
    }

private:
    bool Has(std::size_t n) const { return n < m_connections.size(); }
    struct Connection
    {
        QTcpSocket* pSocket; // a child of m_server
        QByteArray received;
        bool bClosed;
    };
    // Outlives m_server, whose sockets still report to it as they go.
    std::vector<Connection> m_connections;
    QTcpServer m_server;
};

// Points the dialog at the port and address and presses Connect; nothing is waited for.
inline void PressConnect(CTarvelDlg& dlg, quint16 nPort, const char* pszAddress = "127.0.0.1")
{
    qputenv("KELVARD_NET_PORT", QByteArray::number(nPort));
    dlg.m_ipAddress->SetAddress(QHostAddress(QString::fromLatin1(pszAddress)).toIPv4Address());
    ClickControl(dlg, IDC_CONNECT);
}

// Connects to the peer and waits for the read-configuration frame on its connection n.
inline void ConnectTo(CTarvelDlg& dlg, CTestPeer& peer, std::size_t n = 0)
{
    QVERIFY(peer.Port() != 0);
    PressConnect(dlg, peer.Port());
    QVERIFY(dlg.m_pLink);
    QTRY_VERIFY_WITH_TIMEOUT(peer.Received(n).size() >= NET_FRAME_SIZE, WAIT_MS);
    QCOMPARE(peer.Frames(n).first(), FrameText(0x38));
    QCOMPARE(dlg.m_pLink->State(), QAbstractSocket::ConnectedState);
}

// ConnectTo, leaving the test at once when it failed.
#define CONNECT_TO(dlg, peer, n)                                                                   \
    if (ConnectTo(dlg, peer, n); QTest::currentTestFailed())                                       \
    return

// The process on the other end of the link stopped as Ctrl-C stops it: it ends well and the
// dialog's link closes.
inline void StopLikeCtrlC(QProcess& process, CTarvelDlg& dlg)
{
    process.terminate();
    QVERIFY(process.waitForFinished(WAIT_MS));
    QCOMPARE(process.exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!dlg.m_pLink, WAIT_MS);
}
