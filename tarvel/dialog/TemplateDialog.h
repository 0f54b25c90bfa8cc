#pragma once
// A dialog made from a template (res/DialogTemplate.h): OnInitDialog makes the controls and
// runs the first data exchange; OK, Cancel, Escape and the close box end it through OnOK and
// OnCancel; the context menu stands in for the window's system menu, whose commands arrive as
// SysCommand.
#include "tarvel/dialog/DataExchange.h"
#include "tarvel/res/DialogTemplate.h"

#include <QDialog>

#include <map>
#include <vector>

class QMenu;

class CTemplateDialog : public QDialog, public CDialogControls
{
    Q_OBJECT
public:
    explicit CTemplateDialog(int nIDTemplate, QWidget* pParent = nullptr);
    ~CTemplateDialog() override;

    // Makes the dialog (once) and runs it modally; returns the value given to EndDialog.
    int DoModal();
    // Makes the controls and runs OnInitDialog, without showing the dialog; false when the
    // template does not exist. Later calls do nothing and return true.
    bool Create();

    const DialogTemplate* GetTemplate() const override { return m_pTemplate; }
    // The control with this ID, null when there is none (or for IDC_STATIC).
    QWidget* GetDlgItem(int nID) const override;
    // Every control in template order.
    const std::vector<QWidget*>& GetControls() const { return m_vecControls; }
    // The system menu, null for a template without one or before the controls exist.
    QMenu* GetSystemMenu() const { return m_pSysMenu; }

    // Controls to members (true) or members to controls (false), through DoDataExchange.
    bool UpdateData(bool bSaveAndValidate = true);
    void EndDialog(int nResult);

    // Escape and the close box come here (QDialog's reject), as does accept.
    void accept() override;
    void reject() override;

signals:
    // A command chosen from the system menu (SC_CLOSE, IDM_ABOUTBOX, ...).
    void SysCommand(unsigned nID, quintptr lParam);

protected:
    // Makes the controls and pushes the members into them; derived dialogs call it first.
    virtual bool OnInitDialog();
    virtual void DoDataExchange(CDataExchange* pDX);
    // Take the controls into the members, then end with IDOK.
    virtual void OnOK();
    // End with IDCANCEL.
    virtual void OnCancel();
    // What the window does with a system command that no handler takes.
    void DefaultSysCommand(unsigned nID);

    void contextMenuEvent(QContextMenuEvent* pEvent) override;

private:
    void OnSystemMenuTriggered(unsigned nID);

    const DialogTemplate* m_pTemplate;
    std::vector<QWidget*> m_vecControls;
    std::map<int, QWidget*> m_byId;
    QMenu* m_pSysMenu = nullptr;
    bool m_bCreated = false;
};
