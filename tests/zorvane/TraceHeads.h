#pragma once
// Trace lines cut to what an enumeration test compares: instance, direction and command code.
#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

using Lines = std::vector<std::string>;

// "0 > 3c 07" becomes "0 > 3c".
inline Lines Heads(const Lines& trace)
{
    Lines heads;
    for (const std::string& strLine : trace)
        heads.push_back(strLine.substr(0, std::min<std::size_t>(strLine.size(), 6)));
    return heads;
}

// Entering one application board: read-device-id, read-serial-number, read-version, query-mode.
inline Lines WalkOf(const char* pszInstance)
{
    Lines heads;
    for (const char* pszCode : {"3c", "31", "00", "08"})
    {
        heads.push_back(std::string(pszInstance) + " > " + pszCode);
        heads.push_back(std::string(pszInstance) + " < " + pszCode);
    }
    return heads;
}

inline Lines Join(std::initializer_list<Lines> parts)
{
    Lines all;
    for (const Lines& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}
