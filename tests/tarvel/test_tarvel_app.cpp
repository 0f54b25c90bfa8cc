// The tool as a whole: the main dialog as its template describes it, the address setting, the
// IP address control, closing the dialog in its four ways, and the tarvel program itself on the
// simulated bus, whose boards drift.
#include "tests/tarvel/DialogTestSupport.h"

#include "firmware/BoardRecord.h"
#include "tarvel/dialog/DialogBuilder.h"
#include "tarvel/dialog/IpAddressCtrl.h"
#include "tarvel/res/DialogTemplate.h"

#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <cmath>
#include <functional>

namespace
{
// Runs the program to its end: its exit code (-1 when it did not exit normally) and output.
struct Run
{
    int nExit;
    QByteArray out, err;
};
Run RunTarvel(const QStringList& args, const QProcessEnvironment& env)
{
    QProcess tarvel;
    tarvel.setProcessEnvironment(env);
    tarvel.start(QStringLiteral(TARVEL_PROGRAM), args);
    const bool bExited =
        tarvel.waitForFinished(30000) && tarvel.exitStatus() == QProcess::NormalExit;
    return {bExited ? tarvel.exitCode() : -1, tarvel.readAllStandardOutput(),
            tarvel.readAllStandardError()};
}

} // namespace

class TestTarvelApp : public QObject
{
    Q_OBJECT

private slots:
    // The main dialog as its template describes it, in dialog units of its font (DejaVu Sans
    // 8 pt, 7 x 13 base units): each control with its ID, caption and place, in template order,
    // none overlapping; the about box from the context menu.
    void dialogIsBuiltAsItsTemplateSays()
    {
        CSimFixture sim;
        COpenDlg dlg(sim);
        QCOMPARE(dlg.windowTitle(), "Kelvard IO");
        QCOMPARE(dlg.size(), QSize(490, 419)); // 280 x 258 dialog units
        const auto items = FindDialogTemplate(IDD_TARVEL_DIALOG)->arrItems;
        QCOMPARE(dlg.GetControls().size(), items.size());
        std::vector<QRect> placed;
        for (std::size_t i = 0; i < items.size(); ++i)
        {
            QWidget* pControl = dlg.GetControls()[i];
            const DialogItem& item = items[i];
            const auto h = [](int n) { return static_cast<int>(std::lround(n * 7 / 4.0)); };
            const auto v = [](int n) { return static_cast<int>(std::lround(n * 13 / 8.0)); };
            QCOMPARE(CDialogBuilder::GetDlgCtrlID(pControl), item.nId);
            QCOMPARE(pControl->pos(), QPoint(h(item.nX), v(item.nY)));
            // A drop-down list's height in the template is its dropped-down one.
            QVERIFY(item.eKind == EControlKind::DropDownList ||
                    pControl->size() == QSize(h(item.nCx), v(item.nCy)));
            if (auto* pButton = qobject_cast<QAbstractButton*>(pControl))
                QCOMPARE(pButton->text(), item.pszCaption);
            if (item.eKind == EControlKind::GroupBox) // a frame that lets clicks through
            {
                QVERIFY(pControl->testAttribute(Qt::WA_TransparentForMouseEvents));
                continue;
            }
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
        QCOMPARE(strTitle, "About Tarvel");
        QVERIFY(dlg.isVisible());
    }

    // The address setting as another program or an older version may have stored it; reading
    // it creates nothing.
    void storedValueReadsBackAsItsAddress()
    {
        const std::pair<const char*, const char*> CASES[] = {{nullptr, "0.0.0.0"},
                                                             {"-1062731510", "192.168.1.10"},
                                                             {"4294967295", "255.255.255.255"},
                                                             {"abc", "0.0.0.0"},
                                                             {"16909060xyz", "1.2.3.4"}};
        QVERIFY(QDir().mkpath(qEnvironmentVariable("XDG_CONFIG_HOME")));
        for (const auto& [pszStored, pszShown] : CASES)
        {
            QFile file(qEnvironmentVariable("XDG_CONFIG_HOME") + "/Tarvel.ini");
            QVERIFY(file.remove() || !file.exists());
            QVERIFY(!pszStored ||
                    (file.open(QIODevice::WriteOnly) &&
                     file.write(QByteArray("[Settings]\nIPAddress=") + pszStored) > 0));
            file.close();
            CSimFixture sim;
            COpenDlg dlg(sim);
            QCOMPARE(dlg.m_ipAddress->GetWindowText(), pszShown);
            QCOMPARE(file.exists(), pszStored != nullptr);
        }
    }

    void ipAddressControlTakesTypedAddresses()
    {
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
    }

    // By the Close button, Escape, the close box and the context menu's Close.
    void closingReleasesTheBoards()
    {
        const std::pair<std::function<void(CTarvelDlg&)>, int> WAYS[] = {
            {[](CTarvelDlg& dlg) { ClickControl(dlg, IDOK); }, IDOK},
            {[](CTarvelDlg& dlg) { QTest::keyClick(&dlg, Qt::Key_Escape); }, IDCANCEL},
            {[](CTarvelDlg& dlg) { dlg.close(); }, IDCANCEL},
            {[](CTarvelDlg& dlg) { dlg.GetSystemMenu()->actions()[0]->trigger(); }, IDCANCEL}};
        for (const auto& [fnClose, nResult] : WAYS)
        {
            CSimFixture sim;
            sim.Plug(SimBoardConfig().Id(1).Serial("SIM00001"));
            sim.Plug(SimBoardConfig().Id(2));
            COpenDlg dlg(sim);
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

    void programShowsTheSimulatedBoardsAndSavesAScreenshot()
    {
        QTemporaryDir dir;
        const QString strShot = dir.filePath(QStringLiteral("tarvel.png"));
        const QString strTrace = dir.filePath(QStringLiteral("trace.txt"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("KELVARD_SIM_BOARDS")); // the default two boards
        env.remove(QStringLiteral("KELVARD_USB"));
        env.insert(QStringLiteral("KELVARD_SIM_TRACE"), strTrace);
        const Run run = RunTarvel({"--simulate", "--screenshot", strShot}, env);
        QCOMPARE(QString::number(run.nExit) + ' ' + run.out, "0 " + strShot + '\n');
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
    }

    // In the build tree the image lies beside the program; the packages put it in a data folder.
    void simulatedBoardsImageIsBesideTheProgramElseInstalled()
    {
        QTemporaryDir prefix;
        const QString strBin = prefix.filePath("bin");
        QVERIFY(QDir().mkpath(strBin) && QDir().mkpath(prefix.filePath("share/tarvel")));
        QCOMPARE(CTarvelApp::SimulatedBoardsImage(strBin), strBin + "/KelvardUSB.hex"); // neither
        for (const QString& strFile : {prefix.filePath("share/tarvel/KelvardUSB.hex"),
                                       strBin + "/KelvardUSB.hex"}) // installed, then both
        {
            QFile file(strFile);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.close();
            QCOMPARE(CTarvelApp::SimulatedBoardsImage(strBin), strFile);
        }
    }

    void programReadsItsCommandLineBeforeNeedingADisplay()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* pszName : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(QString::fromLatin1(pszName));
        const Run help = RunTarvel({"--help"}, env);
        QVERIFY2(help.nExit == 0 && help.out.startsWith("Usage: tarvel [options]\n") &&
                     help.out.contains("--simulate") && help.out.contains("--screenshot <path>"),
                 help.out.constData());
        const Run wrong = RunTarvel({"--quit-after", "soon"}, env);
        QVERIFY(wrong.nExit == 2 && wrong.err.startsWith("tarvel: "));
    }
};

QTEST_MAIN(TestTarvelApp)
#include "test_tarvel_app.moc"
