#include "tarvel/dialog/DataExchange.h"

#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include <vector>

QWidget* CDataExchange::Control(int nIDC) const
{
    return m_pDlgWnd->GetDlgItem(nIDC);
}

namespace
{
// The radio buttons of the group whose first button is nIDC, in template order: that button
// and the radio buttons after it up to the next control that starts a group.
std::vector<QRadioButton*> RadioGroup(const CDialogControls& dlg, int nIDC)
{
    std::vector<QRadioButton*> group;
    const DialogTemplate* pTemplate = dlg.GetTemplate();
    if (!pTemplate)
        return group;
    bool bInGroup = false;
    for (const DialogItem& item : pTemplate->arrItems)
    {
        if (!bInGroup)
        {
            bInGroup = item.nId == nIDC;
        }
        else if (item.eKind != EControlKind::AutoRadio || (item.dwStyle & CS_GROUP))
        {
            break;
        }
        if (bInGroup)
        {
            if (auto* pRadio = qobject_cast<QRadioButton*>(dlg.GetDlgItem(item.nId)))
                group.push_back(pRadio);
        }
    }
    return group;
}
} // namespace

void DDX_Radio(CDataExchange* pDX, int nIDC, int& nValue)
{
    const std::vector<QRadioButton*> group = RadioGroup(*pDX->m_pDlgWnd, nIDC);
    if (pDX->m_bSaveAndValidate)
    {
        nValue = -1;
        for (std::size_t i = 0; i < group.size(); ++i)
        {
            if (group[i]->isChecked())
                nValue = static_cast<int>(i);
        }
        return;
    }
    for (std::size_t i = 0; i < group.size(); ++i)
    {
        // Exclusive buttons cannot be unchecked directly, which "none checked" needs.
        const bool bExclusive = group[i]->autoExclusive();
        group[i]->setAutoExclusive(false);
        group[i]->setChecked(static_cast<int>(i) == nValue);
        group[i]->setAutoExclusive(bExclusive);
    }
}

void DDX_Text(CDataExchange* pDX, int nIDC, QString& strValue)
{
    QWidget* pControl = pDX->Control(nIDC);
    if (auto* pLabel = qobject_cast<QLabel*>(pControl))
    {
        if (pDX->m_bSaveAndValidate)
            strValue = pLabel->text();
        else
            pLabel->setText(strValue);
    }
    else if (auto* pEdit = qobject_cast<QLineEdit*>(pControl))
    {
        if (pDX->m_bSaveAndValidate)
            strValue = pEdit->text();
        else
            pEdit->setText(strValue);
    }
}
