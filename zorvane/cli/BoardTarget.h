#pragma once
// The board a firmware command works on, named as TARGET (SBoardTarget), and how messages name
// boards.
#include "firmware/BoardScan.h"

#include <string>
#include <vector>

// TARGET (SBoardTarget::Parse); a malformed one is a CUsageError.
SBoardTarget ParseTarget(const std::string& strText);

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
