// The network link over real loopback TCP, against a board played by the test: frames cut
// anywhere and several in one delivery, 2-byte frames, malformed headers, short replies,
// unknown codes, a flood of good and bad bytes; the order of sent frames when the socket
// refuses some, frames sent before the connection is made, and a peer that goes away.
#include "NetTestSupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <random>

namespace
{
// A 12-byte read-ports reply with the given port bytes.
QByteArray PortsReply(std::uint8_t byA, std::uint8_t byB, std::uint8_t byC, std::uint8_t byD,
                      std::uint8_t byE)
{
    return Bytes({0x36, 0x0C, byA, byB, byC, byD, byE, 0, 0, 0, 0, 0});
}

// Collects the debug lines written while it lives.
class CDebugLog
{
public:
    CDebugLog() : m_strPath(m_dir.filePath(QStringLiteral("debug.log")))
    {
        qputenv("KELVARD_DEBUG", m_strPath.toLocal8Bit());
    }
    ~CDebugLog() { qputenv("KELVARD_DEBUG", ""); }
    QString Text() const
    {
        QFile file(m_strPath);
        return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
    }

private:
    QTemporaryDir m_dir;
    QString m_strPath;
};
} // namespace

class TestClientSocket : public QObject
{
    Q_OBJECT

private slots:
    // --- Receiving ----------------------------------------------------------------------

