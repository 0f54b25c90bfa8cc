// The dialog's side of the network link: Connect stores the address whatever happens next,
// Connect twice leaves one link, Close with and without a link, the link dropped by every USB
// device-list rebuild and by closing the dialog; the exact frames each view sends while no USB
// board is current, the reads that fill nothing, and the replies that draw the grid.
#include "NetTestSupport.h"

#include "dialog/TarvelSettings.h"

#include <QSettings>

namespace
{
QString StoredAddress()
{
    return QSettings(SettingsFilePath(), QSettings::IniFormat)
        .value(QStringLiteral("Settings/IPAddress"))
        .toString();
}

// A loopback port on which nothing listens.
quint16 ClosedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}
} // namespace

class TestTarvelNetwork : public QObject
{
    Q_OBJECT

private slots:
    void init() { QFile::remove(SettingsFilePath()); }

    // --- Connect and Close ----------------------------------------------------------------

    void connectStoresTheAddressEvenWhenNothingListens()
    {
        CSimFixture sim;
        CTarvelDlg dlg;
        OpenDialog(dlg);
        qputenv("KELVARD_NET_PORT", QByteArray::number(ClosedPort()));
        SetAddress(dlg, "10.0.0.1");
        ClickControl(dlg, IDC_CONNECT);
        QVERIFY(dlg.m_pLink);
        QCOMPARE(StoredAddress(), QStringLiteral("167772161"));
        QCOMPARE(ReadAddressSetting(), 0x0A000001u);

        SetAddress(dlg, "192.168.1.10");
        ClickControl(dlg, IDC_CONNECT);
        QCOMPARE(StoredAddress(), QStringLiteral("-1062731510"));

        // The next start shows it.
        CTarvelDlg next;
        OpenDialog(next);
        QCOMPARE(next.m_ipAddress->GetWindowText(), QStringLiteral("192.168.1.10"));
    }

    void thePortIs9764UnlessKelvardNetPortNamesAnother()
    {
        for (const char* pszBad : {"", "0", "65536", "97x", "-1"})
        {
            qputenv("KELVARD_NET_PORT", pszBad);
            QCOMPARE(LinkPort(), std::uint16_t(9764));
        }
        qputenv("KELVARD_NET_PORT", "65535");
        QCOMPARE(LinkPort(), std::uint16_t(65535));
        qunsetenv("KELVARD_NET_PORT");
        QCOMPARE(LinkPort(), std::uint16_t(9764));
    }

    void aRefusedConnectionSendsNothingAndTheLinkStaysUntilReplaced()
    {
        CSimFixture sim;
        CTarvelDlg dlg;
        OpenDialog(dlg);
        PressConnect(dlg, ClosedPort());
        QVERIFY(dlg.m_pLink);
        QCOMPARE(StoredAddress(), QStringLiteral("2130706433")); // 127.0.0.1
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_pLink->State(), QAbstractSocket::UnconnectedState, kWaitMs);
        QVERIFY(dlg.m_pLink); // no message, no clean-up: it waits for Close, Connect or a rebuild

        // A frame now is lost.
        NetFrame frame = BuildFrame(0x36);
        QCOMPARE(dlg.m_pLink->SendFrame(frame.data(), NET_FRAME_SIZE), SOCKET_NOT_CONNECTED);

