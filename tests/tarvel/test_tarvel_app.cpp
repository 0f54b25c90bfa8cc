// The tool as a whole: the address setting, the IP address control, closing the dialog in its
// three ways, and the tarvel program itself on the simulated bus.
#include "DialogTestSupport.h"

#include "dialog/IpAddressCtrl.h"
#include "dialog/TarvelSettings.h"
#include "dialog/UsbDev.h"

#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>

#include <memory>

namespace
{
void WriteTextFile(const QString& strPath, const QByteArray& text)
{
    QFile file(strPath);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

QByteArray ReadTextFile(const QString& strPath)
{
    QFile file(strPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

class TestTarvelApp : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_pConfigDir;
    QByteArray m_savedConfigHome;

private slots:
    void init()
    {
        // Each case gets a configuration folder of its own, empty at first.
        m_savedConfigHome = qgetenv("XDG_CONFIG_HOME");
        m_pConfigDir = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", m_pConfigDir->path().toLocal8Bit());
    }

    void cleanup()
    {
        qputenv("XDG_CONFIG_HOME", m_savedConfigHome);
        m_pConfigDir.reset();
    }

    void settingsFileIsTarvelIniInTheConfigurationFolder()
    {
        QCOMPARE(SettingsFilePath(), m_pConfigDir->filePath(QStringLiteral("Tarvel.ini")));
    }

    void missingFileGivesZeroAddress()
    {
        QCOMPARE(ReadAddressSetting(), 0u);
        CSimFixture sim;
        CTarvelDlg dlg;
        OpenDialog(dlg);
        QCOMPARE(dlg.m_ipAddress->GetWindowText(), QStringLiteral("0.0.0.0"));
        std::uint32_t dwAddress = 1;
        QCOMPARE(dlg.m_ipAddress->GetAddress(dwAddress), 4);
        QCOMPARE(dwAddress, 0u);
        QVERIFY(!QFile::exists(SettingsFilePath())); // reading creates nothing
    }

    void storedValueReadsBackAsItsAddress_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("shown");
        QTest::newRow("negative, first field 128 or more")
            << QByteArray("-1062731510") << "192.168.1.10";
        QTest::newRow("positive") << QByteArray("167772161") << "10.0.0.1";
        QTest::newRow("all ones") << QByteArray("-1") << "255.255.255.255";
        QTest::newRow("not a number") << QByteArray("abc") << "0.0.0.0";
        QTest::newRow("number then text") << QByteArray("16909060xyz") << "1.2.3.4";
    }

    void storedValueReadsBackAsItsAddress()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QString, shown);
        WriteTextFile(SettingsFilePath(), "[Settings]\nIPAddress=" + stored + "\n");
        CSimFixture sim;
        CTarvelDlg dlg;
        OpenDialog(dlg);
        QCOMPARE(dlg.m_ipAddress->GetWindowText(), shown);
    }

    void addressIsWrittenAsSignedDecimal()
    {
        WriteAddressSetting(0xC0A8010A); // 192.168.1.10
        QVERIFY(ReadTextFile(SettingsFilePath()).contains("IPAddress=-1062731510"));
        QCOMPARE(ReadAddressSetting(), 0xC0A8010Au);
        WriteAddressSetting(0x0A000001);
        QVERIFY(ReadTextFile(SettingsFilePath()).contains("IPAddress=167772161"));
        QCOMPARE(ParseProfileInt(QStringLiteral(" -42 ")), -42);
        QCOMPARE(ParseProfileInt(QStringLiteral("4294967295")), -1);
        QCOMPARE(ParseProfileInt(QStringLiteral("")), 0);
    }

    void ipAddressControlTakesTypedAddresses()
    {
        CIPAddressCtrl ctrl;
        ctrl.show();
        ctrl.Field(0)->setFocus();
        QTest::keyClicks(ctrl.Field(0), QStringLiteral("10"));
        QTest::keyClick(ctrl.Field(0), Qt::Key_Period);
        QCOMPARE(ctrl.focusWidget(), ctrl.Field(1));
        QTest::keyClicks(ctrl.Field(1), QStringLiteral("255"));
        QCOMPARE(ctrl.focusWidget(), ctrl.Field(2));            // a full field moves on by itself
        QTest::keyClicks(ctrl.Field(2), QStringLiteral("300")); // 300 is not an octet: "30"
        QTest::keyClick(ctrl.Field(2), Qt::Key_Period);
        QTest::keyClicks(ctrl.Field(3), QStringLiteral("7"));
        QCOMPARE(ctrl.GetWindowText(), QStringLiteral("10.255.30.7"));
        std::uint32_t dwAddress = 0;
        QCOMPARE(ctrl.GetAddress(dwAddress), 4);
        QCOMPARE(dwAddress, 0x0AFF1E07u);
        ctrl.ClearAddress();
        QVERIFY(ctrl.IsBlank());
        ctrl.SetAddress(0xC0A8010A);
        QCOMPARE(ctrl.GetWindowText(), QStringLiteral("192.168.1.10"));
    }

    void closingReleasesTheBoards_data()
    {
        QTest::addColumn<int>("way");
        QTest::addColumn<int>("result");
        QTest::newRow("Close button") << 0 << IDOK;
        QTest::newRow("Escape") << 1 << IDCANCEL;
        QTest::newRow("close box") << 2 << IDCANCEL;
    }

