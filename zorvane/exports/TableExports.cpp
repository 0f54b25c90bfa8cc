// The exports that work on the device table itself and on the error text.
#include "zorvane.h"

#include "zorvane/exports/ExportCall.h"

extern "C"
{

    int32_t Initialize(void)
    {
        return LockedCall(int32_t{0}, [](CZorvaneApp& app) { return app.Initialize(); });
    }

    int32_t InitializeZorvane(void)
    {
        return Initialize();
    }

    int32_t ListUsbDevices(CStringArray* pArray)
    {
        if (!pArray)
            return 0;
        return LockedCall(int32_t{0},
                          [&](CZorvaneApp& app) -> int32_t
                          {
                              for (const std::string& strName : app.GetUsbDeviceNames())
                                  pArray->Add(strName);
                              return pArray->GetSize();
                          });
    }

    const char* GetUsbDeviceID(int32_t nPosition)
    {
        return LockedCall(static_cast<const char*>(""),
                          [&](CZorvaneApp& app) { return app.GetUsbDeviceID(nPosition); });
    }

    int32_t GetBitIOError(char* pszBuffer, int32_t nSize)
    {
        return LockedCall(int32_t{0},
                          [&](CZorvaneApp& app) { return app.GetBitIOError(pszBuffer, nSize); });
    }

} // extern "C"
