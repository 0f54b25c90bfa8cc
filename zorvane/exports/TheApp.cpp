#include "zorvane/exports/TheApp.h"

#include "zorvane/exports/ZorvaneApp.h"

namespace
{
CZorvaneApp theApp;

// Starts and ends the application object's life with the library's. Defined after theApp, so
// it is made after it and ended before it.
struct CLibraryLife
{
    // The boards' links and the driver context they came from are the application object's
    // own, so they end with it whatever order the program's statics end in.
    CLibraryLife() { theApp.InitInstance(); }
    ~CLibraryLife()
    {
        try
        {
            theApp.ExitInstance();
        }
        catch (...)
        {
        }
    }
} theLibraryLife;
} // namespace

CZorvaneApp& TheZorvaneApp()
{
    return theApp;
}
