#include "zorvane/cli/FirmwareJob.h"

#include "firmware/ImageFile.h"
#include "protocol/Status.h"

#include <cstdio>
#include <exception>
#include <stdexcept>

namespace
{
// A board re-enumerates within a second or two; a hub may take longer.
constexpr auto REATTACH_TIMEOUT = std::chrono::seconds(10);
} // namespace

CFirmwareJob::CFirmwareJob(const CDriverContext& context, SBoardInfo board)
    : m_ctxDriver(context),
      m_infoBoard(std::move(board)), m_keyBoard{m_infoBoard.strLocation, m_infoBoard.strSerial},
      m_clmLocation(m_infoBoard.strLocation)
{
    m_stsJob.strStage = "waiting";
}

void CFirmwareJob::Stop()
{
    m_bStop = true;
    const std::lock_guard lock(m_mtxLock);
    if (m_pLoader != nullptr)
        m_pLoader->Stop();
}

CFirmwareJob::SStatus CFirmwareJob::Status() const
{
    const std::lock_guard lock(m_mtxLock);
    return m_stsJob;
}

void CFirmwareJob::EnterStageLocked(const std::string& strStage, std::int64_t nTotal)
{
    if (m_stsJob.vecStages.empty() || m_stsJob.vecStages.back().first != strStage)
        m_stsJob.vecStages.emplace_back(strStage, nTotal);
    m_stsJob.strStage = strStage;
}

void CFirmwareJob::SetStage(const std::string& strStage)
{
    const std::lock_guard lock(m_mtxLock);
    EnterStageLocked(strStage, 0);
    m_stsJob.prgLoader = {};
}

void CFirmwareJob::SetProgress(const SBootProgress& progress)
{
    const std::lock_guard lock(m_mtxLock);
    EnterStageLocked(BootPhaseName(progress.ePhase), progress.nTotal);
    m_stsJob.prgLoader = progress;
}

void CFirmwareJob::End(bool bOk, std::string strMessage)
{
    const std::lock_guard lock(m_mtxLock);
    m_stsJob.strStage = bOk ? "done" : "failed";
    m_stsJob.bEnded = true;
    m_stsJob.bOk = bOk;
    m_stsJob.strMessage = std::move(strMessage);
}

CBoardLink CFirmwareJob::OpenInBootloader()
{
    SetStage("bootloader");
    if (!m_infoBoard.bBoot)
    {
        CBoardLink app =
            WaitForBoard(m_ctxDriver, m_keyBoard, false, std::chrono::seconds(0), &m_bStop);
        if (!app.IsOpen() || app.EnterBootloader() != EStatus::Ok)
            return {};
    }
    // The application leaves the bus at once and comes back as the bootloader.
    return WaitForBoard(m_ctxDriver, m_keyBoard, true, REATTACH_TIMEOUT, &m_bStop);
}

std::uint16_t CFirmwareJob::FollowToApplication(std::string& strProblem)
{
    SetStage("application");
    CBoardLink app = WaitForBoard(m_ctxDriver, m_keyBoard, false, REATTACH_TIMEOUT, &m_bStop);
    if (!app.IsOpen())
    {
        strProblem = m_bStop ? "stopped while it restarted"
                             : "it did not come back in its application within 10 s";
        return 0;
    }
    const std::uint16_t wVersion = app.ReadVersion();
    if (wVersion == 0)
        strProblem = "it came back but does not report its firmware version";
    return wVersion;
}

std::string CFirmwareJob::StatusText(EStatus eStatus, const std::string& strPhase,
                                     const CBootLoader& loader)
{
    char szAt[24] = "";
    if (loader.m_nFailedAddress >= 0)
        std::snprintf(szAt, sizeof szAt, " at 0x%04x",
                      static_cast<unsigned>(loader.m_nFailedAddress));
    switch (eStatus)
    {
    case EStatus::Stopped:
        return "interrupted during " + strPhase + szAt;
    case EStatus::Usb:
        return strPhase + " failed: no reply" + szAt;
    case EStatus::Verify:
        return strPhase + " failed: verify failed" + szAt;
    case EStatus::NoFit:
        return "the image does not fit its " + loader.m_strChipName + ": " + loader.m_strRefusal +
               "; nothing was written";
    case EStatus::UnknownChip:
        return "refused: " + loader.m_strRefusal +
               ", whose memory map zorvane does not know; nothing was written";
    case EStatus::BootBlock:
        return std::string("the rewrite of the boot block") + szAt +
               " failed on every try: the block, which holds bootloader code, may be damaged; "
               "do not unplug the board";
    default:
        return strPhase + " failed: status " + std::to_string(StatusCode(eStatus));
    }
}

void CFirmwareJob::Run() noexcept
{
    try
    {
        const std::string strLabel = BoardLabel(m_infoBoard);
        CBoardLink link = OpenInBootloader();
        if (!link.IsOpen())
        {
            const char* pszWhy = m_bStop ? "interrupted while it went into its bootloader"
                                         : "it did not come back in its bootloader within 10 s";
            End(false, strLabel + ": " + pszWhy + "; run it again: " + ResumeCommand());
            return;
        }
        CBootLoader loader(std::move(link), "");
        loader.m_fnProgress = [this](const SBootProgress& progress) { SetProgress(progress); };
        {
            const std::lock_guard lock(m_mtxLock);
            m_pLoader = &loader;
            if (m_bStop)
                loader.Stop();
        }
        const EStatus eStatus = Work(loader);
        const std::string strPhase = BootPhaseName(Status().prgLoader.ePhase);
        {
            const std::lock_guard lock(m_mtxLock);
            m_pLoader = nullptr;
        }

        const bool bBackToApp =
            !m_infoBoard.bBoot && (eStatus == EStatus::Ok || RestartAfterFailure(eStatus));
        if (bBackToApp && (eStatus != EStatus::Ok || !WorkRestarts()))
            loader.Restart();
        loader.m_lnkBoard.Close(); // before the board comes back

        if (eStatus != EStatus::Ok)
        {
            std::string strMessage = FailureText(eStatus, loader);
            if (!strMessage.empty())
                strMessage = strLabel + ": " + strMessage;
            else if (eStatus == EStatus::NoFit || eStatus == EStatus::UnknownChip)
                strMessage = strLabel + ": " + StatusText(eStatus, strPhase, loader) +
                             (bBackToApp ? "" : "; the board waits in its bootloader, as found");
            else if (!bBackToApp)
                strMessage = strLabel + ": " + StatusText(eStatus, strPhase, loader) +
                             "; the board waits in its bootloader; resume with: " + ResumeCommand();
            else
                strMessage = strLabel + ": " + StatusText(eStatus, strPhase, loader) +
                             "; run it again: " + ResumeCommand();
            End(false, strMessage);
            return;
        }
        std::uint16_t wVersion = 0;
        if (WorkRestarts() || !m_infoBoard.bBoot)
        {
            std::string strProblem;
            wVersion = FollowToApplication(strProblem);
            if (wVersion == 0)
            {
                End(false, strLabel + ": " + strProblem);
                return;
            }
        }
        End(true, strLabel + ": " + DoneText(wVersion));
    }
    catch (const std::exception& e)
    {
        End(false, BoardLabel(m_infoBoard) + ": " + e.what());
    }
    catch (...)
    {
        End(false, BoardLabel(m_infoBoard) + ": unexpected failure");
    }
}

std::string ImageText(const std::string& strFile)
{
    std::string strText;
    const std::string strProblem = ReadFirmwareImage(strFile, strText);
    if (!strProblem.empty())
        throw std::runtime_error(strProblem);
    return strText;
}
