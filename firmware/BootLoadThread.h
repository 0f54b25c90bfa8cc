#pragma once
// The firmware-update workers: one thread per board found in its bootloader. A worker owns its
// CBootLoader, and through it the board's link, from its start to its end.
//
// How the dialog's update part uses it (boards that discovery found in their bootloader, on the
// dialog thread; m_bootLoads is the one CBootLoadWorkers of the tool):
//
//     // right after instance i opened, before any exchange with the board:
//     if (m_bootLoads.IsUpdating(link))
//         ... a worker is busy with this board: leave it alone, unlisted (the link closes),
//             count the instance as opened and go on with the next one ...
//     if (link.QueryBootloader())
//     {
//         auto pLoader = std::make_unique<CBootLoader>(std::move(link), m_strHexPath);
//         if (pLoader->ReadSerNo().empty() && <SerialNum prompt ends with OK>)
//             pLoader->WriteSerNo(strEntered);
//         m_bootLoads.Start(std::move(pLoader), [pThis = QPointer(this)](EStatus)
//                           { queue "Failed boot load" to pThis's thread; nothing else here });
//     }
//
// One board is never updated by two workers at once. What identifies "the board" is the
// attachment that the worker's link was opened on (CBoardLink::SameDevice): instance numbers move
// whenever a board ahead of it comes or goes, and a serial number may be missing or shared, but
// a pipe stays on its attachment until it is closed. So:
//   - IsUpdating tells, without sending anything, whether a freshly opened link reaches a board
//     whose worker still holds its link. Discovery must ask it before its first exchange
//     (query-mode would otherwise interleave with the worker's requests and spoil both).
//   - Start refuses a loader for such a board (and deletes it, closing its link).
// Limits: a board that leaves the bus and comes back is a new attachment; its old worker's
// link is dead, so that worker only fails (EStatus::Usb) and sends nothing more, and the board
// may be updated afresh at once. The rule holds among the workers of one CBootLoadWorkers, so
// the tool keeps exactly one, for as long as it can start updates.
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "firmware/BootProgress.h"
#include "protocol/BoardLink.h"
#include "protocol/Status.h"

#include <string>

class CBootLoader;

// Told of a failed update (a negative status), once, on the worker's thread, before the loader
// is deleted. It must only hand the news over (the dialog queues "Failed boot load" to its own
// thread) and must not call back into the CBootLoadWorkers that runs it.
using BootLoadFailureHook = std::function<void(EStatus eStatus)>;

// The worker's procedure: UpdateFirmware, the failure hook on a failure, then deletes the
// loader, which closes the board's link. Returns the status (StatusCode is the worker's exit
// code). No exception leaves it: one raised inside the update (memory exhausted) counts as
// EStatus::Usb, one raised by the hook is dropped.
EStatus BootLoadThread(std::unique_ptr<CBootLoader> pLoader,
                       const BootLoadFailureHook& fnOnFailure) noexcept;

// The update workers of the tool, and the rule that keeps two of them off one board. All
// methods may be called from any thread except the failure hooks it runs.
class CBootLoadWorkers
{
public:
    CBootLoadWorkers() = default;
    // Waits for every running update to end; their boards are left in a defined state.
    ~CBootLoadWorkers();

    CBootLoadWorkers(const CBootLoadWorkers&) = delete;
    CBootLoadWorkers& operator=(const CBootLoadWorkers&) = delete;

    // True while a running worker holds a link on the same attachment as link. Sends nothing.
    bool IsUpdating(const CBoardLink& link) const;

    // Starts BootLoadThread for the loader on a thread of its own and returns at once (true).
    // False when the loader's board is already being updated: the loader is deleted unused and
    // the hook is not called. False too when no thread can be started: the loader is deleted
    // and the hook is told EStatus::Usb, as for an update that failed before sending anything.
    // strName is what the running update is called in Progress ("Device 1"); the worker takes
    // the loader's progress hook for Progress.
    bool Start(std::unique_ptr<CBootLoader> pLoader, BootLoadFailureHook fnOnFailure,
               std::string strName = {});

    // Workers that have not ended yet.
    std::size_t Running() const;
    // The running updates, in the order they started, each with its latest progress.
    struct SRunning
    {
        std::string strName;
        SBootProgress prgLast;
    };
    std::vector<SRunning> Progress() const;
    // Blocks until every worker started so far has ended.
    void WaitAll();
    // Statuses of the workers that ended since the last call, in order of ending.
    std::vector<EStatus> TakeResults();

private:
    struct SWorker
    {
        CBoardLink::STag tagLink; // the board's link, as the worker's loader holds it
        bool bRunning = true;
        std::thread thrWorker;
        std::string strName;
        std::shared_ptr<CBootProgressBox> pProgress;
    };

    bool IsUpdatingLocked(const CBoardLink::STag& tagLink) const;
    void Ended(std::list<SWorker>::iterator itWorker, EStatus eStatus) noexcept;
    // Joins the threads of ended workers.
    void Reap();

    mutable std::mutex m_mtxLock;
    std::condition_variable m_cvEnded;
    std::list<SWorker> m_lstWorkers;
    std::vector<EStatus> m_vecResults;
};
