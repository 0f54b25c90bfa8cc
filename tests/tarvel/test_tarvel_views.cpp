// The grid in its four views: marks and enabled boxes with and without a board, what clicks
// and the Set and Clear buttons send (exact bytes), the analog run of marks and captions, and
// the polling rules.
#include "tests/tarvel/DialogTestSupport.h"

#include <QLabel>

namespace
{
QString MessageLine(const CTarvelDlg& dlg)
{
    return qobject_cast<QLabel*>(dlg.GetDlgItem(IDC_MESSAGE))->text();
}
} // namespace

class TestTarvelViews : public QObject
{
    Q_OBJECT

private slots:
    void portBitsShowLevelsOnlyOutputsCanBeClickedAndSetAndClearMarkWholePorts()
    {
        CSimFixture sim;
        auto pBoard = sim.Plug(SimBoardConfig().Id(7));
        // Port A's low nibble input (A0 inverted) and D7 input, everything else output.
        ConfigureBoard(sim, 0, ConfigBlock{{0x0F, 0, 0, 0x80, 0}, {0x01, 0, 0, 0}, 0});
        pBoard->SetInputs(PORT_A, 0x05); // A0 reads low (inverted), A2 high
        pBoard->SetInputs(PORT_D, 0x80); // D7 high: its hidden box is marked by the read
        CTarvelDlg dlg(sim.Context());
        OpenDialog(dlg);
        QCOMPARE(Marks(dlg), QStringLiteral("04 00 00 80 00"));
        QCOMPARE(Enabled(dlg), QStringLiteral("f0 ff ff 1f ff"));
        QVERIFY(!dlg.BitBox(PORT_D, 7)->isVisible());
        TraceOf(sim);

        // An output sends all five bytes, the inputs as they are marked; an input is disabled.
        ClickBit(dlg, PORT_B, 1);
        ClickBit(dlg, PORT_A, 2);
        QCOMPARE(TraceOf(sim), (QStringList{"0 > 37 04 02 00 80 00"}));
        QCOMPARE(pBoard->Pins().byLatch, (PortBytes{0x04, 0x02, 0x00, 0x80, 0x00}));
        // A click anywhere in the box's rectangle acts, far to the right of its caption too.
        CCheckBoxCtrl* pC0 = dlg.BitBox(PORT_C, 0);
        QTest::mouseClick(pC0, Qt::LeftButton, {}, QPoint(pC0->width() - 2, pC0->height() / 2));
        QCOMPARE(TraceOf(sim), (QStringList{"0 > 37 04 02 01 80 00"}));

        // E0 cycles checked, indeterminate, unchecked; indeterminate is sent as 0.
        for (Qt::CheckState state : {Qt::Checked, Qt::PartiallyChecked, Qt::Unchecked})
        {
            ClickBit(dlg, PORT_E, 0);
            QCOMPARE(dlg.BitBox(PORT_E, 0)->checkState(), state);
        }
        QCOMPARE(TraceOf(sim), (QStringList{"0 > 37 04 02 01 80 01", "0 > 37 04 02 01 80 00",
                                            "0 > 37 04 02 01 80 00"}));
        ClickBit(dlg, PORT_E, 4); // a plain box only toggles
        ClickBit(dlg, PORT_E, 4);
        QCOMPARE(dlg.BitBox(PORT_E, 4)->checkState(), Qt::Unchecked);
        TraceOf(sim);

        // Set and Clear mark whole ports, disabled boxes included.
        ClickControl(dlg, SetButtonId(PORT_D)); // D0 to D4 only; D5 to D7 keep their marks
        ClickControl(dlg, ClearButtonId(PORT_D));
        ClickControl(dlg, SetButtonId(PORT_A)); // the inputs A0 to A3 are marked too
        ClickControl(dlg, SetButtonId(PORT_E));
        ClickControl(dlg, ClearButtonId(PORT_A));
        QCOMPARE(TraceOf(sim), (QStringList{"0 > 37 04 02 01 9f 00", "0 > 37 04 02 01 80 00",
                                            "0 > 37 ff 02 01 80 00", "0 > 37 ff 02 01 80 ff",
                                            "0 > 37 00 02 01 80 ff"}));
    }

