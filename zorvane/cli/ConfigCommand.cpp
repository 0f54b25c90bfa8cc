// zorvane config NAME [DIRA DIRB DIRC DIRD DIRE] [--invert PORT=MASK]... [--analog N]: pin
// directions (bit set = input) through the export, which switches inversion and analog inputs
// off; with --invert or --analog, or for a board on TCP, through libkelvard, which changes what
// is named and keeps the rest.
#include "zorvane/cli/Board.h"
#include "zorvane/cli/Commands.h"
#include "zorvane/cli/OpenBoard.h"
#include "zorvane/cli/PortText.h"

#include "zorvane.h"

#include <array>
#include <string>

namespace
{
int ChangeConfig(const CToolArgs& args)
{
    const std::vector<std::string>& operands = args.Operands();
    kelvard_config config{};
    unsigned nMask = 0;
    if (operands.size() > 1)
    {
        for (int nPort = 0; nPort < KELVARD_PORTS; ++nPort)
            config.direction[nPort] = static_cast<std::uint8_t>(
                ParseNumber(operands[static_cast<std::size_t>(nPort) + 1], 255, "direction mask"));
        nMask |= KELVARD_CONFIG_ALL_DIRECTIONS;
    }
    for (const std::string& strInvert : args.Values("invert"))
    {
        const std::size_t nEquals = strInvert.find('=');
        const int nPort = nEquals == std::string::npos ? -1 : ParsePortLetter(strInvert.substr(0, nEquals));
        if (nPort < 0 || nPort >= KELVARD_POLARITY_PORTS)
            throw CUsageError("'" + strInvert + "' is no PORT=MASK of ports A to D");
        config.polarity[nPort] =
            static_cast<std::uint8_t>(ParseNumber(strInvert.substr(nEquals + 1), 255, "mask"));
        nMask |= KELVARD_CONFIG_POLARITY(nPort);
    }
    if (args.Has("analog"))
    {
        config.analog_count = static_cast<std::uint8_t>(
            ParseNumber(args.Value("analog", ""), KELVARD_ANALOG_CHANNELS, "analog input count"));
        nMask |= KELVARD_CONFIG_ANALOG_COUNT;
    }

    COpenBoard board(operands[0]);
    int nResult = board.Open();
    if (nResult != KELVARD_OK)
        return board.Fail("open", nResult);
    nResult = kelvard_board_change_config(board.Get(), &config, nMask);
    return nResult == KELVARD_OK ? 0 : board.Fail("change the configuration of", nResult);
}
} // namespace

int RunConfig(const CToolArgs& args)
{
    const bool bParts = args.Has("invert") || args.Has("analog");
    args.ExpectOperands(bParts ? 1 : 1 + PORT_COUNT, 1 + PORT_COUNT,
                        "NAME and the directions of ports A to E");
    const std::vector<std::string>& operands = args.Operands();
    if (operands.size() != 1 && operands.size() != 1 + PORT_COUNT)
        throw CUsageError("give the directions of all five ports A to E, or none");
    if (bParts || IsNetworkName(operands[0]))
        return ChangeConfig(args);

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
