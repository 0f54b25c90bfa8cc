#include "protocol/DeviceWatch.h"

#include "protocol/DriverInternal.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace
{
struct WatchState
{
    std::mutex mtxLock;
    std::condition_variable cvWake;
    std::map<int, std::shared_ptr<DeviceChangeCallback>> mapCallbacks;
    int nNextId = 1;
    int nRunningId = 0; // the callback being called, 0 for none
    std::deque<EDeviceChange> dqChanges;
    std::uint64_t nQueued = 0;
    std::uint64_t nDispatched = 0;
    std::thread thrDispatch;
    std::thread::id dispatchId;
    bool bStop = false;

    // Ends with the program, or with the shared library that holds it: a consumer that never
    // removed its callback must not leave the thread running code that is gone.
    ~WatchState()
    {
        std::thread last;
        {
            std::lock_guard lock(mtxLock);
            bStop = true;
            cvWake.notify_all();
            last = std::move(thrDispatch);
        }
        if (last.joinable() && last.get_id() == std::this_thread::get_id())
            last.detach(); // the program ends from inside a callback
        else if (last.joinable())
            last.join();
    }
};

// Made before the driver layer's own state (DeviceWatchStartup), so it ends after it: a
// backend reports changes here until the driver layer destroys it.
WatchState& State()
{
    static WatchState state;
    return state;
}

void DispatchLoop()
{
    WatchState& state = State();
    std::unique_lock lock(state.mtxLock);
    while (true)
    {
        state.cvWake.wait(lock, [&] { return state.bStop || !state.dqChanges.empty(); });
        if (state.bStop)
            return;
        const EDeviceChange change = state.dqChanges.front();
        state.dqChanges.pop_front();
        std::vector<int> ids;
        for (const auto& entry : state.mapCallbacks)
            ids.push_back(entry.first);
        for (int nId : ids)
        {
            auto it = state.mapCallbacks.find(nId);
            if (it == state.mapCallbacks.end())
                continue; // removed by an earlier callback of this round
            const std::shared_ptr<DeviceChangeCallback> pCallback = it->second;
            state.nRunningId = nId;
            lock.unlock();
            (*pCallback)(change);
            lock.lock();
            state.nRunningId = 0;
        }
        ++state.nDispatched;
        state.cvWake.notify_all();
    }
}
} // namespace

void DeviceWatchStartup()
{
    State();
}

int CDeviceWatch::Add(DeviceChangeCallback callback)
{
    WatchState& state = State();
    int nId;
    {
        std::lock_guard lock(state.mtxLock);
        nId = state.nNextId++;
        state.mapCallbacks.emplace(nId,
                                   std::make_shared<DeviceChangeCallback>(std::move(callback)));
        if (!state.thrDispatch.joinable())
        {
            state.bStop = false;
            state.thrDispatch = std::thread(DispatchLoop);
            state.dispatchId = state.thrDispatch.get_id();
        }
    }
    MpusbConnectWatch();
    return nId;
}

void CDeviceWatch::Remove(int nId)
{
    WatchState& state = State();
    std::thread stopped;
    {
        std::unique_lock lock(state.mtxLock);
        state.mapCallbacks.erase(nId);
        if (std::this_thread::get_id() == state.dispatchId)
            return; // inside a callback: it finishes by itself
        state.cvWake.wait(lock, [&] { return state.nRunningId != nId; });
        if (state.mapCallbacks.empty() && state.thrDispatch.joinable())
        {
            state.bStop = true;
            // Dropped unseen: they count as dispatched, or a later Flush would wait for them.
            state.nDispatched += state.dqChanges.size();
            state.dqChanges.clear();
            state.cvWake.notify_all();
            stopped = std::move(state.thrDispatch);
            state.dispatchId = {};
        }
    }
    if (stopped.joinable())
        stopped.join();
}

void CDeviceWatch::Notify(EDeviceChange change)
{
    WatchState& state = State();
    std::lock_guard lock(state.mtxLock);
    if (!state.thrDispatch.joinable())
        return; // nobody is watching
    state.dqChanges.push_back(change);
    ++state.nQueued;
    state.cvWake.notify_all();
}

void CDeviceWatch::Flush()
{
    WatchState& state = State();
    std::unique_lock lock(state.mtxLock);
    const std::uint64_t nTarget = state.nQueued;
    state.cvWake.wait(lock, [&]
                      { return state.nDispatched >= nTarget || !state.thrDispatch.joinable(); });
}
