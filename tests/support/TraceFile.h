#pragma once
// The simulated bus's trace file (KELVARD_SIM_TRACE) read as it grows: each call gives the
// lines written since the last one.
#include <fstream>
#include <string>
#include <vector>

class CTraceFile
{
public:
    explicit CTraceFile(std::string strPath) : m_strPath(std::move(strPath)) {}

    const std::string& Path() const { return m_strPath; }
    std::vector<std::string> TakeNew()
    {
        std::ifstream file(m_strPath);
        std::vector<std::string> vecFresh;
        std::size_t nLine = 0;
        for (std::string strLine; std::getline(file, strLine); ++nLine)
            if (nLine >= m_nSeen)
                vecFresh.push_back(strLine);
        m_nSeen = nLine;
        return vecFresh;
    }

private:
    std::string m_strPath;
    std::size_t m_nSeen = 0;
};
