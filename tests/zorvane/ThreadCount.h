#pragma once
// The number of threads the process runs now, from /proc. A thread started and joined before
// the first count lets a sanitizer's runtime start its own helper thread (it does so with the
// first thread a program makes), so that counts differ only by the program's own threads.
#include <filesystem>
#include <thread>

inline int ThreadCount()
{
    static const bool bRuntimeStarted = []
    {
        std::thread([] {}).join();
        return true;
    }();
    int nCount = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/task"))
        ++nCount;
    return bRuntimeStarted ? nCount : 0;
}
