// Tarvel, the Kelvard IO configuration and test tool.
#include "tarvel/bootloader/DialogUpdates.h"
#include "tarvel/dialog/TarvelApp.h"

int main(int argc, char** argv)
{
    // The command line first: help and a wrong command line need no display.
    STarvelOptions options;
    int nExitStatus = 0;
    if (!CTarvelApp::ParseCommandLine(argc, argv, options, nExitStatus))
        return nExitStatus;
    // The firmware update sits above the dialog: it is wired in here.
    CTarvelApp app(argc, argv, options,
                   [](CTarvelDlg& dlg) { return std::make_unique<CDialogUpdates>(dlg); });
    app.InitInstance();
    return app.ExitStatus();
}
