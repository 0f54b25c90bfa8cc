#pragma once
// The library's device-change window: once armed by Initialize, a device-nodes-changed notice
// re-runs the USB enumeration so the table follows plugging and unplugging. On this host there
// is no window to show; the object is the notice's receiver, and the driver layer's
// device-change watch (libusb hot-plug for real boards, the simulated bus's own events) takes
// the place of the window messages: every change of the attached set arrives as
// OnDeviceChange(7, 0) on the watch's one thread. What a rescan is, and the lock it needs,
// come from the application object that owns the window.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

class CDeviceWatch;

class CHiddenWnd
{
public:
    // mutex: the library lock, held around every rescan. fnEnumerate: the rescan (the
    // application object's USB enumeration).
    CHiddenWnd(std::mutex& mutex, std::function<void()> fnEnumerate);
    ~CHiddenWnd();
    CHiddenWnd(const CHiddenWnd&) = delete;
    CHiddenWnd& operator=(const CHiddenWnd&) = delete;

    // The window "Hidden", invisible and without parent; nothing to make here. True.
    bool Create();
    // Disconnects from the device-change watch: once it returns, no notice runs or will run.
    // Must not be called with the library lock held (a notice may be waiting for it), nor
    // while another thread calls Initialize.
    void DestroyWindow();

    // Locked (Initialize). Sets m_bArmed and, unless already connected, connects the window to
    // the device-change watch of the library's driver context, which starts the watch's one
    // thread. The watch must outlive the window's connection (DestroyWindow).
    void Arm(CDeviceWatch& watch);

    // Takes the library lock; rescans when armed and nEventType is 7. nData is never looked
    // at. Always 0. Must not be called with the library lock held.
    std::int32_t OnDeviceChange(std::uint32_t nEventType, std::uintptr_t nData);

    std::int32_t m_bArmed; // set by Initialize, under the library lock; never cleared

private:
    std::mutex& m_mtxLock;
    std::function<void()> m_fnEnumerate;
    std::atomic<int> m_nWatch; // the watch registration; 0 while not connected
    CDeviceWatch* m_pWatch = nullptr;
};
