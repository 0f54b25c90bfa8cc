#include "tarvel/bootloader/SerialNum.h"

#include "tarvel/res/ControlIds.h"

SerialNum::SerialNum(QWidget* pParent) : CTemplateDialog(IDD_SERIALNUM, pParent) {}

void SerialNum::DoDataExchange(CDataExchange* pDX)
{
    CTemplateDialog::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_SERIALNUM_EDIT, m_strSerial);
}

bool SerialNum::OnInitDialog()
{
    CTemplateDialog::OnInitDialog(); // makes the controls and fills them from the members
    // The first tab stop, OK, has the focus; Enter in the edit presses OK too.
    if (QWidget* pOk = GetDlgItem(IDOK))
        pOk->setFocus();
    return true;
}

void SerialNum::OnOK()
{
    CTemplateDialog::OnOK();
}

void SerialNum::OnCancel()
{
    CTemplateDialog::OnCancel();
}
