// The dialog against boards on the simulated bus. Finding, listing and selecting them: entry
// order and selection, the identity shown, the serial edit and Update rules, failed identity
// reads, boards in their bootloader, plug and unplug, and the device-change notices with their
// debug lines. The grid in its four views: marks and enabled boxes with and without a board,
// what clicks and the Set and Clear buttons send (exact bytes), the analog run of marks and
// captions, and the polling rules.
//
// The tool as a whole: the main dialog as its template describes it, the address setting, the
// IP address control, closing the dialog in its four ways, and the tarvel program itself on the
// simulated bus, whose boards drift.
#include "tests/tarvel/TarvelTestSupport.h"

class TestTarvelDialog : public QObject
{
    Q_OBJECT

private slots:
    // Instances 2 and 10 run their application, the others wait in their bootloader, asked
    // nothing after query-mode; entries are sorted as text, the first selected.
    void listsBoardsAsSortedTextSkipsBootloaderBoardsAndRescansOnlyOnANewCount()
    {
        CSimFixture sim;
        for (int i = 0; i <= 10; ++i)
            sim.Plug(
                SimBoardConfig().Id(static_cast<std::uint8_t>(20 + i)).Boot(i != 2 && i != 10));
        COpenDlg dlg(sim); // with no update part to hand bootloader boards to
        QCOMPARE(Entries(dlg), (QStringList{"Device 10", "Device 2"}));
        QCOMPARE(dlg.m_stFirmware->text(), "FirmVer. 1.03  Dev ID - 30");
        QVERIFY(TraceOf(sim).filter(QRegularExpression("^[013-9] > (?!08)")).isEmpty());

        // The count has not changed: nothing is opened or read again.
        const auto* pDevice = dlg.m_pDevice;
        dlg.OnDeviceChange(DBT_DEVNODES_CHANGED, 0);
        QVERIFY(TraceOf(sim).isEmpty() && dlg.m_pDevice == pDevice);

        // An arrival notice alone only logs; the rescan comes with the node change and selects
        // the first entry.
        sim.Plug(SimBoardConfig().Id(31));
        dlg.OnDeviceChange(DBT_DEVICEARRIVAL, 0);
        QCOMPARE(TraceOf(sim), QStringList());
        dlg.OnDeviceChange(DBT_DEVNODES_CHANGED, 0);
        QCOMPARE(Entries(dlg), (QStringList{"Device 10", "Device 11", "Device 2"}));
        QCOMPARE(dlg.m_pDevice, dlg.m_cbDevices->GetItemDataPtr(0));
    }

    // Selecting shows a board's identity and what may be done with it; reads that failed while
    // it was found show neutral values.
    void selectionShowsEachBoardWithItsSerialAndUpdateRules()
    {
        CSimFixture sim;
        sim.Plug(SimBoardConfig().Id(5).Serial("AB12CD34").Version(0x0103));
        sim.Plug(SimBoardConfig().Id(6).Serial("A{CDEFGH").Version(0x0102)); // not A to Z
        sim.Plug(SimBoardConfig().Id(7).Serial("SN000001").Version(0x0105))
            ->InjectFault(ESimFault::Fail, 8); // read-device-id
        auto pBoard = sim.Plug(SimBoardConfig().Id(8).Serial("SN000001").Version(0x0105));
        for (int n : {2, 4, 6}) // query-mode, serial number, version
            pBoard->InjectFault(ESimFault::Fail, n);
        ConfigureBoard(sim, 0, ConfigBlock{{0x0F, 0, 0, 0, 0}, {}, 2});
        COpenDlg dlg(sim);
        QCOMPARE(dlg.m_edSerial->text(), "AB12CD34");
        QVERIFY(!dlg.m_edSerial->isEnabled() && dlg.m_btnUpdate->isEnabled());
        TraceOf(sim);
        QTest::keyClick(dlg.m_cbDevices, Qt::Key_Down);
        QCOMPARE(dlg.m_stFirmware->text() + '|' + dlg.m_edSerial->text(),
                 "FirmVer. 1.02  Dev ID - 6|");
        QVERIFY(dlg.m_edSerial->isEnabled() && !dlg.m_btnUpdate->isEnabled()); // older than 1.03
        QCOMPARE(dlg.m_nAnalogMask, 0x03);                                     // not reloaded
        // Only the view is read again, on instance 1.
        QCOMPARE(TraceOf(sim).filter(" > "),
                 (QStringList{"1 > 36 00 00 00 00 00", "1 > 38 00 00 00 00 00 00 00 00 00 00"}));
        for (const char* pszShown :
             {"FirmVer. 1.05  Dev ID - 0|SN000001", "FirmVer. 0.00  Dev ID - 8|"})
        {
            QTest::keyClick(dlg.m_cbDevices, Qt::Key_Down);
            QCOMPARE(dlg.m_stFirmware->text() + '|' + dlg.m_edSerial->text(), pszShown);
        }
    }

