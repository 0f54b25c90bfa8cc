#include "tarvel/dialog/DialogBuilder.h"

#include "tarvel/dialog/ButtonCtrl.h"
#include "tarvel/dialog/ComboBoxCtrl.h"
#include "tarvel/dialog/IpAddressCtrl.h"
#include "tarvel/res/AppIcon.h"
#include "tarvel/res/ControlIds.h"

#include <QAbstractItemView>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cstdlib>

namespace
{
constexpr char CTRL_ID_PROPERTY[] = "dlgCtrlID";

// Faces the templates name that this platform does not have, and what stands in for them.
struct FontFallback
{
    const char* pszFace;
    const char* pszFallback;
};
constexpr FontFallback FONT_FALLBACKS[] = {
    {"MS Sans Serif", "DejaVu Sans"},
    {"MS Shell Dlg", "DejaVu Sans"},
};

Qt::Alignment TextAlignment(std::uint32_t dwStyle)
{
    return (dwStyle & CS_CENTER ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop;
}

QWidget* MakeControl(const DialogItem& item, const QRect& rcPixels, QDialog* pDialog)
{
    const QString strCaption = QString::fromUtf8(item.pszCaption);
    switch (item.eKind)
    {
    case EControlKind::GroupBox:
    {
        auto* pGroup = new QGroupBox(strCaption, pDialog);
        // A frame only: clicks go through to the controls it surrounds.
        pGroup->setAttribute(Qt::WA_TransparentForMouseEvents);
        pGroup->setFocusPolicy(Qt::NoFocus);
        return pGroup;
    }
    case EControlKind::Static:
    {
        auto* pLabel = new QLabel(strCaption, pDialog);
        pLabel->setTextFormat(Qt::PlainText);
        pLabel->setAlignment(TextAlignment(item.dwStyle));
        if (item.dwStyle & CS_SUNKEN)
            pLabel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        return pLabel;
    }
    case EControlKind::Icon:
    {
        auto* pLabel = new QLabel(pDialog);
        pLabel->setPixmap(LoadAppIcon().pixmap(32, 32));
        pLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return pLabel;
    }
    case EControlKind::PushButton:
    case EControlKind::DefPushButton:
    {
        auto* pButton = new QPushButton(strCaption, pDialog);
        pButton->setDefault(item.eKind == EControlKind::DefPushButton);
        return pButton;
    }
    case EControlKind::AutoCheckBox:
    case EControlKind::Auto3State:
    {
        auto* pBox = new CCheckBoxCtrl(strCaption, pDialog);
        pBox->setTristate(item.eKind == EControlKind::Auto3State);
        return pBox;
    }
    case EControlKind::AutoRadio:
        return new CRadioButtonCtrl(strCaption, pDialog);
    case EControlKind::Edit:
    {
        auto* pEdit = new QLineEdit(strCaption, pDialog);
        pEdit->setAlignment((item.dwStyle & CS_CENTER ? Qt::AlignHCenter : Qt::AlignLeft) |
                            Qt::AlignVCenter);
        pEdit->setFrame(item.dwStyle & CS_BORDER);
        return pEdit;
    }
    case EControlKind::DropDownList:
    {
        auto* pCombo = new CComboBoxCtrl(item.dwStyle & CS_SORT, pDialog);
        // The template's height is the height of the dropped-down list.
        const int nRowHeight = pCombo->fontMetrics().height() + 2;
        const int nClosed = pCombo->sizeHint().height();
        pCombo->setMaxVisibleItems(std::max(1, (rcPixels.height() - nClosed) / nRowHeight));
        if (!(item.dwStyle & CS_VSCROLL))
            pCombo->view()->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        return pCombo;
    }
    case EControlKind::IpAddress:
        return new CIPAddressCtrl(pDialog);
    }
    return nullptr;
}

// The rectangle a control really takes: a drop-down list shows only its selection field, an
// icon its image.
QRect ControlGeometry(const DialogItem& item, const QRect& rcPixels, const QWidget* pWidget)
{
    if (item.eKind == EControlKind::DropDownList)
        return QRect(
            rcPixels.topLeft(),
            QSize(rcPixels.width(), std::min(rcPixels.height(), pWidget->sizeHint().height())));
    if (item.eKind == EControlKind::Icon)
        return QRect(rcPixels.topLeft(), QSize(32, 32));
    return rcPixels;
}
} // namespace

int MulDiv(int nNumber, int nNumerator, int nDenominator)
{
    if (nDenominator == 0)
        return -1;
    const long long llProduct = static_cast<long long>(nNumber) * nNumerator;
    const bool bNegative = (llProduct < 0) != (nDenominator < 0);
    const long long llDen = std::llabs(static_cast<long long>(nDenominator));
    const long long llResult = (std::llabs(llProduct) + llDen / 2) / llDen;
    return static_cast<int>(bNegative ? -llResult : llResult);
}

QFont CDialogBuilder::TemplateFont(const DialogTemplate& dlgTemplate)
{
    for (const FontFallback& fallback : FONT_FALLBACKS)
    {
        if (QFont::substitutes(QString::fromUtf8(fallback.pszFace)).isEmpty())
            QFont::insertSubstitution(QString::fromUtf8(fallback.pszFace),
                                      QString::fromUtf8(fallback.pszFallback));
    }
    QFont font(QString::fromUtf8(dlgTemplate.pszFontFace));
    font.setPointSize(dlgTemplate.nPointSize);
    return font;
}

DialogBaseUnits CDialogBuilder::BaseUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int nLetters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(nLetters / 26 + 1) / 2, metrics.height()};
}

