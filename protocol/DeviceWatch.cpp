#include "protocol/DeviceWatch.h"

#include <vector>

CDeviceWatch::CDeviceWatch(std::function<void()> fnConnect) : m_fnConnect(std::move(fnConnect)) {}

CDeviceWatch::~CDeviceWatch()
{
    // Ends with its context, or with the shared library that holds it: a consumer that never
    // removed its callback must not leave the thread running code that is gone.
    std::thread last;
    {
        std::lock_guard lock(m_mtxLock);
        m_bStop = true;
        m_cvWake.notify_all();
        last = std::move(m_thrDispatch);
    }
    if (last.joinable() && last.get_id() == std::this_thread::get_id())
        last.detach(); // the program ends from inside a callback
    else if (last.joinable())
        last.join();
}

void CDeviceWatch::DispatchLoop()
{
    std::unique_lock lock(m_mtxLock);
    while (true)
    {
        m_cvWake.wait(lock, [&] { return m_bStop || !m_dqChanges.empty(); });
        if (m_bStop)
            return;
        const EDeviceChange change = m_dqChanges.front();
        m_dqChanges.pop_front();
        std::vector<int> ids;
        for (const auto& entry : m_mapCallbacks)
            ids.push_back(entry.first);
        for (int nId : ids)
        {
            auto it = m_mapCallbacks.find(nId);
            if (it == m_mapCallbacks.end())
                continue; // removed by an earlier callback of this round
            const std::shared_ptr<DeviceChangeCallback> pCallback = it->second;
            m_nRunningId = nId;
            lock.unlock();
            (*pCallback)(change);
            lock.lock();
            m_nRunningId = 0;
        }
        ++m_nDispatched;
        m_cvWake.notify_all();
    }
}

int CDeviceWatch::Add(DeviceChangeCallback callback)
{
    int nId;
    {
        std::lock_guard lock(m_mtxLock);
        nId = m_nNextId++;
        m_mapCallbacks.emplace(nId, std::make_shared<DeviceChangeCallback>(std::move(callback)));
        if (!m_thrDispatch.joinable())
        {
            m_bStop = false;
            m_thrDispatch = std::thread(&CDeviceWatch::DispatchLoop, this);
            m_idDispatch = m_thrDispatch.get_id();
        }
    }
    std::call_once(m_onceConnect, m_fnConnect);
    return nId;
}

void CDeviceWatch::Remove(int nId)
{
    std::thread stopped;
    {
        std::unique_lock lock(m_mtxLock);
        m_mapCallbacks.erase(nId);
        if (std::this_thread::get_id() == m_idDispatch)
            return; // inside a callback: it finishes by itself
        m_cvWake.wait(lock, [&] { return m_nRunningId != nId; });
        if (m_mapCallbacks.empty() && m_thrDispatch.joinable())
        {
            m_bStop = true;
            // Dropped unseen: they count as dispatched, or a later Flush would wait for them.
            m_nDispatched += m_dqChanges.size();
            m_dqChanges.clear();
            m_cvWake.notify_all();
            stopped = std::move(m_thrDispatch);
            m_idDispatch = {};
        }
    }
    if (stopped.joinable())
        stopped.join();
}

void CDeviceWatch::Notify(EDeviceChange change)
{
    std::lock_guard lock(m_mtxLock);
    if (!m_thrDispatch.joinable())
        return; // nobody is watching
    m_dqChanges.push_back(change);
    ++m_nQueued;
    m_cvWake.notify_all();
}

void CDeviceWatch::Flush()
{
    std::unique_lock lock(m_mtxLock);
    const std::uint64_t nTarget = m_nQueued;
    m_cvWake.wait(lock, [&] { return m_nDispatched >= nTarget || !m_thrDispatch.joinable(); });
}
