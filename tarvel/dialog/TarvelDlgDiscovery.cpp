// CTarvelDlg: finding the attached boards, listing them and showing the selected one.
#include "tarvel/dialog/TarvelDlg.h"

#include "firmware/BoardRecord.h"
#include "tarvel/dialog/ButtonCtrl.h"
#include "tarvel/dialog/ComboBoxCtrl.h"
#include "tarvel/net/ClientSocket.h"

#include "protocol/DebugOutput.h"
#include "protocol/Enumeration.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopedValueRollback>

#include <utility>

namespace
{
constexpr char DEVICE_ENTRY[] = "Device %d";
constexpr char FIRMWARE_LINE[] = "FirmVer. %s  Dev ID - %d";
// The oldest firmware that can be updated from the tool.
constexpr std::uint16_t UPDATABLE_VERSION = 0x0103;

struct DeviceChangeLine
{
    unsigned nEventType;
    const char* pszLine;
};
constexpr DeviceChangeLine DEVICE_CHANGE_LINES[] = {
    {DBT_DEVNODES_CHANGED, "Device Node changed\n"},
    {DBT_DEVICEARRIVAL, "Device Arrival\n"},
    {DBT_DEVICEQUERYREMOVE, "Device query remove\n"},
    {DBT_DEVICEREMOVECOMPLETE, "Device remove complete\n"},
    {DBT_USERDEFINED, "User defined\n"},
};
} // namespace

void CTarvelDlg::RefreshDeviceList()
{
    // Device changes delivered through the serial-number prompt's message loop find a rebuild
    // running: they are held, and the rebuild runs once more when it has ended, never inside
    // itself.
    if (m_bRebuilding)
    {
        m_bDeviceChangeHeld = true;
        return;
    }
    const QScopedValueRollback rebuilding(m_bRebuilding, true);
    do
    {
        m_bDeviceChangeHeld = false;
        RebuildDeviceList();
    } while (m_bDeviceChangeHeld);
}

void CTarvelDlg::RebuildDeviceList()
{
    const int nCount = static_cast<int>(m_pContext->Count());
    if (nCount == m_nDeviceCount)
        return;
    ReleaseDevices();
    m_nDeviceCount = nCount;

    WalkDeviceLinks(*m_pContext, nCount,
                    [this](std::uint32_t nInstance, CBoardLink link)
                    {
                        // A board under update is left alone, unlisted but counted (its link
                        // closes): any exchange would interleave with the update's requests.
                        if (m_pBootloaderBoards && m_pBootloaderBoards->IsUpdating(link))
                            return;
                        auto pDevice = std::make_unique<CBoardRecord>(std::move(link));
                        if (IsInBootloader(pDevice.get()))
                        {
                            // Without the update part it stays unlisted, waiting.
                            if (m_pBootloaderBoards)
                                m_pBootloaderBoards->TakeBoard(std::move(pDevice->m_lnkBoard),
                                                               nInstance);
                            return;
                        }
                        m_pDevice = pDevice.get();
                        m_pDevice->m_strSerial = ReadSerialText();
                        m_pDevice->m_wVersion = ReadVersion();
                        m_pDevice->m_nDeviceId = ReadDeviceId(m_pDevice);
                        const int nIndex = m_cbDevices->AddString(
                            QString::asprintf(DEVICE_ENTRY, static_cast<int>(nInstance)));
                        m_cbDevices->SetItemDataPtr(nIndex, pDevice.release());
                    });

    if (m_cbDevices->GetCount() == 0)
    {
        m_pDevice = nullptr;
        EnableGrid({0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
        SetGrid({0, 0, 0, 0, 0});
        m_edSerial->setEnabled(false);
        m_btnUpdate->setEnabled(false);
        LoadAnalogMask();
        ResetAnalogCaptions(0);
        return;
    }
    m_cbDevices->SetCurSel(0);
    m_pDevice = static_cast<CBoardRecord*>(m_cbDevices->GetItemDataPtr(0));
    ShowSelectedDevice();
    RefreshView();
    LoadAnalogMask();
}

void CTarvelDlg::ReleaseDevices()
{
    if (m_nTimer != 0)
        KillTimer(m_nTimer);
    m_nTimer = 0;

    for (int i = 0; i < m_cbDevices->GetCount(); ++i)
        delete static_cast<CBoardRecord*>(m_cbDevices->GetItemDataPtr(i));
    m_cbDevices->ResetContent();
    m_pDevice = nullptr;

    m_stFirmware->setText(QString());
    m_edSerial->setText(QString());

    DropConnection();
}

void CTarvelDlg::DropConnection()
{
    // Deleting the link closes its connection and frees its frames. When the peer's close is
    // what brought us here, the link is still inside its socket's notification and goes as
    // soon as that returns; either way it reaches the dialog no more.
    if (CClientSocket* pLink = std::exchange(m_pLink, nullptr))
        pLink->Delete();
}

void CTarvelDlg::OnSelectDevice()
{
    if (m_cbDevices->GetCount() < 1)
        return;
    m_pDevice = static_cast<CBoardRecord*>(m_cbDevices->GetItemDataPtr(m_cbDevices->GetCurSel()));
    if (!m_pDevice)
        return;
    ShowSelectedDevice();
    RefreshView();
}

void CTarvelDlg::ShowSelectedDevice()
{
    const QString strSerial = QString::fromStdString(m_pDevice->GetSerial());
    m_edSerial->setText(strSerial);
    m_stFirmware->setText(QString::asprintf(FIRMWARE_LINE, m_pDevice->GetVersionText().c_str(),
                                            m_pDevice->m_nDeviceId));
    // Only a board without a serial number can be given one (in its bootloader).
    m_edSerial->setEnabled(strSerial.isEmpty());
    m_btnUpdate->setEnabled(m_pDevice->m_wVersion >= UPDATABLE_VERSION);
}

bool CTarvelDlg::OnDeviceChange(unsigned nEventType, quintptr /*dwData*/)
{
    for (const DeviceChangeLine& line : DEVICE_CHANGE_LINES)
    {
        if (line.nEventType == nEventType)
            DebugOutput(line.pszLine);
    }
    if (nEventType == DBT_DEVNODES_CHANGED)
        RefreshDeviceList();
    return false;
}

bool CTarvelDlg::IsInBootloader(CBoardRecord* pDevice)
{
    return pDevice->m_lnkBoard.QueryBootloader();
}

std::string CTarvelDlg::ReadSerialText()
{
    return m_pDevice->m_lnkBoard.ReadSerialNumber();
}

std::uint16_t CTarvelDlg::ReadVersion()
{
    return m_pDevice->m_lnkBoard.ReadVersion();
}

int CTarvelDlg::ReadDeviceId(CBoardRecord* pDevice)
{
    std::uint8_t byId = 0;
    return pDevice->m_lnkBoard.ReadDeviceId(byId) == EStatus::Ok ? byId : 0;
}
