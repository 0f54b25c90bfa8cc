#include "zorvane/exports/TheApp.h"

#include "zorvane/exports/ZorvaneApp.h"

#include "protocol/UsbBackend.h"

namespace
{
CZorvaneApp theApp;

// Starts and ends the application object's life with the library's. Defined after theApp, so
// it is made after it and ended before it.
struct CLibraryLife
{
    CLibraryLife()
    {
        // The driver layer must outlive the boards that close their pipes at unload.
        MpusbStartup();
        theApp.InitInstance();
    }
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
