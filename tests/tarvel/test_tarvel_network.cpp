// The network link over real loopback TCP against a board played by the test: a QTcpServer on
// the loopback address that records what each connection receives. Frames cut anywhere or
// several per delivery, malformed and short frames, a flood, a peer that goes away, and the link
// dropped from inside a frame's delivery; the send order when the socket refuses frames, and
// frames given while connecting. The dialog's side: Connect stores the address whatever happens
// next, Connect twice, Close, the link dropped by USB device-list rebuilds and by closing the
// dialog, the exact frames each view sends while no USB board is current, and end to end against
// `zorvane serve` in its own process.
#include "tests/tarvel/TarvelTestSupport.h"

class TestTarvelNetwork : public QObject
{
    Q_OBJECT

private slots:
    // Frames given while connecting are dropped and refused ones wait in order; then, on a new
    // link, frames are reassembled, malformed ones change nothing, a flood is bounded and the
    // link ends as the peer or the dialog ends it.
    void framesOnTheLink()
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

        QVERIFY(ConnectTo(dlg, peer, 1));
        // In pieces of 1, 5 and 6 bytes, each waited for so that TCP cannot join them.
        const QByteArray reply = Frame(0x36, {0x01, 0x02, 0x03, 0x04, 0x05});
        peer.Send(reply.left(1), 1);
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_pLink->Receiver().Received(), 1, WAIT_MS);
        peer.Send(reply.mid(1, 5), 1);
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_pLink->Receiver().Received(), 6, WAIT_MS);
        QVERIFY(dlg.m_vecFrames.isEmpty());
        peer.Send(reply.mid(6), 1);
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_vecFrames, QList<QByteArray>{reply}, WAIT_MS);
        QCOMPARE(Marks(dlg), "01 02 03 04 05");
        QVERIFY(dlg.m_pLink->Receiver().IsBetweenFrames());

        // Several frames in one delivery come in order, a 2-byte frame among them. Length
        // bytes 0 and 1 are discarded; read-ports one byte short of port E, read-configuration
        // one byte short of E's direction and an unknown code draw nothing.
        const QList<QByteArray> frames{
            Frame(0x36, {0x11, 0x22, 0x33, 0x44, 0x55}),
            Bytes({0x38, 0x0C, 0xA0, 0xEE, 0xB0, 0xEE, 0xC0, 0xEE, 0x1F, 0xEE, 0xE0, 0x03}),
            Bytes({0x3C, 0x02}),
            Bytes({0x36, 0x06, 0xAA, 0xBB, 0xCC, 0xDD}),
            Bytes({0x38, 0x0A, 0xAA, 0x00, 0xBB, 0x00, 0xCC, 0x00, 0xDD, 0x00}),
            Bytes({0x3C, 0x0C, 7, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE})};
        peer.Send(frames[0] + frames[1] + frames[2] + Bytes({0x36, 0x00, 0x38, 0x01}) + frames[3] +
                      frames[4] + frames[5],
                  1);
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_vecFrames.mid(1), frames, WAIT_MS);
        QCOMPARE(dlg.m_pLink->Receiver().DiscardedHeaders(), 2u);
        // The configuration drew last: direction masks, inversion bytes ignored.
        QCOMPARE(Marks(dlg), "a0 b0 c0 1f e0");
        // A 2-byte frame alone is handed over without waiting for more.
        peer.Send(Bytes({0x40, 0x02}), 1);
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_vecFrames.last(), Bytes({0x40, 0x02}), WAIT_MS);

        // The shortest complete replies are drawn.
        peer.Send(Bytes({0x36, 0x07, 0x10, 0x20, 0x30, 0x40, 0x50}), 1);
        QTRY_COMPARE_WITH_TIMEOUT(Marks(dlg), "10 20 30 40 50", WAIT_MS);
        peer.Send(Bytes({0x38, 0x0B, 0x0A, 0x00, 0x0B, 0x00, 0x0C, 0x00, 0x0D, 0x00, 0x0E}), 1);
        QTRY_COMPARE_WITH_TIMEOUT(Marks(dlg), "0a 0b 0c 0d 0e", WAIT_MS);

        // About 4 MB of good and bad bytes in one write, frames of 2 to 255 bytes across the
        // link's reads, then a reply to draw: every frame comes in order, never more waiting in
        // the socket than its bounded buffer, and the link goes on.
        const QByteArray big = Bytes({0x40, 0xFF}) + QByteArray(253, '\xEE');
        const QByteArray mix =
            Bytes({0x36, 0x01}) + Bytes({0x3C, 0x02}) + big + Frame(0x36, {1, 2, 3, 4, 5});
        QList<QByteArray> expected;
        for (int i = 0; i < 4 * 1024 * 1024 / mix.size(); ++i)
            expected << Bytes({0x3C, 0x02}) << big << Frame(0x36, {1, 2, 3, 4, 5});
        expected << Frame(0x36, {0xC3, 0x3C, 0x99, 0x11, 0x7E});
        const qsizetype nBefore = dlg.m_vecFrames.size();
        peer.Send(mix.repeated(4 * 1024 * 1024 / mix.size()) + expected.last(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_vecFrames.size() - nBefore, expected.size(), 120000);
        QCOMPARE(dlg.m_vecFrames.mid(nBefore), expected);
        QCOMPARE(Marks(dlg), "c3 3c 99 11 7e");
        QVERIFY(dlg.m_pLink->LargestBacklog() > 0 &&
                dlg.m_pLink->LargestBacklog() <= LINK_READ_BUFFER);
        ClickControl(dlg, BitBoxId(PORT_A, 0));
        QTRY_COMPARE_WITH_TIMEOUT(peer.Frames(1).value(1),
                                  FrameText(0x37, {0xC2, 0x3C, 0x99, 0x11, 0x7E}), WAIT_MS);

        // The peer closing or resetting ends the link, the frame under way with it.
        const qsizetype nFrames = dlg.m_vecFrames.size();
        for (int n : {2, 3}) // an orderly close, then a reset
        {
            QVERIFY(ConnectTo(dlg, peer, n));
            QPointer<CClientSocket> pEnded = dlg.m_pLink;
            peer.Send(Frame(0x36, {1, 2, 3, 4, 5}).left(7), n); // half a frame, then the end
            QTRY_COMPARE_WITH_TIMEOUT(pEnded->Receiver().Received(), 7, WAIT_MS);
            const linger noLinger{n - 2, 0}; // on: a reset rather than an orderly close
            ::setsockopt(static_cast<int>(peer.Socket(n)->socketDescriptor()), SOL_SOCKET,
                         SO_LINGER, &noLinger, sizeof noLinger);
            peer.Socket(n)->abort();
            QTRY_VERIFY_WITH_TIMEOUT(pEnded.isNull(), WAIT_MS);
            QVERIFY(!dlg.m_pLink && dlg.findChildren<CClientSocket*>().isEmpty());
        }
        QCOMPARE(dlg.m_vecFrames.size(), nFrames); // the half frames went with the links

        // The dialog dropping the link while it handles a frame: the next one is not delivered.
        QVERIFY(ConnectTo(dlg, peer, 4));
        QPointer<CClientSocket> pDropped = dlg.m_pLink;
        dlg.m_bDropOnFrame = true;
        peer.Send(Frame(0x36, {1, 2, 3, 4, 5}) + Frame(0x36, {6, 7, 8, 9, 10}), 4);
        QTRY_VERIFY_WITH_TIMEOUT(pDropped.isNull() && peer.IsClosed(4), WAIT_MS);
        QVERIFY(!dlg.m_pLink && dlg.m_vecFrames.size() == nFrames + 1);
        QCOMPARE(Marks(dlg), "01 02 03 04 05");
    }

    // Connect stores the address, whether or not anything listens there; a refused link stays
    // without a word until Close, Connect or a rebuild. Connect twice leaves one link; Close, a
    // USB board plugged or unplugged, closing the dialog and destroying it end it. The exact
    // frames each view sends while no USB board is current.
    void connectStoresTheAddressAndTheLinkLastsUntilEnded()
    {
        CSimFixture sim;
        CTestPeer peer;
        auto pDlg = std::make_unique<COpenDlg>(sim);
        COpenDlg& dlg = *pDlg;
        ClickControl(dlg, IDC_CLOSE_LINK); // without a link: nothing
        // Stored as a signed number. The limited broadcast address is refused before anything
        // is sent.
        PressConnect(dlg, peer.Port(), "255.255.255.255");
        QCOMPARE(StoredAddress(), "-1");
        PressConnect(dlg, CTestPeer().Port()); // nothing listens there any more
        QCOMPARE(StoredAddress(), "2130706433");
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_pLink->State(), QAbstractSocket::UnconnectedState, WAIT_MS);

        QVERIFY(ConnectTo(dlg, peer, 0));
        QPointer<CClientSocket> pFirst = dlg.m_pLink;
        QVERIFY(ConnectTo(dlg, peer, 1));
        QVERIFY(pFirst.isNull());
        QTRY_VERIFY_WITH_TIMEOUT(peer.IsClosed(0), WAIT_MS);
        ClickControl(dlg, BitBoxId(PORT_A, 7));
        QTRY_COMPARE_WITH_TIMEOUT(peer.Frames(1),
                                  (QStringList{FrameText(0x38), FrameText(0x37, {0x80})}), WAIT_MS);
        QCOMPARE(peer.Frames(0), QStringList{FrameText(0x38)});
        ClickControl(dlg, IDC_CLOSE_LINK);
        QVERIFY(!dlg.m_pLink && dlg.findChildren<CClientSocket*>().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(peer.IsClosed(1), WAIT_MS);
        ClickControl(dlg, BitBoxId(PORT_A, 0)); // changes only the marks now
        QCOMPARE(Marks(dlg), "81 00 00 00 00");
        QCOMPARE(peer.Frames(1).size(), 2);

        // Again, the exact frames each view sends while no USB board is current.
        QVERIFY(ConnectTo(dlg, peer, 2));
        QStringList expected{FrameText(0x38)}; // all the frames sent, compared at the end

        // A write-ports, then Port Direction: a read-configuration; the marks wait for its reply.
        ClickControl(dlg, BitBoxId(PORT_E, 7));
        ClickControl(dlg, IDC_PORT_DIRECTION);
        QCOMPARE(Marks(dlg), "81 00 00 00 80");
        ClickControl(dlg, BitBoxId(PORT_C, 2));
        expected << FrameText(0x37, {0x81, 0, 0, 0, 0x80}) << FrameText(0x38)
                 << FrameText(0x39, {0x81, 0, 0x00, 0, 0x04, 0, 0x00, 0, 0x80, 0});

        // Input Polarity: byte 11 carries row E as the grid has it.
        ClickControl(dlg, IDC_INPUT_POLARITY);
        ClickControl(dlg, BitBoxId(PORT_D, 4));
        ClickControl(dlg, SetButtonId(PORT_B));
        expected << FrameText(0x38)
                 << FrameText(0x39, {0, 0x81, 0, 0x00, 0, 0x04, 0, 0x10, 0, 0x80})
                 << FrameText(0x39, {0, 0x81, 0, 0xFF, 0, 0x04, 0, 0x10, 0, 0x80});

        // Port Bits: read-ports, then read-configuration; a poll reads the ports.
        ClickControl(dlg, IDC_PORT_BITS);
        dlg.OnTimer(TIMER_POLL);
        expected << FrameText(0x36) << FrameText(0x38) << FrameText(0x36);
        // The reply draws the directions; the polling rule is for USB boards only.
        peer.Send(Bytes({0x38, 0x0C, 0xF0, 0x01, 0x0F, 0x02, 0xAA, 0x03, 0x55, 0x04, 0x00, 0x02}),
                  2);
        QTRY_COMPARE_WITH_TIMEOUT(Marks(dlg), "f0 0f aa 55 00", WAIT_MS);
        QCOMPARE(dlg.m_nTimer, 0);

        // Analog Inputs (entered from Port Direction, where row E can be clicked): the view's
        // read, then nothing for the clicks, as the next view's read shows.
        ClickControl(dlg, IDC_PORT_DIRECTION);
        ClickControl(dlg, IDC_ANALOG_INPUTS);
        ClickControl(dlg, BitBoxId(PORT_E, 1));
        ClickControl(dlg, BitBoxId(PORT_E, 3));
        QCOMPARE(Marks(dlg), "00 00 00 00 0f");
        ClickControl(dlg, IDC_PORT_DIRECTION);
        expected << FrameText(0x38) << FrameText(0x38) << FrameText(0x38);
        QTRY_COMPARE_WITH_TIMEOUT(peer.Frames(2).size(), expected.size(), WAIT_MS);
        QCOMPARE(peer.Frames(2), expected);

        // With a USB board current the exchanges go to it, even with a link again.
        auto pBoard = sim.Plug(SimBoardConfig().Id(3));
        DeliverDeviceChanges(sim);
        QVERIFY(dlg.m_pDevice && !dlg.m_pLink);
        QTRY_VERIFY_WITH_TIMEOUT(peer.IsClosed(2), WAIT_MS);
        QVERIFY(ConnectTo(dlg, peer, 3));
        TraceOf(sim);
        ClickControl(dlg, IDC_INPUT_POLARITY);
        ClickControl(dlg, BitBoxId(PORT_A, 0));
        QCOMPARE(TraceOf(sim).size(), 5); // read-configuration twice, the write between
        QCOMPARE(peer.Frames(3), QStringList{FrameText(0x38)});
        sim.Bus().Unplug(pBoard);
        DeliverDeviceChanges(sim);
        QVERIFY(!dlg.m_pDevice && !dlg.m_pLink);
        QTRY_VERIFY_WITH_TIMEOUT(peer.IsClosed(3), WAIT_MS);
        QVERIFY(ConnectTo(dlg, peer, 4));
        ClickControl(dlg, IDOK);
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.m_pLink && peer.IsClosed(4), WAIT_MS);
        QVERIFY(ConnectTo(dlg, peer, 5));
        pDlg.reset();
        QTRY_VERIFY_WITH_TIMEOUT(peer.IsClosed(5), WAIT_MS);
    }

    // End to end: 'zorvane serve' in its own process, before a USB board on that process's
    // simulated bus, whose trace shows the USB request every frame became.
    void theDialogDrivesAUsbBoardThroughTheBridge()
    {
        CSimFixture sim; // the dialog's bus: no board
        QTemporaryDir dir;
        QFile trace(dir.filePath("trace"));
        qputenv("KELVARD_SIM_BOARDS", "id=7"); // the bridge's bus
        qputenv("KELVARD_SIM_TRACE", trace.fileName().toLocal8Bit());
        QProcess bridge;
        bridge.start(ZORVANE_TOOL,
                     {"serve", "7", "--listen", "127.0.0.1:0", "--allow", "127.0.0.0/8"});
        QVERIFY(bridge.waitForReadyRead(WAIT_MS));
        const QString strServing = QString::fromLatin1(bridge.readLine()).trimmed();
        QCOMPARE(strServing.section(':', 0, -2), "serving board 7 (sim:0) on 127.0.0.1");
        const quint16 nPort = strServing.section(':', -1).toUShort();
        // Found through the driver layer alone: query-mode first (the library asks read-device-id).
        QVERIFY(trace.open(QIODevice::ReadOnly) && trace.readLine().startsWith("0 > 08 "));
        QByteArray traced;
        const auto Traced = [&](const char* pszLine)
        { return (traced += trace.readAll()).contains(QByteArray("\n") + pszLine + "\n"); };

        // Another client makes port B outputs; the dialog's Connect takes the board over.
        CLoopbackClient other(nPort);
        const NetFrame directions = BuildWriteDirectionsFrame({0xFF, 0x00, 0xFF, 0xFF, 0xFF});
        QVERIFY(other.Send(HexText(directions.data(), directions.size())));
        QTRY_VERIFY_WITH_TIMEOUT(Traced("0 > 39 ff 00 00 00 ff 00 ff 00 ff 00"), WAIT_MS);
        COpenDlg dlg(sim);
        PressConnect(dlg, nPort);
        QCOMPARE(other.Receive(1), std::string("closed"));
        // Port B all outputs: B1 set, a poll shows its pins, B driving its new latch and the
        // inputs low. Then the bridge stops as Ctrl-C stops it: it ends well, the link closes.
        QTRY_COMPARE_WITH_TIMEOUT(Marks(dlg), "ff 00 ff ff ff", WAIT_MS);
        ClickControl(dlg, BitBoxId(PORT_B, 1));
        dlg.OnTimer(TIMER_POLL);
        QTRY_COMPARE_WITH_TIMEOUT(Marks(dlg), "00 02 00 00 00", WAIT_MS);
        bridge.terminate();
        QVERIFY(bridge.waitForFinished(WAIT_MS) && bridge.exitCode() == 0);
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.m_pLink, WAIT_MS);
        QVERIFY(Traced("0 > 37 ff 02 ff ff ff")); // the USB request the click became
    }
};

QTEST_MAIN(TestTarvelNetwork)
#include "test_tarvel_network.moc"
