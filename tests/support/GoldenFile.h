#pragma once
// Expected wire bytes kept in a text file, one section per scenario:
//
//     [read ports]
//     0 > 36
//     0 < 36 00 00 00 00 00
//
// Lines starting with '#' and blank lines are comments. A missing section reads as one line that
// says so, so that the comparison fails with the name.
#include <fstream>
#include <string>
#include <vector>

inline std::vector<std::string> GoldenSection(const std::string& strFile, const std::string& strName)
{
    std::ifstream file(strFile);
    std::vector<std::string> lines;
    bool bIn = false;
    bool bFound = false;
    for (std::string strLine; std::getline(file, strLine);)
    {
        if (strLine.empty() || strLine[0] == '#')
            continue;
        if (strLine.front() == '[' && strLine.back() == ']')
        {
            bIn = strLine == "[" + strName + "]";
            bFound = bFound || bIn;
        }
        else if (bIn)
            lines.push_back(strLine);
    }
    if (!bFound)
        lines.push_back("no section [" + strName + "] in " + strFile);
    return lines;
}
