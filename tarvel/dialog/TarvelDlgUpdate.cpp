// CTarvelDlg: the Update button, and boards found in their bootloader handed to the firmware
// update (serial-number prompt, then a worker thread).
#include "dialog/TarvelDlg.h"

#include "bootloader/BootLoader.h"
#include "bootloader/SerialNum.h"
#include "dialog/ComboBoxCtrl.h"
#include "dialog/UsbDev.h"
#include "res/ControlIds.h"

#include "DeviceLink.h"

#include <QFile>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>

#include <utility>

namespace
{
constexpr char kUpdateQuestion[] = "Do you want to update the firmware at this time?";
constexpr char kUpdateTitle[] = "Device Firmware";
constexpr char kFailedBootLoad[] = "Failed boot load";
constexpr char kAppTitle[] = "Tarvel";
} // namespace

void CTarvelDlg::OnUpdateButton()
{
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kUpdateTitle),
                    QString::fromUtf8(kUpdateQuestion), QMessageBox::Yes | QMessageBox::No, this);
    if (box.exec() != QMessageBox::Yes)
        return;
    // The box ran its own message loop: the list may have been rebuilt meanwhile, so the
    // selection is taken as it is now.
    const int nSelected = m_cbDevices->GetCurSel();
    if (nSelected < 0)
        return;
    if (auto* pDevice = static_cast<CUsbDev*>(m_cbDevices->GetItemDataPtr(nSelected)))
        UsbEnterBootloader(pDevice->m_hWrite); // the board leaves at once; nothing to examine
}

void CTarvelDlg::StartBootloaderUpdate(std::unique_ptr<CUsbDev> pDevice)
{
    auto pLoader =
        std::make_unique<CBootLoader>(nullptr, QFile::encodeName(m_strHexPath).toStdString());
    pLoader->m_pDev = std::move(pDevice);

    if (pLoader->ReadSerNo().empty())
    {
        SerialNum dlgSerial;
        if (dlgSerial.DoModal() == IDOK)
            pLoader->WriteSerNo(dlgSerial.m_strSerial.toLatin1().toStdString());
    }

    // The hook runs on the worker's thread: it only queues the box to the dialog's. The
    // dialog outlives every worker (m_bootLoads waits for them as it goes).
    m_bootLoads.Start(std::move(pLoader),
                      [pDlg = QPointer<CTarvelDlg>(this)](int /*nStatus*/)
                      {
                          if (CTarvelDlg* pTarget = pDlg.data())
                              QMetaObject::invokeMethod(pTarget, &CTarvelDlg::OnBootLoadFailed,
                                                        Qt::QueuedConnection);
                      });
}

void CTarvelDlg::OnBootLoadFailed()
{
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kAppTitle),
                    QString::fromUtf8(kFailedBootLoad), QMessageBox::Ok, this);
    box.exec();
}
