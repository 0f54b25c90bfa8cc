#include "zorvane/serial/ComPortName.h"

#include <cctype>
#include <climits>
#include <cstdlib>

std::int32_t ComPortNumber(const char* pszName)
{
    std::string strRest = pszName ? pszName : "";
    for (char& c : strRest)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (std::size_t nAt = strRest.find("com"); nAt != std::string::npos;
         nAt = strRest.find("com", nAt))
        strRest.erase(nAt, 3);
    const long nNumber = std::strtol(strRest.c_str(), nullptr, 10);
    if (nNumber > INT32_MAX || nNumber < INT32_MIN)
        return 0; // no port answers to such a number anyway
    return static_cast<std::int32_t>(nNumber);
}

bool FormatComPath(const std::string& strPattern, std::int32_t nPort, std::string& strPath)
{
    if (nPort < 1)
        return false;
    std::string strOut;
    bool bNumbered = false;
    for (std::size_t i = 0; i < strPattern.size(); ++i)
    {
        if (strPattern[i] != '%')
        {
            strOut += strPattern[i];
            continue;
        }
        const char cNext = i + 1 < strPattern.size() ? strPattern[i + 1] : '\0';
        if (cNext == '%')
            strOut += '%';
        else if (cNext == 'd' && !bNumbered)
        {
            strOut += std::to_string(nPort - 1);
            bNumbered = true;
        }
        else
            return false; // only one number goes in; anything else would read garbage
        ++i;
    }
    if (!bNumbered)
        return false;
    strPath = std::move(strOut);
    return true;
}

std::string ComPattern()
{
    const char* pszPattern = std::getenv(COM_PATTERN_VARIABLE);
    return pszPattern && *pszPattern ? pszPattern : COM_PATTERN_DEFAULT;
}
