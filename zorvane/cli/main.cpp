// zorvane: see ToolMain.cpp.
#include "zorvane/cli/ToolMain.h"

int main(int argc, char** argv)
{
    return ZorvaneMain({argv + 1, argv + argc});
}
