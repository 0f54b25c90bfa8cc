#include "sim/SimBus.h"

#include "protocol/HexText.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace
{
void SleepFor(std::chrono::microseconds duration)
{
    if (duration.count() > 0)
        std::this_thread::sleep_for(duration);
}

// Latency is a figure that benchmarks count on, so it ends on time: a plain sleep wakes tens of
// microseconds late, which would add itself to every transfer. Sleep for most of it, then yield
// until it is due.
void WaitLatency(std::chrono::microseconds latency)
{
    constexpr auto YIELD_SPAN = std::chrono::microseconds(200);
    if (latency.count() <= 0)
        return;
    const auto tDue = std::chrono::steady_clock::now() + latency;
    if (latency > YIELD_SPAN)
        std::this_thread::sleep_until(tDue - YIELD_SPAN);
    while (std::chrono::steady_clock::now() < tDue)
        std::this_thread::yield();
}
} // namespace

CSimBus::CSimBus() = default;

CSimBus::~CSimBus()
{
    {
        std::lock_guard lock(m_mtxLock);
        m_bStop = true;
    }
    m_cvReattach.notify_all();
    if (m_reattachThread.joinable())
        m_reattachThread.join();
    if (m_pTraceFile)
        std::fclose(m_pTraceFile);
}

std::shared_ptr<CSimBus> CSimBus::FromEnvironment()
{
    auto pBus = std::make_shared<CSimBus>();
    std::vector<std::string> warnings;
    for (const SimBoardConfig& config : ParseSimBoards(std::getenv("KELVARD_SIM_BOARDS"), warnings))
        pBus->Plug(config);
    for (const std::string& strWarning : warnings)
        std::fprintf(stderr, "kelvard-sim: KELVARD_SIM_BOARDS: %s\n", strWarning.c_str());
    if (const char* pszTrace = std::getenv("KELVARD_SIM_TRACE"); pszTrace && *pszTrace)
        pBus->SetTraceFile(pszTrace);
    return pBus;
}

std::shared_ptr<CSimBoard> CSimBus::Plug(const SimBoardConfig& config)
{
    auto pBoard = std::make_shared<CSimBoard>(config);
    Replug(pBoard);
    return pBoard;
}

std::shared_ptr<CSimBoard> CSimBus::PlugInPlaceOf(const std::shared_ptr<CSimBoard>& pGone,
                                                  const SimBoardConfig& config)
{
    auto pBoard = std::make_shared<CSimBoard>(config);
    {
        std::lock_guard lock(m_mtxLock);
        const std::size_t nSlot = SlotOfLocked(pGone);
        if (nSlot < m_vecSlots.size() && !m_vecSlots[nSlot].bAttached)
            m_vecSlots[nSlot].pBoard = pBoard;
    }
    Replug(pBoard);
    return pBoard;
}

void CSimBus::Replug(const std::shared_ptr<CSimBoard>& pBoard)
{
    bool bChanged;
    {
        std::lock_guard lock(m_mtxLock);
        std::size_t nSlot = SlotOfLocked(pBoard);
        if (nSlot == m_vecSlots.size())
            m_vecSlots.push_back({pBoard, false, 0});
        // Plugging by hand overtakes a scheduled re-attach, in the mode it was going to have.
        auto it = std::find_if(m_vecReattach.begin(), m_vecReattach.end(),
                               [&](const Reattach& r) { return r.nSlot == nSlot; });
        if (it != m_vecReattach.end())
        {
            pBoard->SetBootMode(it->bBoot);
            m_vecReattach.erase(it);
        }
        bChanged = AttachLocked(nSlot);
    }
    m_cvReattach.notify_all();
    if (bChanged)
        Notify(true);
}

void CSimBus::Unplug(const std::shared_ptr<CSimBoard>& pBoard)
{
    bool bChanged = false;
    {
        std::lock_guard lock(m_mtxLock);
        const std::size_t nSlot = SlotOfLocked(pBoard);
        if (nSlot < m_vecSlots.size())
        {
            std::erase_if(m_vecReattach, [&](const Reattach& r) { return r.nSlot == nSlot; });
            bChanged = DetachLocked(nSlot);
        }
    }
    m_cvReattach.notify_all();
    if (bChanged)
        Notify(false);
}