    // Port Bits: levels shown, only outputs clickable, what clicks and Set and Clear send. The
    // configuration views: each write reads the block first and changes only its own masks.
    void eachViewWritesItsOwnBytes()
    {
        CSimFixture sim;
        auto pBoard = sim.Plug(SimBoardConfig().Id(7));
        // Port A's low nibble input (A0 inverted) and D7 input, everything else output; E0 and
        // E1 analog channels.
        ConfigureBoard(sim, 0, ConfigBlock{{0x0F, 0, 0, 0x80, 0}, {0x01, 0, 0, 0x08}, 2});
        pBoard->SetInputs(PORT_A, 0x05); // A0 reads low (inverted), A2 high
        pBoard->SetInputs(PORT_D, 0x80); // D7 high: its hidden box is marked by the read
        COpenDlg dlg(sim);
        QCOMPARE(Marks(dlg) + '|' + Enabled(dlg), "04 00 00 80 00|f0 ff ff 1f ff");
        TraceOf(sim);

        // An output sends all five bytes, the inputs as they are marked; an input is disabled.
        ClickControl(dlg, BitBoxId(PORT_B, 1));
        ClickControl(dlg, BitBoxId(PORT_A, 2));
        QCOMPARE(TraceOf(sim), (QStringList{"0 > 37 04 02 00 80 00"}));
        // A click anywhere in the box's rectangle acts, far to the right of its caption too.
        CCheckBoxCtrl* pC0 = dlg.BitBox(PORT_C, 0);
        QTest::mouseClick(pC0, Qt::LeftButton, {}, QPoint(pC0->width() - 2, pC0->height() / 2));
        QCOMPARE(TraceOf(sim), (QStringList{"0 > 37 04 02 01 80 00"}));
        // E0 cycles checked, indeterminate, unchecked; indeterminate is sent as 0.
        for (Qt::CheckState state : {Qt::Checked, Qt::PartiallyChecked, Qt::Unchecked})
        {
            ClickControl(dlg, BitBoxId(PORT_E, 0));
            QCOMPARE(dlg.BitBox(PORT_E, 0)->checkState(), state);
        }
        QCOMPARE(TraceOf(sim), (QStringList{"0 > 37 04 02 01 80 01", "0 > 37 04 02 01 80 00",
                                            "0 > 37 04 02 01 80 00"}));
        // Set and Clear mark whole ports, disabled boxes included.
        ClickControl(dlg, SetButtonId(PORT_D)); // D0 to D4 only; D5 to D7 keep their marks
        ClickControl(dlg, ClearButtonId(PORT_D));
        ClickControl(dlg, SetButtonId(PORT_A)); // the inputs A0 to A3 are marked too
        ClickControl(dlg, SetButtonId(PORT_E));
        ClickControl(dlg, ClearButtonId(PORT_A));
        QCOMPARE(TraceOf(sim), (QStringList{"0 > 37 04 02 01 9f 00", "0 > 37 04 02 01 80 00",
                                            "0 > 37 ff 02 01 80 00", "0 > 37 ff 02 01 80 ff",
                                            "0 > 37 00 02 01 80 ff"}));

        ClickControl(dlg, IDC_PORT_DIRECTION);
        QCOMPARE(TraceOf(sim),
                 (QStringList{READ_CONFIG_REQUEST, "0 < 38 0f 01 00 00 00 00 80 08 00 02"}));
        // The marks and enabled boxes: E0 and E1 are analog channels.
        QCOMPARE(Marks(dlg) + '|' + Enabled(dlg), "0f 00 00 80 00|ff ff ff 1f fc");
        ClickControl(dlg, BitBoxId(PORT_C, 2));
        QCOMPARE(TraceOf(sim).last(), "0 > 39 0f 01 00 00 04 00 80 08 00 02");
        // Inversion masks at bytes 2, 4, 6, 8, port D's too; byte 10, the analog input count,
        // stays 2.
        ClickControl(dlg, IDC_INPUT_POLARITY);
        // Row E clear, not the count, and disabled.
        QCOMPARE(Marks(dlg) + '|' + Enabled(dlg), "01 00 00 08 00|ff ff ff 1f 00");
        ClickControl(dlg, BitBoxId(PORT_B, 0));
        ClickControl(dlg, BitBoxId(PORT_D, 4));
        QCOMPARE(TraceOf(sim).filter(" > 39"),
                 (QStringList{"0 > 39 0f 01 00 01 04 00 80 08 00 02",
                              "0 > 39 0f 01 00 01 04 00 80 18 00 02"}));
        QCOMPARE(dlg.m_nAnalogMask, 0x03);
    }

