#pragma once
// The number of threads the process runs now, from /proc. A thread started and joined before
// the first count lets a sanitizer's runtime start its own helper thread (it does so with the
// first thread a program makes), so that counts differ only by the program's own threads.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

// Whether a thread of this process is ending: a joined thread stays listed for a moment while
// the kernel ends it, with PF_EXITING set in the flags of its stat line (the 9th field).
inline bool ThreadIsEnding(const std::filesystem::path& task)
{
    constexpr unsigned long PF_EXITING = 0x4;
    std::ifstream file(task / "stat");
    std::string strStat;
    std::getline(file, strStat);
    const std::size_t nNameEnd = strStat.rfind(')');
    if (nNameEnd == std::string::npos)
        return true; // gone between the listing and the read
    std::istringstream fields(strStat.substr(nNameEnd + 1));
    std::string strSkipped;
    for (int i = 0; i < 6; ++i) // state, ppid, pgrp, session, tty_nr, tpgid
        fields >> strSkipped;
    unsigned long nFlags = 0;
    fields >> nFlags;
    return (nFlags & PF_EXITING) != 0;
}

inline int ThreadCount()
{
    static const bool bRuntimeStarted = []
    {
        std::thread([] {}).join();
        return true;
    }();
    int nCount = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
        nCount += ThreadIsEnding(entry.path()) ? 0 : 1;
    return bRuntimeStarted ? nCount : 0;
}
