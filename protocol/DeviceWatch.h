#pragma once
// The device-change watch of one driver context: consumers register a callback that runs once
// per change of the attached set, always on the watch's own dispatch thread, one change at a
// time, in order. Each consumer marshals it to the thread that owns its tables.
#include "protocol/UsbBackend.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

// Device-change events as the platform numbers them: a change of the attached set reaches the
// library and the dialog as "device nodes changed", with arrival or removal where known.
inline constexpr unsigned DBT_DEVNODES_CHANGED = 0x0007;
inline constexpr unsigned DBT_DEVICEARRIVAL = 0x8000;
inline constexpr unsigned DBT_DEVICEQUERYREMOVE = 0x8001;
inline constexpr unsigned DBT_DEVICEREMOVECOMPLETE = 0x8004;
inline constexpr unsigned DBT_USERDEFINED = 0xFFFF;

using DeviceChangeCallback = std::function<void(EDeviceChange)>;

class CDeviceWatch
{
public:
    // fnConnect asks the context's backend, once, to report its changes to Notify.
    explicit CDeviceWatch(std::function<void()> fnConnect);
    // Stops the dispatch thread; a callback still registered never runs again.
    ~CDeviceWatch();
    CDeviceWatch(const CDeviceWatch&) = delete;
    CDeviceWatch& operator=(const CDeviceWatch&) = delete;

    // Registers a callback; returns its id (never 0). The first registration connects the
    // watch to the backend and starts the dispatch thread.
    int Add(DeviceChangeCallback callback);

    // Unregisters. Once it returns the callback is not running and never runs again, unless it
    // is called from inside that same callback, where it returns at once.
    void Remove(int nId);

    // Queues one change for dispatch; the backend calls it. Returns at once.
    void Notify(EDeviceChange change);

    // Waits until every change queued so far has been dispatched (tests). Must not be called
    // from a callback.
    void Flush();

private:
    void DispatchLoop();

    std::function<void()> m_fnConnect;
    std::once_flag m_onceConnect;
    std::mutex m_mtxLock;
    std::condition_variable m_cvWake;
    std::map<int, std::shared_ptr<DeviceChangeCallback>> m_mapCallbacks;
    int m_nNextId = 1;
    int m_nRunningId = 0; // the callback being called, 0 for none
    std::deque<EDeviceChange> m_dqChanges;
    std::uint64_t m_nQueued = 0;
    std::uint64_t m_nDispatched = 0;
    std::thread m_thrDispatch;
    std::thread::id m_idDispatch;
    bool m_bStop = false;
};
