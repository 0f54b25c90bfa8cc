#include "zorvane/cli/BoardTarget.h"

#include "zorvane/cli/ToolArgs.h"

#include "protocol/PortTypes.h"

#include <cstdio>
#include <stdexcept>

namespace
{
constexpr char PATH_PREFIX[] = "path=";

std::string Candidates(const std::vector<SBoardInfo>& vecBoards)
{
    if (vecBoards.empty())
        return "no board is attached";
    std::string strList = "attached:";
    for (const SBoardInfo& board : vecBoards)
        strList += "\n  " + BoardLine(board);
    return strList;
}
} // namespace

SBoardTarget ParseTarget(const std::string& strText)
{
    SBoardTarget target;
    std::string strError;
    if (!SBoardTarget::Parse(strText, target, strError))
        throw CUsageError(strError);
    return target;
}

SBoardInfo ResolveTarget(const SBoardTarget& target, const std::vector<SBoardInfo>& vecBoards)
{
    std::vector<const SBoardInfo*> vecMatches;
    for (const SBoardInfo& board : vecBoards)
        if (target.Matches(board))
            vecMatches.push_back(&board);
    if (vecMatches.empty())
        throw std::runtime_error("no board matches " + target.Text() + "; " +
                                 Candidates(vecBoards));
    if (vecMatches.size() > 1)
    {
        std::string strMessage = target.Text() + " matches " + std::to_string(vecMatches.size()) +
                                 " boards; name one by its path:";
        for (const SBoardInfo* pBoard : vecMatches)
            strMessage += "\n  " + BoardLine(*pBoard);
        throw std::runtime_error(strMessage);
    }
    if (vecMatches.front()->eOpen != EStatus::Ok)
        throw std::runtime_error(BoardLabel(*vecMatches.front()) + " " +
                                 OpenFailureText(*vecMatches.front()));
    return *vecMatches.front();
}

std::string BoardLabel(const SBoardInfo& board)
{
    if (board.nDeviceId >= 0)
        return "board " + std::to_string(board.nDeviceId) + " (" + board.strLocation + ")";
    return "board at " + board.strLocation;
}

std::string ResumeTarget(const SBoardInfo& board)
{
    return PATH_PREFIX + board.strLocation;
}

std::string BoardLine(const SBoardInfo& board)
{
    const std::string strInstance = std::to_string(board.nInstance);
    if (board.eOpen != EStatus::Ok)
        return strInstance + " ? ? ? ? " + board.strLocation + " " + OpenFailureText(board);
    const std::string strId = board.nDeviceId >= 0 ? std::to_string(board.nDeviceId) : "-";
    const std::string strSerial = board.strSerial.empty() ? "-" : board.strSerial;
    const std::string strVersion = board.bBoot ? "-" : FormatVersion(board.wVersion);
    return strInstance + " " + strId + " " + strSerial + " " + strVersion + " " +
           (board.bBoot ? "boot" : "app") + " " + board.strLocation;
}

std::string OpenFailureText(const SBoardInfo& board)
{
    std::string strText = std::string("cannot be opened: ") + StatusText(board.eOpen);
    if (board.eOpen == EStatus::Access)
        strText += " (install the udev rule 70-kelvard.rules, which the libzorvane1 package puts in"
                   " /lib/udev/rules.d, or join the plugdev group: sudo usermod -aG plugdev $USER"
                   " and log in again; then unplug the board and plug it in again)";
    return strText;
}
