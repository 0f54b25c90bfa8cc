#include "zorvane/devices/HiddenWnd.h"

#include "protocol/DeviceWatch.h"

#include <mutex>

CHiddenWnd::CHiddenWnd(std::mutex& mutex, std::function<void()> fnEnumerate)
    : m_bArmed(0), m_mtxLock(mutex), m_fnEnumerate(std::move(fnEnumerate)), m_nWatch(0)
{
}

CHiddenWnd::~CHiddenWnd()
{
    DestroyWindow();
}

bool CHiddenWnd::Create()
{
    return true;
}

void CHiddenWnd::DestroyWindow()
{
    if (const int nWatch = m_nWatch.exchange(0))
        m_pWatch->Remove(nWatch);
}

void CHiddenWnd::Arm(CDeviceWatch& watch)
{
    m_bArmed = 1;
    if (m_nWatch.load() != 0)
        return;
    try
    {
        // Arrival and removal alike change the device nodes; the enumeration sorts out which.
        m_pWatch = &watch;
        m_nWatch = watch.Add([this](EDeviceChange) { OnDeviceChange(DBT_DEVNODES_CHANGED, 0); });
    }
    catch (...)
    {
        // Like a window that never appeared: no notices, the next Initialize tries again.
    }
}

std::int32_t CHiddenWnd::OnDeviceChange(std::uint32_t nEventType, std::uintptr_t /*nData*/)
{
    try
    {
        std::lock_guard lock(m_mtxLock);
        if (m_bArmed && nEventType == DBT_DEVNODES_CHANGED)
            m_fnEnumerate();
    }
    catch (...)
    {
        // A failed enumeration leaves the table as it got; the next notice tries again.
    }
    return 0;
}
