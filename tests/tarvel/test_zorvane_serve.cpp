// End to end: the dialog's network link against 'zorvane serve' in its own process, before a USB
// board on that process's simulated bus, whose trace shows the USB request every frame became.
#include "tests/support/LoopbackClient.h"
#include "tests/tarvel/NetTestSupport.h"

class TestZorvaneServe : public QObject
{
    Q_OBJECT

private slots:
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
        SetB1ReadBackAndStop(dlg, bridge);
        QVERIFY(Traced("0 > 37 ff 02 ff ff ff")); // the USB request the click became
    }
};

QTEST_MAIN(TestZorvaneServe)
#include "test_zorvane_serve.moc"
