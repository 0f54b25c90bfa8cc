// The firmware update in the dialog, on the simulated bus: the Update question, the board's
// return in its bootloader, the serial-number prompt, the update on its worker while polling
// goes on, the board listed again with its new version; a failed update with its one "Failed
// boot load" box and the next discovery that completes it; a board under update left alone by
// later discoveries; device changes held while the prompt is open.
//
// Re-attaches are held (a long re-attach delay) and done by the test with Replug, so every
// leave and return of a board is a device change that discovery sees on its own.
#include "DialogTestSupport.h"

#include "bootloader/BootLoader.h"
#include "bootloader/SerialNum.h"
#include "dialog/UsbDev.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <functional>
#include <set>

namespace
{
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// Long enough never to come due in a test: boards come back when the test replugs them.
constexpr auto kHeldReattach = std::chrono::hours(1);
constexpr int kUpdateTimeoutMs = 120000;

const QString kQuestionBox =
    QStringLiteral("box Device Firmware|Do you want to update the firmware at this time?|Yes No");
const QString kFailureBox = QStringLiteral("box Tarvel|Failed boot load|OK");
const QString kPrompt = QStringLiteral("prompt Serial Number|focus on OK");

const QString kIdentify = QStringLiteral("0 > 01 02 fe ff 3f");
const QString kEraseSerialBlock = QStringLiteral("0 > 03 01 f0 07 00");
const QString kRestart = QStringLiteral("0 > ff");
const QString kReadSerNo = QStringLiteral("0 > 01 10 f0 07 00");
const QString kPollB = QStringLiteral("1 > 36 00 00 00 00 00");

// Answers the modal windows the dialog opens, as a person would, and notes each one:
// "box <title>|<text>|<buttons>" for a message box, "prompt <title>|focus on OK" (or "|focus
// elsewhere") for the serial-number prompt.
class CModalAnswers : public QObject
{
public:
    CModalAnswers()
    {
        connect(&m_timer, &QTimer::timeout, this, &CModalAnswers::Look);
        m_timer.start(2);
    }

    QMessageBox::StandardButton m_answer = QMessageBox::Yes; // to the update question
    QString m_strTyped;                                      // into the prompt's edit
    bool m_bPromptOk = true;                                 // else Cancel
    std::function<void()> m_fnWhilePrompt;                   // before typing

    QStringList m_seen;

private:
    // Each answer runs from a timer of its own: a window opened while another is being
    // answered (through the event loop that the answer runs) is answered too, so that nothing
    // waits for a person.
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
        QStringList buttons;
        const QMessageBox::StandardButtons all = box.standardButtons();
        for (auto [button, pszName] :
             {std::pair{QMessageBox::Ok, "OK"}, std::pair{QMessageBox::Yes, "Yes"},
              std::pair{QMessageBox::No, "No"}, std::pair{QMessageBox::Cancel, "Cancel"}})
            if (all & button)
                buttons << QString::fromLatin1(pszName);
        m_seen << QStringLiteral("box %1|%2|%3")
                      .arg(box.windowTitle(), box.text(), buttons.join(QLatin1Char(' ')));
        QAbstractButton* pButton = box.button(all.testFlag(m_answer) ? m_answer : QMessageBox::Ok);
        if (!pButton)
            pButton = box.buttons().value(0);
        QTest::mouseClick(pButton, Qt::LeftButton);
    }

    void AnswerPrompt(SerialNum& prompt)
    {
        QWidget* pOk = prompt.GetDlgItem(IDOK);
        m_seen << QStringLiteral("prompt %1|focus %2")
                      .arg(prompt.windowTitle(), prompt.focusWidget() == pOk
                                                     ? QStringLiteral("on OK")
                                                     : QStringLiteral("elsewhere"));
        if (auto fnWhilePrompt = std::exchange(m_fnWhilePrompt, nullptr))
            fnWhilePrompt();
        auto* pEdit = qobject_cast<QLineEdit*>(prompt.GetDlgItem(IDC_SERIALNUM_EDIT));
        pEdit->setFocus();
        QTest::keyClicks(pEdit, m_strTyped);
        QTest::mouseClick(prompt.GetDlgItem(m_bPromptOk ? IDOK : IDCANCEL), Qt::LeftButton);
    }

