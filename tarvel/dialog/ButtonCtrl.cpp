#include "tarvel/dialog/ButtonCtrl.h"

CCheckBoxCtrl::CCheckBoxCtrl(const QString& strText, QWidget* pParent) : QCheckBox(strText, pParent)
{
}

void CCheckBoxCtrl::nextCheckState()
{
    if (!isTristate())
    {
        QCheckBox::nextCheckState();
        return;
    }
    // Qt's own order is unchecked, indeterminate, checked; the board's users expect this one.
    switch (checkState())
    {
    case Qt::Unchecked:
        setCheckState(Qt::Checked);
        break;
    case Qt::Checked:
        setCheckState(Qt::PartiallyChecked);
        break;
    case Qt::PartiallyChecked:
        setCheckState(Qt::Unchecked);
        break;
    }
}

bool CCheckBoxCtrl::hitButton(const QPoint& pos) const
{
    return rect().contains(pos);
}

CRadioButtonCtrl::CRadioButtonCtrl(const QString& strText, QWidget* pParent)
    : QRadioButton(strText, pParent)
{
}

bool CRadioButtonCtrl::hitButton(const QPoint& pos) const
{
    return rect().contains(pos);
}
