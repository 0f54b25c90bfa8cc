#include "zorvane/serial/SerialText.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{
std::string Format(const char* pszFormat, int n1, int n2, int n3 = 0, int n4 = 0)
{
    char szLine[64];
    const int nLength = std::snprintf(szLine, sizeof szLine, pszFormat, n1, n2, n3, n4);
    return nLength > 0 ? std::string(szLine, static_cast<std::size_t>(nLength)) : std::string();
}

// The decimal number at the start of the text, cut to its low 8 bits.
std::uint8_t LeadingNumber(const char* pszText)
{
    return static_cast<std::uint8_t>(static_cast<unsigned long>(std::strtol(pszText, nullptr, 10)));
}
} // namespace

std::string FormatConfigureLine(std::uint8_t byDirA, std::uint8_t byDirB, std::uint8_t byDirC)
{
    return Format("C,%d,%d,%d,%d\n", byDirA, byDirB, byDirC, 0);
}

std::string FormatOutputLine(std::uint8_t byPortA, std::uint8_t byPortB, std::uint8_t byPortC)
{
    return Format("O,%d,%d,%d\n", byPortA, byPortB, byPortC);
}

std::string FormatBitOutputLine(char cPort, std::int32_t nBit, std::int32_t nValue)
{
    const std::string strFormat = std::string("PO,") + cPort + ",%d,%d\n";
    return Format(strFormat.c_str(), nBit & 0xFF, nValue);
}

std::string FormatBitInputLine(char cPort, std::int32_t nBit)
{
    const std::string strFormat = std::string("PI,") + cPort + ",%d\n";
    return Format(strFormat.c_str(), nBit & 0xFF, 0);
}

bool ParseReply(const std::string& strText, std::uint8_t& byPortA, std::uint8_t& byPortB,
                std::uint8_t& byPortC)
{
    const std::size_t nEnd = strText.find_last_not_of(" \t\n\v\f\r");
    const std::string strTrimmed =
        nEnd == std::string::npos ? std::string() : strText.substr(0, nEnd + 1);
    const std::size_t nComma = strTrimmed.find(',');
    if (nComma == std::string::npos)
        return false;
    const char* pszRest = strTrimmed.c_str() + nComma + 1;
    std::uint8_t byValues[3];
    for (int i = 0; i < 3; ++i)
    {
        if (i > 0)
            if (const char* pszNext = std::strchr(pszRest, ','))
                pszRest = pszNext + 1;
        byValues[i] = LeadingNumber(pszRest);
    }
    byPortA = byValues[0];
    byPortB = byValues[1];
    byPortC = byValues[2];
    return true;
}

bool HasAllReplyFields(const std::string& strText)
{
    std::size_t nAt = 0;
    for (int i = 0; i < 3; ++i)
    {
        nAt = strText.find(',', nAt);
        if (nAt == std::string::npos)
            return false;
        ++nAt;
    }
    // The last field as its number is read: white space, a sign, then the digit that matters.
    nAt = strText.find_first_not_of(" \t\v\f", nAt);
    if (nAt < strText.size() && (strText[nAt] == '+' || strText[nAt] == '-'))
        ++nAt;
    return nAt < strText.size() && std::isdigit(static_cast<unsigned char>(strText[nAt]));
}

bool TakeLine(std::string& strPending, std::string& strLine)
{
    const std::size_t nEnd = strPending.find_first_of("\r\n");
    if (nEnd == std::string::npos)
        return false;
    strLine = strPending.substr(0, nEnd);
    strPending.erase(0, nEnd + 1);
    return true;
}
