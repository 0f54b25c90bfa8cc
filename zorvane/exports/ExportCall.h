#pragma once
// What every export does around its work: take the library lock, keep every exception inside
// the library, and name a board.
#include "zorvane/exports/TheApp.h"
#include "zorvane/exports/ZorvaneApp.h"

#include "zorvane/devices/BitIO.h"
#include "zorvane/devices/UsbDev.h"

#include <cstdint>
#include <mutex>

// Runs work(app) under the library lock; fallback when anything throws.
template <typename TResult, typename TWork>
TResult LockedCall(TResult fallback, TWork&& work) noexcept
{
    try
    {
        CZorvaneApp& app = TheZorvaneApp();
        std::lock_guard lock(app.Mutex());
        return work(app);
    }
    catch (...)
    {
        return fallback;
    }
}

// work(device) on the board that the name gives; 0 for an empty name.
template <typename TWork> std::int32_t DeviceCall(const char* pszDevice, TWork&& work) noexcept
{
    return LockedCall(std::int32_t{0},
                      [&](CZorvaneApp& app) -> std::int32_t
                      {
                          CBitIO* pDevice = app.FindDevice(pszDevice);
                          return pDevice ? work(*pDevice) : 0;
                      });
}

// work(device) on the USB board with this device number; 0 when there is none.
template <typename TWork> std::int32_t UsbDeviceCall(std::int32_t nDevice, TWork&& work) noexcept
{
    return LockedCall(std::int32_t{0},
                      [&](CZorvaneApp& app) -> std::int32_t
                      {
                          CUsbDev* pDevice = app.FindUsbDevice(nDevice);
                          return pDevice ? work(*pDevice) : 0;
                      });
}
