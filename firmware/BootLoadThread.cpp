#include "firmware/BootLoadThread.h"

#include <algorithm>
#include <utility>

#include "firmware/BootLoader.h"

EStatus BootLoadThread(std::unique_ptr<CBootLoader> pLoader,
                       const BootLoadFailureHook& fnOnFailure) noexcept
{
    EStatus eStatus = EStatus::Usb;
    try
    {
        if (pLoader)
        {
            eStatus = pLoader->UpdateFirmware();
        }
    }
    catch (...)
    {
        eStatus = EStatus::Usb;
    }
    if (eStatus != EStatus::Ok && fnOnFailure)
    {
        try
        {
            fnOnFailure(eStatus);
        }
        catch (...)
        {
        }
    }
    pLoader.reset(); // closes the board's link
    return eStatus;
}

CBootLoadWorkers::~CBootLoadWorkers()
{
    WaitAll();
}

bool CBootLoadWorkers::IsUpdating(const CBoardLink& link) const
{
    std::lock_guard lock(m_mtxLock);
    return IsUpdatingLocked(link.Tag());
}

bool CBootLoadWorkers::IsUpdatingLocked(const CBoardLink::STag& tagLink) const
{
    return std::any_of(m_lstWorkers.begin(), m_lstWorkers.end(),
                       [&](const SWorker& worker) {
                           return worker.bRunning &&
                                  CBoardLink::SameDevice(worker.tagLink, tagLink);
                       });
}

bool CBootLoadWorkers::Start(std::unique_ptr<CBootLoader> pLoader, BootLoadFailureHook fnOnFailure,
                             std::string strName)
{
    Reap();
    const CBoardLink::STag tagLink = pLoader ? pLoader->m_lnkBoard.Tag() : CBoardLink::STag{};
    const auto pProgress = std::make_shared<CBootProgressBox>();
    if (pLoader)
        pLoader->m_fnProgress = [pProgress](const SBootProgress& progress)
        { pProgress->Set(progress); };
    // Shared so that the loader and the hook are still at hand should no thread start.
    const auto pJob =
        std::make_shared<std::pair<std::unique_ptr<CBootLoader>, BootLoadFailureHook>>(
            std::move(pLoader), std::move(fnOnFailure));

    std::unique_lock lock(m_mtxLock);
    if (IsUpdatingLocked(tagLink))
    {
        lock.unlock();
        pJob->first.reset();
        return false;
    }
    const auto itWorker = m_lstWorkers.insert(
        m_lstWorkers.end(), SWorker{tagLink, true, {}, std::move(strName), pProgress});
    try
    {
        // The worker cannot record its end before this assignment: Ended needs the lock.
        itWorker->thrWorker =
            std::thread([this, itWorker, pJob]() noexcept
                        { Ended(itWorker, BootLoadThread(std::move(pJob->first), pJob->second)); });
        return true;
    }
    catch (...)
    {
        m_lstWorkers.erase(itWorker);
        m_vecResults.push_back(EStatus::Usb);
    }
    lock.unlock();
    // No thread: a failed update that sent nothing, reported like any other.
    pJob->first.reset();
    if (pJob->second)
    {
        try
        {
            pJob->second(EStatus::Usb);
        }
        catch (...)
        {
        }
    }
    return false;
}

void CBootLoadWorkers::Ended(std::list<SWorker>::iterator itWorker, EStatus eStatus) noexcept
{
    {
        std::lock_guard lock(m_mtxLock);
        itWorker->bRunning = false;
        m_vecResults.push_back(eStatus);
    }
    m_cvEnded.notify_all();
}

std::size_t CBootLoadWorkers::Running() const
{
    std::lock_guard lock(m_mtxLock);
    return static_cast<std::size_t>(std::count_if(m_lstWorkers.begin(), m_lstWorkers.end(),
                                                  [](const SWorker& w) { return w.bRunning; }));
}

std::vector<CBootLoadWorkers::SRunning> CBootLoadWorkers::Progress() const
{
    std::lock_guard lock(m_mtxLock);
    std::vector<SRunning> vecRunning;
    for (const SWorker& worker : m_lstWorkers)
        if (worker.bRunning)
            vecRunning.push_back({worker.strName, worker.pProgress->Get()});
    return vecRunning;
}

void CBootLoadWorkers::WaitAll()
{
    {
        std::unique_lock lock(m_mtxLock);
        m_cvEnded.wait(lock,
                       [&]
                       {
                           return std::none_of(m_lstWorkers.begin(), m_lstWorkers.end(),
                                               [](const SWorker& w) { return w.bRunning; });
                       });
    }
    Reap();
}

std::vector<EStatus> CBootLoadWorkers::TakeResults()
{
    std::lock_guard lock(m_mtxLock);
    return std::exchange(m_vecResults, {});
}

void CBootLoadWorkers::Reap()
{
    std::vector<std::thread> ended;
    {
        std::lock_guard lock(m_mtxLock);
        for (auto it = m_lstWorkers.begin(); it != m_lstWorkers.end();)
        {
            if (it->bRunning)
            {
                ++it;
                continue;
            }
            ended.push_back(std::move(it->thrWorker));
            it = m_lstWorkers.erase(it);
        }
    }
    // An ended worker only has its return left to do.
    for (std::thread& thread : ended)
    {
        if (thread.joinable())
        {
            thread.join();
        }
    }
}
