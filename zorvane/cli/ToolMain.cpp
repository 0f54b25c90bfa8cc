// zorvane: the command line over the library's exports and the firmware engine, one task per
// sub-command, output for scripts. Exit status 0 done, 1 failed, 2 usage error.
#include "zorvane/cli/ToolMain.h"
#include "zorvane/cli/Commands.h"

#include "protocol/DriverContext.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>

#ifndef ZORVANE_TOOL_VERSION
#define ZORVANE_TOOL_VERSION "unknown"
#endif

namespace
{
constexpr int EXIT_USAGE = 2;

void PrintUsage()
{
    std::printf("Usage: zorvane [--simulate] COMMAND [ARGS...]\n"
                "       zorvane COMMAND --help\n"
                "\n"
                "Reads and writes the ports of Kelvard USB boards and boards on COM ports.\n"
                "NAME is a USB board's device ID (see 'zorvane list') or a COM port (COM3).\n"
                "\n"
                "Commands:\n");
    for (const ToolCommand& command : ToolCommands())
        std::printf("  %-9s%s\n", command.pszName, command.pszSummary);
    std::printf("\n"
                "Options:\n"
                "  --simulate   use the simulated bus (as KELVARD_USB=sim does)\n"
                "  -h, --help   show this text\n"
                "  --version    show the version\n");
}

void PrintCommandUsage(const ToolCommand& command)
{
    std::printf("Usage: zorvane %s%s%s\n\n%s", command.pszName, *command.pszUsage ? " " : "",
                command.pszUsage, command.pszHelp);
}

const ToolCommand* FindCommand(const std::string& strName)
{
    for (const ToolCommand& command : ToolCommands())
        if (strName == command.pszName)
            return &command;
    return nullptr;
}

// The context a run works on. The simulated bus, when asked for, also becomes the default one,
// which the library's exports use: a run holds one driver layer.
std::shared_ptr<CDriverContext> RunContext(bool bSimulate, std::shared_ptr<CDriverContext> pGiven)
{
    if (pGiven)
        return pGiven;
    if (!bSimulate)
        return CDriverContext::Default();
    std::string strError;
    auto pContext = CDriverContext::CreateSimulated(strError);
    if (!pContext)
        throw std::runtime_error(strError);
    CDriverContext::SetDefault(pContext);
    return pContext;
}

int Run(const std::vector<std::string>& args, std::string& strCommand,
        std::shared_ptr<CDriverContext> pContext)
{
    std::size_t nNext = 0;
    bool bSimulate = false;
    for (; nNext < args.size() && args[nNext].size() > 1 && args[nNext][0] == '-'; ++nNext)
    {
        const std::string& strOption = args[nNext];
        if (strOption == "-h" || strOption == "--help")
        {
            PrintUsage();
            return EXIT_SUCCESS;
        }
        if (strOption == "--version")
        {
            std::printf("zorvane %s\n", ZORVANE_TOOL_VERSION);
            return EXIT_SUCCESS;
        }
        if (strOption != "--simulate")
            throw CUsageError("unknown option '" + strOption + "'");
        bSimulate = true;
    }
    if (nNext == args.size())
        throw CUsageError("missing command");
    const ToolCommand* pCommand = FindCommand(args[nNext]);
    if (!pCommand)
        throw CUsageError("unknown command '" + args[nNext] + "'");
    strCommand = pCommand->pszName;
    CToolArgs commandArgs({args.begin() + static_cast<std::ptrdiff_t>(nNext) + 1, args.end()},
                          pCommand->vecOptions);
    if (commandArgs.Has("help"))
    {
        PrintCommandUsage(*pCommand);
        return EXIT_SUCCESS;
    }
    commandArgs.SetContext(
        RunContext(bSimulate || commandArgs.Has("simulate"), std::move(pContext)));
    return pCommand->pfnRun(commandArgs);
}
} // namespace

int ZorvaneMain(const std::vector<std::string>& args, std::shared_ptr<CDriverContext> pContext)
{
    std::string strCommand;
    int nStatus;
    try
    {
        nStatus = Run(args, strCommand, std::move(pContext));
    }
    catch (const CUsageError& e)
    {
        std::fprintf(stderr, "zorvane: %s\nTry 'zorvane %s%s--help' for more information.\n",
                     e.what(), strCommand.c_str(), strCommand.empty() ? "" : " ");
        return EXIT_USAGE;
    }
    catch (const std::exception& e)
    {
        return Fail("%s", e.what());
    }
    catch (...)
    {
        return Fail("unexpected failure");
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return Fail("cannot write the output");
    return nStatus;
}
