#include "dialog/AboutDlg.h"

#include "res/ControlIds.h"

CAboutDlg::CAboutDlg(QWidget* pParent) : CTemplateDialog(IDD_ABOUTBOX, pParent) {}
