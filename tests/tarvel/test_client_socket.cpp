// The network link over real loopback TCP against a board played by the test: frames cut
// anywhere or several per delivery, malformed and short frames, a flood, a peer that goes away,
// and the link dropped from inside a frame's delivery; the send order when the socket refuses
// frames, and frames given while connecting.
#include "tests/tarvel/NetTestSupport.h"

#include <QPointer>

#include <sys/socket.h>

namespace
{
QByteArray PortsReply(std::uint8_t byA, std::uint8_t byB, std::uint8_t byC, std::uint8_t byD,
                      std::uint8_t byE)
{
    return Bytes({0x36, 0x0C, byA, byB, byC, byD, byE, 0, 0, 0, 0, 0});
}

// An opened dialog that records every frame its link hands over, then handles it as usual,
// and then drops the link if asked to.
class CRecordingDlg : public COpenDlg
{
public:
    using COpenDlg::COpenDlg;
    void OnSocketFrame(const std::uint8_t* pFrame, int nLength, CClientSocket* pLink) override
    {
        m_vecFrames << QByteArray(reinterpret_cast<const char*>(pFrame), nLength);
        CTarvelDlg::OnSocketFrame(pFrame, nLength, pLink);
        if (m_bDropOnFrame)
            DropConnection();
    }
    QList<QByteArray> m_vecFrames;
    bool m_bDropOnFrame = false;
};
} // namespace