    // The channels are a run from E0 whose readings each tick shows, as many as the board
    // announces.
    void analogInputsAreARunOfMarksFromE0()
    {
        CSimFixture sim;
        auto pBoard = sim.Plug(SimBoardConfig().Id(7));
        const ConfigBlock config{{0xFF, 0, 0, 0, 0xFF}, {0x01, 0, 0, 0}, 0};
        ConfigureBoard(sim, 0, config);
        for (int k = 0; k < 4; ++k)
            pBoard->SetAnalog(k, static_cast<std::uint16_t>(0x3FF - k));
        COpenDlg dlg(sim);
        ClickControl(dlg, IDC_ANALOG_INPUTS);
        QCOMPARE(Marks(dlg) + '|' + Enabled(dlg), "00 00 00 00 00|00 00 00 00 0f");
        TraceOf(sim);

        // Checking E2 alone selects E0 to E2; the direction of port E goes to 0. Clearing E1
        // inside the run leaves the run as it was.
        ClickControl(dlg, BitBoxId(PORT_E, 2));
        QCOMPARE(TraceOf(sim),
                 (QStringList{READ_CONFIG_REQUEST, "0 < 38 ff 01 00 00 00 00 00 00 ff 00",
                              "0 > 39 ff 01 00 00 00 00 00 00 00 03"}));
        ClickControl(dlg, BitBoxId(PORT_E, 1));
        QCOMPARE(Marks(dlg), "00 00 00 00 07");
        ClickControl(dlg, BitBoxId(PORT_E, 3));
        QCOMPARE(Marks(dlg), "00 00 00 00 0f");
        QCOMPARE(TraceOf(sim).last(), "0 > 39 ff 01 00 00 00 00 00 00 00 04");
        dlg.OnTimer(TIMER_POLL);
        QCOMPARE(AnalogCaptions(dlg), (QStringList{"03ff", "03fe", "03fd", "03fc"}));

        // Another program leaves two channels on: E0 and E1 change, printed as signed values,
        // and a failed read changes none.
        ConfigureBoard(sim, 0, ConfigBlock{config.byDir, config.byInv, 2});
        pBoard->SetAnalog(1, 0x002);
        TraceOf(sim);
        pBoard->InjectFault(ESimFault::Corrupt, 2, 3); // high byte of channel 0: 03 -> fc
        dlg.OnTimer(TIMER_POLL);
        QCOMPARE(TraceOf(sim), (QStringList{"0 > 3d", "0 < 3d 02 ff fc 02 00 00 00 00 00"}));
        pBoard->InjectFault(ESimFault::Fail, 2);
        dlg.OnTimer(TIMER_POLL);
        QCOMPARE(AnalogCaptions(dlg), (QStringList{"fffffcff", "0002", "03fd", "03fc"}));

        // Back to three channels: E3 gets its caption back; down to none: every caption back,
        // the mask 0, and the timer still running.
        ClickControl(dlg, BitBoxId(PORT_E, 3));
        QCOMPARE(AnalogCaptions(dlg), (QStringList{"fffffcff", "0002", "03fd", "E3"}));
        ClickControl(dlg, ClearButtonId(PORT_E));
        QCOMPARE(AnalogCaptions(dlg), (QStringList{"E0", "E1", "E2", "E3"}));
        QCOMPARE(TraceOf(sim).last(), "0 > 39 ff 01 00 00 00 00 00 00 00 00");
        QCOMPARE(dlg.m_nTimer, TIMER_POLL);
    }

