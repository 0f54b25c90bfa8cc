// End to end: the stand-alone network board `kelvard-sim net` in its own process, driven by the
// dialog's link with no USB board attached. The board's --verbose lines show every frame it
// receives; its replies show in the grid.
#include "NetTestSupport.h"

#include <QProcess>
#include <QRegularExpression>

#ifndef KELVARD_SIM_PROGRAM
#error "KELVARD_SIM_PROGRAM must name the built kelvard-sim"
#endif

namespace
{
// kelvard-sim running for the length of a test, its output collected line by line.
class CSimProgram
{
public:
    explicit CSimProgram(const QStringList& args)
    {
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process,
                         [this]
                         {
                             m_partial += m_process.readAllStandardOutput();
                             for (qsizetype nEnd; (nEnd = m_partial.indexOf('\n')) >= 0;)
                             {
                                 m_lines << QString::fromLatin1(m_partial.left(nEnd));
                                 m_partial.remove(0, nEnd + 1);
                             }
                         });
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(KELVARD_SIM_PROGRAM), args);
    }
    ~CSimProgram() { Stop(); }
    CSimProgram(const CSimProgram&) = delete;
    CSimProgram& operator=(const CSimProgram&) = delete;

    // Ends it as Ctrl-C would.
    void Stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(kWaitMs))
            m_process.kill();
        m_process.waitForFinished(kWaitMs);
    }

    const QStringList& Lines() const { return m_lines; }
    int ExitCode() const { return m_process.exitCode(); }

private:
    QProcess m_process;
    QByteArray m_partial;
    QStringList m_lines;
};

// The port a `kelvard-sim net` prints once it listens; 0 until then.
quint16 ListeningPort(const CSimProgram& sim)
{
    static const QRegularExpression kListening(
        QStringLiteral("^kelvard-sim: network board listening on 127\\.0\\.0\\.1:(\\d+)$"));
    for (const QString& strLine : sim.Lines())
    {
        const QRegularExpressionMatch match = kListening.match(strLine);
        if (match.hasMatch())
            return static_cast<quint16>(match.captured(1).toUInt());
    }
    return 0;
}

// The frames the board reports receiving, as the hex text after "net < ".
QStringList BoardFrames(const CSimProgram& sim)
{
    QStringList frames;
    for (const QString& strLine : sim.Lines())
        if (strLine.startsWith(QLatin1String("net < ")))
            frames << strLine.mid(6);
    return frames;
}
} // namespace

class TestKelvardSimNet : public QObject
{
    Q_OBJECT

private slots:
    void theDialogShowsAndSetsTheNetworkBoardsPins()
    {
        CSimFixture sim; // no USB board
        CSimProgram board({QStringLiteral("net"), QStringLiteral("--listen"),
                           QStringLiteral("127.0.0.1:0"), QStringLiteral("--verbose")});
        QTRY_VERIFY_WITH_TIMEOUT(ListeningPort(board) != 0, kWaitMs);

        CTarvelDlg dlg;
        OpenDialog(dlg);
        PressConnect(dlg, ListeningPort(board));
        QVERIFY(dlg.m_pLink);
        QStringList expected{FrameText(0x38)};
        const auto Received = [&board, &expected]
        {
            QTRY_COMPARE_WITH_TIMEOUT(BoardFrames(board).size(), expected.size(), kWaitMs);
            QCOMPARE(BoardFrames(board), expected);
        };

        // The read-configuration request once connected; its reply shows a board after reset:
        // every pin an input.
        Received();
        QTRY_COMPARE_WITH_TIMEOUT(Marks(dlg), QStringLiteral("ff ff ff ff ff"), kWaitMs);

        // Port B becomes all outputs.
        ClickControl(dlg, IDC_PORT_DIRECTION);
        expected << FrameText(0x38);
        ClickControl(dlg, ClearButtonId(PORT_B));
        expected << FrameText(0x39, {0xFF, 0, 0x00, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0});
        Received();

        // Back in Port Bits the view reads levels and then directions; the directions draw last.
        ClickControl(dlg, IDC_PORT_BITS);
        expected << FrameText(0x36) << FrameText(0x38);
        Received();
        QTRY_COMPARE_WITH_TIMEOUT(Marks(dlg), QStringLiteral("ff 00 ff ff ff"), kWaitMs);

        // B1 set; a poll reads the pins back: B drives its new latch, the inputs read low.
        ClickBit(dlg, PORT_B, 1);
        expected << FrameText(0x37, {0xFF, 0x02, 0xFF, 0xFF, 0xFF});
        Received();
        dlg.OnTimer(TIMER_POLL);
        expected << FrameText(0x36);
        Received();
        QTRY_COMPARE_WITH_TIMEOUT(Marks(dlg), QStringLiteral("00 02 00 00 00"), kWaitMs);

        // The board going away closes the link.
        board.Stop();
        QCOMPARE(board.ExitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.m_pLink, kWaitMs);
    }
};

QTEST_MAIN(TestKelvardSimNet)
#include "test_kelvard_sim_net.moc"
