#include "firmware/ImageFile.h"

#include "firmware/ChipTable.h"
#include "firmware/HexImage.h"
#include "protocol/Status.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace
{
// Far above the HEX text of a whole chip (about 90 KB for 32 KB of flash).
constexpr std::size_t IMAGE_TEXT_MAX = 1024 * 1024;

// The file's text, or false with the problem in strProblem.
bool ReadLimited(const std::string& strFile, std::string& strText, std::string& strProblem)
{
    const int hFile = open(strFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (hFile < 0)
    {
        strProblem = "cannot open " + strFile + ": " + std::strerror(errno);
        return false;
    }
    strText.clear();
    char byChunk[65536];
    for (;;)
    {
        const ssize_t nRead = read(hFile, byChunk, sizeof byChunk);
        if (nRead < 0 && errno == EINTR)
            continue;
        if (nRead < 0)
            strProblem = "cannot read " + strFile + ": " + std::strerror(errno);
        else if (nRead > 0)
            strText.append(byChunk, static_cast<std::size_t>(nRead));
        if (strText.size() > IMAGE_TEXT_MAX)
            strProblem = strFile + ": not a firmware image: it is larger than 1 MiB";
        if (nRead <= 0 || !strProblem.empty())
            break;
    }
    close(hFile);
    return strProblem.empty();
}
} // namespace

std::string ReadFirmwareImage(const std::string& strFile, std::string& strText)
{
    std::string strProblem;
    if (!ReadLimited(strFile, strText, strProblem))
        return strProblem;
    CHexImage image;
    switch (image.LoadText(strText))
    {
    case EStatus::Ok:
        break;
    case EStatus::FileEnd:
        return strFile + ": not a firmware image: it has no program data, or it ends inside a "
                         "record or before its end record";
    default:
        return strFile + ": not a firmware image: a record is not valid (its checksum, a "
                         "character that is no hexadecimal digit, or ID data of more than 16 "
                         "bytes)";
    }
    strProblem = image.FitProblem(LargestChip());
    return strProblem.empty() ? strProblem : strFile + ": fits no board: " + strProblem;
}
