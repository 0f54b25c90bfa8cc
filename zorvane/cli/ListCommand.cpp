// zorvane list: the USB board names, one per line. --long and --json: every attached board, in
// either mode, with its identity and location, through the driver layer instead of the library.
#include "zorvane/cli/BoardTarget.h"
#include "zorvane/cli/Commands.h"
#include "zorvane/cli/JsonLine.h"

#include "protocol/Mpusb.h"

#include "zorvane.h"

#include <cstdio>

int RunList(const CToolArgs& args)
{
    args.ExpectOperands(0, 0, "");
    if (args.Has("json"))
    {
        for (const SBoardInfo& board : ScanBoards(args.Context()))
        {
            CJsonLine line;
            line.Add("instance", board.nInstance).Add("location", board.strLocation);
            if (board.eOpen != EStatus::Ok)
                line.Add("error", StatusText(board.eOpen));
            else
                line.Add("device_id", board.nDeviceId)
                    .Add("serial", board.strSerial)
                    .Add("version", board.bBoot ? "" : FormatVersion(board.wVersion))
                    .Add("mode", board.bBoot ? "bootloader" : "application");
            std::printf("%s\n", line.Text().c_str());
        }
        return 0;
    }
    if (args.Has("long"))
    {
        for (const SBoardInfo& board : ScanBoards(args.Context()))
            std::printf("%s\n", BoardLine(board).c_str());
        return 0;
    }
    Initialize();
    CStringArray names;
    ListUsbDevices(&names);
    for (int i = 0; i < names.GetSize(); ++i)
        std::printf("%s\n", names[i].c_str());
    // The library leaves out what it cannot open, silently: say so. The probe claims nothing,
    // so it does not disturb the boards the library holds.
    const CDriverContext& context = args.Context();
    const std::uint32_t nCount = context.Count();
    for (std::uint32_t i = 0; i < nCount && i < MPUSB_MAX_INSTANCES; ++i)
    {
        SBoardInfo board;
        board.strLocation = context.Location(i);
        board.eOpen = context.ProbeOpen(i);
        if (board.eOpen != EStatus::Ok && board.eOpen != EStatus::Gone)
            std::fprintf(stderr, "zorvane: warning: %s %s\n", BoardLabel(board).c_str(),
                         OpenFailureText(board).c_str());
    }
    return 0;
}
