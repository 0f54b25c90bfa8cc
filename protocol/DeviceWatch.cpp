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
    std::mutex mutex;
    std::condition_variable cv;
    std::map<int, std::shared_ptr<DeviceChangeCallback>> callbacks;
    int nNextId = 1;
    int nRunningId = 0; // the callback being called, 0 for none
    std::deque<EDeviceChange> queue;
    std::uint64_t nQueued = 0;
    std::uint64_t nDispatched = 0;
    std::thread thread;
    std::thread::id dispatchId;
    bool bStop = false;

    // Ends with the program, or with the shared library that holds it: a consumer that never
    // removed its callback must not leave the thread running code that is gone.
    ~WatchState()
    {
        std::thread last;
        {
            std::lock_guard lock(mutex);
            bStop = true;
            cv.notify_all();
            last = std::move(thread);
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
    std::unique_lock lock(state.mutex);
    while (true)
    {
        state.cv.wait(lock, [&] { return state.bStop || !state.queue.empty(); });
        if (state.bStop)
            return;
        const EDeviceChange change = state.queue.front();
        state.queue.pop_front();
        std::vector<int> ids;
        for (const auto& entry : state.callbacks)
            ids.push_back(entry.first);
        for (int nId : ids)
        {
            auto it = state.callbacks.find(nId);
            if (it == state.callbacks.end())
                continue; // removed by an earlier callback of this round
            const std::shared_ptr<DeviceChangeCallback> pCallback = it->second;
            state.nRunningId = nId;
            lock.unlock();
            (*pCallback)(change);
            lock.lock();
            state.nRunningId = 0;
        }
        ++state.nDispatched;
        state.cv.notify_all();
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
        std::lock_guard lock(state.mutex);
        nId = state.nNextId++;
        state.callbacks.emplace(nId, std::make_shared<DeviceChangeCallback>(std::move(callback)));
        if (!state.thread.joinable())
        {
            state.bStop = false;
            state.thread = std::thread(DispatchLoop);
            state.dispatchId = state.thread.get_id();
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
        std::unique_lock lock(state.mutex);
        state.callbacks.erase(nId);
        if (std::this_thread::get_id() == state.dispatchId)
            return; // inside a callback: it finishes by itself
        state.cv.wait(lock, [&] { return state.nRunningId != nId; });
        if (state.callbacks.empty() && state.thread.joinable())
        {
            state.bStop = true;
            // Dropped unseen: they count as dispatched, or a later Flush would wait for them.
            state.nDispatched += state.queue.size();
            state.queue.clear();
            state.cv.notify_all();
            stopped = std::move(state.thread);
            state.dispatchId = {};
        }
    }
    if (stopped.joinable())
        stopped.join();
}

void CDeviceWatch::Notify(EDeviceChange change)
{
    WatchState& state = State();
    std::lock_guard lock(state.mutex);
    if (!state.thread.joinable())
        return; // nobody is watching
    state.queue.push_back(change);
    ++state.nQueued;
    state.cv.notify_all();
}

void CDeviceWatch::Flush()
{
    WatchState& state = State();
    std::unique_lock lock(state.mutex);
    const std::uint64_t nTarget = state.nQueued;
    state.cv.wait(lock, [&] { return state.nDispatched >= nTarget || !state.thread.joinable(); });
}
