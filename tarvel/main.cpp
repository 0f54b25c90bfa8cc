// Tarvel, the Kelvard IO configuration and test tool.
#include "tarvel/dialog/TarvelApp.h"

int main(int argc, char** argv)
{
    // The command line first: help and a wrong command line need no display.
    STarvelOptions options;
    int nExitStatus = 0;
    if (!CTarvelApp::ParseCommandLine(argc, argv, options, nExitStatus))
        return nExitStatus;
    CTarvelApp app(argc, argv, options);
    app.InitInstance();
    return app.ExitStatus();
}