QRect CDialogBuilder::MapDialogRect(const QRect& rcUnits, const DialogBaseUnits& units)
{
    return QRect(MulDiv(rcUnits.x(), units.nCx, 4), MulDiv(rcUnits.y(), units.nCy, 8),
                 MulDiv(rcUnits.width(), units.nCx, 4), MulDiv(rcUnits.height(), units.nCy, 8));
}

std::vector<QWidget*> CDialogBuilder::Build(const DialogTemplate& dlgTemplate, QDialog* pDialog)
{
    const QFont font = TemplateFont(dlgTemplate);
    const DialogBaseUnits units = BaseUnits(font);

    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint;
    if (dlgTemplate.dwStyle & DLS_CAPTION)
        flags |= Qt::WindowTitleHint;
    if (dlgTemplate.dwStyle & DLS_SYSMENU)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    pDialog->setWindowFlags(flags);
    pDialog->setWindowTitle(QString::fromUtf8(dlgTemplate.pszCaption));
    pDialog->setFont(font);
    pDialog->setFixedSize(
        MapDialogRect(QRect(0, 0, dlgTemplate.nCx, dlgTemplate.nCy), units).size());

    std::vector<QWidget*> controls;
    QWidget* pPrevious = nullptr;
    for (const DialogItem& item : dlgTemplate.arrItems)
    {
        const QRect rcPixels = MapDialogRect(QRect(item.nX, item.nY, item.nCx, item.nCy), units);
        QWidget* pWidget = MakeControl(item, rcPixels, pDialog);
        pWidget->setProperty(CTRL_ID_PROPERTY, item.nId);
        pWidget->setGeometry(ControlGeometry(item, rcPixels, pWidget));
        if (item.eKind == EControlKind::GroupBox)
            pWidget->lower();
        if (pWidget->focusPolicy() & Qt::TabFocus)
        {
            if (!(item.dwStyle & CS_TABSTOP) && item.eKind != EControlKind::AutoRadio)
                pWidget->setFocusPolicy(Qt::ClickFocus);
            if (pPrevious)
                QWidget::setTabOrder(pPrevious, pWidget);
            pPrevious = pWidget;
        }
        controls.push_back(pWidget);
    }
    return controls;
}

int CDialogBuilder::GetDlgCtrlID(const QWidget* pWidget)
{
    const QVariant id = pWidget ? pWidget->property(CTRL_ID_PROPERTY) : QVariant();
    return id.isValid() ? id.toInt() : IDC_STATIC;
}
