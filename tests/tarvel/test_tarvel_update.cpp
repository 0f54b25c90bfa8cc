// The firmware update in the dialog, on the simulated bus: the Update question, the board's
// return in its bootloader, the serial-number prompt, the update on its worker while polling
// goes on, the board listed again with its new version; a failed update with its one "Failed
// boot load" box and the next discovery that completes it; a board under update left alone by
// later discoveries; device changes held while the prompt is open; closing during an update.
//
// Re-attaches are held (a long delay) and done by the test with Replug, so every leave and
// return of a board is a device change that discovery sees on its own.
#include "tests/support/TempDir.h"
#include "tests/tarvel/DialogTestSupport.h"

#include "firmware/BoardRecord.h"
#include "firmware/HexImage.h"
#include "tarvel/bootloader/SerialNum.h"

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QProgressDialog>
#include <QTimer>

#include <functional>

namespace
{
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

const QString QUESTION_BOX =
    QStringLiteral("box Device Firmware|Do you want to update the firmware at this time?|") +
    QString::number(QMessageBox::Yes | QMessageBox::No, 16);
const QString FAILURE_BOX =
    QStringLiteral("box Tarvel|Failed boot load|") + QString::number(QMessageBox::Ok, 16);
const QString PROMPT = QStringLiteral("prompt Serial Number");
const QString IDENTIFY = QStringLiteral("0 > 01 02 fe ff 3f");
const QString RESTART = QStringLiteral("0 > ff");
const QString READ_SER_NO = QStringLiteral("0 > 01 10 f0 07 00");

// Answers the modal windows the dialog opens, as a person would, and notes each one:
// "box <title>|<text>|<standard buttons in hex>" or "prompt <title>".
class CModalAnswers : public QObject
{
public:
    CModalAnswers()
    {
        connect(&m_tmrPoll, &QTimer::timeout, this, &CModalAnswers::Look);
        m_tmrPoll.start(2);
    }

    QMessageBox::StandardButton m_answer = QMessageBox::Yes; // to the update question
    QString m_strTyped;                                      // into the prompt's edit
    bool m_bPromptOk = true;                                 // else Cancel
    std::function<void()> m_fnWhilePrompt;                   // before typing
    QStringList m_seen;

private:
    // Each answer runs from a timer of its own, so that a window opened while another is being
    // answered (through the event loop the answer runs) is answered too.
    void Look()
    {
        QWidget* pModal = QApplication::activeModalWidget();
        if (!pModal || m_answering.contains(pModal))
            return;
        m_answering << pModal;
        QTimer::singleShot(0, this,
                           [this, pModal, pAlive = QPointer<QWidget>(pModal)]
                           {
                               if (auto* pBox = qobject_cast<QMessageBox*>(pAlive.data()))
                                   AnswerBox(*pBox);
                               else if (auto* pPrompt = qobject_cast<SerialNum*>(pAlive.data()))
                                   AnswerPrompt(*pPrompt);
                               m_answering.removeOne(pModal);
                           });
    }

    void AnswerBox(QMessageBox& box)
    {
        const QMessageBox::StandardButtons buttons = box.standardButtons();
        m_seen << QStringLiteral("box %1|%2|%3")
                      .arg(box.windowTitle(), box.text(), QString::number(buttons, 16));
        QTest::mouseClick(box.button(buttons.testFlag(m_answer) ? m_answer : QMessageBox::Ok),
                          Qt::LeftButton);
    }

    void AnswerPrompt(SerialNum& prompt)
    {
        m_seen << QStringLiteral("prompt ") + prompt.windowTitle();
        if (auto fnWhilePrompt = std::exchange(m_fnWhilePrompt, nullptr))
            fnWhilePrompt();
        auto* pEdit = qobject_cast<QLineEdit*>(prompt.GetDlgItem(IDC_SERIALNUM_EDIT));
        pEdit->setFocus();
        QTest::keyClicks(pEdit, m_strTyped);
        QTest::mouseClick(prompt.GetDlgItem(m_bPromptOk ? IDOK : IDCANCEL), Qt::LeftButton);
    }

