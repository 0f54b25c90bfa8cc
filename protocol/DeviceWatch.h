#pragma once
// The device-change watch: consumers register a callback that runs once per change of the
// attached set, always on the watch's own dispatch thread, one change at a time, in order.
// Each consumer marshals it to the thread that owns its tables.
#include "UsbBackend.h"

#include <functional>

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
