#pragma once
// The about box (template 100): the icon, "Tarvel Version 1.0", a second line and OK.
#include "tarvel/dialog/TemplateDialog.h"

class CAboutDlg : public CTemplateDialog
{
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* pParent = nullptr);
};
