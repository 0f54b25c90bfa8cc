#include "tarvel/dialog/ComboBoxCtrl.h"

CComboBoxCtrl::CComboBoxCtrl(bool bSorted, QWidget* pParent)
    : QComboBox(pParent), m_bSorted(bSorted)
{
}

int CComboBoxCtrl::AddString(const QString& strText)
{
    int nIndex = count();
    if (m_bSorted)
    {
        nIndex = 0;
        while (nIndex < count() &&
               QString::compare(itemText(nIndex), strText, Qt::CaseInsensitive) <= 0)
            ++nIndex;
    }
    const bool bWasEmpty = count() == 0;
    insertItem(nIndex, strText);
    // Qt selects the first entry of an empty list by itself; the dialog selects explicitly.
    if (bWasEmpty)
        setCurrentIndex(-1);
    return nIndex;
}

void* CComboBoxCtrl::GetItemDataPtr(int nIndex) const
{
    if (nIndex < 0 || nIndex >= count())
        return nullptr;
    return reinterpret_cast<void*>(itemData(nIndex).value<quintptr>());
}

void CComboBoxCtrl::SetItemDataPtr(int nIndex, void* pData)
{
    setItemData(nIndex, QVariant::fromValue(reinterpret_cast<quintptr>(pData)));
}
