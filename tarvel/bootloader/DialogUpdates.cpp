#include "tarvel/bootloader/DialogUpdates.h"

#include "firmware/BootLoader.h"
#include "firmware/ImageFile.h"
#include "tarvel/bootloader/SerialNum.h"
#include "tarvel/dialog/DialogBuilder.h"
#include "tarvel/dialog/TarvelDlg.h"
#include "tarvel/res/ControlIds.h"

#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QMetaObject>
#include <QProgressBar>
#include <QProgressDialog>

#include <utility>

namespace
{
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

CDialogUpdates::CDialogUpdates(CTarvelDlg& dlg)
    : m_stUpdating(new QLabel(&dlg)), m_pbUpdating(new QProgressBar(&dlg)), m_pDlg(&dlg)
{
    m_pbUpdating->setRange(0, 100);
    m_stUpdating->hide();
    m_pbUpdating->hide();
    connect(&m_tmrProgress, &QTimer::timeout, this, &CDialogUpdates::ShowUpdateProgress);
}

std::string CDialogUpdates::HexPath() const
{
    return QFile::encodeName(m_pDlg->m_strHexPath).toStdString();
}

bool CDialogUpdates::IsUpdating(const CBoardLink& link) const
{
    return m_bootLoads.IsUpdating(link);
}

void CDialogUpdates::UpdateBoard(CBoardLink& link)
{
    // A board sent into its bootloader for an image that cannot be written would wait there
    // without its application: the file is checked first, as far as it can be before the chip
    // is known.
    std::string strText;
    const std::string strProblem = ReadFirmwareImage(HexPath(), strText);
    if (!strProblem.empty())
    {
        QMessageBox failed(QMessageBox::NoIcon, QString::fromUtf8(UPDATE_TITLE),
                           QString::fromUtf8(CANNOT_UPDATE).arg(QString::fromStdString(strProblem)),
                           QMessageBox::Ok, m_pDlg);
        failed.exec();
        return;
    }
    link.EnterBootloader(); // the board leaves at once; nothing to examine
}

void CDialogUpdates::TakeBoard(CBoardLink link, std::uint32_t nInstance)
{
    auto pLoader = std::make_unique<CBootLoader>(std::move(link), HexPath());
    if (pLoader->ReadSerNo().empty())
    {
        SerialNum dlgSerial;
        if (dlgSerial.DoModal() == IDOK)
            pLoader->WriteSerNo(dlgSerial.m_strSerial.toLatin1().toStdString());
    }

    // The hook runs on the worker's thread: it only queues the box to the dialog's. This object
    // outlives every worker: m_bootLoads waits for them before the QObject part goes.
    const bool bStarted = m_bootLoads.Start(
        std::move(pLoader),
        [this](EStatus /*eStatus*/) {
            QMetaObject::invokeMethod(this, &CDialogUpdates::OnBootLoadFailed,
                                      Qt::QueuedConnection);
        },
        QString::asprintf(DEVICE_NAME, nInstance).toStdString());
    if (bStarted)
    {
        ShowUpdateProgress();
        m_tmrProgress.start(UPDATE_PROGRESS_MS);
    }
}

void CDialogUpdates::ShowUpdateProgress()
{
    const std::vector<CBootLoadWorkers::SRunning> vecRunning = m_bootLoads.Progress();
    int nPercent = 0;
    const QString strNames = RunningNames(vecRunning, nPercent);
    if (m_pFinishing != nullptr)
    {
        if (vecRunning.empty())
        {
            delete std::exchange(m_pFinishing, nullptr);
            m_tmrProgress.stop();
            m_pDlg->EndDialog(m_nCloseResult);
            return;
        }
        m_pFinishing->setLabelText(QString::fromUtf8(FINISHING).arg(strNames));
        m_pFinishing->setValue(nPercent);
    }
    if (vecRunning.empty())
    {
        m_tmrProgress.stop();
        m_stUpdating->hide();
        m_pbUpdating->hide();
        return;
    }
    // Placed in the dialog's font, which the dialog has once it is made.
    const DialogBaseUnits units = CDialogBuilder::BaseUnits(m_pDlg->font());
    m_stUpdating->setGeometry(CDialogBuilder::MapDialogRect(UPDATING_LABEL_RECT, units));
    m_pbUpdating->setGeometry(CDialogBuilder::MapDialogRect(UPDATING_BAR_RECT, units));
    m_stUpdating->setText(m_stUpdating->fontMetrics().elidedText(
        QString::fromUtf8(UPDATING).arg(strNames), Qt::ElideRight, m_stUpdating->width()));
    m_stUpdating->setToolTip(strNames);
    m_pbUpdating->setValue(nPercent);
    m_stUpdating->show();
    m_pbUpdating->show();
}

bool CDialogUpdates::FinishBeforeClosing(int nResult)
{
    if (m_pFinishing != nullptr)
        return true; // already waiting; a second close changes nothing
    if (m_bootLoads.Running() == 0)
        return false;
    // A board left half written would need the update again: the dialog stays until its
    // updates are done, and says so instead of vanishing while the process lives on.
    m_nCloseResult = nResult;
    m_pFinishing = new QProgressDialog(m_pDlg);
    m_pFinishing->setWindowTitle(QString::fromUtf8(APP_TITLE));
    m_pFinishing->setCancelButton(nullptr);
    m_pFinishing->setRange(0, 100);
    m_pFinishing->setMinimumDuration(0);
    m_pFinishing->setAutoClose(false);
    m_pFinishing->setAutoReset(false);
    m_pDlg->setEnabled(false);
    ShowUpdateProgress();
    m_pFinishing->show();
    m_tmrProgress.start(UPDATE_PROGRESS_MS);
    return true;
}

void CDialogUpdates::OnBootLoadFailed()
{
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(APP_TITLE),
                    QString::fromUtf8(FAILED_BOOT_LOAD), QMessageBox::Ok, m_pDlg);
    box.exec();
}
