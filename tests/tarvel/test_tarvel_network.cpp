// The dialog's side of the network link: Connect stores the address whatever happens next,
// Connect twice, Close, the link dropped by USB device-list rebuilds and by closing the dialog,
// the exact frames each view sends while no USB board is current, and end to end against
// `zorvane serve` in its own process.
#include "tests/support/LoopbackClient.h"
#include "tests/tarvel/NetTestSupport.h"

#include <QPointer>
#include <QProcess>
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

        // A write-ports, then Port Direction: a read-configuration; the marks wait for its reply.
        ClickControl(dlg, BitBoxId(PORT_E, 7));
        ClickControl(dlg, IDC_PORT_DIRECTION);
        QCOMPARE(Marks(dlg), "00 00 00 00 80");
        ClickControl(dlg, BitBoxId(PORT_C, 2));
        expected << FrameText(0x37, {0, 0, 0, 0, 0x80}) << FrameText(0x38)
                 << FrameText(0x39, {0, 0, 0x00, 0, 0x04, 0, 0x00, 0, 0x80, 0});

        // Input Polarity: byte 11 carries row E as the grid has it.
        ClickControl(dlg, IDC_INPUT_POLARITY);
        ClickControl(dlg, BitBoxId(PORT_D, 4));
        ClickControl(dlg, SetButtonId(PORT_B));
        expected << FrameText(0x38)
                 << FrameText(0x39, {0, 0x00, 0, 0x00, 0, 0x04, 0, 0x10, 0, 0x80})
                 << FrameText(0x39, {0, 0x00, 0, 0xFF, 0, 0x04, 0, 0x10, 0, 0x80});

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
        ClickControl(dlg, BitBoxId(PORT_E, 3));
        QCOMPARE(Marks(dlg), "00 00 00 00 0f");
        ClickControl(dlg, IDC_PORT_DIRECTION);
        expected << FrameText(0x38) << FrameText(0x38) << FrameText(0x38);
        QTRY_COMPARE_WITH_TIMEOUT(peer.Frames().size(), expected.size(), WAIT_MS);
        QCOMPARE(peer.Frames(), expected);
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
        QVERIFY2(strServing.startsWith("serving board 7 (sim:0) on 127.0.0.1:"),
                 qPrintable(strServing));
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
