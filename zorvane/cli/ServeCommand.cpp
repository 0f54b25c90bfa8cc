// zorvane serve TARGET [--listen ADDR:PORT] [--allow ADDR[/PREFIX]]...: the board on TCP for the
// dialog's network link, until Ctrl-C or SIGTERM.
#include "zorvane/cli/BoardTarget.h"
#include "zorvane/cli/Commands.h"
#include "zorvane/cli/NetBridge.h"
#include "zorvane/cli/StopSignal.h"

#include <cstdio>

int RunServe(const CToolArgs& args)
{
    args.ExpectOperands(1, 1, "TARGET");
    const SBoardTarget target = ParseTarget(args.Operands()[0]);
    const SBridgeOptions options =
        SBridgeOptions::Parse(args.Value("listen", ""), args.Values("allow"));

    CStopSignal stop;
    const SBoardInfo board = ResolveTarget(target, ScanBoards(args.Context()));
    if (board.bBoot)
        return Fail("%s waits in its bootloader: it has no ports to serve (update it first)",
                    BoardLabel(board).c_str());
    CNetBridge bridge(args.Context(), board,
                      [](const std::string& strLine)
                      { std::fprintf(stderr, "zorvane: %s\n", strLine.c_str()); });
    if (!bridge.Start(options))
        return Fail("%s", bridge.Error().c_str());
    const std::string strEndpoint = EndpointText(options.nAddress, bridge.Port());
    std::printf("serving %s on %s\n", BoardLabel(board).c_str(), strEndpoint.c_str());
    std::fflush(stdout);
    if (options.vecAllow.empty() && (options.nAddress >> 24) != 127)
        std::fprintf(stderr,
                     "zorvane: warning: anyone who can reach %s can drive the board; --allow "
                     "limits who may connect\n",
                     strEndpoint.c_str());
    return bridge.Run(stop.Handle()) ? 0 : 1;
}
