#include "protocol/DebugOutput.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

void DebugOutput(const char* pszText)
{
    const char* pszSink = std::getenv("KELVARD_DEBUG");
    if (!pszSink || !*pszSink || !pszText)
        return;
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    if (std::strcmp(pszSink, "1") == 0)
    {
        std::fputs(pszText, stderr);
        return;
    }
    if (std::FILE* pFile = std::fopen(pszSink, "a"))
    {
        std::fputs(pszText, pFile);
        std::fclose(pFile);
    }
}

void DebugOutputFormat(const char* pszFormat, ...)
{
    if (!std::getenv("KELVARD_DEBUG"))
        return;
    char szText[1024];
    va_list args;
    va_start(args, pszFormat);
    std::vsnprintf(szText, sizeof szText, pszFormat, args);
    va_end(args);
    DebugOutput(szText);
}