    void configurationViewsAreReadModifyWriteOfTheirOwnMasks()
    {
        CSimFixture sim;
        sim.Plug(SimBoardConfig().Id(7));
        ConfigureBoard(sim, 0, ConfigBlock{{0x0F, 0, 0, 0, 0}, {0x01, 0x02, 0x00, 0x08}, 2});
        CTarvelDlg dlg(sim.Context());
        OpenDialog(dlg);
        TraceOf(sim);

        // Each write reads the block first and changes only its own masks.
        ClickControl(dlg, IDC_PORT_DIRECTION);
        QCOMPARE(MessageLine(dlg), QStringLiteral("When checked I/O pin is an input"));
        QCOMPARE(TraceOf(sim),
                 (QStringList{READ_CONFIG_REQUEST, "0 < 38 0f 01 00 02 00 00 00 08 00 02"}));
        QCOMPARE(Marks(dlg), QStringLiteral("0f 00 00 00 00"));
        QCOMPARE(Enabled(dlg), QStringLiteral("ff ff ff 1f fc")); // E0, E1 are analog channels
        ClickBit(dlg, PORT_C, 2);
        QCOMPARE(TraceOf(sim).mid(1), (QStringList{"0 < 38 0f 01 00 02 00 00 00 08 00 02",
                                                   "0 > 39 0f 01 00 02 04 00 00 08 00 02"}));

        ClickControl(dlg, IDC_INPUT_POLARITY);
        QCOMPARE(MessageLine(dlg), QStringLiteral("When checked input is inverted"));
        QCOMPARE(Marks(dlg), QStringLiteral("01 02 00 08 00")); // row E clear, not the count
        QCOMPARE(Enabled(dlg), QStringLiteral("ff ff ff 1f 00"));
        TraceOf(sim);
        ClickBit(dlg, PORT_B, 0);
        // Inversion masks at bytes 2, 4, 6, 8; byte 10, the analog input count, stays 2.
        QCOMPARE(TraceOf(sim).mid(1), (QStringList{"0 < 38 0f 01 00 02 04 00 00 08 00 02",
                                                   "0 > 39 0f 01 00 03 04 00 00 08 00 02"}));
        QCOMPARE(dlg.m_nAnalogMask, std::uint8_t(0x03));
    }

    void analogInputsAreARunOfMarksFromE0()
    {
        CSimFixture sim;
        auto pBoard = sim.Plug(SimBoardConfig().Id(7));
        ConfigureBoard(sim, 0, ConfigBlock{{0xFF, 0, 0, 0, 0xFF}, {0x01, 0, 0, 0}, 0});
        for (int k = 0; k < 4; ++k)
            pBoard->SetAnalog(k, static_cast<std::uint16_t>(0x3FF - k));
        CTarvelDlg dlg(sim.Context());
        OpenDialog(dlg);
        ClickControl(dlg, IDC_ANALOG_INPUTS);
        QCOMPARE(MessageLine(dlg), QStringLiteral("When checked I/O pin is analog input"));
        QCOMPARE(Marks(dlg), QStringLiteral("00 00 00 00 00"));
        QCOMPARE(Enabled(dlg), QStringLiteral("00 00 00 00 0f"));
        TraceOf(sim);

        // Checking E2 alone selects E0 to E2; the direction of port E goes to 0.
        ClickBit(dlg, PORT_E, 2);
        QCOMPARE(Marks(dlg), QStringLiteral("00 00 00 00 07"));
        QCOMPARE(dlg.m_nAnalogMask, std::uint8_t(0x07));
        QCOMPARE(TraceOf(sim),
                 (QStringList{READ_CONFIG_REQUEST, "0 < 38 ff 01 00 00 00 00 00 00 ff 00",
                              "0 > 39 ff 01 00 00 00 00 00 00 00 03"}));
        // Clearing E1 inside the run leaves the run as it was.
        ClickBit(dlg, PORT_E, 1);
        QCOMPARE(Marks(dlg), QStringLiteral("00 00 00 00 07"));
        QCOMPARE(TraceOf(sim).last(), QStringLiteral("0 > 39 ff 01 00 00 00 00 00 00 00 03"));

        // Four channels, whose readings the next tick shows.
        ClickBit(dlg, PORT_E, 3);
        QCOMPARE(TraceOf(sim).last(), QStringLiteral("0 > 39 ff 01 00 00 00 00 00 00 00 04"));
        dlg.OnTimer(TIMER_POLL);
        QCOMPARE(TraceOf(sim), (QStringList{"0 > 3d", "0 < 3d 04 ff 03 fe 03 fd 03 fc 03"}));
        QCOMPARE(AnalogCaptions(dlg), (QStringList{"03ff", "03fe", "03fd", "03fc"}));

        // Back to three channels: E3 gets its caption back.
        ClickBit(dlg, PORT_E, 3);
        QCOMPARE(dlg.m_nAnalogMask, std::uint8_t(0x07));
        QCOMPARE(AnalogCaptions(dlg), (QStringList{"03ff", "03fe", "03fd", "E3"}));
        QCOMPARE(TraceOf(sim).last(), QStringLiteral("0 > 39 ff 01 00 00 00 00 00 00 00 03"));

        // Down to none: every caption back, the mask 0, and the timer still running.
        ClickControl(dlg, ClearButtonId(PORT_E));
        QCOMPARE(dlg.m_nAnalogMask, std::uint8_t(0));
        QCOMPARE(AnalogCaptions(dlg), (QStringList{"E0", "E1", "E2", "E3"}));
        QCOMPARE(TraceOf(sim).last(), QStringLiteral("0 > 39 ff 01 00 00 00 00 00 00 00 00"));
        QCOMPARE(dlg.m_nTimer, TIMER_POLL);
    }

