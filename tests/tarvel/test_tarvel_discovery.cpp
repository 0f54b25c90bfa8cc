// Finding, listing and selecting boards: entry order and selection, the identity shown, the
// serial edit and Update rules, failed identity reads, boards in their bootloader, plug and
// unplug, and the device-change notices with their debug lines.
#include "tests/tarvel/DialogTestSupport.h"

#include "firmware/BoardRecord.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

class TestTarvelDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void listsBoardsAsSortedTextSkipsBootloaderBoardsAndRescansOnlyOnANewCount()
    {
        // Instances 2 and 10 run their application, the others wait in their bootloader.
        CSimFixture sim;
        for (int i = 0; i <= 10; ++i)
            sim.Plug(
                SimBoardConfig().Id(static_cast<std::uint8_t>(20 + i)).Boot(i != 2 && i != 10));
        COpenDlg dlg(sim); // with no update part to hand bootloader boards to
        QCOMPARE(Entries(dlg), (QStringList{"Device 10", "Device 2"}));
        QCOMPARE(dlg.m_cbDevices->GetCurSel(), 0);
        QCOMPARE(dlg.m_stFirmware->text(), "FirmVer. 1.03  Dev ID - 30");
        QCOMPARE(dlg.m_nDeviceCount, 11);
        // A board in its bootloader is asked nothing after query-mode, and left waiting there.
        QVERIFY(
            TraceOf(sim).filter(QRegularExpression(QStringLiteral("^[013-9] > (?!08)"))).isEmpty());

        // The count has not changed: nothing is opened or read again.
        CBoardRecord* pDevice = dlg.m_pDevice;
        dlg.OnDeviceChange(DBT_DEVNODES_CHANGED, 0);
        QCOMPARE(TraceOf(sim), QStringList());
        QCOMPARE(dlg.m_pDevice, pDevice);

        // An arrival notice alone only logs; the rescan comes with the node change and selects
        // the first entry.
        sim.Plug(SimBoardConfig().Id(31));
        dlg.OnDeviceChange(DBT_DEVICEARRIVAL, 0);
        QCOMPARE(TraceOf(sim), QStringList());
        dlg.OnDeviceChange(DBT_DEVNODES_CHANGED, 0);
        QCOMPARE(Entries(dlg), (QStringList{"Device 10", "Device 11", "Device 2"}));
        QCOMPARE(dlg.m_cbDevices->GetCurSel(), 0);
        QCOMPARE(dlg.m_pDevice, dlg.m_cbDevices->GetItemDataPtr(0));
    }

    void selectionShowsTheOtherBoardWithItsSerialAndUpdateRules()
    {
        CSimFixture sim;
        sim.Plug(SimBoardConfig().Id(5).Serial("AB12CD34").Version(0x0103));
        sim.Plug(SimBoardConfig().Id(6).Serial("A{CDEFGH").Version(0x0102)); // not A to Z
        ConfigureBoard(sim, 0, ConfigBlock{{0x0F, 0, 0, 0, 0}, {}, 2});
        COpenDlg dlg(sim);
        QCOMPARE(dlg.m_edSerial->text(), "AB12CD34");
        QVERIFY(!dlg.m_edSerial->isEnabled() && dlg.m_btnUpdate->isEnabled());
        QCOMPARE(dlg.m_nAnalogMask, 0x03);
        TraceOf(sim);

        dlg.m_cbDevices->setFocus();
        QTest::keyClick(dlg.m_cbDevices, Qt::Key_Down);
        QCOMPARE(dlg.m_stFirmware->text(), "FirmVer. 1.02  Dev ID - 6");
        QCOMPARE(dlg.m_edSerial->text(), QString());
        QVERIFY(dlg.m_edSerial->isEnabled());
        QVERIFY(!dlg.m_btnUpdate->isEnabled()); // firmware older than 1.03
        QCOMPARE(dlg.m_nAnalogMask, 0x03);      // not reloaded
        // Only the view is read again, on instance 1.
        QCOMPARE(TraceOf(sim).filter(QStringLiteral(" > ")),
                 (QStringList{"1 > 36 00 00 00 00 00", "1 > 38 00 00 00 00 00 00 00 00 00 00"}));
    }

    // Reads that fail: read-device-id; query-mode, serial number and version.
    void failedIdentityReadsGiveNeutralValues()
    {
        const std::tuple<QList<int>, const char*> CASES[] = {
            {{8}, "FirmVer. 1.05  Dev ID - 0|SN000001"}, {{2, 4, 6}, "FirmVer. 0.00  Dev ID - 5|"}};
        for (const auto& [failedReads, pszShown] : CASES)
        {
            CSimFixture sim;
            auto pBoard = sim.Plug(SimBoardConfig().Id(5).Serial("SN000001").Version(0x0105));
            for (int n : failedReads)
                pBoard->InjectFault(ESimFault::Fail, n);
            COpenDlg dlg(sim);
            QCOMPARE(Entries(dlg), (QStringList{"Device 0"}));
            QCOMPARE(dlg.m_stFirmware->text() + '|' + dlg.m_edSerial->text(), pszShown);
        }
    }

    // Without a board the dialog is as initialised; a board that arrives is shown, and when the
    // last board goes everything that needs one is disabled.
    void startWithNoBoardThenPlugAndUnplugFollowTheWatch()
    {
        CDebugCapture log;
        CSimFixture sim;
        COpenDlg dlg(sim);
        const auto Empty = [&]
        {
            QCOMPARE(dlg.m_cbDevices->GetCount(), 0);
            QVERIFY(!dlg.m_pDevice && !dlg.m_btnUpdate->isEnabled());
            QCOMPARE(Marks(dlg), "00 00 00 00 00");
            QCOMPARE(dlg.m_stFirmware->text() + dlg.m_edSerial->text(), QString());
            QCOMPARE(dlg.m_nTimer, 0);
        };
        Empty();
        QVERIFY(dlg.m_edSerial->isEnabled() &&
                qobject_cast<QRadioButton*>(dlg.GetDlgItem(IDC_PORT_BITS))->isChecked());
        QCOMPARE(Enabled(dlg), "ff ff ff 1f ff");
        QCOMPARE(TraceOf(sim), QStringList());

        for (unsigned nEvent : {0x8000u, 0x8001u, 0x8004u, 0xFFFFu, 0x0018u, 0x0007u})
            QCOMPARE(dlg.OnDeviceChange(nEvent, 0), false);
        QCOMPARE(QString::fromStdString(log.Text()),
                 QStringLiteral("Device Arrival\nDevice query remove\nDevice remove "
                                "complete\nUser defined\nDevice Node changed\n"));
        log.Take();

        // A board arrives, configured with four analog channels.
        auto pBoard = sim.Plug(SimBoardConfig().Id(9).Serial("SN000009"));
        ConfigureBoard(sim, 0, ConfigBlock{{0xFF, 0, 0, 0, 0}, {}, 4});
        pBoard->SetAnalog(0, 0x123);
        DeliverDeviceChanges(sim);
        QCOMPARE(Entries(dlg), (QStringList{"Device 0"}));
        QCOMPARE(dlg.m_nAnalogMask, 0x0F);
        dlg.OnTimer(TIMER_POLL);
        QCOMPARE(AnalogCaptions(dlg)[0], "0123");

        // The last board goes: the list empties and everything that needs a board is disabled.
        sim.Bus().Unplug(pBoard);
        DeliverDeviceChanges(sim);
        Empty();
        QCOMPARE(Enabled(dlg), "00 00 00 00 00");
        QCOMPARE(AnalogCaptions(dlg), (QStringList{"E0", "E1", "E2", "E3"}));
        QVERIFY(!dlg.m_edSerial->isEnabled() && dlg.m_nAnalogMask == 0);

        // It comes back: listed and shown again.
        sim.Bus().Replug(pBoard);
        DeliverDeviceChanges(sim);
        QCOMPARE(dlg.m_stFirmware->text(), "FirmVer. 1.03  Dev ID - 9");
        QCOMPARE(QString::fromStdString(log.Text()),
                 QStringLiteral("Device Arrival\nDevice Node changed\n"
                                "Device remove complete\nDevice Node changed\n"
                                "Device Arrival\nDevice Node changed\n"));
    }
};

QTEST_MAIN(TestTarvelDiscovery)
#include "test_tarvel_discovery.moc"
