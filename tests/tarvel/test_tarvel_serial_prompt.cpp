// The serial-number prompt SerialNum: made from template 129, focus on OK, the edit's text taken
// as typed on OK (no length or character check), nothing taken on Cancel.
#include "bootloader/SerialNum.h"
#include "dialog/DialogBuilder.h"
#include "dialog/TarvelApp.h"
#include "res/ControlIds.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace
{
QLineEdit* Edit(const SerialNum& dlg)
{
    return qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_SERIALNUM_EDIT));
}

QPushButton* Button(const SerialNum& dlg, int nId)
{
    return qobject_cast<QPushButton*>(dlg.GetDlgItem(nId));
}
} // namespace

class TestTarvelSerialPrompt : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { CTarvelApp::SetDialogStyle(); }

    void madeFromTemplate129()
    {
        SerialNum dlg;
        QCOMPARE(dlg.m_strSerial, QString());
        QVERIFY(dlg.Create());
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Serial Number"));
        QVERIFY(!dlg.GetSystemMenu()); // no system menu
        QVERIFY(dlg.windowFlags() & Qt::WindowTitleHint);
        QVERIFY(!(dlg.windowFlags() & Qt::WindowCloseButtonHint));

        // Template order: OK, Cancel, the edit, the text.
        QList<int> ids;
        for (QWidget* pControl : dlg.GetControls())
            ids << CDialogBuilder::GetDlgCtrlID(pControl);
        QCOMPARE(ids, (QList<int>{IDOK, IDCANCEL, IDC_SERIALNUM_EDIT, IDC_STATIC}));
        QCOMPARE(Button(dlg, IDOK)->text(), QStringLiteral("OK"));
        QVERIFY(Button(dlg, IDOK)->isDefault());
        QCOMPARE(Button(dlg, IDCANCEL)->text(), QStringLiteral("Cancel"));
        QVERIFY(!Button(dlg, IDCANCEL)->isDefault());
        auto* pText = qobject_cast<QLabel*>(dlg.GetControls().back());
        QVERIFY(pText);
        QCOMPARE(pText->text(), QStringLiteral("Enter serial number or use scanner\nThen OK"));
        QCOMPARE(Edit(dlg)->text(), QString());
        QVERIFY(Edit(dlg)->alignment() & Qt::AlignHCenter);

        // 144 x 70 dialog units; the edit at 41, 28, 60 x 12.
        const DialogBaseUnits units =
            CDialogBuilder::BaseUnits(CDialogBuilder::TemplateFont(*dlg.GetTemplate()));
        QCOMPARE(dlg.size(), CDialogBuilder::MapDialogRect(QRect(0, 0, 144, 70), units).size());
        QCOMPARE(Edit(dlg)->geometry(),
                 CDialogBuilder::MapDialogRect(QRect(41, 28, 60, 12), units));
    }

    void focusStartsOnOkAndTabsInTemplateOrder()
    {
        SerialNum dlg;
        dlg.Create();
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QCOMPARE(dlg.focusWidget(), Button(dlg, IDOK));
        QCOMPARE(Button(dlg, IDOK)->nextInFocusChain(), Button(dlg, IDCANCEL));
        QCOMPARE(Button(dlg, IDCANCEL)->nextInFocusChain(), Edit(dlg));
    }

    void membersFillTheEdit()
    {
        SerialNum dlg;
        dlg.m_strSerial = QStringLiteral("PRESET01");
        dlg.Create();
        QCOMPARE(Edit(dlg)->text(), QStringLiteral("PRESET01"));
    }

    void okTakesTheTextAsTyped_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::newRow("eight characters") << "AB12CD34";
        QTest::newRow("nine characters") << "123456789";
        QTest::newRow("above z") << "AB{~";
        QTest::newRow("empty") << "";
    }

    void okTakesTheTextAsTyped()
    {
        QFETCH(QString, typed);
        SerialNum dlg;
        dlg.Create();
        dlg.show();
        Edit(dlg)->setFocus();
        QTest::keyClicks(Edit(dlg), typed);
        QCOMPARE(dlg.m_strSerial, QString()); // taken only on OK
        QTest::mouseClick(Button(dlg, IDOK), Qt::LeftButton);
        QCOMPARE(dlg.result(), IDOK);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.m_strSerial, typed);
    }

    void enterInTheEditIsOk()
    {
        SerialNum dlg;
        dlg.Create();
        dlg.show();
        Edit(dlg)->setFocus();
        QTest::keyClicks(Edit(dlg), QStringLiteral("SCAN0042"));
        QTest::keyClick(Edit(dlg), Qt::Key_Return); // how a scanner ends its text
        QCOMPARE(dlg.result(), IDOK);
        QCOMPARE(dlg.m_strSerial, QStringLiteral("SCAN0042"));
    }

    void cancelTakesNothing_data()
    {
        QTest::addColumn<bool>("escape");
        QTest::newRow("Cancel button") << false;
        QTest::newRow("Escape") << true;
    }

    void cancelTakesNothing()
    {
        QFETCH(bool, escape);
        SerialNum dlg;
        dlg.Create();
        dlg.show();
        Edit(dlg)->setFocus();
        QTest::keyClicks(Edit(dlg), QStringLiteral("XYZ"));
        if (escape)
            QTest::keyClick(Edit(dlg), Qt::Key_Escape);
        else
            QTest::mouseClick(Button(dlg, IDCANCEL), Qt::LeftButton);
        QCOMPARE(dlg.result(), IDCANCEL);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.m_strSerial, QString());
    }
};

QTEST_MAIN(TestTarvelSerialPrompt)
#include "test_tarvel_serial_prompt.moc"
