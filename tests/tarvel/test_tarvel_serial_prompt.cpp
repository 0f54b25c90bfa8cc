// The serial-number prompt SerialNum: made from template 129, focus on OK, the edit's text taken
// as typed on OK or Enter (no length or character check), nothing taken on Cancel or Escape.
#include "tarvel/bootloader/SerialNum.h"
#include "tarvel/dialog/TarvelApp.h"
#include "tarvel/res/ControlIds.h"

#include <QLineEdit>
#include <QTest>

class TestTarvelSerialPrompt : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { CTarvelApp::SetDialogStyle(); }

    // Made from template 129 with focus on OK, the preset text in the edit.
    void takesTheTextAsTypedOnOkOnly_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("key"); // 0: the button is clicked
        QTest::addColumn<bool>("ok");
        QTest::newRow("nine characters") << "123456789" << 0 << true;
        QTest::newRow("above z") << "AB{~" << 0 << true;
        QTest::newRow("empty") << "" << 0 << true;
        QTest::newRow("Enter, as a scanner ends") << "SCAN0042" << int(Qt::Key_Return) << true;
        QTest::newRow("Cancel") << "XYZ" << 0 << false;
        QTest::newRow("Escape") << "XYZ" << int(Qt::Key_Escape) << false;
    }

    void takesTheTextAsTypedOnOkOnly()
    {
        QFETCH(QString, typed);
        QFETCH(int, key);
        QFETCH(bool, ok);
        const QString strPreset = QStringLiteral("PRESET01");
        SerialNum dlg;
        dlg.m_strSerial = strPreset;
        QVERIFY(dlg.Create());
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Serial Number"));
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QCOMPARE(dlg.focusWidget(), dlg.GetDlgItem(IDOK));
        auto* pEdit = qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_SERIALNUM_EDIT));
        QCOMPARE(pEdit->text(), strPreset);
        pEdit->clear();
        pEdit->setFocus();
        QTest::keyClicks(pEdit, typed);
        QCOMPARE(dlg.m_strSerial, strPreset); // taken only on OK
        if (key)
            QTest::keyClick(pEdit, Qt::Key(key));
        else
            QTest::mouseClick(dlg.GetDlgItem(ok ? IDOK : IDCANCEL), Qt::LeftButton);
        QCOMPARE(dlg.result(), ok ? IDOK : IDCANCEL);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.m_strSerial, ok ? typed : strPreset);
    }
};

QTEST_MAIN(TestTarvelSerialPrompt)
#include "test_tarvel_serial_prompt.moc"
