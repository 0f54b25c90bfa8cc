#include "firmware/HexFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// Room for a file whose size is not known in advance (a pipe, say), grown by doubling.
constexpr std::size_t UNSIZED_CHUNK = 64 * 1024;

// Reads the whole descriptor; false on a read error (a directory, for one).
bool ReadAll(int fd, std::unique_ptr<char[]>& pText, std::size_t& nLength)
{
    struct stat st
    {
    };
    std::size_t nCapacity = UNSIZED_CHUNK;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
    {
        // One byte spare, so that the read which finds the end needs no growth.
        nCapacity = static_cast<std::size_t>(st.st_size) + 1;
    }
    pText = std::make_unique_for_overwrite<char[]>(nCapacity);
    nLength = 0;
    for (;;)
    {
        if (nLength == nCapacity)
        {
            auto pLarger = std::make_unique_for_overwrite<char[]>(nCapacity * 2);
            std::memcpy(pLarger.get(), pText.get(), nLength);
            pText = std::move(pLarger);
            nCapacity *= 2;
        }
        ssize_t nRead = read(fd, pText.get() + nLength, nCapacity - nLength);
        if (nRead < 0)
        {
            if (errno == EINTR)
            {
                continue;
            }
            return false;
        }
        if (nRead == 0)
        {
            return true;
        }
        nLength += static_cast<std::size_t>(nRead);
    }
}
} // namespace

bool CHexFile::Open(const std::string& strPath)
{
    m_pText.reset();
    Attach({});
    int fd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
    {
        return false;
    }
    std::size_t nLength = 0;
    bool bRead = ReadAll(fd, m_pText, nLength);
    close(fd);
    if (!bRead)
    {
        m_pText.reset();
        return false;
    }
    Attach({m_pText.get(), nLength});
    return true;
}