    void readAnalogAnnouncingTwoChannelsUpdatesE0AndE1Only()
    {
        CSimFixture sim;
        auto pBoard = sim.Plug(SimBoardConfig().Id(7));
        ConfigureBoard(sim, 0, ConfigBlock{{0, 0, 0, 0, 0}, {}, 4});
        for (int k = 0; k < 4; ++k)
            pBoard->SetAnalog(k, 0x111);
        CTarvelDlg dlg(sim.Context());
        OpenDialog(dlg);
        dlg.OnTimer(TIMER_POLL);
        QCOMPARE(AnalogCaptions(dlg), (QStringList{"0111", "0111", "0111", "0111"}));

        // Another program leaves only two channels on; the dialog still polls four.
        ConfigureBoard(sim, 0, ConfigBlock{{0, 0, 0, 0, 0}, {}, 2});
        pBoard->SetAnalog(0, 0x3FF);
        pBoard->SetAnalog(1, 0x002);
        pBoard->SetAnalog(2, 0x155);
        TraceOf(sim);
        dlg.OnTimer(TIMER_POLL);
        QCOMPARE(TraceOf(sim), (QStringList{"0 > 36 00 00 00 00 00", "0 < 36 00 00 00 00 00",
                                            "0 > 3d", "0 < 3d 02 ff 03 02 00 00 00 00 00"}));
        QCOMPARE(AnalogCaptions(dlg), (QStringList{"03ff", "0002", "0111", "0111"}));

        // A reading of 0x8000 or more is printed as a signed value.
        pBoard->InjectFault(ESimFault::Corrupt, 4, 3); // high byte of channel 0: 03 -> fc
        dlg.OnTimer(TIMER_POLL);
        QCOMPARE(AnalogCaptions(dlg)[0], QStringLiteral("fffffcff"));
        // A failed read-analog changes no caption.
        pBoard->InjectFault(ESimFault::Fail, 4);
        dlg.OnTimer(TIMER_POLL);
        QCOMPARE(AnalogCaptions(dlg), (QStringList{"fffffcff", "0002", "0111", "0111"}));
    }

    void pollingFollowsThePinsAndAFailedReadKeepsTheMarks()
    {
        CSimFixture sim;
        auto pBoard = sim.Plug(SimBoardConfig().Id(7));
        CTarvelDlg dlg(sim.Context());
        OpenDialog(dlg); // a board after reset: every pin an input
        QCOMPARE(dlg.m_nTimer, TIMER_POLL);
        QCOMPARE(Enabled(dlg), QStringLiteral("00 00 00 00 00"));
        TraceOf(sim);

        pBoard->SetInputs(PORT_C, 0x81);
        dlg.OnTimer(TIMER_POLL);
        QCOMPARE(TraceOf(sim), (QStringList{READ_PORTS_REQUEST, "0 < 36 00 00 81 00 00"}));
        QCOMPARE(Marks(dlg), QStringLiteral("00 00 81 00 00"));
        pBoard->SetInputs(PORT_C, 0x00);
        pBoard->InjectFault(ESimFault::Fail, 2);
        dlg.OnTimer(TIMER_POLL);
        QCOMPARE(Marks(dlg), QStringLiteral("00 00 81 00 00"));

        // Other views are not polled for levels.
        ClickControl(dlg, IDC_PORT_DIRECTION);
        TraceOf(sim);
        dlg.OnTimer(TIMER_POLL);
        QCOMPARE(TraceOf(sim), QStringList());

        // The real timer ticks in the Port Bits view.
        ClickControl(dlg, IDC_PORT_BITS);
        TraceOf(sim);
        QStringList seen;
        QTRY_VERIFY_WITH_TIMEOUT((seen << TraceOf(sim)).contains(READ_PORTS_REQUEST), 2000);
    }

