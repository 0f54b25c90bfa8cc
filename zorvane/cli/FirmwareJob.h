#pragma once
// One firmware job on one board, run on a thread of its own. A board that runs its application
// is sent into its bootloader (enter-bootloader) and followed until it is back there, at the
// same location or with the same serial number; the command's work then runs on the bootloader
// (update, backup, serial number); last the board is restarted where the work leaves that to
// the job, and followed back into its application. Another thread can look at the job's status
// at any time and ask it to stop.
#include "firmware/BootLoader.h"
#include "zorvane/cli/BoardTarget.h"

#include <atomic>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class CFirmwareJob
{
public:
    // The context must outlive the job.
    CFirmwareJob(const CDriverContext& context, SBoardInfo board);
    virtual ~CFirmwareJob() = default;
    CFirmwareJob(const CFirmwareJob&) = delete;
    CFirmwareJob& operator=(const CFirmwareJob&) = delete;

    // The job's thread: the whole job. Never throws.
    void Run() noexcept;
    // Any thread: the request in flight completes, nothing more is sent to the board.
    void Stop();

    struct SStatus
    {
        std::string strStage;    // "bootloader", a loader phase, "application", "done", "failed"
        SBootProgress prgLoader; // of the loader's phases
        bool bEnded = false;
        bool bOk = false;
        std::string strMessage; // once ended: what was done, or what failed and what to do
        // Every stage entered so far, in order, with the bytes it covers (0: none to count).
        std::vector<std::pair<std::string, std::int64_t>> vecStages;
    };
    SStatus Status() const;
    const SBoardInfo& Board() const { return m_infoBoard; }

protected:
    // The command's work on the board waiting in its bootloader; a loader status.
    virtual EStatus Work(CBootLoader& loader) = 0;
    // True when the work ends by restarting the board itself (an update does).
    virtual bool WorkRestarts() const { return false; }
    // True when the board goes back to its application after work that failed so.
    virtual bool RestartAfterFailure(EStatus /*eStatus*/) const { return true; }
    // The message of a job done; wVersion is the firmware the board reports afterwards (0 for
    // a board left in its bootloader, as it was found).
    virtual std::string DoneText(std::uint16_t wVersion) const = 0;
    // The message of failed work when the command words it itself ("" for the usual one).
    virtual std::string FailureText(EStatus /*eStatus*/, const CBootLoader& /*loader*/) const
    {
        return {};
    }
    // The command that runs the job again on this board.
    virtual std::string ResumeCommand() const = 0;

    const std::atomic<bool>& StopFlag() const { return m_bStop; }

private:
    void SetStage(const std::string& strStage);
    // Call with m_mtxLock held.
    void EnterStageLocked(const std::string& strStage, std::int64_t nTotal);
    void SetProgress(const SBootProgress& progress);
    void End(bool bOk, std::string strMessage);
    // Sends the board into its bootloader and opens it there; not open when it did not come.
    CBoardLink OpenInBootloader();
    // Waits for the board's application; its firmware version, 0 when it did not come back.
    std::uint16_t FollowToApplication(std::string& strProblem);
    // "program failed: verify failed at 0x1230", "erase failed: no reply at 0x0840",
    // "interrupted during program at 0x1230", "refused: ...; nothing was written".
    static std::string StatusText(EStatus eStatus, const std::string& strPhase,
                                  const CBootLoader& loader);

    const CDriverContext& m_ctxDriver;
    SBoardInfo m_infoBoard;
    SBoardKey m_keyBoard;
    CLocationClaim m_clmLocation;
    std::atomic<bool> m_bStop{false};
    CBootLoader* m_pLoader = nullptr; // while the work runs; guarded by m_mtxLock
    mutable std::mutex m_mtxLock;
    SStatus m_stsJob;
};

// The HEX text of a firmware image FILE, checked before any board is touched
// (ReadFirmwareImage); a std::runtime_error that says why when it cannot be used.
std::string ImageText(const std::string& strFile);