    void aReplyInPiecesOf1And5And6IsDeliveredOnceComplete()
    {
        CSimFixture sim;
        CTestPeer peer;
        CRecordingDlg dlg;
        OpenDialog(dlg);
        ConnectTo(dlg, peer);
        QVERIFY(!QTest::currentTestFailed());
        CClientSocket* pLink = dlg.m_pLink;
        const QByteArray reply = PortsReply(0x01, 0x02, 0x03, 0x04, 0x05);

        peer.Send(reply.left(1));
        QTRY_COMPARE_WITH_TIMEOUT(pLink->Receiver().Received(), 1, kWaitMs);
        peer.Send(reply.mid(1, 5));
        QTRY_COMPARE_WITH_TIMEOUT(pLink->Receiver().Received(), 6, kWaitMs);
        QVERIFY(dlg.m_frames.isEmpty());
        QCOMPARE(Marks(dlg), QStringLiteral("00 00 00 00 00"));

        peer.Send(reply.mid(6));
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_frames.size(), 1, kWaitMs);
        QCOMPARE(HexOf(dlg.m_frames[0]), HexOf(reply));
        QCOMPARE(dlg.m_links[0], pLink);
        QCOMPARE(Marks(dlg), QStringLiteral("01 02 03 04 05"));
        QVERIFY(pLink->Receiver().IsBetweenFrames());
    }

    void framesInOneDeliveryComeInOrderTwoByteFramesIncluded()
    {
        CSimFixture sim;
        CTestPeer peer;
        CRecordingDlg dlg;
        OpenDialog(dlg);
        ConnectTo(dlg, peer);
        QVERIFY(!QTest::currentTestFailed());

        const QByteArray ports = PortsReply(0x11, 0x22, 0x33, 0x44, 0x55);
        const QByteArray config =
            Bytes({0x38, 0x0C, 0xA0, 0xEE, 0xB0, 0xEE, 0xC0, 0xEE, 0x1F, 0xEE, 0xE0, 0x03});
        const QByteArray empty = Bytes({0x3C, 0x02});
        peer.Send(ports + config + empty);
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_frames.size(), 3, kWaitMs);
        QCOMPARE(HexList(dlg.m_frames), (QStringList{HexOf(ports), HexOf(config), HexOf(empty)}));
        // The later reply drew last: direction masks, inversion bytes ignored.
        QCOMPARE(Marks(dlg), QStringLiteral("a0 b0 c0 1f e0"));

        // A 2-byte frame is handed over as soon as its header is in, without waiting for more.
        peer.Send(Bytes({0x40, 0x02}));
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_frames.size(), 4, kWaitMs);
        QCOMPARE(HexOf(dlg.m_frames[3]), QStringLiteral("40 02"));
        QVERIFY(dlg.m_pLink->Receiver().IsBetweenFrames());
    }

    void lengthBytesBelowTwoAreDiscardedAndTheLinkStaysUsable()
    {
        CSimFixture sim;
        CTestPeer peer;
        CRecordingDlg dlg;
        OpenDialog(dlg);
        ConnectTo(dlg, peer);
        QVERIFY(!QTest::currentTestFailed());

        const QByteArray good = PortsReply(0x0F, 0x00, 0xF0, 0x00, 0x81);
        peer.Send(Bytes({0x36, 0x00, 0x38, 0x01}) + good);
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_frames.size(), 1, kWaitMs);
        QCOMPARE(HexOf(dlg.m_frames[0]), HexOf(good));
        QCOMPARE(dlg.m_pLink->Receiver().DiscardedHeaders(), 2u);
        QCOMPARE(Marks(dlg), QStringLiteral("0f 00 f0 00 81"));

        // Still connected both ways.
        QCOMPARE(dlg.m_pLink->State(), QAbstractSocket::ConnectedState);
        ClickBit(dlg, PORT_B, 3);
        QTRY_COMPARE_WITH_TIMEOUT(peer.Frames().size(), 2, kWaitMs);
        QCOMPARE(peer.Frames()[1], FrameText(0x37, {0x0F, 0x08, 0xF0, 0x00, 0x81}));
    }

    void shortRepliesAndUnknownCodesChangeNothing()
    {
        CSimFixture sim;
        CTestPeer peer;
        CRecordingDlg dlg;
        OpenDialog(dlg);
        ConnectTo(dlg, peer);
        QVERIFY(!QTest::currentTestFailed());
        peer.Send(PortsReply(0x01, 0x02, 0x03, 0x04, 0x05));
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_frames.size(), 1, kWaitMs);

        // read-ports one byte short of port E, read-configuration one byte short of port E's
        // direction mask, and a reply of another command.
        const QByteArray shortPorts = Bytes({0x36, 0x06, 0xAA, 0xBB, 0xCC, 0xDD});
        const QByteArray shortConfig =
            Bytes({0x38, 0x0A, 0xAA, 0x00, 0xBB, 0x00, 0xCC, 0x00, 0xDD, 0x00});
        const QByteArray deviceId =
            Bytes({0x3C, 0x0C, 0x07, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE});
        peer.Send(shortPorts + shortConfig + deviceId);
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_frames.size(), 4, kWaitMs);
        QCOMPARE(HexList(dlg.m_frames.mid(1)),
                 (QStringList{HexOf(shortPorts), HexOf(shortConfig), HexOf(deviceId)}));
        QCOMPARE(Marks(dlg), QStringLiteral("01 02 03 04 05"));

        // The smallest complete replies are drawn.
        peer.Send(Bytes({0x36, 0x07, 0x10, 0x20, 0x30, 0x40, 0x50}) +
                  Bytes({0x38, 0x0B, 0x0A, 0x00, 0x0B, 0x00, 0x0C, 0x00, 0x0D, 0x00, 0x0E}));
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_frames.size(), 6, kWaitMs);
        QCOMPARE(Marks(dlg), QStringLiteral("0a 0b 0c 0d 0e"));
    }

    void aFloodOfGoodAndBadBytesIsBoundedAndTheLinkGoesOn()
    {
        CSimFixture sim;
        CTestPeer peer;
        CRecordingDlg dlg;
        OpenDialog(dlg);
        ConnectTo(dlg, peer);
        QVERIFY(!QTest::currentTestFailed());

        // About 4 MB: replies, replies too short, unknown codes of any length, and headers
        // whose length byte is 0 or 1, in one write.
        std::mt19937 random(1234);
        QByteArray flood;
        int nFrames = 0;
        while (flood.size() < 4 * 1024 * 1024)
        {
            switch (random() % 4)
            {
            case 0:
                flood += Bytes(
                    {static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random() % 2)});
                continue;
            case 1:
                flood += PortsReply(static_cast<std::uint8_t>(random()), 0, 0, 0, 0);
                break;
            case 2:
            {
                // 0x36 shorter than 7 or 0x38 shorter than 11
                const bool bPorts = random() % 2 == 0;
                const int nLength = 2 + static_cast<int>(random() % (bPorts ? 5 : 9));
                QByteArray frame(nLength, static_cast<char>(0x5A));
                frame[0] = static_cast<char>(bPorts ? 0x36 : 0x38);
                frame[1] = static_cast<char>(nLength);
                flood += frame;
                break;
            }
            default:
            {
                const int nLength = 2 + static_cast<int>(random() % 254);
                QByteArray frame(nLength, static_cast<char>(random()));
                frame[0] = static_cast<char>(0x3A + random() % 4); // 0x3A to 0x3D
                frame[1] = static_cast<char>(nLength);
                flood += frame;
                break;
            }
            }
            ++nFrames;
        }
        const QByteArray last = PortsReply(0xC3, 0x3C, 0x99, 0x11, 0x7E);
        peer.Send(flood + last);
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_frames.size(), nFrames + 1, 120000);

        bool bAllWhole = true;
        for (const QByteArray& frame : dlg.m_frames)
            bAllWhole = bAllWhole && frame.size() >= 2 &&
                        frame.size() == static_cast<std::uint8_t>(frame[1]);
        QVERIFY(bAllWhole);
        QCOMPARE(HexOf(dlg.m_frames.last()), HexOf(last));
        QCOMPARE(Marks(dlg), QStringLiteral("c3 3c 99 11 7e"));
        // Never more waiting in the socket than its bounded buffer.
        QVERIFY(dlg.m_pLink->LargestBacklog() > 0);
        QVERIFY2(dlg.m_pLink->LargestBacklog() <= LINK_READ_BUFFER,
                 qPrintable(QString::number(dlg.m_pLink->LargestBacklog())));
        QVERIFY(dlg.m_pLink->Receiver().IsBetweenFrames());

        // And the tool still sends.
        ClickBit(dlg, PORT_A, 0);
        QTRY_COMPARE_WITH_TIMEOUT(peer.Frames().size(), 2, kWaitMs);
        QCOMPARE(peer.Frames()[1], FrameText(0x37, {0xC2, 0x3C, 0x99, 0x11, 0x7E}));
    }

    // --- Sending -------------------------------------------------------------------------

    void framesGivenBeforeTheConnectionIsMadeAreDropped()
    {
        CSimFixture sim;
        CDebugLog log;
        CTestPeer peer;
        CRecordingDlg dlg;
        OpenDialog(dlg);
        PressConnect(dlg, peer.Port());
        QVERIFY(dlg.m_pLink);
        QVERIFY(dlg.m_pLink->State() != QAbstractSocket::ConnectedState);

        ClickBit(dlg, PORT_A, 0); // write-ports while connecting
        NetFrame frame = BuildWritePortsFrame({0x55, 0, 0, 0, 0});
        QCOMPARE(dlg.m_pLink->SendFrame(frame.data(), NET_FRAME_SIZE), SOCKET_NOT_CONNECTED);
        QCOMPARE(dlg.m_pLink->QueuedFrames(), std::size_t(0));
        QCOMPARE(log.Text(), QStringLiteral("Socket not connected\nSocket not connected\n"));

        // Once connected: the read-configuration frame, then what is sent from then on.
        QTRY_COMPARE_WITH_TIMEOUT(peer.Frames().size(), 1, kWaitMs);
        QCOMPARE(dlg.m_pLink->State(), QAbstractSocket::ConnectedState);
        ClickBit(dlg, PORT_B, 1);
        QTRY_COMPARE_WITH_TIMEOUT(peer.Frames().size(), 2, kWaitMs);
        QCOMPARE(peer.Frames(),
                 (QStringList{FrameText(0x38), FrameText(0x37, {0x01, 0x02, 0, 0, 0})}));
        QCOMPARE(log.Text(), QStringLiteral("Socket not connected\nSocket not connected\n"));
    }

    void refusedFramesWaitAndLeaveInTheOrderGiven()
    {
        CSimFixture sim;
        CTestPeer peer;
        CRecordingDlg dlg;
        OpenDialog(dlg);
        ConnectTo(dlg, peer);
        QVERIFY(!QTest::currentTestFailed());
        CClientSocket* pLink = dlg.m_pLink;
        // Any backlog at all makes the socket refuse the next frame.
        pLink->SetSendLimit(1);

        NetFrame first = BuildWritePortsFrame({0x01, 0, 0, 0, 0});
        NetFrame second = BuildWritePortsFrame({0x02, 0, 0, 0, 0});
        NetFrame third = BuildWritePortsFrame({0x03, 0, 0, 0, 0});
        third[1] = 0; // SendFrame writes the length byte itself
        QCOMPARE(pLink->SendFrame(first.data(), NET_FRAME_SIZE), 0);
        QCOMPARE(pLink->SendFrame(second.data(), NET_FRAME_SIZE), SOCKET_WOULD_BLOCK);
        QCOMPARE(pLink->SendFrame(third.data(), NET_FRAME_SIZE), 0); // behind the refused one
        QCOMPARE(pLink->QueuedFrames(), std::size_t(2));
        // The dialog's frames queue behind them too.
        ClickBit(dlg, PORT_E, 7);
        QCOMPARE(pLink->QueuedFrames(), std::size_t(3));

        QTRY_COMPARE_WITH_TIMEOUT(peer.Frames().size(), 5, kWaitMs);
        QCOMPARE(peer.Frames(),
                 (QStringList{FrameText(0x38), FrameText(0x37, {0x01}), FrameText(0x37, {0x02}),
                              FrameText(0x37, {0x03}), FrameText(0x37, {0, 0, 0, 0, 0x80})}));
        QCOMPARE(pLink->QueuedFrames(), std::size_t(0));
    }

    void aFullQueueDropsTheNewestFrames()
    {
        CSimFixture sim;
        CDebugLog log;
        CTestPeer peer;
        CRecordingDlg dlg;
        OpenDialog(dlg);
        ConnectTo(dlg, peer);
        QVERIFY(!QTest::currentTestFailed());
        CClientSocket* pLink = dlg.m_pLink;
        pLink->SetSendLimit(1);

        const int nGiven = 1 + static_cast<int>(LINK_QUEUE_MAX) + 3;
        for (int i = 0; i < nGiven; ++i)
        {
            NetFrame frame = BuildWritePortsFrame(
                {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8), 0, 0, 0});
            pLink->SendFrame(frame.data(), NET_FRAME_SIZE);
        }
        QCOMPARE(pLink->QueuedFrames(), LINK_QUEUE_MAX);
        QCOMPARE(log.Text(), QStringLiteral("Send queue full\n").repeated(3));

        const int nSent = 1 + static_cast<int>(LINK_QUEUE_MAX);
        QTRY_COMPARE_WITH_TIMEOUT(peer.Frames().size(), 1 + nSent, kWaitMs);
        const QStringList frames = peer.Frames();
        for (int i = 0; i < nSent; ++i)
            QCOMPARE(frames[1 + i], FrameText(0x37, {static_cast<std::uint8_t>(i),
                                                     static_cast<std::uint8_t>(i >> 8)}));
    }

    // --- The peer going away ---------------------------------------------------------------

    void thePeerClosingDropsTheLinkAndAnotherCanBeMade()
    {
        CSimFixture sim;
        CTestPeer peer;
        CRecordingDlg dlg;
        OpenDialog(dlg);
        ConnectTo(dlg, peer);
        QVERIFY(!QTest::currentTestFailed());
        QPointer<CClientSocket> pLink = dlg.m_pLink;

        // Half a frame, then the peer closes.
        peer.Send(PortsReply(1, 2, 3, 4, 5).left(7));
        QTRY_COMPARE_WITH_TIMEOUT(pLink->Receiver().Received(), 7, kWaitMs);
        peer.Socket()->disconnectFromHost();
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.m_pLink, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(pLink.isNull(), kWaitMs);
        QVERIFY(dlg.findChildren<CClientSocket*>().isEmpty());
        QVERIFY(dlg.m_frames.isEmpty());

        // Clicks change only the marks now.
        ClickBit(dlg, PORT_C, 0);
        QCOMPARE(Marks(dlg), QStringLiteral("00 00 01 00 00"));

        ConnectTo(dlg, peer, 1);
        QVERIFY(!QTest::currentTestFailed());
        ClickBit(dlg, PORT_C, 1);
        QTRY_COMPARE_WITH_TIMEOUT(peer.Frames(1).size(), 2, kWaitMs);
        QCOMPARE(peer.Frames(1)[1], FrameText(0x37, {0, 0, 0x03, 0, 0}));
    }

    void aResetByThePeerDropsTheLinkToo()
    {
        CSimFixture sim;
        CTestPeer peer;
        CRecordingDlg dlg;
        OpenDialog(dlg);
        ConnectTo(dlg, peer);
        QVERIFY(!QTest::currentTestFailed());
        QPointer<CClientSocket> pLink = dlg.m_pLink;
        peer.Send(Bytes({0x36, 0x0C, 0x01}));
        QTRY_COMPARE_WITH_TIMEOUT(pLink->Receiver().Received(), 3, kWaitMs);
        peer.Reset();
        QTRY_VERIFY_WITH_TIMEOUT(pLink.isNull(), kWaitMs);
        QVERIFY(!dlg.m_pLink);
        QVERIFY(dlg.m_frames.isEmpty());
    }
};

QTEST_MAIN(TestClientSocket)
#include "test_client_socket.moc"
