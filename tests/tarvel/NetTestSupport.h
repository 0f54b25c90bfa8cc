#pragma once
// Driving the dialog's network link against a board played by the test: a QTcpServer on the
// loopback address that records what each connection receives, and Connect.
#include "tests/tarvel/DialogTestSupport.h"

#include "protocol/net/Frames.h"
#include "tarvel/dialog/IpAddressCtrl.h"
#include "tarvel/net/ClientSocket.h"

#include <QHostAddress>
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

// The board's side: accepts every connection on 127.0.0.1 and a free port, and keeps what each
// one receives.
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
                        m_sockets << pSocket;
                        m_received << QByteArray();
                        connect(pSocket, &QIODevice::readyRead, this,
                                [this, n = m_sockets.size() - 1]
                                { m_received[n] += m_sockets[n]->readAll(); });
                    }
                });
    }

    quint16 Port() const { return m_server.serverPort(); }
    QTcpSocket* Socket(qsizetype n = 0) const { return m_sockets.value(n); }
    bool IsClosed(qsizetype n = 0) const
    {
        return Socket(n) && Socket(n)->state() == QAbstractSocket::UnconnectedState;
    }
    // What connection n received, cut into the tool's 12-byte frames.
    QStringList Frames(qsizetype n = 0) const
    {
        QStringList frames;
        for (qsizetype i = 0; i < m_received.value(n).size(); i += NET_FRAME_SIZE)
            frames << QString::fromLatin1(m_received[n].mid(i, NET_FRAME_SIZE).toHex(' '));
        return frames;
    }
    void Send(const QByteArray& data, qsizetype n = 0) { Socket(n)->write(data); }

private:
    // Outlive m_server, whose sockets (its children) may still report as they go.
    QList<QTcpSocket*> m_sockets;
    QList<QByteArray> m_received;
    QTcpServer m_server;
};

// Points the dialog at the port and address and presses Connect; nothing is waited for.
inline void PressConnect(CTarvelDlg& dlg, quint16 nPort, const char* pszAddress = "127.0.0.1")
{
    qputenv("KELVARD_NET_PORT", QByteArray::number(nPort));
    dlg.m_ipAddress->SetAddress(QHostAddress(QString::fromLatin1(pszAddress)).toIPv4Address());
    ClickControl(dlg, IDC_CONNECT);
}

// Connects to the peer: true once the link is connected and the read-configuration frame has
// arrived on the peer's connection n.
inline bool ConnectTo(CTarvelDlg& dlg, CTestPeer& peer, qsizetype n)
{
    PressConnect(dlg, peer.Port());
    return QTest::qWaitFor([&] { return peer.Frames(n).value(0) == FrameText(0x38); }, WAIT_MS) &&
           dlg.m_pLink && dlg.m_pLink->State() == QAbstractSocket::ConnectedState;
}
