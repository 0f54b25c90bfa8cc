#include "protocol/net/HostPort.h"

#include <algorithm>

bool ParseHostPort(const std::string& strText, SHostPort& address)
{
    std::string strRest;
    if (!strText.empty() && strText[0] == '[')
    {
        const std::size_t nClose = strText.find(']');
        if (nClose == std::string::npos)
            return false;
        address.strHost = strText.substr(1, nClose - 1);
        strRest = strText.substr(nClose + 1);
        if (!strRest.empty() && strRest[0] != ':')
            return false;
    }
    else
    {
        const std::size_t nColon = strText.find(':');
        address.strHost = strText.substr(0, nColon);
        if (nColon != std::string::npos)
            strRest = strText.substr(nColon);
    }
    address.nPort = 0;
    if (!strRest.empty())
    {
        const std::string strPort = strRest.substr(1);
        if (strPort.empty() || strPort.size() > 5 ||
            !std::all_of(strPort.begin(), strPort.end(),
                         [](unsigned char c) { return c >= '0' && c <= '9'; }))
            return false;
        address.nPort = std::stoi(strPort);
        if (address.nPort < 1 || address.nPort > 65535)
            return false;
    }
    return !address.strHost.empty();
}