    QTimer m_timer;
    QList<QWidget*> m_answering;
};

QString ImagePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/KelvardUSB.hex");
}

// The image the dialog updates boards with, as the tool's loader reads it.
struct SImage
{
    Bytes byProgram; // from address 0, the program extent long
    bool bHasId = false;
};

SImage LoadImage()
{
    CBootLoader loader(nullptr, QFile::encodeName(ImagePath()).toStdString());
    SImage image;
    if (loader.LoadHexFile() != 0)
        return image;
    image.byProgram.assign(loader.m_pProgramImage.get(),
                           loader.m_pProgramImage.get() + loader.m_nProgramExtent);
    image.bHasId = loader.m_nIdExtent != 0;
    return image;
}

QStringList Entries(const CTarvelDlg& dlg)
{
    QStringList entries;
    for (int i = 0; i < dlg.m_cbDevices->GetCount(); ++i)
        entries << dlg.m_cbDevices->itemText(i);
    return entries;
}

std::multiset<int> ListedIds(const CTarvelDlg& dlg)
{
    std::multiset<int> ids;
    for (int i = 0; i < dlg.m_cbDevices->GetCount(); ++i)
        ids.insert(static_cast<CUsbDev*>(dlg.m_cbDevices->GetItemDataPtr(i))->m_nDeviceId);
    return ids;
}

QStringList OfInstance(const QStringList& trace, int nInstance)
{
    return trace.filter(QRegularExpression(QStringLiteral("^%1 ").arg(nInstance)));
}

// The serial-number characters as the boot block holds them (character i at 0x7F0 + 2i).
QString StoredCharacters(const CSimBoard& board)
{
    const Bytes by = board.ReadMemory(0x7F0, 16);
    QString strText;
    for (std::size_t i = 0; i < by.size(); i += 2)
        strText += QLatin1Char(static_cast<char>(by[i]));
    return strText;
}

bool WaitForUpdates(CTarvelDlg& dlg)
{
    // Waiting runs the event loop: the poll timer keeps ticking meanwhile.
    return QTest::qWaitFor([&] { return dlg.m_bootLoads.Running() == 0; }, kUpdateTimeoutMs);
}

void HoldReattaches(CSimFixture& sim)
{
    sim.Bus().SetReattachDelay(
        std::chrono::duration_cast<std::chrono::milliseconds>(kHeldReattach));
}

bool Attached(CSimFixture& sim, const std::shared_ptr<CSimBoard>& pBoard)
{
    const auto boards = sim.Bus().Boards();
    return std::find(boards.begin(), boards.end(), pBoard) != boards.end();
}

// Update, Yes: the board leaves, discovery sees it gone.
void SendToBootloader(CTarvelDlg& dlg, CSimFixture& sim, const std::shared_ptr<CSimBoard>& pBoard)
{
    ClickControl(dlg, IDC_UPDATE);
    QVERIFY(!Attached(sim, pBoard));
    DeliverDeviceChanges();
}

// A board that restarted (or entered its bootloader) comes back, and discovery sees it.
void ComeBack(CSimFixture& sim, const std::shared_ptr<CSimBoard>& pBoard)
{
    sim.Bus().Replug(pBoard);
    DeliverDeviceChanges();
}
} // namespace

