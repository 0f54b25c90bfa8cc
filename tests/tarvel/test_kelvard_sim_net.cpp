// End to end: the stand-alone network board `kelvard-sim net` in its own process, driven by the
// dialog's link with no USB board attached. Its --verbose lines show each frame it receives.
#include "tests/tarvel/NetTestSupport.h"

#include <QRegularExpression>

#ifndef KELVARD_SIM_PROGRAM
#error "KELVARD_SIM_PROGRAM must name the built kelvard-sim"
#endif

class TestKelvardSimNet : public QObject
{
    Q_OBJECT

private slots:
    void theDialogShowsAndSetsTheNetworkBoardsPins()
    {
        CSimFixture sim; // no USB board
        QProcess board;
        board.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        board.start(QStringLiteral(KELVARD_SIM_PROGRAM),
                    {"net", "--listen", "127.0.0.1:0", "--verbose"});
        QByteArray output;
        const auto Lines = [&]
        {
            output += board.readAllStandardOutput();
            return QString::fromLatin1(output.left(output.lastIndexOf('\n'))).split('\n');
        };
        const QRegularExpression listening(
            "^kelvard-sim: network board listening on 127.0.0.1:\\d+$");
        quint16 nPort = 0;
        QTRY_VERIFY_WITH_TIMEOUT(
            (nPort = Lines().filter(listening).value(0).section(':', -1).toUShort()) != 0, WAIT_MS);

        CTarvelDlg dlg(sim.Context());
        OpenDialog(dlg);
        PressConnect(dlg, nPort);
        QStringList expected{FrameText(0x38)};
        const auto Received = [&]
        {
            const auto Frames = [&] {
                return Lines().filter(QRegularExpression("^net < ")).replaceInStrings("net < ", "");
            };
            QTRY_COMPARE_WITH_TIMEOUT(Frames().size(), expected.size(), WAIT_MS);
            QCOMPARE(Frames(), expected);
        };
        // Its reply to the read-configuration request: a board after reset, all inputs.
        Received();
        QTRY_COMPARE_WITH_TIMEOUT(Marks(dlg), QStringLiteral("ff ff ff ff ff"), WAIT_MS);

        // Port B becomes all outputs; back in Port Bits, levels then directions are read.
        ClickControl(dlg, IDC_PORT_DIRECTION);
        ClickControl(dlg, ClearButtonId(PORT_B));
        ClickControl(dlg, IDC_PORT_BITS);
        expected << FrameText(0x38)
                 << FrameText(0x39, {0xFF, 0, 0x00, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0})
                 << FrameText(0x36) << FrameText(0x38);
        Received();
        QTRY_COMPARE_WITH_TIMEOUT(Marks(dlg), QStringLiteral("ff 00 ff ff ff"), WAIT_MS);

        // B1 set; a poll reads the pins back: B drives its new latch, the inputs read low.
        ClickBit(dlg, PORT_B, 1);
        dlg.OnTimer(TIMER_POLL);
        expected << FrameText(0x37, {0xFF, 0x02, 0xFF, 0xFF, 0xFF}) << FrameText(0x36);
        Received();
        QTRY_COMPARE_WITH_TIMEOUT(Marks(dlg), QStringLiteral("00 02 00 00 00"), WAIT_MS);

        StopLikeCtrlC(board, dlg);
    }
};

QTEST_MAIN(TestKelvardSimNet)
#include "test_kelvard_sim_net.moc"
