#include "zorvane/cli/PortText.h"

#include "zorvane/cli/ToolArgs.h"

#include <cctype>
#include <cstdio>

int ParsePortLetter(const std::string& strText)
{
    if (strText.size() == 1)
    {
        const int nPort = std::toupper(static_cast<unsigned char>(strText[0])) - 'A';
        if (nPort >= 0 && nPort < PORT_COUNT)
            return nPort;
    }
    throw CUsageError("'" + strText + "' is no port (A to E)");
}

char PortLetter(int nPort)
{
    return static_cast<char>('A' + nPort);
}

std::uint32_t ParseNumber(const std::string& strText, std::uint32_t nMax, const char* pszWhat)
{
    const bool bHex =
        strText.size() > 2 && strText[0] == '0' && (strText[1] == 'x' || strText[1] == 'X');
    const unsigned nBase = bHex ? 16 : 10;
    const std::size_t nFirst = bHex ? 2 : 0;
    std::uint64_t nValue = 0;
    bool bValid = strText.size() > nFirst;
    for (std::size_t i = nFirst; bValid && i < strText.size(); ++i)
    {
        const unsigned char c = static_cast<unsigned char>(strText[i]);
        const unsigned nDigit = std::isdigit(c)    ? c - '0'
                                : std::isxdigit(c) ? std::tolower(c) - 'a' + 10
                                                   : 16;
        bValid = nDigit < nBase;
        nValue = nValue * nBase + nDigit;
        bValid = bValid && nValue <= nMax;
    }
    if (!bValid)
        throw CUsageError(std::string("invalid ") + pszWhat + " '" + strText + "' (0 to " +
                          std::to_string(nMax) + ", decimal or 0x hex)");
    return static_cast<std::uint32_t>(nValue);
}

std::string FormatPortValue(int nPort, std::uint8_t byValue)
{
    char szText[8];
    std::snprintf(szText, sizeof szText, "%c=0x%02x", PortLetter(nPort), byValue);
    return szText;
}