class TestTarvelUpdate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        CTarvelApp::SetDialogStyle();
        QVERIFY2(QFile::exists(ImagePath()), qPrintable(ImagePath()));
        QVERIFY(!LoadImage().byProgram.empty());
    }

    void questionDecidesAndOnlyTheSelectedBoardIsSent()
    {
        CSimFixture sim;
        HoldReattaches(sim);
        auto pA = sim.Plug(SimBoardConfig().Id(1).Serial("SN000001"));
        auto pB = sim.Plug(SimBoardConfig().Id(2).Serial("SN000002").Version(0x0105));
        ConfigureBoard(0, ConfigBlock{{0, 0, 0, 0, 0}, {}, 0}); // no inputs: no polling
        ConfigureBoard(1, ConfigBlock{{0, 0, 0, 0, 0}, {}, 0});
        CModalAnswers answers;
        CTarvelDlg dlg;
        OpenDialog(dlg);
        QCOMPARE(Entries(dlg), (QStringList{"Device 0", "Device 1"}));
        QCOMPARE(dlg.m_nTimer, 0);
        TraceOf(sim);

        // No: nothing is sent.
        answers.m_answer = QMessageBox::No;
        ClickControl(dlg, IDC_UPDATE);
        QCOMPARE(answers.m_seen, (QStringList{kQuestionBox}));
        QCOMPARE(TraceOf(sim), QStringList());

        // Nothing selected: the question is asked all the same, and Yes sends nothing.
        answers.m_answer = QMessageBox::Yes;
        dlg.m_cbDevices->SetCurSel(-1);
        dlg.OnUpdateButton();
        QCOMPARE(answers.m_seen, (QStringList{kQuestionBox, kQuestionBox}));
        QCOMPARE(TraceOf(sim), QStringList());

        // The user picks the second board: Yes sends it enter-bootloader, one byte, no reply
        // read, and it leaves the bus; the other board hears nothing.
        dlg.m_cbDevices->SetCurSel(0);
        dlg.m_cbDevices->setFocus();
        QTest::keyClick(dlg.m_cbDevices, Qt::Key_Down);
        QCOMPARE(dlg.m_pDevice->m_nDeviceId, 2);
        TraceOf(sim);
        ClickControl(dlg, IDC_UPDATE);
        QCOMPARE(answers.m_seen.size(), 3);
        QCOMPARE(TraceOf(sim), (QStringList{"1 > 32"}));
        QVERIFY(!Attached(sim, pB));
        QVERIFY(Attached(sim, pA));
        QVERIFY(!pA->IsBootMode());

        // Discovery sees it gone; it comes back in its bootloader.
        DeliverDeviceChanges();
        QCOMPARE(Entries(dlg), (QStringList{"Device 0"}));
        QCOMPARE(dlg.m_pDevice->m_nDeviceId, 1);
    }

    void wholeCycle_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("serial"); // as the board reports it afterwards
        QTest::newRow("prompt OK") << "KV000042" << true << "KV000042";
        QTest::newRow("prompt Cancel") << "KV000042" << false << "";
        QTest::newRow("OK, nine characters") << "KV0000421" << true << "";
    }

    // Update, Yes, the board's return in its bootloader, the prompt, the update on the worker
    // while the other board is polled, and the board listed again with version 1.04.
    void wholeCycle()
    {
        QFETCH(QString, typed);
        QFETCH(bool, ok);
        QFETCH(QString, serial);
        const SImage image = LoadImage();
        CSimFixture sim;
        HoldReattaches(sim);
        auto pA = sim.Plug(SimBoardConfig().Id(1)); // no serial number, version 1.03
        auto pB = sim.Plug(SimBoardConfig().Id(2).Serial("SN000002"));
        const Bytes byBefore = pA->ReadMemory(0, 0x8000);
        CModalAnswers answers;
        answers.m_strTyped = typed;
        answers.m_bPromptOk = ok;
        CTarvelDlg dlg;
        OpenDialog(dlg);
        QCOMPARE(Entries(dlg), (QStringList{"Device 0", "Device 1"}));
        QCOMPARE(dlg.m_stFirmware->text(), QStringLiteral("FirmVer. 1.03  Dev ID - 1"));
        QVERIFY(dlg.m_btnUpdate->isEnabled());
        TraceOf(sim);

        SendToBootloader(dlg, sim, pA);
        QCOMPARE(answers.m_seen, (QStringList{kQuestionBox}));
        QCOMPARE(TraceOf(sim).first(), QStringLiteral("0 > 32"));
        QCOMPARE(Entries(dlg), (QStringList{"Device 0"})); // the other board, now instance 0
        QCOMPARE(dlg.m_pDevice->m_nDeviceId, 2);

        // Back in its bootloader: not listed, asked for a serial number, then updated on a
        // worker. Each transfer takes a millisecond, so the update lasts seconds.
        pA->SetLatency(1ms);
        ComeBack(sim, pA);
        QVERIFY(pA->IsBootMode());
        QCOMPARE(answers.m_seen, (QStringList{kQuestionBox, kPrompt}));
        QCOMPARE(Entries(dlg), (QStringList{"Device 1"}));
        QCOMPARE(dlg.m_nTimer, TIMER_POLL);
        QCOMPARE(dlg.m_bootLoads.Running(), std::size_t(1)); // discovery did not wait for it
        QVERIFY(WaitForUpdates(dlg));
        QCOMPARE(dlg.m_bootLoads.TakeResults(), std::vector<int>{0});
        pA->SetLatency(0us);

        // Up to the restart: once the board has left, the other board is instance 0 for the
        // rebuild that follows.
        QStringList trace = TraceOf(sim);
        const qsizetype nRestart = trace.indexOf(kRestart);
        QVERIFY(nRestart > 0);
        QCOMPARE(trace.count(kRestart), 1);
        trace = trace.mid(0, nRestart + 1);
        const QStringList traceA = OfInstance(trace, 0);
        // Discovery: query-mode answered 'B', then the serial number read.
        QCOMPARE(traceA.mid(0, 2),
                 (QStringList{Line("0 >", {0x08}, 64), Line("0 <", {0x08, 0x00, 'B'}, 64)}));
        QCOMPARE(traceA[2], kReadSerNo);
        // WriteSerNo identifies the chip first; only eight characters or fewer reach the block.
        const bool bWritten = ok && typed.size() <= 8;
        QCOMPARE(traceA.count(kIdentify), ok ? 2 : 1);
        QCOMPARE(traceA.count(kEraseSerialBlock), bWritten ? 1 : 0);
        // The worker's update: identification to restart, and no discovery exchange inside.
        const int nFirst = static_cast<int>(traceA.lastIndexOf(kIdentify));
        QCOMPARE(traceA.last(), kRestart);
        QVERIFY(traceA.mid(nFirst).filter(QRegularExpression(QStringLiteral("^0 > 08"))).isEmpty());
        // The other board was polled while the worker ran: the dialog thread was free.
        const int nUpdateStart = static_cast<int>(trace.lastIndexOf(kIdentify));
        const int nUpdateEnd = static_cast<int>(trace.lastIndexOf(kRestart));
        QVERIFY(trace.mid(nUpdateStart, nUpdateEnd - nUpdateStart).count(kPollB) >= 2);

        // The board holds the image from the application start, and its boot block as before
        // but for the characters written.
        const Bytes byAfter = pA->ReadMemory(0, 0x8000);
        QVERIFY(std::equal(byAfter.begin(), byAfter.begin() + 0x7F0, byBefore.begin()));
        for (std::size_t i = 0; i < 16; ++i)
        {
            const bool bCharacter = i % 2 == 0 && static_cast<int>(i / 2) < typed.size();
            const std::uint8_t byExpected =
                bWritten && bCharacter ? static_cast<std::uint8_t>(typed[int(i / 2)].toLatin1())
                                       : byBefore[0x7F0 + i];
            QCOMPARE(byAfter[0x7F0 + i], byExpected);
        }
        QVERIFY(std::equal(image.byProgram.begin() + 0x800, image.byProgram.end(),
                           byAfter.begin() + 0x800));
        QCOMPARE(pA->FirmwareVersion(), std::uint16_t(0x0104));

        // Restarted: it leaves, and comes back with its new application.
        QVERIFY(!Attached(sim, pA));
        DeliverDeviceChanges();
        QCOMPARE(Entries(dlg), (QStringList{"Device 0"}));
        ComeBack(sim, pA);
        QVERIFY(!pA->IsBootMode());
        QCOMPARE(Entries(dlg), (QStringList{"Device 0", "Device 1"}));
        QCOMPARE(dlg.m_pDevice->m_nDeviceId, 1);
        QCOMPARE(dlg.m_stFirmware->text(), QStringLiteral("FirmVer. 1.04  Dev ID - 1"));
        QCOMPARE(dlg.m_edSerial->text(), serial);
        QCOMPARE(dlg.m_edSerial->isEnabled(), serial.isEmpty());
        QVERIFY(dlg.m_btnUpdate->isEnabled());
        QCOMPARE(answers.m_seen, (QStringList{kQuestionBox, kPrompt})); // no failure box
    }

    void failedUpdate_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<bool>("readBack"); // the fault hits the first program read-back
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("lastLine");
        QTest::newRow("failed exchange while erasing")
            << int(ESimFault::Fail) << false << -1 << "0 <!";
        QTest::newRow("read-back differs")
            << int(ESimFault::Corrupt) << true << -12
            << "0 < 01 10 00 08 00 " + QString::fromStdString(HexText(
                                           []
                                           {
                                               Bytes by = LoadImage().byProgram;
                                               Bytes block(by.begin() + 0x800, by.begin() + 0x810);
                                               block[0] = static_cast<std::uint8_t>(~block[0]);
                                               return block;
                                           }()
                                               .data(),
                                           16));
    }

    // A failed update shows "Failed boot load" once, sends nothing more, leaves the board in
    // its bootloader with its boot block untouched, and the next discovery completes it.
    void failedUpdate()
    {
        QFETCH(int, fault);
        QFETCH(bool, readBack);
        QFETCH(int, status);
        QFETCH(QString, lastLine);
        const SImage image = LoadImage();
        CSimFixture sim;
        HoldReattaches(sim);
        auto pA = sim.Plug(SimBoardConfig().Id(1).Serial("SN000001")); // no prompt
        const Bytes byBefore = pA->ReadMemory(0, 0x800);
        CModalAnswers answers;
        CTarvelDlg dlg;
        OpenDialog(dlg);
        SendToBootloader(dlg, sim, pA);
        QCOMPARE(dlg.m_cbDevices->GetCount(), 0);
        TraceOf(sim);

        // Transfers from here: query-mode (2), ReadSerNo (2), identification (2), then the erase
        // requests (2 each, 480), the ID erase, the first program write and its read-back.
        const std::uint64_t nAt = readBack ? 4 + 2 + 960 + (image.bHasId ? 2 : 0) + 2 + 2 : 100;
        pA->InjectFault(static_cast<ESimFault>(fault), nAt);
        ComeBack(sim, pA);
        QVERIFY(WaitForUpdates(dlg));
        QCOMPARE(dlg.m_bootLoads.TakeResults(), std::vector<int>{status});
        QVERIFY(QTest::qWaitFor([&] { return answers.m_seen.count(kFailureBox) == 1; }));

        const QStringList traceA = OfInstance(TraceOf(sim), 0);
        QCOMPARE(traceA.size(), static_cast<qsizetype>(nAt));
        QCOMPARE(traceA.last(), lastLine);
        if (readBack)
            QCOMPARE(traceA[traceA.size() - 2], QStringLiteral("0 > 01 10 00 08 00"));
        QVERIFY(Attached(sim, pA));
        QVERIFY(pA->IsBootMode());
        QCOMPARE(pA->ReadMemory(0, 0x800), byBefore);

        // Another board arrives: the next discovery finds the board still in its bootloader
        // and updates it; no second box.
        auto pC = sim.Plug(SimBoardConfig().Id(3).Serial("SN000003"));
        DeliverDeviceChanges();
        QVERIFY(WaitForUpdates(dlg));
        QCOMPARE(dlg.m_bootLoads.TakeResults(), std::vector<int>{0});
        QCOMPARE(TraceOf(sim).count(kRestart), 1);
        DeliverDeviceChanges();
        ComeBack(sim, pA);
        QCOMPARE(Entries(dlg), (QStringList{"Device 0", "Device 1"}));
        QCOMPARE(dlg.m_stFirmware->text(), QStringLiteral("FirmVer. 1.04  Dev ID - 1"));
        QCOMPARE(pA->ReadMemory(0, 0x800), byBefore);
        QCoreApplication::processEvents();
        QCOMPARE(answers.m_seen, (QStringList{kQuestionBox, kFailureBox}));
    }

    // Device changes while an update runs rebuild the list, but never reach the board under
    // update: it is not asked anything, and no second worker starts on it.
    void boardUnderUpdateIsLeftAlone()
    {
        const SImage image = LoadImage();
        CSimFixture sim;
        auto pA = sim.Plug(SimBoardConfig().Id(1).Serial("SN000001").Boot());
        auto pB = sim.Plug(SimBoardConfig().Id(2).Serial("SN000002"));
        pA->SetLatency(1ms);
        CModalAnswers answers;
        CTarvelDlg dlg;
        OpenDialog(dlg);
        QCOMPARE(dlg.m_bootLoads.Running(), std::size_t(1));
        QCOMPARE(Entries(dlg), (QStringList{"Device 1"}));

        // A board arrives and goes again, quickly: two rebuilds while the update runs.
        auto pC = sim.Plug(SimBoardConfig().Id(3).Serial("SN000003"));
        DeliverDeviceChanges();
        QCOMPARE(Entries(dlg), (QStringList{"Device 1", "Device 2"}));
        QCOMPARE(dlg.m_nDeviceCount, 3);
        sim.Bus().Unplug(pC);
        DeliverDeviceChanges();
        QCOMPARE(Entries(dlg), (QStringList{"Device 1"}));
        QCOMPARE(dlg.m_bootLoads.Running(), std::size_t(1));

        QVERIFY(WaitForUpdates(dlg));
        QCOMPARE(dlg.m_bootLoads.TakeResults(), std::vector<int>{0});
        const QStringList traceA = OfInstance(TraceOf(sim), 0);
        QCOMPARE(traceA.count(Line("0 >", {0x08}, 64)), 1); // the first discovery's only
        QCOMPARE(traceA.count(kReadSerNo), 1);
        QCOMPARE(traceA.count(kIdentify), 1);
        QCOMPARE(traceA.last(), kRestart);
        const Bytes byAfter = pA->ReadMemory(0x800, image.byProgram.size() - 0x800);
        QVERIFY(std::equal(byAfter.begin(), byAfter.end(), image.byProgram.begin() + 0x800));
        QCOMPARE(answers.m_seen, QStringList());
    }

    // Device changes that the prompt's message loop delivers are held: no rebuild runs inside
    // the one that shows the prompt; once it has ended, the held change is handled.
    void deviceChangesDuringThePromptAreHeld()
    {
        QTemporaryDir dir;
        const QString strLog = dir.filePath(QStringLiteral("debug.txt"));
        qputenv("KELVARD_DEBUG", strLog.toLocal8Bit());
        CSimFixture sim;
        HoldReattaches(sim);
        auto pA = sim.Plug(SimBoardConfig().Id(1).Boot()); // no serial number: the prompt
        CModalAnswers answers;
        answers.m_strTyped = QStringLiteral("HELD0001");
        CTarvelDlg dlg;

        QStringList traceDuring;
        QStringList entriesDuring;
        int nCountDuring = -1;
        QByteArray logDuring;
        answers.m_fnWhilePrompt = [&]
        {
            TraceOf(sim);
            sim.Plug(SimBoardConfig().Id(3).Serial("SN000003"));
            sim.Plug(SimBoardConfig().Id(4).Serial("SN000004"));
            DeliverDeviceChanges(); // as the prompt's own message loop delivers them
            traceDuring = TraceOf(sim);
            entriesDuring = Entries(dlg);
            nCountDuring = dlg.m_nDeviceCount;
            QFile log(strLog);
            if (log.open(QIODevice::ReadOnly))
                logDuring = log.readAll();
        };
        OpenDialog(dlg); // the first discovery finds the board and asks for its serial number

        QCOMPARE(answers.m_seen, (QStringList{kPrompt}));
        // Delivered while the prompt was open, but not handled: nothing opened or listed.
        QCOMPARE(QString::fromLatin1(logDuring),
                 QStringLiteral("Device Arrival\nDevice Node changed\n"
                                "Device Arrival\nDevice Node changed\n"));
        QCOMPARE(traceDuring, QStringList());
        QCOMPARE(entriesDuring, QStringList());
        QCOMPARE(nCountDuring, 1);
        // Handled once it closed: both new boards are listed.
        QCOMPARE(ListedIds(dlg), (std::multiset<int>{3, 4}));
        QVERIFY(WaitForUpdates(dlg));
        QCOMPARE(dlg.m_bootLoads.TakeResults(), std::vector<int>{0});
        QCOMPARE(StoredCharacters(*pA), QStringLiteral("HELD0001"));
        qputenv("KELVARD_DEBUG", "");
    }
};

QTEST_MAIN(TestTarvelUpdate)
#include "test_tarvel_update.moc"
