#pragma once
// The board a firmware command works on, named as TARGET: a device ID ("7"), "serial=TEXT" or
// "path=LOCATION" as 'zorvane list --long' prints it ("path=1-2.3", "path=sim:0"). Boards in
// their bootloader have no device ID: only the other two forms reach them.
#include "firmware/BoardScan.h"

#include <string>
#include <vector>

struct SBoardTarget
{
    enum class EKind
    {
        Id,
        Serial,
        Path,
    };
    EKind eKind = EKind::Id;
    std::string strValue; // the serial number or the location
    int nId = -1;

    // A malformed TARGET is a CUsageError.
    static SBoardTarget Parse(const std::string& strText);
    bool Matches(const SBoardInfo& board) const;
    std::string Text() const; // as the user wrote it
};

// The one attached board the target names. A target that names none, or more than one, or a
// board that cannot be opened, is an error (std::runtime_error) that lists the candidates.
SBoardInfo ResolveTarget(const SBoardTarget& target, const std::vector<SBoardInfo>& vecBoards);

// How messages name a board: "board 7 (sim:0)", or "board at sim:1" for one without an ID.
std::string BoardLabel(const SBoardInfo& board);
// The TARGET that reaches this board again, whatever its mode: "path=sim:0".
std::string ResumeTarget(const SBoardInfo& board);
// The line 'zorvane list --long' prints: instance, device ID ("-" in the bootloader), serial
// number ("-" for none), firmware version, mode and location; a board that cannot be opened
// shows "?" for what it would report, then why and what to do about it.
std::string BoardLine(const SBoardInfo& board);
// Why a board cannot be opened and, for a permission problem, how to fix it.
std::string OpenFailureText(const SBoardInfo& board);