    QTimer m_tmrPoll;
    QList<QWidget*> m_answering;
};

// The program image the dialog updates boards with (beside the test program, as beside the
// tool), from address 0, as the tool's loader reads it.
Bytes LoadImage()
{
    CHexImage loader;
    if (loader.LoadFile(QFile::encodeName(QCoreApplication::applicationDirPath() +
                                          QStringLiteral("/KelvardUSB.hex"))
                            .toStdString()) != EStatus::Ok)
        return {};
    return Bytes(loader.m_pProgramImage.get(),
                 loader.m_pProgramImage.get() + loader.m_nProgramExtent);
}

QStringList OfInstance(const QStringList& trace, int nInstance)
{
    return trace.filter(QRegularExpression(QStringLiteral("^%1 ").arg(nInstance)));
}

// Waiting runs the event loop: the poll timer keeps ticking meanwhile.
bool WaitForUpdates(CDialogUpdates& updates)
{
    return QTest::qWaitFor([&] { return updates.m_bootLoads.Running() == 0; }, 120000);
}

bool Attached(CSimFixture& sim, const std::shared_ptr<CSimBoard>& pBoard)
{
    const auto boards = sim.Bus().Boards();
    return std::find(boards.begin(), boards.end(), pBoard) != boards.end();
}

void SelectSecond(CTarvelDlg& dlg)
{
    dlg.m_cbDevices->SetCurSel(0);
    dlg.m_cbDevices->setFocus();
    QTest::keyClick(dlg.m_cbDevices, Qt::Key_Down);
}

// Update, Yes: the board leaves, discovery sees it gone.
void SendToBootloader(CTarvelDlg& dlg, CSimFixture& sim, const std::shared_ptr<CSimBoard>& pBoard)
{
    ClickControl(dlg, IDC_UPDATE);
    QVERIFY(!Attached(sim, pBoard));
    DeliverDeviceChanges(sim);
}

// Where each control of the template is and whether it shows.
QList<std::pair<QRect, bool>> Layout(const CTarvelDlg& dlg)
{
    QList<std::pair<QRect, bool>> layout;
    for (const QWidget* pControl : dlg.GetControls())
        layout << std::pair(pControl->geometry(), pControl->isVisible());
    return layout;
}

// A board that restarted (or entered its bootloader) comes back, and discovery sees it.
void ComeBack(CSimFixture& sim, const std::shared_ptr<CSimBoard>& pBoard)
{
    sim.Bus().Replug(pBoard);
    DeliverDeviceChanges(sim);
}
} // namespace

