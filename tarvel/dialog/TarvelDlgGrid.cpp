// CTarvelDlg: the grid of 40 bit boxes, its four views, the Set and Clear buttons and polling.
#include "tarvel/dialog/TarvelDlg.h"

#include "tarvel/dialog/ButtonCtrl.h"
#include "tarvel/res/ControlIds.h"
#include "tarvel/res/DialogTemplate.h"

#include <algorithm>
#include <cstdio>

namespace
{
enum EView
{
    VIEW_PORT_BITS = 0,
    VIEW_PORT_DIRECTION = 1,
    VIEW_INPUT_POLARITY = 2,
    VIEW_ANALOG_INPUTS = 3,
};

// The message line of each view: what a check mark means there.
constexpr const char* VIEW_MESSAGES[] = {
    "When checked I/O pins are high - Inverted inputs are low",
    "When checked I/O pin is an input",
    "When checked input is inverted",
    "When checked I/O pin is analog input",
};

// Analog input count to the run of channels E0 up to E(count - 1).
constexpr std::uint8_t ANALOG_MASKS[] = {0x00, 0x01, 0x03, 0x07, 0x0F};

// The boxes that D5 to D7 would be: not pins of the boards.
bool IsMissingPin(int nPort, int nBit)
{
    return nPort == PORT_D && nBit >= 5;
}

// Highest bit of port D that Set and Clear touch.
int LastBit(int nPort)
{
    return nPort == PORT_D ? 4 : 7;
}

// A reading as the caption shows it: "%04x" of the 16-bit value taken as signed, so 0x8000 and
// above print as eight digits.
QString ReadingText(std::uint16_t wReading)
{
    char szText[16];
    std::snprintf(szText, sizeof szText, "%04x",
                  static_cast<unsigned>(static_cast<int>(static_cast<std::int16_t>(wReading))));
    return QString::fromLatin1(szText);
}
} // namespace

CCheckBoxCtrl* CTarvelDlg::BitBox(int nPort, int nBit) const
{
    // m_chkBits runs from E7 down to E0, then from D7 down to A0.
    const int nIndex = nPort == PORT_E ? 7 - nBit : BIT_BOXES - 1 - (8 * nPort + nBit);
    return m_chkBits[nIndex];
}

void CTarvelDlg::SetGrid(const PortBytes& byPorts)
{
    for (int nPort = PORT_A; nPort < PORT_COUNT; ++nPort)
    {
        for (int nBit = 0; nBit < 8; ++nBit)
            BitBox(nPort, nBit)
                ->setCheckState(byPorts[nPort] & (1u << nBit) ? Qt::Checked : Qt::Unchecked);
    }
}

void CTarvelDlg::EnableGrid(const PortBytes& byDisabled)
{
    for (int nPort = PORT_A; nPort < PORT_COUNT; ++nPort)
    {
        for (int nBit = 0; nBit < 8; ++nBit)
        {
            const bool bDisabled = (byDisabled[nPort] & (1u << nBit)) || IsMissingPin(nPort, nBit);
            BitBox(nPort, nBit)->setEnabled(!bDisabled);
        }
    }
}

PortBytes CTarvelDlg::GridToBytes() const
{
    PortBytes byPorts{};
    for (int nPort = PORT_A; nPort < PORT_COUNT; ++nPort)
    {
        for (int nBit = 0; nBit < 8; ++nBit)
        {
            // The indeterminate state of E0 to E3 counts as 0.
            if (BitBox(nPort, nBit)->checkState() == Qt::Checked)
                byPorts[nPort] |= static_cast<std::uint8_t>(1u << nBit);
        }
    }
    return byPorts;
}

void CTarvelDlg::ResetAnalogCaptions(int nFirst)
{
    const DialogTemplate* pTemplate = GetTemplate();
    for (int nChannel = nFirst; nChannel < ANALOG_CHANNELS; ++nChannel)
    {
        const DialogItem* pItem = FindDialogItem(*pTemplate, BitBoxId(PORT_E, nChannel));
        BitBox(PORT_E, nChannel)->setText(QString::fromUtf8(pItem->pszCaption));
    }
}

void CTarvelDlg::OnPortBits()
{
    SwitchView(VIEW_PORT_BITS);
}

void CTarvelDlg::OnPortDirection()
{
    SwitchView(VIEW_PORT_DIRECTION);
}

void CTarvelDlg::OnInputPolarity()
{
    SwitchView(VIEW_INPUT_POLARITY);
}

void CTarvelDlg::OnAnalogInputs()
{
    SwitchView(VIEW_ANALOG_INPUTS);
}

void CTarvelDlg::SwitchView(int nView)
{
    m_nView = nView;
    m_strMessage = QString::fromUtf8(VIEW_MESSAGES[nView]);
    UpdateData(false);
    RefreshView();
}

