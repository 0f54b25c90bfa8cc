// The dialogs as their templates describe them: controls, order, captions, kinds, geometry in
// dialog units, font, tab order; the string table, the icon, the system menu and the about box.
#include "DialogTestSupport.h"

#include "dialog/AboutDlg.h"
#include "dialog/DialogBuilder.h"
#include "dialog/IpAddressCtrl.h"
#include "res/DialogTemplate.h"
#include "res/StringTable.h"

#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

#include <cmath>

namespace
{
// The main dialog's controls in template order, which is also the tab order.
std::vector<int> ExpectedOrder()
{
    std::vector<int> ids{IDOK, IDC_DEVICES, IDC_SERIAL, IDC_FIRMWARE, IDC_STATIC};
    for (int id = 1003; id <= 1034; ++id)
        ids.push_back(id);
    for (int id = 1043; id <= 1050; ++id)
        ids.push_back(id);
    ids.push_back(1035);
    for (int id = 1037; id <= 1040; ++id)
        ids.push_back(id);
    ids.push_back(1042);
    for (int id = 1051; id <= 1060; ++id)
        ids.push_back(id);
    for (int id = 1061; id <= 1063; ++id)
        ids.push_back(id);
    return ids;
}

// Dialog units to pixels for DejaVu Sans 8 pt (7 x 13 base units), rounded to nearest.
QRect Pixels(int x, int y, int cx, int cy)
{
    auto h = [](int n) { return static_cast<int>(std::lround(n * 7 / 4.0)); };
    auto v = [](int n) { return static_cast<int>(std::lround(n * 13 / 8.0)); };
    return QRect(h(x), v(y), h(cx), v(cy));
}
} // namespace