    // Polling runs while any pin is an input or analog, reads levels in Port Bits only, and a
    // failed read keeps the marks.
    void pollingFollowsTheDirectionsWrittenOrRead()
    {
        CSimFixture sim;
        auto pBoard = sim.Plug(SimBoardConfig().Id(7));
        ConfigureBoard(sim, 0, ConfigBlock{{0x01, 0, 0, 0, 0}, {}, 2}); // A0 the only input
        COpenDlg dlg(sim);
        TraceOf(sim);
        pBoard->SetInputs(PORT_A, 0x01);
        dlg.OnTimer(TIMER_POLL);
        QCOMPARE(TraceOf(sim).mid(0, 3),
                 (QStringList{READ_PORTS_REQUEST, "0 < 36 01 00 00 00 00", "0 > 3d"}));
        QCOMPARE(Marks(dlg), "01 00 00 00 00");
        pBoard->SetInputs(PORT_A, 0x00);
        pBoard->InjectFault(ESimFault::Fail, 2);
        dlg.OnTimer(TIMER_POLL);
        QCOMPARE(Marks(dlg), "01 00 00 00 00");
        QStringList seen; // the real timer's
        QTRY_VERIFY_WITH_TIMEOUT((seen << TraceOf(sim)).contains(READ_PORTS_REQUEST), 2000);
        ClickControl(dlg, IDC_PORT_DIRECTION);
        TraceOf(sim);
        dlg.OnTimer(TIMER_POLL);
        QCOMPARE(TraceOf(sim), (QStringList{"0 > 3d", "0 < 3d 02 00 00 00 00 00 00 00 00"}));

        // A0 back to output: all five masks 0 stop the timer before the write is sent, so
        // even a failed write leaves it stopped.
        pBoard->InjectFault(ESimFault::Fail, 3);
        ClickControl(dlg, BitBoxId(PORT_A, 0));
        QCOMPARE(TraceOf(sim).last(), "0 >! 39 00 00 00 00 00 00 00 00 00 02");
        QCOMPARE(dlg.m_nTimer, 0);
        // A failed read-configuration writes nothing and applies no rule.
        pBoard->InjectFault(ESimFault::Fail, 2);
        ClickControl(dlg, BitBoxId(PORT_A, 1));
        QVERIFY(TraceOf(sim) == (QStringList{READ_CONFIG_REQUEST, "0 <!"}) && dlg.m_nTimer == 0);
        // Any non-zero mask starts it again.
        ClickControl(dlg, BitBoxId(PORT_E, 7));
        QCOMPARE(dlg.m_nTimer, TIMER_POLL);
        QCOMPARE(TraceOf(sim).last(), "0 > 39 02 00 00 00 00 00 00 00 80 02");

        // Reading all-output directions on entering a view stops it too, analog channels or
        // not; switching analog channels on starts it.
        ConfigureBoard(sim, 0, ConfigBlock{{0, 0, 0, 0, 0}, {}, 2});
        ClickControl(dlg, IDC_PORT_BITS);
        QCOMPARE(dlg.m_nTimer, 0);
        ClickControl(dlg, IDC_ANALOG_INPUTS);
        ClickControl(dlg, BitBoxId(PORT_E, 2));
        QCOMPARE(dlg.m_nTimer, TIMER_POLL);
    }

