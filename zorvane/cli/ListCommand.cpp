// zorvane list: the USB board names, one per line.
#include "Commands.h"

#include "zorvane.h"

#include <cstdio>

int RunList(const CToolArgs& args)
{
    args.ExpectOperands(0, 0, "");
    Initialize();
    CStringArray names;
    ListUsbDevices(&names);
    for (int i = 0; i < names.GetSize(); ++i)
        std::printf("%s\n", names[i].c_str());
    return 0;
}