class TestTarvelTemplate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { CTarvelApp::SetDialogStyle(); }

    void mainTemplateListsItsControlsInOrder()
    {
        const DialogTemplate* pTemplate = FindDialogTemplate(IDD_TARVEL_DIALOG);
        QVERIFY(pTemplate);
        QCOMPARE(QString::fromUtf8(pTemplate->pszCaption), QStringLiteral("Kelvard IO"));
        QCOMPARE(pTemplate->cx, 280);
        QCOMPARE(pTemplate->cy, 258);
        QCOMPARE(QString::fromUtf8(pTemplate->pszFontFace), QStringLiteral("MS Sans Serif"));
        QCOMPARE(pTemplate->nPointSize, 8);
        std::vector<int> ids;
        for (const DialogItem& item : pTemplate->items)
            ids.push_back(item.nId);
        QCOMPARE(ids.size(), std::size_t(64));
        QVERIFY(ids == ExpectedOrder());
        QVERIFY(!FindDialogItem(*pTemplate, 1036));
        QVERIFY(!FindDialogItem(*pTemplate, 1041));
    }

    void dialogBuildsEveryControlWithItsKindCaptionAndPlace()
    {
        CSimFixture sim;
        CTarvelDlg dlg;
        OpenDialog(dlg);

        QCOMPARE(dlg.windowTitle(), QStringLiteral("Kelvard IO"));
        QCOMPARE(dlg.size(), QSize(490, 419));
        QCOMPARE(dlg.GetControls().size(), std::size_t(64));
        std::vector<int> ids;
        for (QWidget* pControl : dlg.GetControls())
        {
            QCOMPARE(pControl->parentWidget(), static_cast<QWidget*>(&dlg));
            ids.push_back(CDialogBuilder::GetDlgCtrlID(pControl));
        }
        QVERIFY(ids == ExpectedOrder());

        auto* pClose = qobject_cast<QPushButton*>(dlg.GetDlgItem(IDOK));
        QVERIFY(pClose && pClose->isDefault());
        QCOMPARE(pClose->text(), QStringLiteral("Close"));
        QCOMPARE(pClose->geometry(), Pixels(114, 236, 50, 14));
        auto* pList = qobject_cast<CComboBoxCtrl*>(dlg.GetDlgItem(IDC_DEVICES));
        QVERIFY(pList && pList->IsSorted());
        QCOMPARE(pList->geometry().topLeft(), Pixels(17, 37, 58, 70).topLeft());
        QCOMPARE(pList->width(), Pixels(17, 37, 58, 70).width());
        auto* pSerial = qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_SERIAL));
        QVERIFY(pSerial && pSerial->hasFrame());
        QVERIFY(pSerial->alignment() & Qt::AlignHCenter);
        auto* pFirmware = qobject_cast<QLabel*>(dlg.GetDlgItem(IDC_FIRMWARE));
        QVERIFY(pFirmware);
        QCOMPARE(pFirmware->frameShadow(), QFrame::Sunken);
        QCOMPARE(pFirmware->geometry(), Pixels(17, 19, 161, 12));
        auto* pGroup = qobject_cast<QGroupBox*>(dlg.GetControls()[4]);
        QVERIFY(pGroup);
        QCOMPARE(pGroup->title(), QStringLiteral("Device"));
        QCOMPARE(pGroup->geometry(), Pixels(7, 7, 182, 85));
        QVERIFY(qobject_cast<CIPAddressCtrl*>(dlg.GetDlgItem(IDC_IPADDRESS)));
        QCOMPARE(dlg.GetDlgItem(IDC_IPADDRESS)->geometry(), Pixels(18, 64, 100, 15));

        const char* kPorts = "ABCDE";
        const int kColumns[] = {25, 74, 123, 172, 221};
        for (int p = PORT_A; p < PORT_COUNT; ++p)
        {
            for (int b = 0; b < 8; ++b)
            {
                auto* pBox = qobject_cast<CCheckBoxCtrl*>(dlg.GetDlgItem(BitBoxId(p, b)));
                QVERIFY(pBox);
                QCOMPARE(pBox, dlg.BitBox(p, b));
                QCOMPARE(pBox->text(), QStringLiteral("%1%2").arg(QLatin1Char(kPorts[p])).arg(b));
                const bool bAnalog = p == PORT_E && b < 4;
                QCOMPARE(pBox->isTristate(), bAnalog);
                QCOMPARE(pBox->geometry(), Pixels(kColumns[p], 112 + 11 * b, bAnalog ? 52 : 32, 8));
            }
            auto* pSet = qobject_cast<QPushButton*>(dlg.GetDlgItem(SetButtonId(p)));
            auto* pClear = qobject_cast<QPushButton*>(dlg.GetDlgItem(ClearButtonId(p)));
            QVERIFY(pSet && pClear);
            QCOMPARE(pSet->text(), QStringLiteral("Set"));
            QCOMPARE(pClear->text(), QStringLiteral("Clear"));
            const int kButtonColumns[] = {21, 70, 118, 166, 217};
            QCOMPARE(pSet->geometry(), Pixels(kButtonColumns[p], 99, 29, 10));
            QCOMPARE(pClear->geometry(), Pixels(kButtonColumns[p], 203, 29, 10));
        }
        // m_chkBits runs from E7 down to E0, then from D7 down to A0.
        QCOMPARE(dlg.m_chkBits.front()->text(), QStringLiteral("E7"));
        QCOMPARE(dlg.m_chkBits[7]->text(), QStringLiteral("E0"));
        QCOMPARE(dlg.m_chkBits[8]->text(), QStringLiteral("D7"));
        QCOMPARE(dlg.m_chkBits.back()->text(), QStringLiteral("A0"));

        const QStringList views{"Port Bits", "Port Direction", "Input Polarity", "Analog Inputs"};
        for (int i = 0; i < 4; ++i)
        {
            auto* pRadio = qobject_cast<CRadioButtonCtrl*>(dlg.GetDlgItem(IDC_PORT_BITS + i));
            QVERIFY(pRadio);
            QCOMPARE(pRadio->text(), views[i]);
            QCOMPARE(pRadio->geometry(), Pixels(198, 15 + 13 * i, 63, 10));
        }
        QCOMPARE(qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_UPDATE))->text(),
                 QStringLiteral("Update"));
        QCOMPARE(qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_CONNECT))->text(),
                 QStringLiteral("Connect"));
        QCOMPARE(qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_CLOSE_LINK))->text(),
                 QStringLiteral("Close"));
        QCOMPARE(dlg.GetDlgItem(IDC_MESSAGE)->geometry(), Pixels(16, 221, 247, 10));
    }

    void dialogUsesTheTemplateFontResolvedToDejaVuSans()
    {
        CSimFixture sim;
        CTarvelDlg dlg;
        OpenDialog(dlg);
        const QFontInfo info(dlg.font());
        QCOMPARE(info.family(), QStringLiteral("DejaVu Sans"));
        QCOMPARE(info.pointSize(), 8);
        const DialogBaseUnits units = CDialogBuilder::BaseUnits(dlg.font());
        QCOMPARE(units.cx, 7);
        QCOMPARE(units.cy, 13);
        QCOMPARE(QFontInfo(dlg.BitBox(PORT_A, 0)->font()).family(), QStringLiteral("DejaVu Sans"));
    }

    void mulDivRoundsHalfAwayFromZero()
    {
        QCOMPARE(MulDiv(25, 7, 4), 44);    // 43.75
        QCOMPARE(MulDiv(258, 13, 8), 419); // 419.25
        QCOMPARE(MulDiv(6, 7, 4), 11);     // 10.5
        QCOMPARE(MulDiv(-6, 7, 4), -11);
        QCOMPARE(MulDiv(6, 7, -4), -11);
        QCOMPARE(MulDiv(1, 1, 0), -1);
        QCOMPARE(MulDiv(2000000, 2000000, 1000000), 4000000);
    }

    void noTwoControlsOverlap()
    {
        CSimFixture sim;
        CTarvelDlg dlg;
        OpenDialog(dlg);
        const QRect rcDialog = dlg.rect();
        std::vector<QWidget*> controls;
        QWidget* pGroup = nullptr;
        for (QWidget* pControl : dlg.GetControls())
        {
            QVERIFY2(rcDialog.contains(pControl->geometry()), qPrintable(pControl->objectName()));
            if (qobject_cast<QGroupBox*>(pControl))
                pGroup = pControl;
            else
                controls.push_back(pControl);
        }
        for (std::size_t i = 0; i < controls.size(); ++i)
        {
            for (std::size_t j = i + 1; j < controls.size(); ++j)
            {
                QVERIFY2(!controls[i]->geometry().intersects(controls[j]->geometry()),
                         qPrintable(QStringLiteral("%1 overlaps %2")
                                        .arg(CDialogBuilder::GetDlgCtrlID(controls[i]))
                                        .arg(CDialogBuilder::GetDlgCtrlID(controls[j]))));
            }
        }
        // The group box frames the device controls and lets clicks through to them.
        QVERIFY(pGroup && pGroup->testAttribute(Qt::WA_TransparentForMouseEvents));
        for (int nId : {IDC_FIRMWARE, IDC_DEVICES, IDC_SERIAL, IDC_UPDATE, IDC_IPADDRESS,
                        IDC_CONNECT, IDC_CLOSE_LINK})
            QVERIFY(pGroup->geometry().contains(dlg.GetDlgItem(nId)->geometry()));
    }

    void tabOrderIsTemplateOrder()
    {
        CSimFixture sim;
        CTarvelDlg dlg;
        OpenDialog(dlg);
        std::vector<int> expected;
        for (int nId : ExpectedOrder())
        {
            if (nId != IDC_STATIC && nId != IDC_FIRMWARE && nId != IDC_MESSAGE)
                expected.push_back(nId);
        }
        std::vector<int> chain;
        QWidget* pFirst = dlg.GetDlgItem(IDOK);
        QWidget* pWidget = pFirst;
        do
        {
            const int nId = CDialogBuilder::GetDlgCtrlID(pWidget);
            if (nId != IDC_STATIC && dlg.GetDlgItem(nId) == pWidget &&
                (pWidget->focusPolicy() & Qt::TabFocus))
                chain.push_back(nId);
            pWidget = pWidget->nextInFocusChain();
        } while (pWidget != pFirst && chain.size() < 200);
        QCOMPARE(chain.size(), expected.size());
        QVERIFY(chain == expected);
    }

    void otherTemplatesAndTheStringTable()
    {
        const DialogTemplate* pAbout = FindDialogTemplate(IDD_ABOUTBOX);
        QVERIFY(pAbout);
        QCOMPARE(QString::fromUtf8(pAbout->pszCaption), QStringLiteral("About Tarvel"));
        QCOMPARE(QSize(pAbout->cx, pAbout->cy), QSize(235, 55));
        QCOMPARE(pAbout->items.size(), std::size_t(4));
        QCOMPARE(pAbout->items[0].kind, EControlKind::Icon);
        QCOMPARE(QString::fromUtf8(pAbout->items[1].pszCaption),
                 QStringLiteral("Tarvel Version 1.0"));
        QCOMPARE(pAbout->items[3].nId, IDOK);
        QCOMPARE(pAbout->items[3].kind, EControlKind::DefPushButton);

        const DialogTemplate* pSerial = FindDialogTemplate(IDD_SERIALNUM);
        QVERIFY(pSerial);
        QCOMPARE(QString::fromUtf8(pSerial->pszCaption), QStringLiteral("Serial Number"));
        QCOMPARE(QSize(pSerial->cx, pSerial->cy), QSize(144, 70));
        QVERIFY(!(pSerial->dwStyle & DLS_SYSMENU));
        std::vector<int> ids;
        for (const DialogItem& item : pSerial->items)
            ids.push_back(item.nId);
        QVERIFY((ids == std::vector<int>{IDOK, IDCANCEL, IDC_SERIALNUM_EDIT, IDC_STATIC}));
        QCOMPARE(QString::fromUtf8(pSerial->items[3].pszCaption),
                 QStringLiteral("Enter serial number or use scanner\nThen OK"));
        QVERIFY(!FindDialogTemplate(101));

        QCOMPARE(QString::fromUtf8(LoadResString(IDS_ABOUTBOX)),
                 QStringLiteral("&About Tarvel..."));
        QCOMPARE(QString::fromUtf8(LoadResString(IDP_SOCKETS_INIT_FAILED)),
                 QStringLiteral("Windows sockets initialization failed."));
        QCOMPARE(QString::fromUtf8(LoadResString(102)), QString());
    }

    void iconHasBothSizes()
    {
        CSimFixture sim;
        CTarvelDlg dlg;
        OpenDialog(dlg);
        const QList<QSize> sizes = dlg.m_hIcon.availableSizes();
        QVERIFY(sizes.contains(QSize(32, 32)));
        QVERIFY(sizes.contains(QSize(16, 16)));
        QVERIFY(!dlg.windowIcon().isNull());
        QCOMPARE(dlg.OnQueryDragIcon().cacheKey(), dlg.m_hIcon.cacheKey());
    }

    void aboutItemOfTheSystemMenuShowsTheAboutBox()
    {
        CSimFixture sim;
        CTarvelDlg dlg;
        OpenDialog(dlg);
        QMenu* pMenu = dlg.GetSystemMenu();
        QVERIFY(pMenu);
        const QList<QAction*> actions = pMenu->actions();
        QCOMPARE(actions.size(), 3); // Close, separator, About
        QVERIFY(actions[1]->isSeparator());
        QCOMPARE(actions[2]->text(), QStringLiteral("&About Tarvel..."));
        QCOMPARE(actions[2]->data().toUInt(), IDM_ABOUTBOX);

        QString strTitle;
        QStringList texts;
        QTimer::singleShot(0, &dlg,
                           [&]
                           {
                               auto* pAbout =
                                   qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
                               if (!pAbout)
                                   return;
                               strTitle = pAbout->windowTitle();
                               for (QLabel* pLabel : pAbout->findChildren<QLabel*>())
                                   texts << pLabel->text();
                               QTest::mouseClick(pAbout->GetDlgItem(IDOK), Qt::LeftButton);
                           });
        actions[2]->trigger(); // returns when the about box has closed
        QCOMPARE(strTitle, QStringLiteral("About Tarvel"));
        QVERIFY(texts.contains(QStringLiteral("Tarvel Version 1.0")));
        QVERIFY(dlg.isVisible());
    }

    void otherSystemCommandsBehaveAsUsual()
    {
        CSimFixture sim;
        sim.Plug(SimBoardConfig().Id(3));
        CTarvelDlg dlg;
        OpenDialog(dlg);
        QCOMPARE(dlg.m_cbDevices->GetCount(), 1);
        dlg.GetSystemMenu()->actions()[0]->trigger(); // Close
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), IDCANCEL);
        QCOMPARE(dlg.m_cbDevices->GetCount(), 0);
    }
};

QTEST_MAIN(TestTarvelTemplate)
#include "test_tarvel_template.moc"