    // The main dialog as its template describes it (its size, 280 x 258 dialog units of DejaVu
    // Sans 8 pt, is the screenshot's): each control with its ID and caption, in template order,
    // none overlapping; the about box from the context menu; the IP address control as typed
    // into. Without a board the dialog is as initialised, and each view only changes the marks
    // and says what a mark means; a board that arrives is shown, and when the last board goes
    // everything that needs one is disabled.
    void withoutABoardThenPlugAndUnplugFollowTheWatch()
    {
        CDebugCapture log;
        CSimFixture sim;
        COpenDlg dlg(sim);
        QCOMPARE(dlg.windowTitle(), "Kelvard IO");
        const auto items = FindDialogTemplate(IDD_TARVEL_DIALOG)->arrItems;
        QCOMPARE(dlg.GetControls().size(), items.size());
        std::vector<QRect> placed;
        for (std::size_t i = 0; i < items.size(); ++i)
        {
            QWidget* pControl = dlg.GetControls()[i];
            const DialogItem& item = items[i];
            QCOMPARE(CDialogBuilder::GetDlgCtrlID(pControl), item.nId);
            if (auto* pButton = qobject_cast<QAbstractButton*>(pControl))
                QCOMPARE(pButton->text(), item.pszCaption);
            // Only a group box, a frame, lets clicks through.
            QCOMPARE(pControl->testAttribute(Qt::WA_TransparentForMouseEvents),
                     item.eKind == EControlKind::GroupBox);
            if (item.eKind == EControlKind::GroupBox)
                continue;
            for (const QRect& rcEarlier : placed)
                QVERIFY(!rcEarlier.intersects(pControl->geometry()));
            placed.push_back(pControl->geometry());
        }
        QVERIFY(qobject_cast<QPushButton*>(dlg.GetDlgItem(IDOK))->isDefault());
        QCOMPARE(dlg.m_hIcon.availableSizes(), (QList<QSize>{QSize(32, 32), QSize(16, 16)}));

        QAction* pAbout = dlg.GetSystemMenu()->actions().value(2);
        QVERIFY(pAbout && pAbout->text() == "&About Tarvel...");
        QString strTitle;
        QTimer::singleShot(0, &dlg, [&] { strTitle = qApp->activeModalWidget()->windowTitle(); });
        QTimer::singleShot(0, &dlg,
                           [] { QTest::keyClick(qApp->activeModalWidget(), Qt::Key_Escape); });
        pAbout->trigger(); // returns when the about box has closed
        QVERIFY(strTitle == "About Tarvel" && dlg.isVisible()); // Escape closed only the box

        CIPAddressCtrl ctrl;
        ctrl.show();
        ctrl.Field(0)->setFocus();
        QTest::keyClicks(ctrl.Field(0), QStringLiteral("10."));
        QCOMPARE(ctrl.focusWidget(), ctrl.Field(1));
        QTest::keyClicks(ctrl.Field(1), QStringLiteral("255")); // full: moves on by itself
        QCOMPARE(ctrl.focusWidget(), ctrl.Field(2));
        QTest::keyClicks(ctrl.Field(2), QStringLiteral("300.")); // 300 is not an octet: 30
        QTest::keyClicks(ctrl.Field(3), QStringLiteral("7"));
        QCOMPARE(ctrl.GetWindowText(), "10.255.30.7");

        const auto Empty = [&]
        {
            QVERIFY(dlg.m_cbDevices->GetCount() == 0 && !dlg.m_pDevice &&
                    !dlg.m_btnUpdate->isEnabled() && dlg.m_nTimer == 0);
            QCOMPARE(dlg.m_stFirmware->text() + dlg.m_edSerial->text(), "");
        };
        Empty();
        QVERIFY(dlg.m_edSerial->isEnabled() &&
                qobject_cast<QRadioButton*>(dlg.GetDlgItem(IDC_PORT_BITS))->isChecked());
        for (unsigned nEvent : {0x8000u, 0x8001u, 0x8004u, 0xFFFFu, 0x0018u, 0x0007u})
            QCOMPARE(dlg.OnDeviceChange(nEvent, 0), false);
        QCOMPARE(QString::fromStdString(log.Text()), "Device Arrival\nDevice query remove\nDevice "
                                                     "remove complete\nUser defined\nDevice Node "
                                                     "changed\n");
        ClickControl(dlg, BitBoxId(PORT_A, 1));
        ClickControl(dlg, BitBoxId(PORT_E, 0));
        const std::tuple<int, const char*, const char*> VIEWS[] = {
            {IDC_INPUT_POLARITY, "ff ff ff 1f 00", "When checked input is inverted"},
            {IDC_PORT_BITS, "ff ff ff 1f 00",
             "When checked I/O pins are high - Inverted inputs are low"},
            {IDC_PORT_DIRECTION, "ff ff ff 1f ff", "When checked I/O pin is an input"},
            {IDC_ANALOG_INPUTS, "ff ff ff 1f ff", "When checked I/O pin is analog input"}};
        for (auto [nView, pszEnabled, pszMessage] : VIEWS)
        {
            ClickControl(dlg, nView);
            QCOMPARE(Enabled(dlg), pszEnabled);
            QCOMPARE(Marks(dlg), "02 00 00 00 01");
            QCOMPARE(qobject_cast<QLabel*>(dlg.GetDlgItem(IDC_MESSAGE))->text(), pszMessage);
        }
        QVERIFY(TraceOf(sim).isEmpty() && dlg.m_nTimer == 0);

        // A board arrives, configured with four analog channels.
        auto pBoard = sim.Plug(SimBoardConfig().Id(9).Serial("SN000009"));
        ConfigureBoard(sim, 0, ConfigBlock{{0xFF, 0, 0, 0, 0}, {}, 4});
        pBoard->SetAnalog(0, 0x123);
        DeliverDeviceChanges(sim);
        dlg.OnTimer(TIMER_POLL);
        QCOMPARE(AnalogCaptions(dlg)[0], "0123");
        // The last board goes: the list empties and everything that needs a board is disabled.
        sim.Bus().Unplug(pBoard);
        DeliverDeviceChanges(sim);
        Empty();
        QCOMPARE(Enabled(dlg) + '|' + Marks(dlg), "00 00 00 00 00|00 00 00 00 00");
        QCOMPARE(AnalogCaptions(dlg), (QStringList{"E0", "E1", "E2", "E3"}));
        QVERIFY(!dlg.m_edSerial->isEnabled() && dlg.m_nAnalogMask == 0);
        // It comes back: listed and shown again.
        sim.Bus().Replug(pBoard);
        DeliverDeviceChanges(sim);
        QCOMPARE(dlg.m_stFirmware->text(), "FirmVer. 1.03  Dev ID - 9");
    }

