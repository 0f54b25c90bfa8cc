// The dialog's side of the network link: Connect stores the address whatever happens next,
// Connect twice, Close, the link dropped by USB device-list rebuilds and by closing the dialog,
// the exact frames each view sends while no USB board is current, and end to end against
// `kelvard-sim net` in its own process.
#include "tests/tarvel/NetTestSupport.h"

#include <QPointer>
#include <QRegularExpression>
#include <QSettings>

namespace
{
// Read from where the file must be, not from where the tool says it is.
QString StoredAddress()
{
    return QSettings(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Tarvel.ini"),
                     QSettings::IniFormat)
        .value(QStringLiteral("Settings/IPAddress"))
        .toString();
}
} // namespace

class TestTarvelNetwork : public QObject
{
    Q_OBJECT

private slots:
    // Connect stores the address, whether or not anything listens there; a refused link stays
    // without a word until Close, Connect or a rebuild. Connect twice leaves one link; Close, a
    // USB board plugged or unplugged, closing the dialog and destroying it end it.
    void connectStoresTheAddressAndTheLinkLastsUntilEnded()
    {
        qunsetenv("KELVARD_NET_PORT");
        QCOMPARE(LinkPort(), std::uint16_t(9764));
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
        NetFrame frame = BuildFrame(0x36);
        QCOMPARE(dlg.m_pLink->SendFrame(frame.data(), NET_FRAME_SIZE), SOCKET_NOT_CONNECTED);

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

        // With a USB board current the exchanges go to it, even with a link again.
        QVERIFY(ConnectTo(dlg, peer, 2));
        auto pBoard = sim.Plug(SimBoardConfig().Id(3));
        DeliverDeviceChanges(sim);
        QVERIFY(dlg.m_pDevice && !dlg.m_pLink);
        QTRY_VERIFY_WITH_TIMEOUT(peer.IsClosed(2), WAIT_MS);
        QVERIFY(ConnectTo(dlg, peer, 3));
        TraceOf(sim);
        ClickControl(dlg, IDC_PORT_DIRECTION);
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

    void eachViewSendsItsFramesWhileNoUsbBoardIsCurrent()
    {
        CSimFixture sim;
        CTestPeer peer;
        COpenDlg dlg(sim);
        QVERIFY(ConnectTo(dlg, peer, 0));
        QStringList expected{FrameText(0x38)}; // all the frames sent, compared at the end

        // Port Bits: write-ports with all five bytes.
        ClickControl(dlg, BitBoxId(PORT_A, 0));
        ClickControl(dlg, BitBoxId(PORT_E, 7));
        expected << FrameText(0x37, {0x01, 0, 0, 0, 0}) << FrameText(0x37, {0x01, 0, 0, 0, 0x80});

        // Port Direction: a read-configuration; the marks wait for its reply.
        ClickControl(dlg, IDC_PORT_DIRECTION);
        QCOMPARE(Marks(dlg), "01 00 00 00 80");
        ClickControl(dlg, BitBoxId(PORT_C, 2));
        expected << FrameText(0x38)
                 << FrameText(0x39, {0x01, 0, 0x00, 0, 0x04, 0, 0x00, 0, 0x80, 0});

        // Input Polarity: row E is disabled, so it goes as 0 in byte 11.
        ClickControl(dlg, IDC_INPUT_POLARITY);
        ClickControl(dlg, BitBoxId(PORT_D, 4));
        ClickControl(dlg, SetButtonId(PORT_B));
        expected << FrameText(0x38)
                 << FrameText(0x39, {0, 0x01, 0, 0x00, 0, 0x04, 0, 0x10, 0, 0x80})
                 << FrameText(0x39, {0, 0x01, 0, 0xFF, 0, 0x04, 0, 0x10, 0, 0x80});

        // Port Bits: read-ports, then read-configuration; a poll reads the ports.
        ClickControl(dlg, IDC_PORT_BITS);
        dlg.OnTimer(TIMER_POLL);
        expected << FrameText(0x36) << FrameText(0x38) << FrameText(0x36);
        // The reply draws the directions; the polling rule is for USB boards only.
        peer.Send(Bytes({0x38, 0x0C, 0xF0, 0x01, 0x0F, 0x02, 0xAA, 0x03, 0x55, 0x04, 0x00, 0x02}));
        QTRY_COMPARE_WITH_TIMEOUT(Marks(dlg), "f0 0f aa 55 00", WAIT_MS);
        QCOMPARE(dlg.m_nTimer, 0);

        // Analog Inputs (entered from Port Direction, where row E can be clicked): the view's
        // read, then nothing for the clicks, as the next view's read shows.
        ClickControl(dlg, IDC_PORT_DIRECTION);
        ClickControl(dlg, IDC_ANALOG_INPUTS);
        ClickControl(dlg, BitBoxId(PORT_E, 1));
        QCOMPARE(Marks(dlg), "00 00 00 00 03");
        ClickControl(dlg, BitBoxId(PORT_E, 3));
        QCOMPARE(Marks(dlg), "00 00 00 00 0f");
        ClickControl(dlg, IDC_PORT_DIRECTION);
        expected << FrameText(0x38) << FrameText(0x38) << FrameText(0x38);
        QTRY_COMPARE_WITH_TIMEOUT(peer.Frames().size(), expected.size(), WAIT_MS);
        QCOMPARE(peer.Frames(), expected);
    }

    // kelvard-sim net: the board answers the link's read-configuration (a board after reset,
    // all inputs) and takes the directions and levels written; a poll reads its pins back.
    void theDialogShowsAndSetsTheNetworkBoardsPins()
    {
        CSimFixture sim; // no USB board
        QProcess board;
        board.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        board.start(KELVARD_SIM_PROGRAM, {"net", "--listen", "127.0.0.1:0", "--verbose"});
        QVERIFY(board.waitForReadyRead(WAIT_MS));
        const QString strListening = QString::fromLatin1(board.readLine()).trimmed();
        QVERIFY2(QRegularExpression("^kelvard-sim: network board listening on 127.0.0.1:\\d+$")
                     .match(strListening)
                     .hasMatch(),
                 qPrintable(strListening));
        COpenDlg dlg(sim);
        PressConnect(dlg, strListening.section(':', -1).toUShort());
        QTRY_COMPARE_WITH_TIMEOUT(Marks(dlg), "ff ff ff ff ff", WAIT_MS);
        QTRY_VERIFY_WITH_TIMEOUT(board.canReadLine(), WAIT_MS);
        QCOMPARE(QString::fromLatin1(board.readLine()), "net < " + FrameText(0x38) + "\n");

        // Port B all outputs: back in Port Bits, the directions read show it.
        ClickControl(dlg, IDC_PORT_DIRECTION);
        ClickControl(dlg, ClearButtonId(PORT_B));
        ClickControl(dlg, IDC_PORT_BITS);
        SetB1ReadBackAndStop(dlg, board);
    }
};

QTEST_MAIN(TestTarvelNetwork)
#include "test_tarvel_network.moc"
