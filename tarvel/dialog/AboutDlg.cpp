#include "tarvel/dialog/AboutDlg.h"

#include "tarvel/res/ControlIds.h"

CAboutDlg::CAboutDlg(QWidget* pParent) : CTemplateDialog(IDD_ABOUTBOX, pParent) {}