    // The address setting as another program or an older version may have stored it; reading
    // it creates nothing. Closing by the Close button, Escape, the close box and the context
    // menu's Close releases the boards.
    void storedAddressIsReadAndClosingReleasesTheBoards()
    {
        const std::tuple<const char*, const char*, std::function<void(CTarvelDlg&)>, int> CASES[] =
            {{nullptr, "0.0.0.0", [](CTarvelDlg& dlg) { ClickControl(dlg, IDOK); }, IDOK},
             {"-1062731510", "192.168.1.10",
              [](CTarvelDlg& dlg) { QTest::keyClick(&dlg, Qt::Key_Escape); }, IDCANCEL},
             {"4294967295", "255.255.255.255", [](CTarvelDlg& dlg) { dlg.close(); }, IDCANCEL},
             {"abc", "0.0.0.0",
              [](CTarvelDlg& dlg) { dlg.GetSystemMenu()->actions()[0]->trigger(); }, IDCANCEL},
             {"16909060xyz", "1.2.3.4", [](CTarvelDlg& dlg) { ClickControl(dlg, IDOK); }, IDOK}};
        QVERIFY(QDir().mkpath(qEnvironmentVariable("XDG_CONFIG_HOME")));
        for (const auto& [pszStored, pszShown, fnClose, nResult] : CASES)
        {
            QFile file(qEnvironmentVariable("XDG_CONFIG_HOME") + "/Tarvel.ini");
            QVERIFY(file.remove() || !file.exists());
            QVERIFY(!pszStored ||
                    (file.open(QIODevice::WriteOnly) &&
                     file.write(QByteArray("[Settings]\nIPAddress=") + pszStored) > 0));
            file.close();
            CSimFixture sim;
            sim.Plug(SimBoardConfig().Id(1).Serial("SIM00001"));
            sim.Plug(SimBoardConfig().Id(2));
            COpenDlg dlg(sim);
            QCOMPARE(dlg.m_ipAddress->GetWindowText(), pszShown);
            QCOMPARE(file.exists(), pszStored != nullptr);
            std::vector<CBoardLink::STag> links;
            for (int i = 0; i < 2; ++i)
                links.push_back(static_cast<CBoardRecord*>(dlg.m_cbDevices->GetItemDataPtr(i))
                                    ->m_lnkBoard.Tag());
            fnClose(dlg);
            QVERIFY(!dlg.isVisible() && dlg.result() == nResult);
            QVERIFY(dlg.m_cbDevices->GetCount() == 0 && !dlg.m_pDevice && dlg.m_nTimer == 0);
            for (const CBoardLink::STag& tag : links) // a closed link is no board's any more
                QVERIFY(!CBoardLink::SameDevice(tag, tag));
            // Nothing is opened again once the dialog has ended.
            sim.Plug(SimBoardConfig().Id(3));
            DeliverDeviceChanges(sim);
            QCOMPARE(dlg.m_cbDevices->GetCount(), 0);
        }
    }

