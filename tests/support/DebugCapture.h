#pragma once
// Sends the diagnostic lines (KELVARD_DEBUG) to a file for the length of the scope; set it up
// before any thread that writes them starts.
#include "tests/support/TempDir.h"

#include <iterator>
#include <vector>

class CDebugCapture
{
public:
    CDebugCapture() { setenv("KELVARD_DEBUG", m_strPath.c_str(), 1); }
    ~CDebugCapture() { unsetenv("KELVARD_DEBUG"); }
    CDebugCapture(const CDebugCapture&) = delete;
    CDebugCapture& operator=(const CDebugCapture&) = delete;

    // Everything written so far.
    std::string Text() const
    {
        return std::string(std::istreambuf_iterator<char>(std::ifstream(m_strPath).rdbuf()), {});
    }
    // The lines written since the last call, each with its line feed.
    std::vector<std::string> Take()
    {
        std::vector<std::string> lines;
        std::ifstream file(m_strPath);
        for (std::string str; std::getline(file, str);)
            lines.push_back(str + "\n");
        std::filesystem::remove(m_strPath);
        return lines;
    }

private:
    CTempDir m_dir;
    std::string m_strPath = m_dir.File("debug.txt");
};
