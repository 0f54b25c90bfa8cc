// zorvane config NAME DIRA DIRB DIRC DIRD DIRE: pin directions, bit set = input.
#include "zorvane/cli/Board.h"
#include "zorvane/cli/Commands.h"
#include "zorvane/cli/PortText.h"

#include "zorvane.h"

#include <array>
#include <string>

int RunConfig(const CToolArgs& args)
{
    args.ExpectOperands(1 + PORT_COUNT, 1 + PORT_COUNT, "NAME and the directions of ports A to E");
    const std::vector<std::string>& operands = args.Operands();
    std::array<int32_t, PORT_COUNT> nDirs{};
    for (std::size_t i = 0; i < nDirs.size(); ++i)
        nDirs[i] = static_cast<int32_t>(ParseNumber(operands[i + 1], 255, "direction mask"));

    Initialize();
    if (ConfigurePortsEx(operands[0].c_str(), nDirs[0], nDirs[1], nDirs[2], nDirs[3], nDirs[4], 0))
        return 0;
    char szError[256] = "";
    GetBitIOError(szError, sizeof szError);
    return Fail("%s: %s", *szError ? szError : "cannot write the configuration",
                CBoard(operands[0]).WhyNoAnswer().c_str());
}
