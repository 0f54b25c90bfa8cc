#pragma once
// The library's device-change window: once armed by Initialize, a device-nodes-changed notice
// re-runs the USB enumeration so the table follows plugging and unplugging. On this host there
// is no window to show; the object is the notice's receiver, and whatever delivers plug and
// unplug notices (the driver layer's device-change watch) calls OnDeviceChange.
#include <cstdint>

class CZorvaneApp;

class CHiddenWnd
{
public:
    static constexpr std::uint32_t DBT_DEVNODES_CHANGED = 0x0007;

    explicit CHiddenWnd(CZorvaneApp& app);
    CHiddenWnd(const CHiddenWnd&) = delete;
    CHiddenWnd& operator=(const CHiddenWnd&) = delete;

    // The window "Hidden", invisible and without parent; nothing to make here. True.
    bool Create();
    void DestroyWindow();

    // Takes the library lock; enumerates when armed and nEventType is 7. nData is never looked
    // at. Always 0. Must not be called with the library lock held.
    std::int32_t OnDeviceChange(std::uint32_t nEventType, std::uintptr_t nData);

    std::int32_t m_bArmed; // set by Initialize, under the library lock; never cleared

private:
    CZorvaneApp& m_app;
};
