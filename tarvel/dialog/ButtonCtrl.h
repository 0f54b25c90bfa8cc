#pragma once
// Check boxes and radio buttons that behave like the dialog's original controls: a click
// anywhere in the control's rectangle acts on it, and a three-state box cycles unchecked,
// checked, indeterminate, unchecked.
#include <QCheckBox>
#include <QRadioButton>

class CCheckBoxCtrl : public QCheckBox
{
    Q_OBJECT
public:
    explicit CCheckBoxCtrl(const QString& strText, QWidget* pParent = nullptr);

protected:
    void nextCheckState() override;
    bool hitButton(const QPoint& pos) const override;
};

class CRadioButtonCtrl : public QRadioButton
{
    Q_OBJECT
public:
    explicit CRadioButtonCtrl(const QString& strText, QWidget* pParent = nullptr);

protected:
    bool hitButton(const QPoint& pos) const override;
};
