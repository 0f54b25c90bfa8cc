#include "zorvane/cli/FirmwareJob.h"

#include "protocol/DeviceLink.h"
#include "firmware/BootStatus.h"

#include <cstdio>
#include <exception>

namespace
{
// A board re-enumerates within a second or two; a hub may take longer.
constexpr auto REATTACH_TIMEOUT = std::chrono::seconds(10);
} // namespace

CFirmwareJob::CFirmwareJob(SBoardInfo board)
    : m_board(std::move(board)), m_key{m_board.strLocation, m_board.strSerial},
      m_claim(m_board.strLocation)
{
    m_status.strStage = "waiting";
}

void CFirmwareJob::Stop()
{
    m_bStop = true;
    const std::lock_guard lock(m_mutex);
    if (m_pLoader != nullptr)
        m_pLoader->Stop();
}

CFirmwareJob::SStatus CFirmwareJob::Status() const
{
    const std::lock_guard lock(m_mutex);
    return m_status;
}

void CFirmwareJob::EnterStageLocked(const std::string& strStage, std::int64_t nTotal)
{
    if (m_status.vecStages.empty() || m_status.vecStages.back().first != strStage)
        m_status.vecStages.emplace_back(strStage, nTotal);
    m_status.strStage = strStage;
}

void CFirmwareJob::SetStage(const std::string& strStage)
{
    const std::lock_guard lock(m_mutex);
    EnterStageLocked(strStage, 0);
    m_status.progress = {};
}

void CFirmwareJob::SetProgress(const SBootProgress& progress)
{
    const std::lock_guard lock(m_mutex);
    EnterStageLocked(BootPhaseName(progress.ePhase), progress.nTotal);
    m_status.progress = progress;
}

void CFirmwareJob::End(bool bOk, std::string strMessage)
{
    const std::lock_guard lock(m_mutex);
    m_status.strStage = bOk ? "done" : "failed";
    m_status.bEnded = true;
    m_status.bOk = bOk;
    m_status.strMessage = std::move(strMessage);
}

std::unique_ptr<CUsbDev> CFirmwareJob::OpenInBootloader()
{
    SetStage("bootloader");
    if (!m_board.bBoot)
    {
        auto pApp = WaitForBoard(m_key, false, std::chrono::seconds(0), &m_bStop);
        if (!pApp || !UsbEnterBootloader(pApp->m_hWrite))
            return nullptr;
    }
    // The application leaves the bus at once and comes back as the bootloader.
    return WaitForBoard(m_key, true, REATTACH_TIMEOUT, &m_bStop);
}

std::uint16_t CFirmwareJob::FollowToApplication(std::string& strProblem)
{
    SetStage("application");
    const auto pApp = WaitForBoard(m_key, false, REATTACH_TIMEOUT, &m_bStop);
    if (!pApp)
    {
        strProblem = m_bStop ? "stopped while it restarted"
                             : "it did not come back in its application within 10 s";
        return 0;
    }
    const std::uint16_t wVersion = UsbReadVersion(pApp->m_hRead, pApp->m_hWrite);
    if (wVersion == 0)
        strProblem = "it came back but does not report its firmware version";
    return wVersion;
}

std::string CFirmwareJob::StatusText(int nStatus, const std::string& strPhase,
                                     std::int32_t nAddress)
{
    char szAt[24] = "";
    if (nAddress >= 0)
        std::snprintf(szAt, sizeof szAt, " at 0x%04x", static_cast<unsigned>(nAddress));
    switch (nStatus)
    {
    case BL_ERR_STOPPED:
        return "interrupted during " + strPhase + szAt;
    case BL_ERR_USB:
        return strPhase + " failed: no reply" + szAt;
    case BL_ERR_VERIFY:
        return strPhase + " failed: verify failed" + szAt;
    default:
        return strPhase + " failed: status " + std::to_string(nStatus);
    }
}

void CFirmwareJob::Run() noexcept
{
    try
    {
        const std::string strLabel = BoardLabel(m_board);
        auto pDev = OpenInBootloader();
        if (!pDev)
        {
            const char* pszWhy = m_bStop ? "interrupted while it went into its bootloader"
                                         : "it did not come back in its bootloader within 10 s";
            End(false, strLabel + ": " + pszWhy + "; run it again: " + ResumeCommand());
            return;
        }
        CBootLoader loader(pDev.release(), "");
        loader.m_fnProgress = [this](const SBootProgress& progress) { SetProgress(progress); };
        {
            const std::lock_guard lock(m_mutex);
            m_pLoader = &loader;
            if (m_bStop)
                loader.Stop();
        }
        const int nStatus = Work(loader);
        const std::string strPhase = BootPhaseName(Status().progress.ePhase);
        {
            const std::lock_guard lock(m_mutex);
            m_pLoader = nullptr;
        }

        const bool bBackToApp = !m_board.bBoot && (nStatus == BL_OK || RestartAfterFailure());
        if (bBackToApp && !WorkRestarts())
            loader.Restart();
        loader.m_pDev.reset(); // closes the pipes before the board comes back

        if (nStatus != BL_OK)
        {
            std::string strMessage =
                strLabel + ": " + StatusText(nStatus, strPhase, loader.m_nFailedAddress);
            if (!bBackToApp)
                strMessage +=
                    "; the board waits in its bootloader; resume with: " + ResumeCommand();
            else
                strMessage += "; run it again: " + ResumeCommand();
            End(false, strMessage);
            return;
        }
        std::uint16_t wVersion = 0;
        if (WorkRestarts() || !m_board.bBoot)
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
        End(false, BoardLabel(m_board) + ": " + e.what());
    }
    catch (...)
    {
        End(false, BoardLabel(m_board) + ": unexpected failure");
    }
}
