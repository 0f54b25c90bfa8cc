// CTarvelDlg: the Update button, and boards found in their bootloader handed to the firmware
// update (serial-number prompt, then a worker thread).
#include "tarvel/dialog/TarvelDlg.h"

#include "firmware/BootLoader.h"
#include "firmware/ImageFile.h"
#include "firmware/UsbDev.h"
#include "tarvel/bootloader/SerialNum.h"
#include "tarvel/dialog/ComboBoxCtrl.h"
#include "tarvel/dialog/DialogBuilder.h"
#include "tarvel/res/ControlIds.h"

#include "protocol/DeviceLink.h"

#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QProgressBar>
#include <QProgressDialog>

#include <utility>

namespace
{
constexpr char UPDATE_QUESTION[] = "Do you want to update the firmware at this time?";
constexpr char UPDATE_TITLE[] = "Device Firmware";
constexpr char CANNOT_UPDATE[] = "The firmware cannot be updated:\n%1";
constexpr char FAILED_BOOT_LOAD[] = "Failed boot load";
constexpr char APP_TITLE[] = "Tarvel";
constexpr char DEVICE_NAME[] = "Device %u";
constexpr char UPDATING[] = "Updating %1";
constexpr char FINISHING[] = "Finishing the update of %1...";
constexpr int UPDATE_PROGRESS_MS = 100;
// Where the update progress goes, in dialog units: below the view buttons, right of the Device
// group, clear of every control.
const QRect UPDATING_LABEL_RECT(198, 68, 75, 8);
const QRect UPDATING_BAR_RECT(198, 78, 75, 9);

// "Device 1", "Device 1 and Device 3", "Device 1, Device 3 and Device 4"; with their percent
// averaged in nPercent.
QString RunningNames(const std::vector<CBootLoadWorkers::SRunning>& vecRunning, int& nPercent)
{
    QString strNames;
    int nSum = 0;
    for (std::size_t i = 0; i < vecRunning.size(); ++i)
    {
        if (i > 0)
            strNames += i + 1 == vecRunning.size() ? QStringLiteral(" and ") : QStringLiteral(", ");
        strNames += QString::fromStdString(vecRunning[i].strName);
        nSum += vecRunning[i].prgLast.Percent();
    }
    nPercent = vecRunning.empty() ? 0 : nSum / static_cast<int>(vecRunning.size());
    return strNames;
}
} // namespace

void CTarvelDlg::OnUpdateButton()
{
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(UPDATE_TITLE),
                    QString::fromUtf8(UPDATE_QUESTION), QMessageBox::Yes | QMessageBox::No, this);
    if (box.exec() != QMessageBox::Yes)
        return;
    // The box ran its own message loop: the list may have been rebuilt meanwhile, so the
    // selection is taken as it is now.
    const int nSelected = m_cbDevices->GetCurSel();
    if (nSelected < 0)
        return;
    auto* pDevice = static_cast<CUsbDev*>(m_cbDevices->GetItemDataPtr(nSelected));
    if (pDevice == nullptr)
        return;
    // A board sent into its bootloader for an image that cannot be written would wait there
    // without its application: the file is checked first, as far as it can be before the chip
    // is known.
    std::string strText;
    const std::string strProblem =
        ReadFirmwareImage(QFile::encodeName(m_strHexPath).toStdString(), strText);
    if (!strProblem.empty())
    {
        QMessageBox failed(QMessageBox::NoIcon, QString::fromUtf8(UPDATE_TITLE),
                           QString::fromUtf8(CANNOT_UPDATE).arg(QString::fromStdString(strProblem)),
                           QMessageBox::Ok, this);
        failed.exec();
        return;
    }
    UsbEnterBootloader(pDevice->m_hWrite); // the board leaves at once; nothing to examine
}

void CTarvelDlg::StartBootloaderUpdate(std::unique_ptr<CUsbDev> pDevice, std::uint32_t nInstance)
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
    const bool bStarted = m_bootLoads.Start(
        std::move(pLoader),
        [pDlg = QPointer<CTarvelDlg>(this)](int /*nStatus*/)
        {
            if (CTarvelDlg* pTarget = pDlg.data())
                QMetaObject::invokeMethod(pTarget, &CTarvelDlg::OnBootLoadFailed,
                                          Qt::QueuedConnection);
        },
        QString::asprintf(DEVICE_NAME, nInstance).toStdString());
    if (bStarted)
    {
        ShowUpdateProgress();
        m_updateTimer.start(UPDATE_PROGRESS_MS);
    }
}

void CTarvelDlg::CreateUpdateProgress()
{
    const DialogBaseUnits units = CDialogBuilder::BaseUnits(font());
    m_stUpdating = new QLabel(this);
    m_stUpdating->setGeometry(CDialogBuilder::MapDialogRect(UPDATING_LABEL_RECT, units));
    m_pbUpdating = new QProgressBar(this);
    m_pbUpdating->setGeometry(CDialogBuilder::MapDialogRect(UPDATING_BAR_RECT, units));
    m_pbUpdating->setRange(0, 100);
    m_stUpdating->hide();
    m_pbUpdating->hide();
    connect(&m_updateTimer, &QTimer::timeout, this, &CTarvelDlg::ShowUpdateProgress);
}

void CTarvelDlg::ShowUpdateProgress()
{
    const std::vector<CBootLoadWorkers::SRunning> vecRunning = m_bootLoads.Progress();
    int nPercent = 0;
    const QString strNames = RunningNames(vecRunning, nPercent);
    if (m_pFinishing != nullptr)
    {
        if (vecRunning.empty())
        {
            delete std::exchange(m_pFinishing, nullptr);
            m_updateTimer.stop();
            EndDialog(m_nCloseResult);
            return;
        }
        m_pFinishing->setLabelText(QString::fromUtf8(FINISHING).arg(strNames));
        m_pFinishing->setValue(nPercent);
    }
    if (m_stUpdating == nullptr)
        return;
    if (vecRunning.empty())
    {
        m_updateTimer.stop();
        m_stUpdating->hide();
        m_pbUpdating->hide();
        return;
    }
    m_stUpdating->setText(m_stUpdating->fontMetrics().elidedText(
        QString::fromUtf8(UPDATING).arg(strNames), Qt::ElideRight, m_stUpdating->width()));
    m_stUpdating->setToolTip(strNames);
    m_pbUpdating->setValue(nPercent);
    m_stUpdating->show();
    m_pbUpdating->show();
}

bool CTarvelDlg::FinishUpdatesBeforeClosing(int nResult)
{
    if (m_pFinishing != nullptr)
        return true; // already waiting; a second close changes nothing
    if (m_bootLoads.Running() == 0)
        return false;
    // A board left half written would need the update again: the dialog stays until its
    // updates are done, and says so instead of vanishing while the process lives on.
    m_nCloseResult = nResult;
    m_pFinishing = new QProgressDialog(this);
    m_pFinishing->setWindowTitle(QString::fromUtf8(APP_TITLE));
    m_pFinishing->setCancelButton(nullptr);
    m_pFinishing->setRange(0, 100);
    m_pFinishing->setMinimumDuration(0);
    m_pFinishing->setAutoClose(false);
    m_pFinishing->setAutoReset(false);
    setEnabled(false);
    ShowUpdateProgress();
    m_pFinishing->show();
    m_updateTimer.start(UPDATE_PROGRESS_MS);
    return true;
}

void CTarvelDlg::OnBootLoadFailed()
{
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(APP_TITLE),
                    QString::fromUtf8(FAILED_BOOT_LOAD), QMessageBox::Ok, this);
    box.exec();
}
