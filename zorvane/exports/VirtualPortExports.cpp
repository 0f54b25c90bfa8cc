// The virtual-port exports: a USB board by device number, then its field operation.
#include "zorvane.h"

#include "zorvane/exports/ExportCall.h"

extern "C"
{

    int32_t AddVirtualPort(int32_t nDevice, const char* pszName, int32_t nStart, int32_t nWidth,
                           int32_t nInput)
    {
        return UsbDeviceCall(nDevice, [&](CUsbDev& device)
                             { return device.AddVirtualPort(pszName, nStart, nWidth, nInput); });
    }

    int32_t RemoveVirtualPort(int32_t nDevice, const char* pszName)
    {
        return UsbDeviceCall(nDevice,
                             [&](CUsbDev& device) { return device.RemoveVirtualPort(pszName); });
    }

    int32_t RemoveAllVirtualPorts(int32_t nDevice)
    {
        return UsbDeviceCall(nDevice,
                             [&](CUsbDev& device) { return device.RemoveAllVirtualPorts(); });
    }

    int32_t WriteVirtualPort(int32_t nDevice, const char* pszName, int32_t nValue)
    {
        return UsbDeviceCall(nDevice, [&](CUsbDev& device)
                             { return device.WriteVirtualPort(pszName, nValue); });
    }

    int32_t ReadVirtualPort(int32_t nDevice, const char* pszName, int32_t* pnValue)
    {
        return UsbDeviceCall(nDevice, [&](CUsbDev& device)
                             { return device.ReadVirtualPort(pszName, pnValue); });
    }

} // extern "C"