std::vector<std::shared_ptr<CSimBoard>> CSimBus::Boards() const
{
    std::lock_guard lock(m_mtxLock);
    std::vector<std::shared_ptr<CSimBoard>> boards;
    for (const Slot& slot : m_vecSlots)
        if (slot.bAttached)
            boards.push_back(slot.pBoard);
    return boards;
}

std::shared_ptr<CSimBoard> CSimBus::Board(std::uint32_t nInstance) const
{
    const auto boards = Boards();
    return nInstance < boards.size() ? boards[nInstance] : nullptr;
}

void CSimBus::SetReattachDelay(std::chrono::milliseconds delay)
{
    std::lock_guard lock(m_mtxLock);
    m_reattachDelay = delay;
}

bool CSimBus::WaitSettled(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mtxLock);
    return m_cvReattach.wait_for(lock, timeout, [&] { return m_vecReattach.empty(); });
}

void CSimBus::SetTraceFile(const std::string& strPath)
{
    std::lock_guard lock(m_traceMutex);
    if (m_pTraceFile)
        std::fclose(m_pTraceFile);
    m_pTraceFile = strPath.empty() ? nullptr : std::fopen(strPath.c_str(), "a");
    if (!strPath.empty() && !m_pTraceFile)
        std::fprintf(stderr, "kelvard-sim: cannot open trace file %s\n", strPath.c_str());
}

void CSimBus::CaptureTrace(bool bCapture)
{
    std::lock_guard lock(m_traceMutex);
    m_bCapture = bCapture;
}

std::vector<std::string> CSimBus::TakeTrace()
{
    std::lock_guard lock(m_traceMutex);
    return std::exchange(m_vecTrace, {});
}

void CSimBus::SetChangeListener(ChangeListener listener)
{
    std::lock_guard lock(m_mtxLock);
    m_fnListener = std::move(listener);
}

std::uint32_t CSimBus::Count() const
{
    std::lock_guard lock(m_mtxLock);
    return static_cast<std::uint32_t>(std::count_if(m_vecSlots.begin(), m_vecSlots.end(),
                                                    [](const Slot& s) { return s.bAttached; }));
}

std::uint64_t CSimBus::Open(std::uint32_t nInstance, std::uint8_t byEndpoint)
{
    if (byEndpoint != 0x01 && byEndpoint != 0x81)
        return 0;
    std::lock_guard lock(m_mtxLock);
    std::uint32_t nSeen = 0;
    for (std::size_t nSlot = 0; nSlot < m_vecSlots.size(); ++nSlot)
    {
        if (!m_vecSlots[nSlot].bAttached)
            continue;
        if (nSeen++ != nInstance)
            continue;
        if (m_vecSlots[nSlot].pBoard->Config().eAccess != ESimAccess::Open)
            return 0;
        const std::uint64_t nPipe = m_nNextPipe++;
        m_vecPipes.push_back(
            {nPipe, {nSlot, m_vecSlots[nSlot].nGeneration, nInstance, byEndpoint == 0x81}});
        return nPipe;
    }
    return 0;
}

std::size_t CSimBus::SlotOf(std::uint32_t nInstance) const
{
    std::lock_guard lock(m_mtxLock);
    std::uint32_t nSeen = 0;
    for (std::size_t nSlot = 0; nSlot < m_vecSlots.size(); ++nSlot)
        if (m_vecSlots[nSlot].bAttached && nSeen++ == nInstance)
            return nSlot;
    return NO_SLOT;
}

std::size_t CSimBus::SlotOfPipe(std::uint64_t nPipe) const
{
    std::lock_guard lock(m_mtxLock);
    const auto it = std::find_if(m_vecPipes.begin(), m_vecPipes.end(),
                                 [&](const auto& entry) { return entry.first == nPipe; });
    return it == m_vecPipes.end() ? NO_SLOT : it->second.nSlot;
}

