#pragma once
// The plug/unplug watch of the C API over the driver context's device watch: events queue up
// behind an eventfd for a poll loop, or go to a callback on the watch's dispatch thread.
#include "kelvard/kelvard.h"

#include <deque>
#include <memory>
#include <mutex>

class CDriverContext;

class CKelvardWatch
{
public:
    using Callback = void (*)(kelvard_event eEvent, void* pUser);

    explicit CKelvardWatch(std::shared_ptr<CDriverContext> pContext);
    // Unregisters from the device watch (waiting for a callback under way), then closes the fd.
    ~CKelvardWatch();
    CKelvardWatch(const CKelvardWatch&) = delete;
    CKelvardWatch& operator=(const CKelvardWatch&) = delete;

    // Registers with the device watch; KELVARD_OK or KELVARD_ERR_SYSTEM (no eventfd).
    int Start();
    int Fd() const { return m_hEvent; }
    int Read(kelvard_event& eEvent);
    void SetCallback(Callback pfnCallback, void* pUser);

private:
    void Deliver(kelvard_event eEvent);

    std::shared_ptr<CDriverContext> m_pContext;
    int m_nWatchId = 0;
    int m_hEvent = -1;
    std::mutex m_mtxQueue;
    std::deque<kelvard_event> m_dqEvents;
    // Held while a callback runs, so that replacing it waits for the old one; recursive, so that
    // a callback may replace itself.
    std::recursive_mutex m_mtxCallback;
    Callback m_pfnCallback = nullptr;
    void* m_pUser = nullptr;
};
