#pragma once
// The library's device-change window: once armed by Initialize, a device-nodes-changed notice
// re-runs the USB enumeration so the table follows plugging and unplugging. On this host there
// is no window to show; the object is the notice's receiver, and the driver layer's
// device-change watch (libusb hot-plug for real boards, the simulated bus's own events) takes
// the place of the window messages: every change of the attached set arrives as
// OnDeviceChange(7, 0) on the watch's one thread.
#include <atomic>
#include <cstdint>

class CZorvaneApp;

class CHiddenWnd
{
public:
    static constexpr std::uint32_t DBT_DEVNODES_CHANGED = 0x0007;

    explicit CHiddenWnd(CZorvaneApp& app);
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
    // the device-change watch, which starts the watch's one thread.
    void Arm();

    // Takes the library lock; enumerates when armed and nEventType is 7. nData is never looked
    // at. Always 0. Must not be called with the library lock held.
    std::int32_t OnDeviceChange(std::uint32_t nEventType, std::uintptr_t nData);

    std::int32_t m_bArmed; // set by Initialize, under the library lock; never cleared

private:
    CZorvaneApp& m_app;
    std::atomic<int> m_nWatch; // the watch registration; 0 while not connected
};
