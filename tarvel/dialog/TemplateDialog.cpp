#include "tarvel/dialog/TemplateDialog.h"

#include "tarvel/dialog/DialogBuilder.h"
#include "tarvel/res/ControlIds.h"

#include <QAbstractButton>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMetaMethod>

CTemplateDialog::CTemplateDialog(int nIDTemplate, QWidget* pParent)
    : QDialog(pParent), m_pTemplate(FindDialogTemplate(nIDTemplate))
{
}

CTemplateDialog::~CTemplateDialog() = default;

int CTemplateDialog::DoModal()
{
    if (!Create())
        return -1;
    return exec();
}

bool CTemplateDialog::Create()
{
    if (m_bCreated)
        return true;
    if (!m_pTemplate)
        return false;
    m_bCreated = true;
    OnInitDialog();
    return true;
}

QWidget* CTemplateDialog::GetDlgItem(int nID) const
{
    const auto it = m_byId.find(nID);
    return it == m_byId.end() ? nullptr : it->second;
}

bool CTemplateDialog::UpdateData(bool bSaveAndValidate)
{
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return true;
}

void CTemplateDialog::EndDialog(int nResult)
{
    done(nResult);
}

void CTemplateDialog::accept()
{
    OnOK();
}

void CTemplateDialog::reject()
{
    OnCancel();
}

bool CTemplateDialog::OnInitDialog()
{
    m_vecControls = CDialogBuilder::Build(*m_pTemplate, this);
    for (QWidget* pControl : m_vecControls)
    {
        const int nId = CDialogBuilder::GetDlgCtrlID(pControl);
        if (nId != IDC_STATIC)
            m_byId.emplace(nId, pControl);
    }
    // Every dialog's OK and Cancel buttons end it through the virtual handlers.
    if (auto* pOk = qobject_cast<QAbstractButton*>(GetDlgItem(IDOK)))
        connect(pOk, &QAbstractButton::clicked, this, [this] { OnOK(); });
    if (auto* pCancel = qobject_cast<QAbstractButton*>(GetDlgItem(IDCANCEL)))
        connect(pCancel, &QAbstractButton::clicked, this, [this] { OnCancel(); });
    if (m_pTemplate->dwStyle & DLS_SYSMENU)
    {
        m_pSysMenu = new QMenu(this);
        QAction* pClose = m_pSysMenu->addAction(tr("&Close"));
        pClose->setData(SC_CLOSE);
        connect(m_pSysMenu, &QMenu::triggered, this,
                [this](QAction* pAction) { OnSystemMenuTriggered(pAction->data().toUInt()); });
    }
    UpdateData(false);
    return true;
}

void CTemplateDialog::DoDataExchange(CDataExchange* /*pDX*/) {}

void CTemplateDialog::OnOK()
{
    UpdateData(true);
    EndDialog(IDOK);
}

void CTemplateDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

void CTemplateDialog::DefaultSysCommand(unsigned nID)
{
    if ((nID & 0xFFF0) == SC_CLOSE)
        close();
}

void CTemplateDialog::contextMenuEvent(QContextMenuEvent* pEvent)
{
    if (m_pSysMenu)
        m_pSysMenu->popup(pEvent->globalPos());
}

void CTemplateDialog::OnSystemMenuTriggered(unsigned nID)
{
    if (isSignalConnected(QMetaMethod::fromSignal(&CTemplateDialog::SysCommand)))
        emit SysCommand(nID, 0);
    else
        DefaultSysCommand(nID);
}
