#pragma once
// The serial-number prompt (template 129), asked for by discovery when a board waits in its
// bootloader without a valid serial number in its boot block. The entered text is handed to
// CBootLoader::WriteSerNo as it stands: the prompt checks neither length nor characters.
#include "tarvel/dialog/TemplateDialog.h"

#include <QString>

class SerialNum : public CTemplateDialog
{
    Q_OBJECT
public:
    // Parent may be none; the text starts empty.
    explicit SerialNum(QWidget* pParent = nullptr);

    QString m_strSerial; // the text of edit 1041

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    // Fills the controls from the members; the focus starts on OK, the first tab stop.
    bool OnInitDialog() override;
    // Takes the edit's text into m_strSerial, then ends with IDOK.
    void OnOK() override;
    // Ends with IDCANCEL; m_strSerial keeps what it held.
    void OnCancel() override;
};
