// zorvane set NAME PORT=VALUE...: writes ports in the order given.
#include "zorvane/cli/Board.h"
#include "zorvane/cli/Commands.h"

#include "zorvane.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

int RunSet(const CToolArgs& args)
{
    args.ExpectOperands(2, SIZE_MAX, "NAME and PORT=VALUE");
    const std::vector<std::string>& operands = args.Operands();
    std::vector<std::pair<int, std::uint8_t>> writes;
    for (std::size_t i = 1; i < operands.size(); ++i)
    {
        const std::size_t nEquals = operands[i].find('=');
        if (nEquals == std::string::npos)
            throw CUsageError("'" + operands[i] + "' is no PORT=VALUE");
        writes.emplace_back(
            ParsePortLetter(operands[i].substr(0, nEquals)),
            static_cast<std::uint8_t>(ParseNumber(operands[i].substr(nEquals + 1), 255, "value")));
    }

    Initialize();
    const CBoard board(operands[0]);
    // A write sends the other ports from the library's memory, which a new process has not
    // filled yet: one read first, so that the ports not named keep what the board shows.
    std::uint8_t byIgnored = 0;
    const bool bAnswered = board.ReadPort(0, byIgnored);
    // A COM-port board's write reports the reply characters already waiting, mostly 0 whether
    // or not its line went out: there, the read that the board just answered tells that the
    // port works.
    const int nComPorts =
        bAnswered && !board.IsUsb() && !board.IsNetwork() ? board.PortCount() : 0;
    int nStatus = 0;
    for (const auto& [nPort, byValue] : writes)
        if (nComPorts != 0 && nPort >= nComPorts)
            nStatus = Fail("%s has ports A to C only", board.Name());
        else if (!board.WritePort(nPort, byValue) && nPort >= nComPorts)
            nStatus = nStatus != 0
                          ? Fail("cannot write port %c of %s", PortLetter(nPort), board.Name())
                          : Fail("cannot write port %c of %s: %s", PortLetter(nPort), board.Name(),
                                 board.WhyNoAnswer().c_str());
    return nStatus;
}
