// The main dialog as its template describes it: 64 controls in template (tab) order with their
// IDs, kinds and captions, placed in dialog units of the resolved font, none overlapping; the
// icon, the about box from the context menu, and the string table.
#include "tests/tarvel/DialogTestSupport.h"

#include "tarvel/dialog/AboutDlg.h"
#include "tarvel/dialog/DialogBuilder.h"
#include "tarvel/res/DialogTemplate.h"
#include "tarvel/res/StringTable.h"

#include <QFontInfo>
#include <QGroupBox>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

#include <cmath>

namespace
{
// The main dialog's control IDs in template order, which is also the tab order.
std::vector<int> ExpectedOrder()
{
    std::vector<int> ids{IDOK, IDC_DEVICES, IDC_SERIAL, IDC_FIRMWARE, IDC_STATIC};
    const std::pair<int, int> RUNS[] = {{1003, 1034}, {1043, 1050}, {1035, 1035},
                                        {1037, 1040}, {1042, 1042}, {1051, 1063}};
    for (auto [nFirst, nLast] : RUNS)
        for (int nId = nFirst; nId <= nLast; ++nId)
            ids.push_back(nId);
    return ids;
}

// A template rectangle in pixels for DejaVu Sans 8 pt (7 x 13 base units), rounded to nearest.
QRect Pixels(const DialogItem& item)
{
    auto h = [](int n) { return static_cast<int>(std::lround(n * 7 / 4.0)); };
    auto v = [](int n) { return static_cast<int>(std::lround(n * 13 / 8.0)); };
    return QRect(h(item.nX), v(item.nY), h(item.nCx), v(item.nCy));
}

QString Caption(const CTarvelDlg& dlg, int nId)
{
    auto* pButton = qobject_cast<QAbstractButton*>(dlg.GetDlgItem(nId));
    return pButton ? pButton->text() : QStringLiteral("no button %1").arg(nId);
}
} // namespace

