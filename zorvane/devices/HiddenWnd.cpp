#include "HiddenWnd.h"

#include "exports/ZorvaneApp.h"

#include <mutex>

CHiddenWnd::CHiddenWnd(CZorvaneApp& app) : m_bArmed(0), m_app(app) {}

bool CHiddenWnd::Create()
{
    return true;
}

void CHiddenWnd::DestroyWindow() {}

std::int32_t CHiddenWnd::OnDeviceChange(std::uint32_t nEventType, std::uintptr_t /*nData*/)
{
    try
    {
        std::lock_guard lock(m_app.Mutex());
        if (m_bArmed && nEventType == DBT_DEVNODES_CHANGED)
            m_app.EnumerateDevices();
    }
    catch (...)
    {
        // A failed enumeration leaves the table as it got; the next notice tries again.
    }
    return 0;
}