        CTestPeer peer;
        ConnectTo(dlg, peer);
        QVERIFY(!QTest::currentTestFailed());
        QCOMPARE(dlg.findChildren<CClientSocket*>().size(), 1);
    }

    void connectTwiceLeavesOneLinkTheSecond()
    {
        CSimFixture sim;
        CTestPeer peer;
        CTarvelDlg dlg;
        OpenDialog(dlg);
        ConnectTo(dlg, peer);
        QVERIFY(!QTest::currentTestFailed());
        QPointer<CClientSocket> pFirst = dlg.m_pLink;

        ConnectTo(dlg, peer, 1);
        QVERIFY(!QTest::currentTestFailed());
        QVERIFY(pFirst.isNull()); // deleted before the second was made
        QCOMPARE(dlg.findChildren<CClientSocket*>(), (QList<CClientSocket*>{dlg.m_pLink}));
        QTRY_VERIFY_WITH_TIMEOUT(peer.IsClosed(0), kWaitMs);
        QVERIFY(!peer.IsClosed(1));

        // Frames go over the second connection only.
        ClickBit(dlg, PORT_A, 7);
        QTRY_COMPARE_WITH_TIMEOUT(peer.Frames(1).size(), 2, kWaitMs);
        QCOMPARE(peer.Frames(1)[1], FrameText(0x37, {0x80}));
        QCOMPARE(peer.Frames(0), QStringList{FrameText(0x38)});
    }

    void closeEndsTheLinkAndWithoutOneDoesNothing()
    {
        CSimFixture sim;
        CTestPeer peer;
        CTarvelDlg dlg;
        OpenDialog(dlg);
        ClickControl(dlg, IDC_CLOSE_LINK);
        QVERIFY(!dlg.m_pLink);
        QVERIFY(!QFile::exists(SettingsFilePath()));

        ConnectTo(dlg, peer);
        QVERIFY(!QTest::currentTestFailed());
        ClickControl(dlg, IDC_CLOSE_LINK);
        QVERIFY(!dlg.m_pLink);
        QVERIFY(dlg.findChildren<CClientSocket*>().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(peer.IsClosed(), kWaitMs);
        ClickControl(dlg, IDC_CLOSE_LINK);
        QVERIFY(!dlg.m_pLink);

        // Clicks change only the marks now.
        ClickBit(dlg, PORT_A, 0);
        QCOMPARE(Marks(dlg), QStringLiteral("01 00 00 00 00"));
        QCOMPARE(peer.Frames(), QStringList{FrameText(0x38)});
    }

    void pluggingOrUnpluggingAUsbBoardClosesTheLink()
    {
        CSimFixture sim;
        CTestPeer peer;
        CTarvelDlg dlg;
        OpenDialog(dlg);
        ConnectTo(dlg, peer);
        QVERIFY(!QTest::currentTestFailed());

        auto pBoard = sim.Plug(SimBoardConfig().Id(3));
        DeliverDeviceChanges();
        QVERIFY(dlg.m_pDevice);
        QVERIFY(!dlg.m_pLink);
        QTRY_VERIFY_WITH_TIMEOUT(peer.IsClosed(0), kWaitMs);

        // With a board current, the exchanges go to it even though a link exists again.
        ConnectTo(dlg, peer, 1);
        QVERIFY(!QTest::currentTestFailed());
        TraceOf(sim);
        ClickControl(dlg, IDC_PORT_DIRECTION);
        ClickBit(dlg, PORT_A, 0);
        QCOMPARE(TraceOf(sim).size(), 5); // read-configuration twice, the write between
        QCOMPARE(peer.Frames(1), QStringList{FrameText(0x38)});

        sim.Bus().Unplug(pBoard);
        DeliverDeviceChanges();
        QVERIFY(!dlg.m_pDevice);
        QVERIFY(!dlg.m_pLink);
        QTRY_VERIFY_WITH_TIMEOUT(peer.IsClosed(1), kWaitMs);
    }

    void closingTheDialogClosesTheLink()
    {
        CSimFixture sim;
        CTestPeer peer;
        {
            CTarvelDlg dlg;
            OpenDialog(dlg);
            ConnectTo(dlg, peer);
            QVERIFY(!QTest::currentTestFailed());
            ClickControl(dlg, IDOK);
            QVERIFY(!dlg.m_pLink);
            QTRY_VERIFY_WITH_TIMEOUT(peer.IsClosed(0), kWaitMs);

            ConnectTo(dlg, peer, 1); // a dialog destroyed without being closed
            QVERIFY(!QTest::currentTestFailed());
        }
        QTRY_VERIFY_WITH_TIMEOUT(peer.IsClosed(1), kWaitMs);
    }

    // --- Frames per view ----------------------------------------------------------------

    void eachViewSendsItsFramesWhileNoUsbBoardIsCurrent()
    {
        CSimFixture sim;
        CTestPeer peer;
        CTarvelDlg dlg;
        OpenDialog(dlg);
        ConnectTo(dlg, peer);
        QVERIFY(!QTest::currentTestFailed());
        QStringList expected{FrameText(0x38)};
        const auto Sent = [&peer, &expected]
        {
            QTRY_COMPARE_WITH_TIMEOUT(peer.Frames().size(), expected.size(), kWaitMs);
            QCOMPARE(peer.Frames(), expected);
        };

        // Port Bits: write-ports with all five bytes.
        ClickBit(dlg, PORT_A, 0);
        ClickBit(dlg, PORT_E, 7);
        expected << FrameText(0x37, {0x01, 0x00, 0x00, 0x00, 0x00})
                 << FrameText(0x37, {0x01, 0x00, 0x00, 0x00, 0x80});
        Sent();

        // Port Direction: a read-configuration to fill the view; the marks wait for its reply.
        ClickControl(dlg, IDC_PORT_DIRECTION);
        expected << FrameText(0x38);
        Sent();
        QCOMPARE(Marks(dlg), QStringLiteral("01 00 00 00 80"));
        ClickBit(dlg, PORT_C, 2);
        expected << FrameText(0x39, {0x01, 0, 0x00, 0, 0x04, 0, 0x00, 0, 0x80, 0});
        Sent();

        // Input Polarity: row E is disabled, so it goes as 0 in byte 11.
        ClickControl(dlg, IDC_INPUT_POLARITY);
        expected << FrameText(0x38);
        Sent();
        ClickBit(dlg, PORT_D, 4);
        expected << FrameText(0x39, {0, 0x01, 0, 0x00, 0, 0x04, 0, 0x10, 0, 0x80});
        Sent();
        ClickControl(dlg, SetButtonId(PORT_B));
        expected << FrameText(0x39, {0, 0x01, 0, 0xFF, 0, 0x04, 0, 0x10, 0, 0x80});
        Sent();

        // Port Bits: read-ports, then read-configuration.
        ClickControl(dlg, IDC_PORT_BITS);
        expected << FrameText(0x36) << FrameText(0x38);
        Sent();

        // Analog Inputs (entered from Port Direction, where row E can be clicked): the view's
        // read, then nothing for the clicks; the next view's read shows that nothing came
        // between.
        ClickControl(dlg, IDC_PORT_DIRECTION);
        ClickControl(dlg, IDC_ANALOG_INPUTS);
        ClickBit(dlg, PORT_E, 1);
        QCOMPARE(Marks(dlg), QStringLiteral("00 00 00 00 03"));
        ClickBit(dlg, PORT_E, 3);
        QCOMPARE(Marks(dlg), QStringLiteral("00 00 00 00 0f"));
        ClickControl(dlg, IDC_PORT_DIRECTION);
        expected << FrameText(0x38) << FrameText(0x38) << FrameText(0x38);
        Sent();
    }

    void readsFillNothingAndTheRepliesDrawTheGrid()
    {
        CSimFixture sim;
        CTestPeer peer;
        CRecordingDlg dlg;
        OpenDialog(dlg);
        ConnectTo(dlg, peer);
        QVERIFY(!QTest::currentTestFailed());

        PortBytes byPorts{0x11, 0x22, 0x33, 0x44, 0x55};
        QVERIFY(!dlg.ReadPorts(byPorts, true));
        QCOMPARE(byPorts, (PortBytes{0x11, 0x22, 0x33, 0x44, 0x55}));
        QVERIFY(!dlg.ReadDirections(byPorts, true));
        QCOMPARE(byPorts, (PortBytes{0x11, 0x22, 0x33, 0x44, 0x55}));
        QVERIFY(!dlg.ReadInversions(byPorts, true));
        QCOMPARE(byPorts, (PortBytes{0x00, 0x00, 0x00, 0x44, 0x55}));
        // No network form: nothing is sent.
        dlg.WriteAnalogCount(2);
        std::array<std::uint16_t, ANALOG_CHANNELS> wReadings{7, 7, 7, 7};
        QCOMPARE(dlg.ReadAnalog(wReadings), 0);
        QCOMPARE(wReadings, (std::array<std::uint16_t, ANALOG_CHANNELS>{7, 7, 7, 7}));
        QCOMPARE(Marks(dlg), QStringLiteral("00 00 00 00 00"));
        // A poll sends read-ports in the Port Bits view.
        dlg.OnTimer(TIMER_POLL);
        QTRY_COMPARE_WITH_TIMEOUT(peer.Frames().size(), 5, kWaitMs);
        QCOMPARE(peer.Frames(), (QStringList{FrameText(0x38), FrameText(0x36), FrameText(0x38),
                                             FrameText(0x38), FrameText(0x36)}));

        // The board answers: pin levels, then the configuration's direction masks.
        peer.Send(Bytes({0x36, 0x0C, 0x01, 0x02, 0x03, 0x04, 0x05, 0, 0, 0, 0, 0}));
        QTRY_COMPARE_WITH_TIMEOUT(Marks(dlg), QStringLiteral("01 02 03 04 05"), kWaitMs);
        peer.Send(Bytes({0x38, 0x0C, 0xF0, 0x01, 0x0F, 0x02, 0xAA, 0x03, 0x55, 0x04, 0x81, 0x02}));
        QTRY_COMPARE_WITH_TIMEOUT(Marks(dlg), QStringLiteral("f0 0f aa 55 81"), kWaitMs);
        // Any other code changes nothing.
        peer.Send(Bytes({0x3C, 0x0C, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_frames.size(), 3, kWaitMs);
        QCOMPARE(Marks(dlg), QStringLiteral("f0 0f aa 55 81"));
        // Polling rule and enabled boxes are the USB forms' business: untouched.
        QCOMPARE(dlg.m_nTimer, 0);
        QCOMPARE(Enabled(dlg), QStringLiteral("ff ff ff 1f ff"));
    }
};

QTEST_MAIN(TestTarvelNetwork)
#include "test_tarvel_network.moc"
