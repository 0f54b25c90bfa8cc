#pragma once
// The sub-commands of the zorvane tool, one task each. A command checks its arguments first
// (CUsageError: exit status 2, nothing sent to a board), then calls the library; it returns
// the exit status: 0 done, 1 failed (with a "zorvane: ..." line on stderr).
#include "ToolArgs.h"

#include <vector>

struct ToolCommand
{
    const char* pszName;
    const char* pszSummary; // one line for the command list
    const char* pszUsage;   // the operands, after "zorvane NAME"
    const char* pszHelp;    // what it does, its output and its options
    std::vector<ToolOption> options;
    int (*pfnRun)(const CToolArgs& args);
};

const std::vector<ToolCommand>& ToolCommands();

// "zorvane: <message>" on stderr; returns exit status 1.
int Fail(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));

int RunList(const CToolArgs& args);
int RunGet(const CToolArgs& args);
int RunSet(const CToolArgs& args);
int RunConfig(const CToolArgs& args);
int RunMonitor(const CToolArgs& args);
int RunVport(const CToolArgs& args);