    void allOutputDirectionsStopThePollingWhenWrittenOrRead()
    {
        CSimFixture sim;
        sim.Plug(SimBoardConfig().Id(7));
        ConfigureBoard(sim, 0, ConfigBlock{{0x01, 0, 0, 0, 0}, {}, 2});
        CTarvelDlg dlg(sim.Context());
        OpenDialog(dlg);
        QCOMPARE(dlg.m_nTimer, TIMER_POLL);
        ClickControl(dlg, IDC_PORT_DIRECTION);
        TraceOf(sim);

        // A0 back to output: all five masks 0 stop the timer before the write is sent, so
        // even a failed write leaves it stopped.
        sim.Bus().Board(0)->InjectFault(ESimFault::Fail, 3);
        ClickBit(dlg, PORT_A, 0);
        QCOMPARE(TraceOf(sim),
                 (QStringList{READ_CONFIG_REQUEST, "0 < 38 01 00 00 00 00 00 00 00 00 02",
                              "0 >! 39 00 00 00 00 00 00 00 00 00 02"}));
        QCOMPARE(dlg.m_nTimer, 0);

        // A failed read-configuration writes nothing and applies no rule.
        sim.Bus().Board(0)->InjectFault(ESimFault::Fail, 2);
        ClickBit(dlg, PORT_A, 1);
        QCOMPARE(TraceOf(sim), (QStringList{READ_CONFIG_REQUEST, "0 <!"}));
        QCOMPARE(dlg.m_nTimer, 0);

        // Any non-zero mask starts it again.
        ClickBit(dlg, PORT_E, 7);
        QCOMPARE(dlg.m_nTimer, TIMER_POLL);
        QCOMPARE(TraceOf(sim).last(), QStringLiteral("0 > 39 02 00 00 00 00 00 00 00 80 02"));

        // Reading all-output directions on entering a view stops it too, analog channels or not.
        ConfigureBoard(sim, 0, ConfigBlock{{0, 0, 0, 0, 0}, {}, 2});
        QCOMPARE(dlg.m_nAnalogMask, std::uint8_t(0x03));
        ClickControl(dlg, IDC_PORT_BITS);
        QCOMPARE(dlg.m_nTimer, 0);
        // Switching analog channels on starts it.
        ClickControl(dlg, IDC_ANALOG_INPUTS);
        ClickBit(dlg, PORT_E, 2);
        QCOMPARE(dlg.m_nTimer, TIMER_POLL);
    }

    void viewsWithoutABoardChangeOnlyTheMarks()
    {
        CSimFixture sim;
        CTarvelDlg dlg(sim.Context());
        OpenDialog(dlg);
        ClickBit(dlg, PORT_A, 1);
        ClickBit(dlg, PORT_E, 0);
        const std::pair<int, const char*> VIEWS[] = {{IDC_INPUT_POLARITY, "ff ff ff 1f 00"},
                                                     {IDC_PORT_BITS, "ff ff ff 1f 00"},
                                                     {IDC_PORT_DIRECTION, "ff ff ff 1f ff"},
                                                     {IDC_ANALOG_INPUTS, "ff ff ff 1f ff"}};
        for (auto [nView, pszEnabled] : VIEWS)
        {
            ClickControl(dlg, nView);
            QCOMPARE(Enabled(dlg), QString::fromLatin1(pszEnabled));
            QCOMPARE(Marks(dlg), QStringLiteral("02 00 00 00 01"));
        }
        QCOMPARE(TraceOf(sim), QStringList());
        QCOMPARE(dlg.m_nTimer, 0);
    }
};

QTEST_MAIN(TestTarvelViews)
#include "test_tarvel_views.moc"
