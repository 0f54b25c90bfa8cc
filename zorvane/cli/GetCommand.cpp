// zorvane get NAME PORT...: one line of port values.
#include "zorvane/cli/Board.h"
#include "zorvane/cli/Commands.h"
#include "zorvane/cli/JsonLine.h"

#include "zorvane.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

int RunGet(const CToolArgs& args)
{
    args.ExpectOperands(2, SIZE_MAX, "NAME and PORT");
    const std::vector<std::string>& operands = args.Operands();
    std::vector<int> ports;
    for (std::size_t i = 1; i < operands.size(); ++i)
        ports.push_back(ParsePortLetter(operands[i]));
    const bool bNumeric = args.Has("numeric");
    CJsonLine::Numbers values;

    Initialize();
    const CBoard board(operands[0]);
    std::string strLine;
    for (const int nPort : ports)
    {
        std::uint8_t byValue = 0;
        if (!board.ReadPort(nPort, byValue))
            return Fail("cannot read port %c of %s: %s", PortLetter(nPort), board.Name(),
                        board.WhyNoAnswer().c_str());
        if (!strLine.empty())
            strLine += ' ';
        strLine += bNumeric ? std::to_string(byValue) : FormatPortValue(nPort, byValue);
        values.emplace_back(std::string(1, PortLetter(nPort)), byValue);
    }
    std::printf("%s\n", args.Has("json") ? CJsonLine::Object(values).c_str() : strLine.c_str());
    return 0;
}