class TestClientSocket : public QObject
{
    Q_OBJECT

private slots:
    void framesAreReassembledMalformedOnesChangeNothingAFloodIsBoundedAndTheLinkEnds()
    {
        CSimFixture sim;
        CTestPeer peer;
        CRecordingDlg dlg(sim);
        QVERIFY(ConnectTo(dlg, peer, 0));
        // In pieces of 1, 5 and 6 bytes, each waited for so that TCP cannot join them.
        const QByteArray reply = PortsReply(0x01, 0x02, 0x03, 0x04, 0x05);
        peer.Send(reply.left(1));
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_pLink->Receiver().Received(), 1, WAIT_MS);
        peer.Send(reply.mid(1, 5));
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_pLink->Receiver().Received(), 6, WAIT_MS);
        QVERIFY(dlg.m_vecFrames.isEmpty());
        peer.Send(reply.mid(6));
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_vecFrames, QList<QByteArray>{reply}, WAIT_MS);
        QCOMPARE(Marks(dlg), "01 02 03 04 05");
        QVERIFY(dlg.m_pLink->Receiver().IsBetweenFrames());

        // Several frames in one delivery come in order, a 2-byte frame among them. Length
        // bytes 0 and 1 are discarded; read-ports one byte short of port E, read-configuration
        // one byte short of E's direction and an unknown code draw nothing.
        const QList<QByteArray> frames{
            PortsReply(0x11, 0x22, 0x33, 0x44, 0x55),
            Bytes({0x38, 0x0C, 0xA0, 0xEE, 0xB0, 0xEE, 0xC0, 0xEE, 0x1F, 0xEE, 0xE0, 0x03}),
            Bytes({0x3C, 0x02}),
            Bytes({0x36, 0x06, 0xAA, 0xBB, 0xCC, 0xDD}),
            Bytes({0x38, 0x0A, 0xAA, 0x00, 0xBB, 0x00, 0xCC, 0x00, 0xDD, 0x00}),
            Bytes({0x3C, 0x0C, 7, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE})};
        peer.Send(frames[0] + frames[1] + frames[2] + Bytes({0x36, 0x00, 0x38, 0x01}) + frames[3] +
                  frames[4] + frames[5]);
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_vecFrames.mid(1), frames, WAIT_MS);
        QCOMPARE(dlg.m_pLink->Receiver().DiscardedHeaders(), 2u);
        // The configuration drew last: direction masks, inversion bytes ignored.
        QCOMPARE(Marks(dlg), "a0 b0 c0 1f e0");
        // A 2-byte frame alone is handed over without waiting for more.
        peer.Send(Bytes({0x40, 0x02}));
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_vecFrames.last(), Bytes({0x40, 0x02}), WAIT_MS);

        // The shortest complete replies are drawn.
        peer.Send(Bytes({0x36, 0x07, 0x10, 0x20, 0x30, 0x40, 0x50}));
        QTRY_COMPARE_WITH_TIMEOUT(Marks(dlg), "10 20 30 40 50", WAIT_MS);
        peer.Send(Bytes({0x38, 0x0B, 0x0A, 0x00, 0x0B, 0x00, 0x0C, 0x00, 0x0D, 0x00, 0x0E}));
        QTRY_COMPARE_WITH_TIMEOUT(Marks(dlg), "0a 0b 0c 0d 0e", WAIT_MS);

        // About 4 MB of good and bad bytes in one write, frames of 2 to 255 bytes across the
        // link's reads, then a reply to draw: every frame comes in order, never more waiting in
        // the socket than its bounded buffer, and the link goes on.
        const QByteArray big = Bytes({0x40, 0xFF}) + QByteArray(253, '\xEE');
        const QByteArray mix =
            Bytes({0x36, 0x01}) + Bytes({0x3C, 0x02}) + big + PortsReply(1, 2, 3, 4, 5);
        QList<QByteArray> expected;
        for (int i = 0; i < 4 * 1024 * 1024 / mix.size(); ++i)
            expected << Bytes({0x3C, 0x02}) << big << PortsReply(1, 2, 3, 4, 5);
        expected << PortsReply(0xC3, 0x3C, 0x99, 0x11, 0x7E);
        const qsizetype nBefore = dlg.m_vecFrames.size();
        peer.Send(mix.repeated(4 * 1024 * 1024 / mix.size()) + expected.last());
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_vecFrames.size() - nBefore, expected.size(), 120000);
        QCOMPARE(dlg.m_vecFrames.mid(nBefore), expected);
        QCOMPARE(Marks(dlg), "c3 3c 99 11 7e");
        QVERIFY(dlg.m_pLink->LargestBacklog() > 0 &&
                dlg.m_pLink->LargestBacklog() <= LINK_READ_BUFFER);
        ClickControl(dlg, BitBoxId(PORT_A, 0));
        QTRY_COMPARE_WITH_TIMEOUT(peer.Frames().value(1),
                                  FrameText(0x37, {0xC2, 0x3C, 0x99, 0x11, 0x7E}), WAIT_MS);

        // The peer closing or resetting ends the link, the frame under way with it.
        const qsizetype nFrames = dlg.m_vecFrames.size();
        for (int n : {1, 2}) // an orderly close, then a reset
        {
            QVERIFY(ConnectTo(dlg, peer, n));
            QPointer<CClientSocket> pLink = dlg.m_pLink;
            peer.Send(PortsReply(1, 2, 3, 4, 5).left(7), n); // half a frame, then the end
            QTRY_COMPARE_WITH_TIMEOUT(pLink->Receiver().Received(), 7, WAIT_MS);
            const linger noLinger{n - 1, 0}; // on: a reset rather than an orderly close
            ::setsockopt(static_cast<int>(peer.Socket(n)->socketDescriptor()), SOL_SOCKET,
                         SO_LINGER, &noLinger, sizeof noLinger);
            peer.Socket(n)->abort();
            QTRY_VERIFY_WITH_TIMEOUT(pLink.isNull(), WAIT_MS);
            QVERIFY(!dlg.m_pLink && dlg.findChildren<CClientSocket*>().isEmpty());
        }
        QCOMPARE(dlg.m_vecFrames.size(), nFrames); // the half frames went with the links

        // The dialog dropping the link while it handles a frame: the next one is not delivered.
        QVERIFY(ConnectTo(dlg, peer, 3));
        QPointer<CClientSocket> pLink = dlg.m_pLink;
        dlg.m_bDropOnFrame = true;
        peer.Send(PortsReply(1, 2, 3, 4, 5) + PortsReply(6, 7, 8, 9, 10), 3);
        QTRY_VERIFY_WITH_TIMEOUT(pLink.isNull() && peer.IsClosed(3), WAIT_MS);
        QVERIFY(!dlg.m_pLink && dlg.m_vecFrames.size() == nFrames + 1);
        QCOMPARE(Marks(dlg), "01 02 03 04 05");
    }

    void framesGivenWhileConnectingAreDroppedAndRefusedOnesWaitInOrder()
    {
        CSimFixture sim;
        CDebugCapture log;
        CTestPeer peer;
        CRecordingDlg dlg(sim);
        PressConnect(dlg, peer.Port());
        QVERIFY(dlg.m_pLink->State() != QAbstractSocket::ConnectedState);
        CClientSocket* pLink = dlg.m_pLink;
        // Frames numbered n in ports A and B; SendFrame writes the length byte itself.
        const auto Send = [pLink](std::size_t n)
        {
            NetFrame frame = BuildWritePortsFrame({std::uint8_t(n), std::uint8_t(n >> 8), 0, 0, 0});
            frame[1] = 0;
            return pLink->SendFrame(frame.data(), NET_FRAME_SIZE);
        };
        ClickControl(dlg, BitBoxId(PORT_A, 0));
        QCOMPARE(Send(0x55), SOCKET_NOT_CONNECTED);
        const QString strNotConnected = QStringLiteral("Socket not connected\n").repeated(2);
        QCOMPARE(QString::fromStdString(log.Text()), strNotConnected);

        // Once connected: the read-configuration frame, then what is sent from then on.
        QTRY_COMPARE_WITH_TIMEOUT(peer.Frames().size(), 1, WAIT_MS);
        ClickControl(dlg, BitBoxId(PORT_B, 1));
        QTRY_COMPARE_WITH_TIMEOUT(
            peer.Frames(), (QStringList{FrameText(0x38), FrameText(0x37, {0x01, 0x02})}), WAIT_MS);

        // Refused frames wait and leave in the order given.
        pLink->SetSendLimit(1); // any backlog at all makes the socket refuse the next frame
        QCOMPARE(Send(1), 0);
        QCOMPARE(Send(2), SOCKET_WOULD_BLOCK);
        QCOMPARE(Send(3), 0);                   // behind the refused one
        ClickControl(dlg, BitBoxId(PORT_E, 7)); // the dialog's too
        QCOMPARE(pLink->QueuedFrames(), std::size_t(3));
        QTRY_COMPARE_WITH_TIMEOUT(
            peer.Frames().mid(2),
            (QStringList{FrameText(0x37, {0x01}), FrameText(0x37, {0x02}), FrameText(0x37, {0x03}),
                         FrameText(0x37, {0x01, 0x02, 0, 0, 0x80})}),
            WAIT_MS);

        // A full queue drops the newest frames.
        for (std::size_t n = 0; n < 1 + LINK_QUEUE_MAX + 3; ++n)
            Send(n);
        QCOMPARE(pLink->QueuedFrames(), LINK_QUEUE_MAX);
        QCOMPARE(QString::fromStdString(log.Text()),
                 strNotConnected + QStringLiteral("Send queue full\n").repeated(3));
        QTRY_COMPARE_WITH_TIMEOUT(peer.Frames().size(), 6 + 1 + int(LINK_QUEUE_MAX), WAIT_MS);
        QCOMPARE(peer.Frames().last(),
                 FrameText(0x37, {LINK_QUEUE_MAX & 0xFF, LINK_QUEUE_MAX >> 8}));
    }
};

QTEST_MAIN(TestClientSocket)
#include "test_client_socket.moc"
