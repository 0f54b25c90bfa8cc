#pragma once
// A drop-down list with the list-box operations the dialog uses: entries that stay sorted as
// text when asked to, an owner pointer per entry, and a selection that only the program or the
// user sets (adding entries never selects one).
#include <QComboBox>

class CComboBoxCtrl : public QComboBox
{
    Q_OBJECT
public:
    explicit CComboBoxCtrl(bool bSorted, QWidget* pParent = nullptr);

    // Adds an entry, in its sorted place when the list is sorted (case-insensitive text order,
    // so "Device 10" comes before "Device 2"), else at the end. Returns its index.
    int AddString(const QString& strText);
    int GetCount() const { return count(); }
    int GetCurSel() const { return currentIndex(); } // -1 when nothing is selected
    void SetCurSel(int nIndex) { setCurrentIndex(nIndex); }
    // The pointer attached to an entry; null for an index out of range.
    void* GetItemDataPtr(int nIndex) const;
    void SetItemDataPtr(int nIndex, void* pData);
    void ResetContent() { clear(); }
    bool IsSorted() const { return m_bSorted; }

private:
    bool m_bSorted;
};