void CTarvelDlg::RefreshView()
{
    const bool bDevice = m_pDevice != nullptr;
    PortBytes byPorts{};
    switch (m_nView)
    {
    case VIEW_PORT_BITS:
        ReadPorts(byPorts, bDevice);
        ReadDirections(byPorts, false);
        if (bDevice)
            EnableGrid(byPorts); // only outputs can be clicked
        break;
    case VIEW_PORT_DIRECTION:
        byPorts = {0, 0, 0, 0, m_nAnalogMask}; // analog channels are not digital pins
        EnableGrid(byPorts);
        ReadDirections(byPorts, bDevice);
        break;
    case VIEW_INPUT_POLARITY:
        byPorts = {0, 0, 0, 0, 0xFF};
        EnableGrid(byPorts);
        ReadInversions(byPorts, false);
        byPorts[PORT_E] = 0;
        if (bDevice)
            SetGrid(byPorts);
        break;
    case VIEW_ANALOG_INPUTS:
        ReadInversions(byPorts, false);
        if (!bDevice)
            break;
        byPorts[PORT_A] = byPorts[PORT_B] = byPorts[PORT_C] = byPorts[PORT_D] = 0;
        if (byPorts[PORT_E] < std::size(ANALOG_MASKS))
            byPorts[PORT_E] = ANALOG_MASKS[byPorts[PORT_E]];
        SetGrid(byPorts);
        EnableGrid({0xFF, 0xFF, 0xFF, 0xFF, 0xF0});
        break;
    default:
        break;
    }
}

void CTarvelDlg::OnBitClicked()
{
    PortBytes byPorts = GridToBytes();
    UpdateData(true);
    switch (m_nView)
    {
    case VIEW_PORT_BITS:
        WritePorts(byPorts);
        break;
    case VIEW_PORT_DIRECTION:
        WriteDirections(byPorts);
        break;
    case VIEW_INPUT_POLARITY:
        WriteInversions(byPorts);
        break;
    case VIEW_ANALOG_INPUTS:
    {
        // The channels are always a run from E0 up to the highest box checked.
        int nCount = 0;
        for (int nChannel = ANALOG_CHANNELS - 1; nChannel >= 0; --nChannel)
        {
            if (byPorts[PORT_E] & (1u << nChannel))
            {
                nCount = nChannel + 1;
                break;
            }
        }
        const std::uint8_t byMask = ANALOG_MASKS[nCount];
        ResetAnalogCaptions(nCount);
        m_nAnalogMask = byMask;
        if (byMask != 0 && m_nTimer == 0)
            m_nTimer = SetTimer(TIMER_POLL, POLL_PERIOD_MS);
        SetGrid({0, 0, 0, 0, byMask});
        WriteAnalogCount(nCount);
        break;
    }
    default:
        break;
    }
}

void CTarvelDlg::OnSetPort(int nPort)
{
    for (int nBit = 0; nBit <= LastBit(nPort); ++nBit)
        BitBox(nPort, nBit)->setCheckState(Qt::Checked);
    OnBitClicked();
}

void CTarvelDlg::OnClearPort(int nPort)
{
    for (int nBit = 0; nBit <= LastBit(nPort); ++nBit)
        BitBox(nPort, nBit)->setCheckState(Qt::Unchecked);
    OnBitClicked();
}

void CTarvelDlg::OnTimer(int /*nIDEvent*/)
{
    if (m_nView == VIEW_PORT_BITS)
    {
        PortBytes byPorts{};
        ReadPorts(byPorts, true);
    }
    if (m_nAnalogMask != 0)
    {
        std::array<std::uint16_t, ANALOG_CHANNELS> wReadings{};
        const int nChannels = std::min(ReadAnalog(wReadings), ANALOG_CHANNELS);
        for (int nChannel = 0; nChannel < nChannels; ++nChannel)
            BitBox(PORT_E, nChannel)->setText(ReadingText(wReadings[nChannel]));
    }
}

void CTarvelDlg::LoadAnalogMask()
{
    m_nAnalogMask = 0;
    PortBytes byPorts{0, 0, 0, 0, 0xFF};
    ReadInversions(byPorts, false);
    const std::uint8_t byCount = byPorts[PORT_E];
    if (byCount >= 1 && byCount <= ANALOG_CHANNELS)
        m_nAnalogMask = ANALOG_MASKS[byCount];
}

void CTarvelDlg::ApplyPollingRule(const PortBytes& byDirections)
{
    const bool bAnyInput = std::any_of(byDirections.begin(), byDirections.end(),
                                       [](std::uint8_t by) { return by != 0; });
    if (bAnyInput)
    {
        if (m_nTimer == 0)
            m_nTimer = SetTimer(TIMER_POLL, POLL_PERIOD_MS);
    }
    else
    {
        KillTimer(m_nTimer);
        m_nTimer = 0;
    }
}

int CTarvelDlg::SetTimer(int nIDEvent, int nElapse)
{
    m_tmrPoll.start(nElapse);
    return nIDEvent;
}

void CTarvelDlg::KillTimer(int /*nIDEvent*/)
{
    m_tmrPoll.stop();
}
