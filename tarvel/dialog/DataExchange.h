#pragma once
// Data exchange between a dialog's controls and its members, in the order the dialog's
// DoDataExchange lists them: binding control members once, and moving values either way.
#include "tarvel/res/DialogTemplate.h"

#include <QString>

class QWidget;

// What data exchange needs of a dialog (CTemplateDialog gives it): its template, for the order
// and styles of the controls, and each control by ID.
class CDialogControls
{
public:
    virtual const DialogTemplate* GetTemplate() const = 0;
    virtual QWidget* GetDlgItem(int nID) const = 0;

protected:
    ~CDialogControls() = default;
};

class CDataExchange
{
public:
    CDataExchange(const CDialogControls* pDlgWnd, bool bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd)
    {
    }

    bool m_bSaveAndValidate; // true: controls to members; false: members to controls
    const CDialogControls* m_pDlgWnd;

    QWidget* Control(int nIDC) const;
};

// Binds a control member to the control with this ID (once; a control of another kind is not
// bound and leaves the member null).
template <class TCtrl> void DDX_Control(CDataExchange* pDX, int nIDC, TCtrl*& pCtrl)
{
    if (!pCtrl)
        pCtrl = qobject_cast<TCtrl*>(pDX->Control(nIDC));
}

// The index of the checked button of the radio group that starts at nIDC (-1 for none).
void DDX_Radio(CDataExchange* pDX, int nIDC, int& nValue);

// The text of a label or an edit.
void DDX_Text(CDataExchange* pDX, int nIDC, QString& strValue);