bool CSimBus::IsPipeAttached(std::uint64_t nPipe) const
{
    std::lock_guard lock(m_mtxLock);
    const auto it = std::find_if(m_vecPipes.begin(), m_vecPipes.end(),
                                 [&](const auto& entry) { return entry.first == nPipe; });
    if (it == m_vecPipes.end())
        return false;
    const Slot& slot = m_vecSlots[it->second.nSlot];
    return slot.bAttached && slot.nGeneration == it->second.nGeneration;
}

void CSimBus::Close(std::uint64_t nPipe)
{
    std::lock_guard lock(m_mtxLock);
    std::erase_if(m_vecPipes, [&](const auto& entry) { return entry.first == nPipe; });
}

bool CSimBus::SameAttachment(std::uint64_t nPipeA, std::uint64_t nPipeB) const
{
    std::lock_guard lock(m_mtxLock);
    auto pipeOf = [&](std::uint64_t nPipe)
    {
        return std::find_if(m_vecPipes.begin(), m_vecPipes.end(),
                            [&](const auto& entry) { return entry.first == nPipe; });
    };
    const auto itA = pipeOf(nPipeA);
    const auto itB = pipeOf(nPipeB);
    return itA != m_vecPipes.end() && itB != m_vecPipes.end() &&
           itA->second.nSlot == itB->second.nSlot &&
           itA->second.nGeneration == itB->second.nGeneration;
}

std::shared_ptr<CSimBoard> CSimBus::Resolve(std::uint64_t nPipe, bool bIn, std::uint32_t& nInstance)
{
    std::lock_guard lock(m_mtxLock);
    auto it = std::find_if(m_vecPipes.begin(), m_vecPipes.end(),
                           [&](const auto& entry) { return entry.first == nPipe; });
    if (it == m_vecPipes.end() || it->second.bIn != bIn)
        return nullptr;
    nInstance = it->second.nInstance;
    const Slot& slot = m_vecSlots[it->second.nSlot];
    if (!slot.bAttached || slot.nGeneration != it->second.nGeneration)
        return nullptr;
    return slot.pBoard;
}

bool CSimBus::Write(std::uint64_t nPipe, const std::uint8_t* pData, std::size_t nLength,
                    std::size_t& nMoved, std::uint32_t nTimeoutMs)
{
    nMoved = 0;
    std::uint32_t nInstance = UINT32_MAX;
    const auto pBoard = Resolve(nPipe, false, nInstance);
    if (!pBoard)
    {
        if (nInstance != UINT32_MAX)
            Trace(nInstance, false, false, pData, nLength);
        return false;
    }
    WaitLatency(pBoard->Latency());
    const CSimBoard::Outcome outcome = pBoard->Write(pData, nLength);
    if (outcome.bTimedOut)
        SleepFor(std::chrono::milliseconds(nTimeoutMs));
    Trace(nInstance, false, outcome.bOk, pData, nLength);
    nMoved = outcome.nMoved;
    AfterTransfer(pBoard, outcome);
    return outcome.bOk;
}

bool CSimBus::Read(std::uint64_t nPipe, std::uint8_t* pData, std::size_t nLength,
                   std::size_t& nMoved, std::uint32_t nTimeoutMs)
{
    nMoved = 0;
    std::uint32_t nInstance = UINT32_MAX;
    const auto pBoard = Resolve(nPipe, true, nInstance);
    if (!pBoard)
    {
        if (nInstance != UINT32_MAX)
            Trace(nInstance, true, false, nullptr, 0);
        return false;
    }
    WaitLatency(pBoard->Latency());
    const CSimBoard::Outcome outcome = pBoard->Read(pData, nLength);
    if (outcome.bTimedOut)
        SleepFor(std::chrono::milliseconds(nTimeoutMs));
    Trace(nInstance, true, outcome.bOk, pData, outcome.nMoved);
    nMoved = outcome.nMoved;
    AfterTransfer(pBoard, outcome);
    return outcome.bOk;
}

