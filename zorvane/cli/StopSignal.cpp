#include "zorvane/cli/StopSignal.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace
{
// Lock-free atomics: the handler runs on whichever thread the signal interrupts, and the
// thread that waits reads what it wrote.
std::atomic<int> g_hPipe[2] = {-1, -1};
std::atomic<int> g_nSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

void OnStopSignal(int nSignal)
{
    const int nSavedErrno = errno;
    g_nSignal = nSignal;
    const char cByte = 1;
    [[maybe_unused]] const ssize_t nWritten = write(g_hPipe[1], &cByte, 1);
    errno = nSavedErrno;
}

void SetHandlers(void (*pfnHandler)(int))
{
    struct sigaction action = {};
    action.sa_handler = pfnHandler;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}
} // namespace

CStopSignal::CStopSignal()
{
    // Without the pipe the handlers stay the default ones: a signal still ends the program.
    int hPipe[2];
    if (pipe2(hPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    g_hPipe[0] = hPipe[0];
    g_hPipe[1] = hPipe[1];
    SetHandlers(OnStopSignal);
}

CStopSignal::~CStopSignal()
{
    if (g_hPipe[0] < 0)
        return;
    SetHandlers(SIG_DFL);
    // Reading what the handler wrote orders its write before the close.
    char cByte;
    while (read(g_hPipe[0], &cByte, 1) == 1)
    {
    }
    close(g_hPipe[0].exchange(-1));
    close(g_hPipe[1].exchange(-1));
}

bool CStopSignal::WaitFor(int nTimeoutMs)
{
    if (g_hPipe[0] < 0)
    {
        usleep(static_cast<useconds_t>(std::max(nTimeoutMs, 0)) * 1000);
        return false;
    }
    pollfd pfd{g_hPipe[0], POLLIN, 0};
    int nReady;
    do
        nReady = poll(&pfd, 1, std::max(nTimeoutMs, 0));
    while (nReady < 0 && errno == EINTR);
    return nReady > 0;
}

int CStopSignal::Signal() const
{
    return g_nSignal;
}

int CStopSignal::Handle() const
{
    return g_hPipe[0];
}
