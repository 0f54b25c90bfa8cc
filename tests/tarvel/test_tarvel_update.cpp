// The firmware update as the dialog adds it: the Update question and the image check before it,
// the serial-number prompt, the board handed to a worker while polling goes on, the progress
// corner, "Failed boot load" once, device changes around an update and closing during one. The
// update's requests and their faults are the firmware tests'. Re-attaches are held (a long delay)
// and done by the test with ComeBack, so every leave and return of a board is a device change
// that discovery sees on its own.
#include "tests/tarvel/TarvelTestSupport.h"

class TestTarvelUpdate : public QObject
{
    Q_OBJECT

private slots:
    void wholeCycle_data()
    {
        QTest::addColumn<bool>("ok");
        QTest::newRow("prompt OK") << true;
        QTest::newRow("prompt Cancel") << false;
    }

    // The question (Yes without the update part, No, then Yes for the board picked); the board
    // back in its bootloader: the prompt, while which device changes are held, then the update
    // on a worker that later rebuilds leave alone while the current board is polled, the
    // progress corner, and the board back with version 1.04 and the serial number typed on OK.
    void wholeCycle()
    {
        QFETCH(bool, ok);
        CDebugCapture log;
        CSimFixture sim;
        sim.Bus().SetReattachDelay(std::chrono::hours(1)); // back when the test replugs it
        sim.Plug(SimBoardConfig().Id(2).Serial("SN000002"));
        auto pA = sim.Plug(SimBoardConfig().Id(1)); // instance 1: no serial number, version 1.03
        CModalAnswers answers;
        answers.m_bPromptOk = ok;
        COpenDlg dlg(sim);
        ClickControl(dlg, IDC_UPDATE); // Yes, but the dialog has no update part to hand over to
        answers.m_answer = QMessageBox::No;
        CDialogUpdates& updates = *new CDialogUpdates(dlg); // attached as the program does
        dlg.SetBootloaderBoards(std::unique_ptr<CBootloaderBoards>(&updates));
        ClickControl(dlg, IDC_UPDATE);
        // Yes for the board picked: enter-bootloader, one byte and no reply read, to it alone.
        answers.m_answer = QMessageBox::Yes;
        QTest::keyClick(dlg.m_cbDevices, Qt::Key_Down);
        ClickControl(dlg, IDC_UPDATE);
        QCOMPARE(TraceOf(sim).filter(" > 32"), (QStringList{"1 > 32"}));

        // Two more boards arrive through the prompt's message loop: nothing on the wire and no
        // rebuild until it has closed, only the notices; then the list is rebuilt without
        // waiting for the update, and again when one of them goes, both times leaving the
        // board alone (no query-mode): its requests are the worker's, the only one.
        QStringList during;
        std::shared_ptr<CSimBoard> pC;
        answers.m_fnWhilePrompt = [&]
        {
            log.Take();
            TraceOf(sim);
            pC = sim.Plug(SimBoardConfig().Id(3).Serial("SN000003"));
            sim.Plug(SimBoardConfig().Id(4).Serial("SN000004"));
            DeliverDeviceChanges(sim);
            during << TraceOf(sim) << Entries(dlg) << QString::fromStdString(log.Text());
        };
        pA->SetLatency(1ms); // each transfer a millisecond: the update lasts seconds
        ComeBack(sim, pA);
        QCOMPARE(answers.m_seen,
                 (QStringList{QUESTION, QUESTION, QUESTION, "prompt Serial Number"}));
        QCOMPARE(during, (QStringList{"Device 0", "Device Arrival\nDevice Node changed\n"
                                                  "Device Arrival\nDevice Node changed\n"}));
        QCOMPARE(Entries(dlg), (QStringList{"Device 0", "Device 2", "Device 3"}));
        sim.Bus().Unplug(pC);
        DeliverDeviceChanges(sim);
        QCOMPARE(Entries(dlg), (QStringList{"Device 0", "Device 2"}));
        // The dialog's thread is free meanwhile: the current board is polled.
        QStringList trace = TraceOf(sim);
        const qsizetype nReads = trace.count(READ_PORTS_REQUEST); // the rebuilds'
        QVERIFY(QTest::qWaitFor(
            [&] { return (trace << TraceOf(sim)).count(READ_PORTS_REQUEST) >= nReads + 2; }));
        QCOMPARE(updates.m_bootLoads.Running(), std::size_t(1));
        QVERIFY(trace.filter(QRegularExpression("^1 > 08")).isEmpty() &&
                !trace.filter(QRegularExpression("^1 > ")).isEmpty());

        // The free corner says which board and how far, covering no control, until the end.
        QVERIFY(QTest::qWaitFor([&] { return updates.m_pbUpdating->value() > 5; }));
        QVERIFY(updates.m_stUpdating->isVisible() && updates.m_pbUpdating->isVisible());
        QCOMPARE(updates.m_stUpdating->text(), "Updating Device 1");
        const QRect corner =
            updates.m_stUpdating->geometry().united(updates.m_pbUpdating->geometry());
        for (const QWidget* pControl : dlg.GetControls())
            QVERIFY(!pControl->isVisible() || !pControl->geometry().intersects(corner));
        QVERIFY(WaitForUpdates(updates));
        QCOMPARE(updates.m_bootLoads.TakeResults(), std::vector{EStatus::Ok});
        QVERIFY(QTest::qWaitFor(
            [&] { return updates.m_stUpdating->isHidden() && updates.m_pbUpdating->isHidden(); }));

        // Restarted with its new application, and with the serial number typed on OK.
        sim.Bus().Replug(pA);
        CBoardLink link = sim.Context()->Open(1);
        QCOMPARE(QString::number(link.ReadVersion(), 16) +
                     QString::fromStdString(link.ReadSerialNumber()),
                 "104" + (ok ? answers.m_strTyped : QString()));
        QCOMPARE(answers.m_seen.size(), 4);
    }