void CSimBus::AfterTransfer(const std::shared_ptr<CSimBoard>& pBoard,
                            const CSimBoard::Outcome& outcome)
{
    if (outcome.eAction == ESimAction::None)
    {
        if (outcome.bUnplug)
            Unplug(pBoard);
        return;
    }
    // The microcontroller resets: it leaves the bus now and comes back in its new mode.
    const bool bBoot = outcome.eAction == ESimAction::EnterBootloader;
    bool bDetached = false;
    bool bAttached = false;
    {
        std::lock_guard lock(m_mtxLock);
        const std::size_t nSlot = SlotOfLocked(pBoard);
        if (nSlot == m_vecSlots.size())
            return;
        bDetached = DetachLocked(nSlot);
        if (outcome.bUnplug)
        {
            // Unplugged while resetting: it stays away.
        }
        else if (m_reattachDelay.count() == 0)
        {
            pBoard->SetBootMode(bBoot);
            bAttached = AttachLocked(nSlot);
        }
        else
        {
            m_vecReattach.push_back(
                {nSlot, bBoot, std::chrono::steady_clock::now() + m_reattachDelay});
            if (!m_reattachThread.joinable())
                m_reattachThread = std::thread([this] { ReattachLoop(); });
        }
    }
    m_cvReattach.notify_all();
    if (bDetached)
        Notify(false);
    if (bAttached)
        Notify(true);
}

void CSimBus::ReattachLoop()
{
    std::unique_lock lock(m_mtxLock);
    while (!m_bStop)
    {
        if (m_vecReattach.empty())
        {
            m_cvReattach.wait(lock);
            continue;
        }
        auto due =
            std::min_element(m_vecReattach.begin(), m_vecReattach.end(),
                             [](const Reattach& a, const Reattach& b) { return a.tDue < b.tDue; });
        // A copy: the wait reads the time again on waking, after a board that resets meanwhile
        // may have moved the list.
        const auto tDue = due->tDue;
        if (std::chrono::steady_clock::now() < tDue)
        {
            m_cvReattach.wait_until(lock, tDue);
            continue;
        }
        const Reattach entry = *due;
        m_vecReattach.erase(due);
        m_vecSlots[entry.nSlot].pBoard->SetBootMode(entry.bBoot);
        const bool bAttached = AttachLocked(entry.nSlot);
        lock.unlock();
        if (bAttached)
            Notify(true);
        m_cvReattach.notify_all();
        lock.lock();
    }
}

bool CSimBus::AttachLocked(std::size_t nSlot)
{
    Slot& slot = m_vecSlots[nSlot];
    if (slot.bAttached)
        return false;
    slot.bAttached = true;
    ++slot.nGeneration;
    return true;
}

bool CSimBus::DetachLocked(std::size_t nSlot)
{
    Slot& slot = m_vecSlots[nSlot];
    if (!slot.bAttached)
        return false;
    slot.bAttached = false;
    ++slot.nGeneration;
    return true;
}

std::size_t CSimBus::SlotOfLocked(const std::shared_ptr<CSimBoard>& pBoard) const
{
    auto it = std::find_if(m_vecSlots.begin(), m_vecSlots.end(),
                           [&](const Slot& s) { return s.pBoard == pBoard; });
    return static_cast<std::size_t>(it - m_vecSlots.begin());
}

void CSimBus::Notify(bool bArrival)
{
    ChangeListener listener;
    {
        std::lock_guard lock(m_mtxLock);
        listener = m_fnListener;
    }
    if (listener)
        listener(bArrival);
}

void CSimBus::Trace(std::uint32_t nInstance, bool bIn, bool bOk, const std::uint8_t* pData,
                    std::size_t nLength)
{
    std::lock_guard lock(m_traceMutex);
    if (!m_pTraceFile && !m_bCapture)
        return;
    std::string strLine = std::to_string(nInstance);
    strLine += bIn ? " <" : " >";
    if (!bOk)
        strLine += '!';
    if (!(bIn && !bOk) && nLength != 0)
        strLine += ' ' + HexText(pData, nLength);
    if (m_pTraceFile)
    {
        std::fputs(strLine.c_str(), m_pTraceFile);
        std::fputc('\n', m_pTraceFile);
        std::fflush(m_pTraceFile);
    }
    if (m_bCapture)
        m_vecTrace.push_back(std::move(strLine));
}
