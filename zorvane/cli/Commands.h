#pragma once
// The sub-commands of the zorvane tool, one task each. A command checks its arguments first
// (CUsageError: exit status 2, nothing sent to a board), then works; it returns the exit
// status: 0 done, 1 failed (with a "zorvane: ..." line on stderr), 128 + the signal for one
// stopped by Ctrl-C or SIGTERM.
//
// The program holds one driver layer, but three users of it each open the boards they work on:
// the library's exports (which keep every USB board open once initialised), libkelvard and the
// firmware engine, and two opens cannot both claim a board. So a run uses one of them: the port
// commands (get, set, config, monitor, vport and the plain list) go through the exports, or
// through libkelvard for a board on TCP and for config --invert/--analog; info and analog through
// libkelvard; the firmware commands (list --long/--json, update, verify, backup, serial) and serve
// through the firmware engine. Only counting boards and probing whether their device nodes open,
// which claim nothing, may use another.
#include "zorvane/cli/ToolArgs.h"

#include <vector>

struct ToolCommand
{
    const char* pszName;
    const char* pszSummary; // one line for the command list
    const char* pszUsage;   // the operands, after "zorvane NAME"
    const char* pszHelp;    // what it does, its output and its options
    std::vector<ToolOption> vecOptions;
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
int RunUpdate(const CToolArgs& args);
int RunBackup(const CToolArgs& args);
int RunSerial(const CToolArgs& args);
int RunVerify(const CToolArgs& args);
int RunServe(const CToolArgs& args);
int RunInfo(const CToolArgs& args);
int RunAnalog(const CToolArgs& args);
int RunMqtt(const CToolArgs& args);
