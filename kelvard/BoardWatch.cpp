#include "kelvard/BoardWatch.h"

#include "protocol/DriverContext.h"

#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

CKelvardWatch::CKelvardWatch(std::shared_ptr<CDriverContext> pContext)
    : m_pContext(std::move(pContext))
{
}

CKelvardWatch::~CKelvardWatch()
{
    if (m_nWatchId != 0)
        m_pContext->Watch().Remove(m_nWatchId);
    if (m_hEvent >= 0)
        ::close(m_hEvent);
}

int CKelvardWatch::Start()
{
    m_hEvent = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_hEvent < 0)
        return KELVARD_ERR_SYSTEM;
    m_nWatchId = m_pContext->Watch().Add([this](EDeviceChange eChange) {
        Deliver(eChange == EDeviceChange::Arrival ? KELVARD_EVENT_ARRIVAL : KELVARD_EVENT_REMOVAL);
    });
    return KELVARD_OK;
}

void CKelvardWatch::Deliver(kelvard_event eEvent)
{
    {
        std::lock_guard lock(m_mtxCallback);
        if (m_pfnCallback)
        {
            m_pfnCallback(eEvent, m_pUser);
            return;
        }
    }
    std::lock_guard lock(m_mtxQueue);
    m_dqEvents.push_back(eEvent);
    const std::uint64_t nOne = 1;
    [[maybe_unused]] const ssize_t nWritten = ::write(m_hEvent, &nOne, sizeof nOne);
}

int CKelvardWatch::Read(kelvard_event& eEvent)
{
    std::lock_guard lock(m_mtxQueue);
    if (m_dqEvents.empty())
        return KELVARD_ERR_AGAIN;
    eEvent = m_dqEvents.front();
    m_dqEvents.pop_front();
    if (m_dqEvents.empty())
    {
        // Not readable again until the next event.
        std::uint64_t nCount = 0;
        [[maybe_unused]] const ssize_t nRead = ::read(m_hEvent, &nCount, sizeof nCount);
    }
    return KELVARD_OK;
}

void CKelvardWatch::SetCallback(Callback pfnCallback, void* pUser)
{
    std::lock_guard lock(m_mtxCallback);
    m_pfnCallback = pfnCallback;
    m_pUser = pUser;
}