class TestTarvelUpdate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(!LoadImage().empty()); }

    void wholeCycle_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("serial"); // as the board reports it afterwards
        QTest::newRow("prompt OK") << "KV000042" << true << "KV000042";
        QTest::newRow("prompt Cancel") << "KV000042" << false << "";
        QTest::newRow("OK, nine characters") << "KV0000421" << true << "";
    }

    // The question (Yes without the update part, No, then Yes for the board picked), the board's
    // return in its bootloader, the prompt, the update on a worker while the other board is polled,
    // and the board listed again with version 1.04.
    void wholeCycle()
    {
        QFETCH(QString, typed);
        QFETCH(bool, ok);
        QFETCH(QString, serial);
        const Bytes byImage = LoadImage();
        CSimFixture sim;
        sim.Bus().SetReattachDelay(std::chrono::hours(1)); // back when the test replugs it
        auto pOther = sim.Plug(SimBoardConfig().Id(2).Serial("SN000002"));
        auto pA = sim.Plug(SimBoardConfig().Id(1)); // instance 1: no serial number, version 1.03
        const Bytes byBefore = pA->ReadMemory(0, 0x8000);
        CModalAnswers answers;
        answers.m_strTyped = typed;
        answers.m_bPromptOk = ok;
        CTarvelDlg dlg(sim.Context());
        OpenDialog(dlg);
        ClickControl(dlg, IDC_UPDATE); // Yes, but the dialog has no update part to hand over to
        answers.m_answer = QMessageBox::No;
        CDialogUpdates& updates = AttachUpdates(dlg);
        ClickControl(dlg, IDC_UPDATE);
        QCOMPARE(answers.m_seen, (QStringList{QUESTION_BOX, QUESTION_BOX}));
        QVERIFY(TraceOf(sim).filter(QStringLiteral("> 32")).isEmpty());

        // Yes for the board picked: enter-bootloader, one byte and no reply read, to it alone.
        answers.m_answer = QMessageBox::Yes;
        SelectSecond(dlg);
        QCOMPARE(dlg.m_pDevice->m_nDeviceId, 1);
        SendToBootloader(dlg, sim, pA);
        QCOMPARE(TraceOf(sim).filter(QStringLiteral("> 32")), (QStringList{"1 > 32"}));
        QVERIFY(Attached(sim, pOther));
        QCOMPARE(Entries(dlg), (QStringList{"Device 0"}));

        // Back in its bootloader: not listed, asked for a serial number, then updated on a
        // worker; each transfer takes a millisecond, so the update lasts seconds.
        pA->SetLatency(1ms);
        const auto layout = Layout(dlg);
        QVERIFY(updates.m_stUpdating->isHidden() && updates.m_pbUpdating->isHidden());
        ComeBack(sim, pA);
        QVERIFY(pA->IsBootMode());
        QCOMPARE(answers.m_seen, (QStringList{QUESTION_BOX, QUESTION_BOX, QUESTION_BOX, PROMPT}));
        QCOMPARE(Entries(dlg), (QStringList{"Device 0"}));
        QCOMPARE(updates.m_bootLoads.Running(), std::size_t(1)); // discovery did not wait for it
        // Meanwhile the free corner says which board and how far; no control moves or hides,
        // and the progress covers none of them.
        QVERIFY(QTest::qWaitFor([&] { return updates.m_pbUpdating->value() > 5; }));
        QVERIFY(updates.m_stUpdating->isVisible() && updates.m_pbUpdating->isVisible());
        QCOMPARE(updates.m_stUpdating->text(), QStringLiteral("Updating Device 1"));
        QCOMPARE(Layout(dlg), layout);
        for (const QWidget* pControl : dlg.GetControls())
            QVERIFY(!pControl->isVisible() ||
                    !pControl->geometry().intersects(
                        updates.m_stUpdating->geometry().united(updates.m_pbUpdating->geometry())));
        QVERIFY(WaitForUpdates(updates));
        QVERIFY(QTest::qWaitFor([&] { return updates.m_stUpdating->isHidden(); }));
        QVERIFY(updates.m_pbUpdating->isHidden());
        QCOMPARE(updates.m_bootLoads.TakeResults(), std::vector{EStatus::Ok});
        pA->SetLatency(0us);

        // The other board was polled while the worker ran: the dialog thread was free.
        const QStringList trace = TraceOf(sim);
        const qsizetype nStart = trace.lastIndexOf(QStringLiteral("1 > 01 02 fe ff 3f"));
        const qsizetype nEnd = trace.indexOf(QStringLiteral("1 > ff"));
        QVERIFY(nStart >= 0 && nEnd > nStart);
        QVERIFY(trace.mid(nStart, nEnd - nStart).count(READ_PORTS_REQUEST) >= 2);
        QStringList traceA = OfInstance(trace, 1);
        traceA.replaceInStrings(QRegularExpression(QStringLiteral("^1 ")), QStringLiteral("0 "));
        // Discovery: query-mode answered 'B', then the serial number read.
        QCOMPARE(
            traceA.mid(0, 3),
            (QStringList{QString::fromStdString(Line("0 >", {0x08}, 64)),
                         QString::fromStdString(Line("0 <", {0x08, 0x00, 'B'}, 64)), READ_SER_NO}));
        // WriteSerNo identifies the chip first; only eight characters or fewer reach the block.
        const bool bWritten = ok && typed.size() <= 8;
        QCOMPARE(traceA.count(IDENTIFY), ok ? 2 : 1);
        QCOMPARE(traceA.count(QStringLiteral("0 > 03 01 f0 07 00")), bWritten ? 1 : 0);
        // The worker's update ends with the restart, sent once.
        QCOMPARE(traceA.count(RESTART), 1);
        QCOMPARE(traceA.last(), RESTART);

        // The image from the application start; the boot block as before but for the
        // characters written.
        const Bytes byAfter = pA->ReadMemory(0, 0x8000);
        Bytes byExpected = byBefore;
        for (qsizetype i = 0; bWritten && i < typed.size(); ++i)
            byExpected[0x7F0 + 2 * i] = static_cast<std::uint8_t>(typed[i].toLatin1());
        std::copy(byImage.begin() + 0x800, byImage.end(), byExpected.begin() + 0x800);
        QVERIFY(std::equal(byExpected.begin(), byExpected.begin() + long(byImage.size()),
                           byAfter.begin()));

        // Restarted: it leaves, and comes back with its new application.
        QVERIFY(!Attached(sim, pA));
        DeliverDeviceChanges(sim);
        ComeBack(sim, pA);
        QCOMPARE(Entries(dlg), (QStringList{"Device 0", "Device 1"}));
        SelectSecond(dlg);
        QCOMPARE(dlg.m_stFirmware->text(), QStringLiteral("FirmVer. 1.04  Dev ID - 1"));
        QCOMPARE(dlg.m_edSerial->text(), serial);
        QCOMPARE(answers.m_seen, (QStringList{QUESTION_BOX, QUESTION_BOX, QUESTION_BOX, PROMPT}));
    }

    // An image that cannot be written: a message box says why, and the board is not sent into
    // its bootloader.
    void unusableImage_data()
    {
        QTest::addColumn<QString>("text"); // of the file; empty: no file
        QTest::addColumn<QString>("problem");
        QTest::newRow("missing") << ""
                                 << "cannot open";
        QTest::newRow("boot block only") << ":0100000011EE\n:00000001FF\n"
                                         << "fits no board: it has no program data from the "
                                            "application start 0x0800";
        QTest::newRow("beyond the largest chip") << ":01800000116E\n:00000001FF\n"
                                                 << "fits no board: its program data reach 0x8000";
    }
    void unusableImage()
    {
        QFETCH(QString, text);
        QFETCH(QString, problem);
        CTempDir dir;
        CSimFixture sim;
        auto pA = sim.Plug(SimBoardConfig().Id(1).Serial("SN000001"));
        CModalAnswers answers;
        CTarvelDlg dlg(sim.Context());
        AttachUpdates(dlg);
        dlg.m_strHexPath = QString::fromStdString(text.isEmpty() ? dir.File("KelvardUSB.hex")
                                                                 : dir.Write(text.toStdString()));
        OpenDialog(dlg);
        ClickControl(dlg, IDC_UPDATE);
        QCOMPARE(answers.m_seen.size(), qsizetype(2));
        QVERIFY2(answers.m_seen[1].startsWith(
                     QStringLiteral("box Device Firmware|The firmware cannot be updated:\n")),
                 qPrintable(answers.m_seen[1]));
        QVERIFY2(answers.m_seen[1].contains(dlg.m_strHexPath) &&
                     answers.m_seen[1].contains(problem),
                 qPrintable(answers.m_seen[1]));
        QVERIFY(TraceOf(sim).filter(QStringLiteral("> 32")).isEmpty());
        QVERIFY(Attached(sim, pA) && !pA->IsBootMode());
    }

    // A failed update (an exchange fails while erasing): "Failed boot load" once, nothing more
    // sent, the board in its bootloader with its boot block untouched, and the next discovery
    // completes the update.
    void failedUpdate()
    {
        CSimFixture sim;
        sim.Bus().SetReattachDelay(std::chrono::hours(1)); // back when the test replugs it
        auto pA = sim.Plug(SimBoardConfig().Id(1).Serial("SN000001")); // no prompt
        const Bytes byBefore = pA->ReadMemory(0, 0x800);
        CModalAnswers answers;
        CTarvelDlg dlg(sim.Context());
        CDialogUpdates& updates = AttachUpdates(dlg);
        OpenDialog(dlg);
        SendToBootloader(dlg, sim, pA);
        TraceOf(sim);
        // Transfer 100 is the reply to the 47th erase (after query-mode, ReadSerNo, identify).
        pA->InjectFault(ESimFault::Fail, 100);
        ComeBack(sim, pA);
        QVERIFY(WaitForUpdates(updates));
        QCOMPARE(updates.m_bootLoads.TakeResults(), std::vector{EStatus::Usb});
        QVERIFY(QTest::qWaitFor([&] { return answers.m_seen.count(FAILURE_BOX) == 1; }));
        const QStringList traceA = OfInstance(TraceOf(sim), 0);
        QCOMPARE(traceA.size(), qsizetype(100));
        QCOMPARE(traceA.mid(98), (QStringList{"0 > 03 01 80 13 00", "0 <!"}));
        QVERIFY(Attached(sim, pA) && pA->IsBootMode());
        QCOMPARE(pA->ReadMemory(0, 0x800), byBefore);

        // Another board arrives: the next discovery finds the board still in its bootloader
        // and updates it; no second box.
        sim.Plug(SimBoardConfig().Id(3).Serial("SN000003"));
        DeliverDeviceChanges(sim);
        QVERIFY(WaitForUpdates(updates));
        QCOMPARE(updates.m_bootLoads.TakeResults(), std::vector{EStatus::Ok});
        QCOMPARE(TraceOf(sim).count(RESTART), 1);
        DeliverDeviceChanges(sim);
        ComeBack(sim, pA);
        QCOMPARE(Entries(dlg), (QStringList{"Device 0", "Device 1"}));
        QCOMPARE(dlg.m_stFirmware->text(), QStringLiteral("FirmVer. 1.04  Dev ID - 1"));
        QCOMPARE(dlg.m_edSerial->text(), QStringLiteral("SN000001")); // the image keeps it
        QCoreApplication::processEvents();
        QCOMPARE(answers.m_seen, (QStringList{QUESTION_BOX, FAILURE_BOX}));
    }

    // A board found in its bootloader at the start: device changes that the prompt's message
    // loop delivers are held (no rebuild inside the one that shows the prompt) and handled once
    // it has closed; those while the update runs rebuild the list but never reach the board: it
    // is asked nothing more, and no second worker starts on it. Closing waits for the update,
    // so the board is not left half written.
    void deviceChangesAroundAnUpdate()
    {
        CDebugCapture log;
        CSimFixture sim;
        auto pA = sim.Plug(SimBoardConfig().Id(1).Boot()); // no serial number: the prompt
        pA->SetLatency(1ms);
        CModalAnswers answers;
        answers.m_strTyped = QStringLiteral("HELD0001");
        CTarvelDlg dlg(sim.Context());
        CDialogUpdates& updates = AttachUpdates(dlg);
        QStringList traceDuring, entriesDuring;
        QString strLogDuring;
        std::shared_ptr<CSimBoard> pC;
        answers.m_fnWhilePrompt = [&]
        {
            TraceOf(sim);
            pC = sim.Plug(SimBoardConfig().Id(3).Serial("SN000003"));
            sim.Plug(SimBoardConfig().Id(4).Serial("SN000004"));
            DeliverDeviceChanges(sim); // as the prompt's own message loop delivers them
            traceDuring = TraceOf(sim);
            entriesDuring = Entries(dlg);
            strLogDuring = QString::fromStdString(log.Text());
        };
        OpenDialog(dlg); // the first discovery finds the board and asks for its serial number

        QCOMPARE(answers.m_seen, (QStringList{PROMPT}));
        QCOMPARE(strLogDuring, QStringLiteral("Device Arrival\nDevice Node changed\n"
                                              "Device Arrival\nDevice Node changed\n"));
        QCOMPARE(traceDuring, QStringList());
        QCOMPARE(entriesDuring, QStringList());
        QCOMPARE(Entries(dlg), (QStringList{"Device 1", "Device 2"}));
        QCOMPARE(updates.m_bootLoads.Running(), std::size_t(1));
        sim.Bus().Unplug(pC);
        DeliverDeviceChanges(sim);
        QCOMPARE(Entries(dlg), (QStringList{"Device 1"}));
        QCOMPARE(updates.m_bootLoads.Running(), std::size_t(1));

        // Closing meanwhile: the dialog says which update it finishes, stays until it has, then
        // ends as it was told to.
        dlg.reject();
        auto* pFinishing = dlg.findChild<QProgressDialog*>();
        QVERIFY(pFinishing != nullptr && pFinishing->isVisible());
        QCOMPARE(pFinishing->labelText(), QStringLiteral("Finishing the update of Device 0..."));
        QVERIFY(dlg.isVisible());
        QVERIFY(WaitForUpdates(updates));
        QVERIFY(QTest::qWaitFor([&] { return !dlg.isVisible(); }));
        QCOMPARE(dlg.result(), int(IDCANCEL));
        QVERIFY(dlg.findChild<QProgressDialog*>() == nullptr);
        QCOMPARE(updates.m_bootLoads.TakeResults(), std::vector{EStatus::Ok});
        const QStringList traceA = OfInstance(TraceOf(sim), 0);
        // No discovery asked it anything after its first: no query-mode.
        QVERIFY(traceA.filter(QRegularExpression(QStringLiteral("^0 > 08"))).isEmpty());
        QCOMPARE(traceA.count(IDENTIFY), 2); // WriteSerNo's and the update's
        QCOMPARE(traceA.last(), RESTART);
        const Bytes byAfter = pA->ReadMemory(0x7F0, 16);
        QString strStored;
        for (std::size_t i = 0; i < 16; i += 2)
            strStored += QLatin1Char(char(byAfter[i]));
        QCOMPARE(strStored, QStringLiteral("HELD0001"));
    }
};

QTEST_MAIN(TestTarvelUpdate)
#include "test_tarvel_update.moc"
