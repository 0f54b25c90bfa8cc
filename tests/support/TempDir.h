#pragma once
// A private directory for one test, removed with everything in it at the end of the scope: its
// files, and the symlinks in it that make pseudo-terminals answer as COM ports.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class CTempDir
{
public:
    CTempDir()
    {
        const char* pszBase = std::getenv("TMPDIR");
        std::string strTemplate =
            std::string(pszBase && *pszBase ? pszBase : "/tmp") + "/zorvane-XXXXXX";
        if (mkdtemp(strTemplate.data()))
            m_path = strTemplate;
    }
    ~CTempDir() { std::filesystem::remove_all(m_path, m_errIgnored); }
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    std::string File(const std::string& strName) const { return (m_path / strName).string(); }
    // Writes the text into a file of the directory; its path.
    std::string Write(const std::string& strText,
                      const std::string& strName = "KelvardUSB.hex") const
    {
        std::ofstream(File(strName), std::ios::binary) << strText;
        return File(strName);
    }
    // The KELVARD_COM_PATTERN under which ComLink(n, ...) makes COM port n.
    std::string ComPattern() const { return File("ttyKV%d"); }
    bool ComLink(int nPort, const std::string& strTarget) const
    {
        std::error_code error;
        const auto link = m_path / ("ttyKV" + std::to_string(nPort - 1));
        std::filesystem::remove(link, error);
        std::filesystem::create_symlink(strTarget, link, error);
        return !error;
    }

private:
    std::filesystem::path m_path; // empty when it could not be made
    std::error_code m_errIgnored;
};
