// Finding, listing and selecting boards: order of entries, identity shown, the serial edit and
// Update rules, failed identity exchanges, boards in their bootloader, plug and unplug, and the
// device-change notices with their debug lines.
#include "DialogTestSupport.h"

#include "dialog/UsbDev.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>

namespace
{
// The identity exchanges of one application board without serial number, in the tool's order.
QStringList IdentityTrace(const char* pszInstance, std::uint8_t byId, std::uint16_t wVersion)
{
    const QString strOut = QString::fromLatin1(pszInstance) + QStringLiteral(" >");
    const QString strIn = QString::fromLatin1(pszInstance) + QStringLiteral(" <");
    std::vector<std::uint8_t> serialReply{0x31, 16};
    for (std::size_t i = 0; i < 8; ++i)
    {
        serialReply.push_back(0xFF); // an erased character
        serialReply.push_back(0x00);
    }
    serialReply.resize(64, 0);
    return {Line(qPrintable(strOut), {0x08}, 64),
            Line(qPrintable(strIn), {0x08, 0x00, 'A'}, 64),
            Line(qPrintable(strOut), {0x31}, 64),
            strIn + QLatin1Char(' ') + QString::fromStdString(HexText(serialReply.data(), 64)),
            Line(qPrintable(strOut), {0x00}, 64),
            Line(qPrintable(strIn),
                 {0x00, 0x00, static_cast<std::uint8_t>(wVersion & 0xFF),
                  static_cast<std::uint8_t>(wVersion >> 8)},
                 64),
            strOut + QStringLiteral(" 3c 00"),
            strIn + QStringLiteral(" 3c %1").arg(byId, 2, 16, QLatin1Char('0'))};
}

QString FirmwareLine(const CTarvelDlg& dlg)
{
    return dlg.m_stFirmware->text();
}

QStringList OfInstance(const QStringList& trace, int nInstance)
{
    return trace.filter(QRegularExpression(QStringLiteral("^%1 ").arg(nInstance)));
}

QStringList Entries(const CTarvelDlg& dlg)
{
    QStringList entries;
    for (int i = 0; i < dlg.m_cbDevices->GetCount(); ++i)
        entries << dlg.m_cbDevices->itemText(i);
    return entries;
}
} // namespace

class TestTarvelDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void listsBoardsAsTextSortedAndSelectsTheFirst()
    {
        // Instances 2 and 10 run their application, the others wait in their bootloader (with
        // a serial number, so that no prompt comes up).
        CSimFixture sim;
        for (int i = 0; i <= 10; ++i)
        {
            const bool bBoot = i != 2 && i != 10;
            sim.Plug(SimBoardConfig()
                         .Id(static_cast<std::uint8_t>(20 + i))
                         .Boot(bBoot)
                         .Serial(bBoot ? "BOOT00" + std::to_string(10 + i) : ""));
        }
        CTarvelDlg dlg;
        OpenDialog(dlg);

        QCOMPARE(Entries(dlg), (QStringList{"Device 10", "Device 2"}));
        QCOMPARE(dlg.m_cbDevices->GetCurSel(), 0);
        QCOMPARE(dlg.m_cbDevices->currentText(), QStringLiteral("Device 10"));
        QVERIFY(dlg.m_pDevice);
        QCOMPARE(dlg.m_pDevice->m_nDeviceId, 30);
        QCOMPARE(static_cast<CUsbDev*>(dlg.m_cbDevices->GetItemDataPtr(1))->m_nDeviceId, 22);
        QCOMPARE(FirmwareLine(dlg), QStringLiteral("FirmVer. 1.03  Dev ID - 30"));
        QCOMPARE(dlg.m_nDeviceCount, 11);

        // A board in its bootloader is never listed nor asked who it is: after query-mode it
        // is handed to the firmware update, whose requests go on beside discovery.
        dlg.m_bootLoads.WaitAll();
        const QStringList trace = TraceOf(sim);
        const QString strReadSerNo = QStringLiteral(" > 01 10 f0 07 00");
        QCOMPARE(OfInstance(trace, 0).mid(0, 3),
                 (QStringList{Line("0 >", {0x08}, 64), Line("0 <", {0x08, 0x00, 'B'}, 64),
                              QLatin1Char('0') + strReadSerNo}));
        QCOMPARE(OfInstance(trace, 1).mid(0, 3),
                 (QStringList{Line("1 >", {0x08}, 64), Line("1 <", {0x08, 0x00, 'B'}, 64),
                              QLatin1Char('1') + strReadSerNo}));
        QCOMPARE(OfInstance(trace, 2).mid(0, 8), IdentityTrace("2", 22, 0x0103));
        QVERIFY(trace.filter(QRegularExpression(QStringLiteral("^[013-9] > (31|00|3c|36|38)")))
                    .isEmpty());
    }

    void selectionChangeShowsTheOtherBoardWithoutReloadingTheMask()
    {
        CSimFixture sim;
        sim.Plug(SimBoardConfig().Id(5).Serial("AB12CD34").Version(0x0103));
        sim.Plug(SimBoardConfig().Id(6).Version(0x0102));
        ConfigureBoard(0, ConfigBlock{{0x0F, 0, 0, 0, 0}, {}, 2});
        CTarvelDlg dlg;
        OpenDialog(dlg);
        QCOMPARE(Entries(dlg), (QStringList{"Device 0", "Device 1"}));
        QCOMPARE(dlg.m_nAnalogMask, std::uint8_t(0x03));
        QCOMPARE(dlg.m_edSerial->text(), QStringLiteral("AB12CD34"));
        QVERIFY(!dlg.m_edSerial->isEnabled());
        QVERIFY(dlg.m_btnUpdate->isEnabled());
        TraceOf(sim);

        // The user picks the next entry with the keyboard.
        dlg.m_cbDevices->setFocus();
        QTest::keyClick(dlg.m_cbDevices, Qt::Key_Down);
        QCOMPARE(dlg.m_cbDevices->GetCurSel(), 1);
        QCOMPARE(dlg.m_pDevice->m_nDeviceId, 6);
        QCOMPARE(FirmwareLine(dlg), QStringLiteral("FirmVer. 1.02  Dev ID - 6"));
        QCOMPARE(dlg.m_edSerial->text(), QString());
        QVERIFY(dlg.m_edSerial->isEnabled());
        QVERIFY(!dlg.m_btnUpdate->isEnabled()); // firmware older than 1.03 cannot be updated
        QCOMPARE(dlg.m_nAnalogMask, std::uint8_t(0x03));
        // Only the view is read again: read-ports, then read-configuration, on instance 1.
        const QStringList trace = TraceOf(sim);
        QCOMPARE(trace.size(), 4);
        QCOMPARE(trace[0], QStringLiteral("1 > 36 00 00 00 00 00"));
        QCOMPARE(trace[2], QStringLiteral("1 > 38 00 00 00 00 00 00 00 00 00 00"));
    }

    void serialTextOutsideBlankToZShowsEmptyEnabledEdit()
    {
        CSimFixture sim;
        sim.Plug(SimBoardConfig().Id(1).Serial("A{CDEFGH"));
        CTarvelDlg dlg;
        OpenDialog(dlg);
        QCOMPARE(dlg.m_edSerial->text(), QString());
        QVERIFY(dlg.m_edSerial->isEnabled());
    }

    void failedReadDeviceIdShowsIdZero()
    {
        CSimFixture sim;
        auto pBoard = sim.Plug(SimBoardConfig().Id(5).Serial("SN000001").Version(0x0105));
        pBoard->InjectFault(ESimFault::Fail, 8); // the read of read-device-id
        CTarvelDlg dlg;
        OpenDialog(dlg);
        QCOMPARE(FirmwareLine(dlg), QStringLiteral("FirmVer. 1.05  Dev ID - 0"));
        QCOMPARE(dlg.m_edSerial->text(), QStringLiteral("SN000001"));
        QCOMPARE(Entries(dlg), (QStringList{"Device 0"}));
        const QStringList trace = TraceOf(sim);
        QCOMPARE(trace.mid(6, 2), (QStringList{"0 > 3c 00", "0 <!"}));
    }

    void failedIdentityReadsGiveNeutralValues()
    {
        CSimFixture sim;
        auto pBoard = sim.Plug(SimBoardConfig().Id(5).Serial("SN000001").Version(0x0105));
        for (int n : {2, 4, 6}) // the reads of query-mode, read-serial-number and read-version
            pBoard->InjectFault(ESimFault::Fail, n);
        CTarvelDlg dlg;
        OpenDialog(dlg);
        // Listed all the same, as an application board without serial number and version 0.
        QCOMPARE(Entries(dlg), (QStringList{"Device 0"}));
        QCOMPARE(FirmwareLine(dlg), QStringLiteral("FirmVer. 0.00  Dev ID - 5"));
        QVERIFY(dlg.m_edSerial->isEnabled());
        QVERIFY(!dlg.m_btnUpdate->isEnabled());
    }

    void boardInBootloaderIsSkippedButCounted()
    {
        CSimFixture sim;
        sim.Plug(SimBoardConfig().Id(1).Boot().Serial("BOOT0001"));
        sim.Plug(SimBoardConfig().Id(2));
        CTarvelDlg dlg;
        OpenDialog(dlg);
        QCOMPARE(Entries(dlg), (QStringList{"Device 1"}));
        QCOMPARE(dlg.m_nDeviceCount, 2);
        QCOMPARE(dlg.m_pDevice->m_nDeviceId, 2);
        dlg.m_bootLoads.WaitAll(); // its update, which ends with the board back at once
        TraceOf(sim);
        // The count has not changed, so a device-node change does not open anything again.
        dlg.OnDeviceChange(DBT_DEVNODES_CHANGED, 0);
        QCOMPARE(TraceOf(sim), QStringList());
    }

    void onlyBootloaderBoardsGiveTheEmptyListState()
    {
        CSimFixture sim;
        sim.Plug(SimBoardConfig().Boot().Serial("BOOT0001"));
        CTarvelDlg dlg;
        OpenDialog(dlg);
        QCOMPARE(dlg.m_cbDevices->GetCount(), 0);
        QCOMPARE(dlg.m_nDeviceCount, 1);
        QCOMPARE(Enabled(dlg), QStringLiteral("00 00 00 00 00"));
        QVERIFY(!dlg.m_edSerial->isEnabled());
    }

    void startWithNoBoardLeavesTheDialogAsInitialised()
    {
        CSimFixture sim;
        CTarvelDlg dlg;
        OpenDialog(dlg);
        QCOMPARE(dlg.m_cbDevices->GetCount(), 0);
        QCOMPARE(dlg.m_nDeviceCount, 0);
        QVERIFY(!dlg.m_pDevice);
        QCOMPARE(dlg.m_stFirmware->text(), QString());
        QVERIFY(!dlg.m_btnUpdate->isEnabled());
        QVERIFY(dlg.m_edSerial->isEnabled());
        QCOMPARE(dlg.m_edSerial->text(), QString());
        QVERIFY(qobject_cast<QRadioButton*>(dlg.GetDlgItem(IDC_PORT_BITS))->isChecked());
        QCOMPARE(dlg.m_nView, 0);
        QCOMPARE(qobject_cast<QLabel*>(dlg.GetDlgItem(IDC_MESSAGE))->text(),
                 QStringLiteral("When checked I/O pins are high - Inverted inputs are low"));
        QCOMPARE(Enabled(dlg), QStringLiteral("ff ff ff 1f ff"));
        QCOMPARE(Marks(dlg), QStringLiteral("00 00 00 00 00"));
        for (int p = PORT_A; p < PORT_COUNT; ++p)
            for (int b = 0; b < 8; ++b)
                QCOMPARE(dlg.BitBox(p, b)->isVisible(), !(p == PORT_D && b >= 5));
        QCOMPARE(dlg.m_nTimer, 0);
        QCOMPARE(TraceOf(sim), QStringList());
    }

    void unplugAndPlugFollowTheWatch()
    {
        QTemporaryDir dir;
        const QString strLog = dir.filePath(QStringLiteral("debug.txt"));
        qputenv("KELVARD_DEBUG", strLog.toLocal8Bit());
        CSimFixture sim;
        auto pBoard = sim.Plug(SimBoardConfig().Id(9).Serial("SN000009"));
        ConfigureBoard(0, ConfigBlock{{0xFF, 0, 0, 0, 0}, {}, 4});
        pBoard->SetAnalog(0, 0x123);
        CTarvelDlg dlg;
        OpenDialog(dlg);
        QCOMPARE(dlg.m_nTimer, TIMER_POLL);
        QCOMPARE(dlg.m_nAnalogMask, std::uint8_t(0x0F));
        dlg.OnTimer(TIMER_POLL);
        QCOMPARE(AnalogCaptions(dlg)[0], QStringLiteral("0123"));

        // The last board goes: the list empties and everything that needs a board is disabled.
        sim.Bus().Unplug(pBoard);
        DeliverDeviceChanges();
        QCOMPARE(dlg.m_cbDevices->GetCount(), 0);
        QCOMPARE(dlg.m_nDeviceCount, 0);
        QVERIFY(!dlg.m_pDevice);
        QCOMPARE(Enabled(dlg), QStringLiteral("00 00 00 00 00"));
        QCOMPARE(Marks(dlg), QStringLiteral("00 00 00 00 00"));
        QCOMPARE(AnalogCaptions(dlg), (QStringList{"E0", "E1", "E2", "E3"}));
        QVERIFY(!dlg.m_edSerial->isEnabled());
        QCOMPARE(dlg.m_edSerial->text(), QString());
        QVERIFY(!dlg.m_btnUpdate->isEnabled());
        QCOMPARE(dlg.m_stFirmware->text(), QString());
        QCOMPARE(dlg.m_nTimer, 0);
        QCOMPARE(dlg.m_nAnalogMask, std::uint8_t(0));

        // It comes back: listed and shown again with new pipes.
        sim.Bus().Replug(pBoard);
        DeliverDeviceChanges();
        QCOMPARE(Entries(dlg), (QStringList{"Device 0"}));
        QCOMPARE(FirmwareLine(dlg), QStringLiteral("FirmVer. 1.03  Dev ID - 9"));
        QCOMPARE(dlg.m_nAnalogMask, std::uint8_t(0x0F));

        QFile log(strLog);
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromLatin1(log.readAll()),
                 QStringLiteral("Device remove complete\nDevice Node changed\n"
                                "Device Arrival\nDevice Node changed\n"));
        qputenv("KELVARD_DEBUG", "");
    }

    void unchangedCountLeavesEverythingAsItWas()
    {
        CSimFixture sim;
        sim.Plug(SimBoardConfig().Id(4));
        ConfigureBoard(0, ConfigBlock{{0, 0, 0, 0, 0}, {}, 0});
        CTarvelDlg dlg;
        OpenDialog(dlg);
        ClickBit(dlg, PORT_A, 3);
        CUsbDev* pDevice = dlg.m_pDevice;
        const QString strMarks = Marks(dlg);
        QCOMPARE(strMarks, QStringLiteral("08 00 00 00 00"));
        TraceOf(sim);

        dlg.OnDeviceChange(DBT_DEVNODES_CHANGED, 0);
        QCOMPARE(TraceOf(sim), QStringList());
        QCOMPARE(dlg.m_pDevice, pDevice);
        QCOMPARE(Marks(dlg), strMarks);
        QCOMPARE(FirmwareLine(dlg), QStringLiteral("FirmVer. 1.03  Dev ID - 4"));

        // Arrival and removal notices alone only log; the rescan comes with the node change.
        sim.Plug(SimBoardConfig().Id(8));
        dlg.OnDeviceChange(DBT_DEVICEARRIVAL, 0);
        QCOMPARE(dlg.m_cbDevices->GetCount(), 1);
        dlg.OnDeviceChange(DBT_DEVNODES_CHANGED, 0);
        QCOMPARE(Entries(dlg), (QStringList{"Device 0", "Device 1"}));
    }

    void deviceChangeEventsWriteTheirLines()
    {
        QTemporaryDir dir;
        const QString strLog = dir.filePath(QStringLiteral("debug.txt"));
        qputenv("KELVARD_DEBUG", strLog.toLocal8Bit());
        CSimFixture sim;
        CTarvelDlg dlg;
        OpenDialog(dlg);
        for (unsigned nEvent : {0x8000u, 0x8001u, 0x8004u, 0xFFFFu, 0x0018u, 0x0007u})
            QCOMPARE(dlg.OnDeviceChange(nEvent, 0), false);
        QFile log(strLog);
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromLatin1(log.readAll()),
                 QStringLiteral("Device Arrival\nDevice query remove\nDevice remove complete\n"
                                "User defined\nDevice Node changed\n"));
        qputenv("KELVARD_DEBUG", "");
    }
};

QTEST_MAIN(TestTarvelDiscovery)
#include "test_tarvel_discovery.moc"