    void closingReleasesTheBoards()
    {
        QFETCH(int, way);
        QFETCH(int, result);
        CSimFixture sim;
        sim.Plug(SimBoardConfig().Id(1).Serial("SIM00001"));
        sim.Plug(SimBoardConfig().Id(2));
        CTarvelDlg dlg;
        OpenDialog(dlg);
        QCOMPARE(dlg.m_cbDevices->GetCount(), 2);
        QCOMPARE(dlg.m_nTimer, TIMER_POLL);
        std::vector<MPUSB_HANDLE> pipes;
        for (int i = 0; i < 2; ++i)
        {
            auto* pDevice = static_cast<CUsbDev*>(dlg.m_cbDevices->GetItemDataPtr(i));
            pipes.push_back(pDevice->m_hRead);
            pipes.push_back(pDevice->m_hWrite);
        }

        if (way == 0)
            ClickControl(dlg, IDOK);
        else if (way == 1)
            QTest::keyClick(&dlg, Qt::Key_Escape);
        else
            dlg.close();

        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), result);
        QCOMPARE(dlg.m_cbDevices->GetCount(), 0);
        QVERIFY(!dlg.m_pDevice);
        QCOMPARE(dlg.m_nTimer, 0);
        QCOMPARE(dlg.m_stFirmware->text(), QString());
        QCOMPARE(dlg.m_edSerial->text(), QString());
        for (MPUSB_HANDLE hPipe : pipes)
            QVERIFY2(!MPUSBClose(hPipe), "every pipe was closed already");

        // Nothing is opened again once the dialog has ended.
        sim.Plug(SimBoardConfig().Id(3));
        DeliverDeviceChanges();
        QCOMPARE(dlg.m_cbDevices->GetCount(), 0);
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
        QProcess tarvel;
        tarvel.setProcessEnvironment(env);
        tarvel.start(QStringLiteral(TARVEL_PROGRAM), {"--simulate", "--screenshot", strShot});
        QVERIFY(tarvel.waitForFinished(30000));
        QCOMPARE(tarvel.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tarvel.exitCode(), 0);
        QCOMPARE(QString::fromLocal8Bit(tarvel.readAllStandardOutput()),
                 strShot + QLatin1Char('\n'));

        const QImage shot(strShot);
        QCOMPARE(shot.size(), QSize(490, 419));
        const QByteArray trace = ReadTextFile(strTrace);
        // Both default boards are asked who they are; the first one, set up with two analog
        // inputs, is polled for its levels and readings.
        QVERIFY(trace.contains("\n0 > 3c 00\n0 < 3c 01\n"));
        QVERIFY(trace.contains("\n1 > 3c 00\n1 < 3c 02\n"));
        QVERIFY(trace.count("0 > 36 00 00 00 00 00\n") >= 5);
        QVERIFY(trace.contains("\n0 > 3d\n0 < 3d 02 "));
    }

    void programRejectsAWrongCommandLine()
    {
        QProcess tarvel;
        tarvel.start(QStringLiteral(TARVEL_PROGRAM), {"--quit-after", "soon"});
        QVERIFY(tarvel.waitForFinished(30000));
        QCOMPARE(tarvel.exitCode(), 2);
        QVERIFY(tarvel.readAllStandardError().startsWith("tarvel: "));
        tarvel.start(QStringLiteral(TARVEL_PROGRAM), {"--no-such-option"});
        QVERIFY(tarvel.waitForFinished(30000));
        QCOMPARE(tarvel.exitCode(), 2);
    }

    void programAnswersHelpWithoutADisplay()
    {
        // No platform plugin and no display: the command line is read before Qt starts.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* pszName : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(QString::fromLatin1(pszName));
        QProcess tarvel;
        tarvel.setProcessEnvironment(env);
        tarvel.start(QStringLiteral(TARVEL_PROGRAM), {"--help"});
        QVERIFY(tarvel.waitForFinished(30000));
        QCOMPARE(tarvel.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tarvel.exitCode(), 0);
        const QString strHelp = QString::fromLocal8Bit(tarvel.readAllStandardOutput());
        QVERIFY2(strHelp.startsWith(QStringLiteral("Usage: tarvel [options]\n")),
                 qPrintable(strHelp));
        for (const char* pszOption :
             {"--simulate", "--screenshot <path>", "--quit-after <seconds>"})
            QVERIFY2(strHelp.contains(QLatin1String(pszOption)), pszOption);
        QCOMPARE(tarvel.readAllStandardError(), QByteArray());

        // A wrong command line is told so, without a display either.
        tarvel.start(QStringLiteral(TARVEL_PROGRAM), {"--no-such-option"});
        QVERIFY(tarvel.waitForFinished(30000));
        QCOMPARE(tarvel.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tarvel.exitCode(), 2);
        QVERIFY(
            tarvel.readAllStandardError().startsWith("tarvel: Unknown option 'no-such-option'"));

        // Qt's own options still reach Qt, which needs one here to start at all.
        tarvel.start(QStringLiteral(TARVEL_PROGRAM),
                     {"-platform", "offscreen", "--quit-after", "0"});
        QVERIFY(tarvel.waitForFinished(30000));
        QCOMPARE(tarvel.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tarvel.exitCode(), 0);
    }
};

QTEST_MAIN(TestTarvelApp)
#include "test_tarvel_app.moc"