class TestTarvelTemplate : public QObject
{
    Q_OBJECT

private slots:
    void dialogIsBuiltAsItsTemplateSaysWithItsIconAboutBoxAndStrings()
    {
        CSimFixture sim;
        CTarvelDlg dlg(sim.Context());
        OpenDialog(dlg);
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Kelvard IO"));
        QCOMPARE(QFontInfo(dlg.font()).family(), QStringLiteral("DejaVu Sans"));
        QCOMPARE(QFontInfo(dlg.font()).pointSize(), 8);
        const DialogBaseUnits units = CDialogBuilder::BaseUnits(dlg.font());
        QCOMPARE(QSize(units.nCx, units.nCy), QSize(7, 13));
        QCOMPARE(dlg.size(), QSize(490, 419)); // 280 x 258 dialog units

        const DialogTemplate* pTemplate = FindDialogTemplate(IDD_TARVEL_DIALOG);
        QCOMPARE(dlg.GetControls().size(), std::size_t(64));
        QCOMPARE(pTemplate->arrItems.size(), std::size_t(64));
        std::vector<int> ids;
        for (std::size_t i = 0; i < dlg.GetControls().size(); ++i)
        {
            QWidget* pControl = dlg.GetControls()[i];
            const DialogItem& item = pTemplate->arrItems[i];
            ids.push_back(CDialogBuilder::GetDlgCtrlID(pControl));
            QCOMPARE(ids.back(), item.nId);
            const QRect rc = Pixels(item);
            if (item.eKind == EControlKind::DropDownList) // its height is the dropped-down one
                QCOMPARE(pControl->geometry().topLeft(), rc.topLeft());
            else
                QCOMPARE(pControl->geometry(), rc);
        }
        QCOMPARE(ids, ExpectedOrder());

        const char* PORTS = "ABCDE";
        for (int p = PORT_A; p < PORT_COUNT; ++p)
        {
            for (int b = 0; b < 8; ++b)
            {
                QCOMPARE(dlg.BitBox(p, b), dlg.GetDlgItem(BitBoxId(p, b)));
                QCOMPARE(dlg.BitBox(p, b)->text(),
                         QStringLiteral("%1%2").arg(QLatin1Char(PORTS[p])).arg(b));
                QCOMPARE(dlg.BitBox(p, b)->isTristate(), p == PORT_E && b < 4);
            }
            QCOMPARE(Caption(dlg, SetButtonId(p)), QStringLiteral("Set"));
            QCOMPARE(Caption(dlg, ClearButtonId(p)), QStringLiteral("Clear"));
        }
        QStringList captions;
        for (int nId : {IDOK, IDC_UPDATE, IDC_PORT_BITS, IDC_PORT_DIRECTION, IDC_INPUT_POLARITY,
                        IDC_ANALOG_INPUTS, IDC_CONNECT, IDC_CLOSE_LINK})
            captions << Caption(dlg, nId);
        QCOMPARE(captions.join('|'), QStringLiteral("Close|Update|Port Bits|Port Direction|"
                                                    "Input Polarity|Analog Inputs|Connect|Close"));
        QCOMPARE(qobject_cast<QGroupBox*>(dlg.GetControls()[4])->title(), QStringLiteral("Device"));
        QVERIFY(qobject_cast<QPushButton*>(dlg.GetDlgItem(IDOK))->isDefault());

        // No two controls overlap.
        std::vector<QWidget*> controls;
        QWidget* pGroup = nullptr;
        for (QWidget* pControl : dlg.GetControls())
        {
            QVERIFY(dlg.rect().contains(pControl->geometry()));
            if (qobject_cast<QGroupBox*>(pControl))
                pGroup = pControl;
            else
                controls.push_back(pControl);
        }
        for (std::size_t i = 0; i < controls.size(); ++i)
            for (std::size_t j = i + 1; j < controls.size(); ++j)
                QVERIFY2(!controls[i]->geometry().intersects(controls[j]->geometry()),
                         qPrintable(QStringLiteral("%1 overlaps %2")
                                        .arg(CDialogBuilder::GetDlgCtrlID(controls[i]))
                                        .arg(CDialogBuilder::GetDlgCtrlID(controls[j]))));
        // The group box frames the device controls and lets clicks through to them.
        QVERIFY(pGroup && pGroup->testAttribute(Qt::WA_TransparentForMouseEvents));
        for (int nId : {IDC_FIRMWARE, IDC_DEVICES, IDC_SERIAL, IDC_UPDATE, IDC_IPADDRESS,
                        IDC_CONNECT, IDC_CLOSE_LINK})
            QVERIFY(pGroup->geometry().contains(dlg.GetDlgItem(nId)->geometry()));

        // The tab order is the template order.
        std::vector<int> expected;
        for (int nId : ExpectedOrder())
            if (nId != IDC_STATIC && nId != IDC_FIRMWARE && nId != IDC_MESSAGE)
                expected.push_back(nId);
        std::vector<int> chain;
        QWidget* pWidget = dlg.GetDlgItem(IDOK);
        do
        {
            const int nId = CDialogBuilder::GetDlgCtrlID(pWidget);
            if (nId != IDC_STATIC && dlg.GetDlgItem(nId) == pWidget &&
                (pWidget->focusPolicy() & Qt::TabFocus))
                chain.push_back(nId);
            pWidget = pWidget->nextInFocusChain();
        } while (pWidget != dlg.GetDlgItem(IDOK) && chain.size() < 200);
        QCOMPARE(chain, expected);

        // The icon, the string table, and the about box from the context menu.
        QVERIFY(dlg.m_hIcon.availableSizes().contains(QSize(32, 32)));
        QVERIFY(dlg.m_hIcon.availableSizes().contains(QSize(16, 16)));
        QVERIFY(QByteArray(LoadResString(IDP_SOCKETS_INIT_FAILED)).startsWith("Windows sockets"));

        QAction* pAbout = dlg.GetSystemMenu()->actions().value(2);
        QVERIFY(pAbout);
        QCOMPARE(pAbout->text(), QStringLiteral("&About Tarvel..."));
        QCOMPARE(pAbout->data().toUInt(), IDM_ABOUTBOX);
        QString strTitle;
        QTimer::singleShot(0, &dlg,
                           [&]
                           {
                               if (auto* pBox =
                                       qobject_cast<CAboutDlg*>(QApplication::activeModalWidget()))
                               {
                                   strTitle = pBox->windowTitle();
                                   QTest::mouseClick(pBox->GetDlgItem(IDOK), Qt::LeftButton);
                               }
                           });
        pAbout->trigger(); // returns when the about box has closed
        QCOMPARE(strTitle, QStringLiteral("About Tarvel"));
        QVERIFY(dlg.isVisible());
    }
};

QTEST_MAIN(TestTarvelTemplate)
#include "test_tarvel_template.moc"
