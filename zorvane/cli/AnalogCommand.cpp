// zorvane analog TARGET [--json]: the enabled analog inputs, E0 upwards, through libkelvard.
#include "zorvane/cli/Commands.h"
#include "zorvane/cli/JsonLine.h"
#include "zorvane/cli/OpenBoard.h"

#include <cstdio>

int RunAnalog(const CToolArgs& args)
{
    args.ExpectOperands(1, 1, "TARGET");
    COpenBoard board(args.Operands()[0]);
    int nResult = board.Open();
    if (nResult != KELVARD_OK)
        return board.Fail("open", nResult);
    std::uint16_t wReadings[KELVARD_ANALOG_CHANNELS] = {};
    unsigned nCount = 0;
    nResult = kelvard_board_read_analog(board.Get(), wReadings, &nCount);
    if (nResult != KELVARD_OK)
        return board.Fail("read the analog inputs of", nResult);

    CJsonLine::Numbers readings;
    std::string strLine;
    for (unsigned i = 0; i < nCount; ++i)
    {
        readings.emplace_back("E" + std::to_string(i), wReadings[i]);
        strLine += (i ? " E" : "E") + std::to_string(i) + "=" + std::to_string(wReadings[i]);
    }
    std::printf("%s\n", args.Has("json") ? CJsonLine::Object(readings).c_str() : strLine.c_str());
    return 0;
}
