#pragma once
// The device-change watch: consumers register a callback that runs once per change of the
// attached set, always on the watch's own dispatch thread, one change at a time, in order.
// Each consumer marshals it to the thread that owns its tables.
#include "protocol/UsbBackend.h"

#include <functional>

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
    // Registers a callback; returns its id (never 0). The first registration connects the
    // watch to the process-wide backend and starts the dispatch thread.
    static int Add(DeviceChangeCallback callback);

    // Unregisters. Once it returns the callback is not running and never runs again, unless it
    // is called from inside that same callback, where it returns at once.
    static void Remove(int nId);

    // Queues one change for dispatch; used by backends. Returns at once.
    static void Notify(EDeviceChange change);

    // Waits until every change queued so far has been dispatched (tests). Must not be called
    // from a callback.
    static void Flush();
};