    // The program on the simulated bus, whose boards drift; the image for its boards beside it in
    // the build tree, in a data folder in the packages; its command line read before it needs a
    // display.
    void programShowsTheSimulatedBoardsAndReadsItsCommandLine()
    {
        QTemporaryDir dir;
        const QString strShot = dir.filePath(QStringLiteral("tarvel.png"));
        const QString strTrace = dir.filePath(QStringLiteral("trace.txt"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("KELVARD_SIM_BOARDS")); // the default two boards
        env.remove(QStringLiteral("KELVARD_USB"));
        env.insert(QStringLiteral("KELVARD_SIM_TRACE"), strTrace);
        QProcess tarvel; // run to its end: true if it exited normally
        const auto Run = [&](const QStringList& args)
        {
            tarvel.setProcessEnvironment(env);
            tarvel.start(QStringLiteral(TARVEL_PROGRAM), args);
            return tarvel.waitForFinished(30000) && tarvel.exitStatus() == QProcess::NormalExit;
        };
        QVERIFY(Run({"--simulate", "--screenshot", strShot}));
        QCOMPARE(QString::number(tarvel.exitCode()) + ' ' + tarvel.readAllStandardOutput(),
                 "0 " + strShot + '\n');
        QCOMPARE(QImage(strShot).size(), QSize(490, 419));

        QFile file(strTrace);
        const QByteArray trace = file.open(QIODevice::ReadOnly) ? file.readAll() : "";
        // Both boards are asked who they are; the first, with two analog inputs, is polled.
        QVERIFY(trace.contains("\n0 > 3c 00\n0 < 3c 01\n") &&
                trace.contains("\n1 > 3c 00\n1 < 3c 02\n"));
        QVERIFY(trace.count("0 > 36 00 00 00 00 00\n") >= 5);
        QVERIFY(trace.contains("\n0 > 3d\n0 < 3d 02 "));
        // The simulated bus drifts the inputs: the polls see them change.
        const QStringList polls = QString::fromLatin1(trace).split('\n').filter("0 < 36");
        QVERIFY(polls.count(polls.value(0)) < polls.size());

        QTemporaryDir prefix;
        const QString strBin = prefix.filePath("bin");
        QVERIFY(QDir().mkpath(strBin) && QDir().mkpath(prefix.filePath("share/tarvel")));
        QCOMPARE(CTarvelApp::SimulatedBoardsImage(strBin), strBin + "/KelvardUSB.hex"); // neither
        for (const QString& strFile : {prefix.filePath("share/tarvel/KelvardUSB.hex"),
                                       strBin + "/KelvardUSB.hex"}) // installed, then both
        {
            QFile image(strFile);
            QVERIFY(image.open(QIODevice::WriteOnly));
            QCOMPARE(CTarvelApp::SimulatedBoardsImage(strBin), strFile);
        }

        for (const char* pszName : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(QString::fromLatin1(pszName));
        QVERIFY(Run({"--help"}) && tarvel.exitCode() == 0);
        const QByteArray help = tarvel.readAllStandardOutput();
        QVERIFY(help.startsWith("Usage: tarvel [options]\n") && help.contains("--simulate") &&
                help.contains("--screenshot <path>"));
        QVERIFY(Run({"--quit-after", "soon"}) && tarvel.exitCode() == 2 &&
                tarvel.readAllStandardError().startsWith("tarvel: "));
    }
};

QTEST_MAIN(TestTarvelDialog)
#include "test_tarvel_dialog.moc"
