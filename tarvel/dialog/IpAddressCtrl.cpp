#include "tarvel/dialog/IpAddressCtrl.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>

namespace
{
// 0 to 255 without leading zeros, or blank.
const QRegularExpression OCTET(QStringLiteral("^(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])?$"));
} // namespace

CIPAddressCtrl::CIPAddressCtrl(QWidget* pParent) : QFrame(pParent)
{
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
    auto* pLayout = new QHBoxLayout(this);
    pLayout->setContentsMargins(2, 1, 2, 1);
    pLayout->setSpacing(0);
    auto* pValidator = new QRegularExpressionValidator(OCTET, this);
    for (int i = 0; i < 4; ++i)
    {
        if (i > 0)
        {
            auto* pDot = new QLabel(QStringLiteral("."), this);
            pDot->setAlignment(Qt::AlignCenter);
            pLayout->addWidget(pDot);
        }
        auto* pField = new QLineEdit(this);
        pField->setFrame(false);
        pField->setAlignment(Qt::AlignCenter);
        pField->setMaxLength(3);
        pField->setValidator(pValidator);
        pField->installEventFilter(this);
        connect(pField, &QLineEdit::textEdited, this, [this, i] { OnFieldEdited(i); });
        pLayout->addWidget(pField, 1);
        m_edFields[i] = pField;
        if (i > 0)
            setTabOrder(m_edFields[i - 1], pField);
    }
    setFocusProxy(m_edFields[0]);
    setFocusPolicy(Qt::StrongFocus);
}

void CIPAddressCtrl::SetAddress(std::uint32_t dwAddress)
{
    for (int i = 0; i < 4; ++i)
        m_edFields[i]->setText(QString::number((dwAddress >> (24 - 8 * i)) & 0xFF));
}

int CIPAddressCtrl::GetAddress(std::uint32_t& dwAddress) const
{
    dwAddress = 0;
    int nFilled = 0;
    for (int i = 0; i < 4; ++i)
    {
        const QString strField = m_edFields[i]->text();
        if (!strField.isEmpty())
            ++nFilled;
        dwAddress = (dwAddress << 8) | (strField.toUInt() & 0xFF);
    }
    return nFilled;
}

void CIPAddressCtrl::ClearAddress()
{
    for (QLineEdit* pField : m_edFields)
        pField->clear();
}

bool CIPAddressCtrl::IsBlank() const
{
    std::uint32_t dwAddress = 0;
    return GetAddress(dwAddress) == 0;
}

QString CIPAddressCtrl::GetWindowText() const
{
    std::uint32_t dwAddress = 0;
    GetAddress(dwAddress);
    return QStringLiteral("%1.%2.%3.%4")
        .arg(dwAddress >> 24)
        .arg((dwAddress >> 16) & 0xFF)
        .arg((dwAddress >> 8) & 0xFF)
        .arg(dwAddress & 0xFF);
}

void CIPAddressCtrl::OnFieldEdited(int nField)
{
    // A full field moves on to the next one, as typing an address expects.
    if (m_edFields[nField]->text().size() == 3 && nField < 3)
    {
        m_edFields[nField + 1]->setFocus();
        m_edFields[nField + 1]->selectAll();
    }
}

bool CIPAddressCtrl::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    if (pEvent->type() != QEvent::KeyPress)
        return QFrame::eventFilter(pWatched, pEvent);
    const auto* pKey = static_cast<QKeyEvent*>(pEvent);
    for (int i = 0; i < 4; ++i)
    {
        if (pWatched != m_edFields[i])
            continue;
        // A dot ends the field; Backspace at the start of a field goes back to the previous.
        if (pKey->text() == QLatin1String(".") && i < 3)
        {
            if (!m_edFields[i]->text().isEmpty())
            {
                m_edFields[i + 1]->setFocus();
                m_edFields[i + 1]->selectAll();
            }
            return true;
        }
        if (pKey->key() == Qt::Key_Backspace && i > 0 && m_edFields[i]->cursorPosition() == 0 &&
            !m_edFields[i]->hasSelectedText())
        {
            m_edFields[i - 1]->setFocus();
            m_edFields[i - 1]->end(false);
            return true;
        }
    }
    return QFrame::eventFilter(pWatched, pEvent);
}
