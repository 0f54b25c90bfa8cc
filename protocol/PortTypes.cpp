#include "protocol/PortTypes.h"

#include <cstdio>

std::string FormatVersion(std::uint16_t wVersion)
{
    char szText[16];
    std::snprintf(szText, sizeof szText, "%d.%02d", wVersion >> 8, wVersion & 0xFF);
    return szText;
}
