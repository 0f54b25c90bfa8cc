// Tarvel, the Kelvard IO configuration and test tool.
#include "dialog/TarvelApp.h"

int main(int argc, char** argv)
{
    CTarvelApp app(argc, argv);
    app.InitInstance();
    return app.ExitStatus();
}
