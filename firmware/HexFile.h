#pragma once
// The HEX text of one loader pass, held in memory. A pass opens the file, reads it whole and
// closes it again, so the record reader takes its characters from a buffer rather than from one
// system call per character.
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

class CHexFile
{
public:
    CHexFile() = default;

    CHexFile(const CHexFile&) = delete;
    CHexFile& operator=(const CHexFile&) = delete;

    // One open, one bulk read, close. False when the file cannot be opened or read, which
    // leaves the reader empty.
    bool Open(const std::string& strPath);
    // Reads over text already in memory, which the caller keeps alive for the pass.
    void OpenText(std::string_view strText)
    {
        m_pText.reset();
        Attach(strText);
    }

    // Moves past the next ':' record mark; false when no mark is left.
    bool SkipToMark()
    {
        const void* pMark = std::memchr(m_pNext, ':', static_cast<std::size_t>(m_pEnd - m_pNext));
        if (pMark == nullptr)
        {
            m_pNext = m_pEnd;
            return false;
        }
        m_pNext = static_cast<const char*>(pMark) + 1;
        return true;
    }

    // The next nCount characters, or nullptr when fewer are left: the file ends inside the read.
    const char* Read(std::size_t nCount)
    {
        if (static_cast<std::size_t>(m_pEnd - m_pNext) < nCount)
        {
            m_pNext = m_pEnd;
            return nullptr;
        }
        const char* pChars = m_pNext;
        m_pNext += nCount;
        return pChars;
    }

private:
    void Attach(std::string_view strText)
    {
        m_pNext = strText.data();
        m_pEnd = m_pNext + strText.size();
    }

    std::unique_ptr<char[]> m_pText; // the file's bytes, when the text came from a file
    const char* m_pNext = nullptr;
    const char* m_pEnd = nullptr;
};