    // An image that cannot be written: a box says why, and the board is not sent into its
    // bootloader. A failed update (an exchange fails while erasing): "Failed boot load" once,
    // the board left in its bootloader, and the next discovery, for another board's arrival,
    // updates it. Closing meanwhile: the dialog says which update it finishes, stays until it
    // has, then ends as it was told to.
    void unusableImageAndFailedUpdateThenClosingDuringTheNext()
    {
        CTempDir dir;
        CSimFixture sim;
        sim.Bus().SetReattachDelay(std::chrono::hours(1)); // back when the test replugs it
        auto pA = sim.Plug(SimBoardConfig().Id(1).Serial("SN000001")); // no prompt
        CModalAnswers answers;
        COpenDlg dlg(sim);
        CDialogUpdates& updates = *new CDialogUpdates(dlg); // attached as the program does
        dlg.SetBootloaderBoards(std::unique_ptr<CBootloaderBoards>(&updates));
        const QString strImage = dlg.m_strHexPath;
        dlg.m_strHexPath = QString::fromStdString(dir.Write(":0100000011EE\n:00000001FF\n"));
        ClickControl(dlg, IDC_UPDATE);
        QCOMPARE(answers.m_seen.last(), "box Device Firmware|The firmware cannot be updated:\n" +
                                            dlg.m_strHexPath +
                                            ": fits no board: it has no program "
                                            "data from the application start 0x0800 on");
        QVERIFY(TraceOf(sim).filter(" > 32").isEmpty() && !pA->IsBootMode());

        dlg.m_strHexPath = strImage;
        answers.m_seen.clear();
        ClickControl(dlg, IDC_UPDATE);
        // Transfer 100 is the reply to the 47th erase (after query-mode, ReadSerNo, identify).
        pA->InjectFault(ESimFault::Fail, 100);
        ComeBack(sim, pA);
        QVERIFY(WaitForUpdates(updates));
        QCOMPARE(updates.m_bootLoads.TakeResults(), std::vector{EStatus::Usb});
        QVERIFY(QTest::qWaitFor([&] { return answers.m_seen.count(FAILURE) == 1; }));
        QVERIFY(sim.Bus().Board(0) == pA && pA->IsBootMode());

        pA->SetLatency(1ms);
        sim.Plug(SimBoardConfig().Id(3).Serial("SN000003"));
        DeliverDeviceChanges(sim);
        QCOMPARE(updates.m_bootLoads.Running(), std::size_t(1));
        dlg.reject();
        auto* pFinishing = dlg.findChild<QProgressDialog*>();
        QVERIFY(pFinishing && pFinishing->isVisible() && dlg.isVisible());
        QCOMPARE(pFinishing->labelText(), "Finishing the update of Device 0...");
        QVERIFY(WaitForUpdates(updates));
        QCOMPARE(updates.m_bootLoads.TakeResults(), std::vector{EStatus::Ok});
        QVERIFY(QTest::qWaitFor([&] { return !dlg.isVisible(); }));
        QVERIFY(dlg.result() == IDCANCEL && !dlg.findChild<QProgressDialog*>());
        QCOMPARE(pA->FirmwareVersion(), 0x0104);
        QCOMPARE(answers.m_seen, (QStringList{QUESTION, FAILURE}));
    }
};

QTEST_MAIN(TestTarvelUpdate)
#include "test_tarvel_update.moc"
