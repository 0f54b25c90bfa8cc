// The port exports: name to board, then one operation of the port-device interface.
#include "zorvane.h"

#include "zorvane/exports/ExportCall.h"

namespace
{
constexpr char CONFIGURATION_FAILED[] = "Failed to write configuration";
} // namespace

extern "C"
{

    int32_t ConfigurePortsEx(const char* pszDevice, int32_t nDirA, int32_t nDirB, int32_t nDirC,
                             int32_t nDirD, int32_t nDirE, int32_t nReserved)
    {
        return LockedCall(int32_t{0},
                          [&](CZorvaneApp& app) -> int32_t
                          {
                              CBitIO* pDevice = app.FindDevice(pszDevice);
                              if (!pDevice)
                                  return 0;
                              const bool bDone =
                                  pDevice->ConfigurePortsEx(nDirA, nDirB, nDirC, nDirD, nDirE,
                                                            nReserved) != 0;
                              app.SetLastErrorText(bDone ? "" : CONFIGURATION_FAILED);
                              return bDone ? 1 : 0;
                          });
    }

    int32_t ConfigurePorts(const char* pszDevice, int32_t nDirA, int32_t nDirB, int32_t nDirC,
                           int32_t nReserved)
    {
        return DeviceCall(pszDevice, [&](CBitIO& device)
                          { return device.ConfigurePorts(nDirA, nDirB, nDirC, nReserved); });
    }

    int32_t WriteBytePortA(const char* pszDevice, int32_t nValue)
    {
        return DeviceCall(pszDevice, [&](CBitIO& device) { return device.WriteBytePortA(nValue); });
    }

    int32_t WriteBytePortB(const char* pszDevice, int32_t nValue)
    {
        return DeviceCall(pszDevice, [&](CBitIO& device) { return device.WriteBytePortB(nValue); });
    }

    int32_t WriteBytePortC(const char* pszDevice, int32_t nValue)
    {
        return DeviceCall(pszDevice, [&](CBitIO& device) { return device.WriteBytePortC(nValue); });
    }

    int32_t WriteBytePortD(const char* pszDevice, int32_t nValue)
    {
        return DeviceCall(pszDevice, [&](CBitIO& device) { return device.WriteBytePortD(nValue); });
    }

    int32_t WriteBytePortE(const char* pszDevice, int32_t nValue)
    {
        return DeviceCall(pszDevice, [&](CBitIO& device) { return device.WriteBytePortE(nValue); });
    }

    int32_t ReadBytePortA(const char* pszDevice, uint8_t* pbyValue)
    {
        return DeviceCall(pszDevice,
                          [&](CBitIO& device) { return device.ReadBytePortA(pbyValue); });
    }

    int32_t ReadBytePortB(const char* pszDevice, uint8_t* pbyValue)
    {
        return DeviceCall(pszDevice,
                          [&](CBitIO& device) { return device.ReadBytePortB(pbyValue); });
    }

    int32_t ReadBytePortC(const char* pszDevice, uint8_t* pbyValue)
    {
        return DeviceCall(pszDevice,
                          [&](CBitIO& device) { return device.ReadBytePortC(pbyValue); });
    }

    int32_t ReadBytePortD(const char* pszDevice, uint8_t* pbyValue)
    {
        return DeviceCall(pszDevice,
                          [&](CBitIO& device) { return device.ReadBytePortD(pbyValue); });
    }

    int32_t ReadBytePortE(const char* pszDevice, uint8_t* pbyValue)
    {
        return DeviceCall(pszDevice,
                          [&](CBitIO& device) { return device.ReadBytePortE(pbyValue); });
    }

    int32_t ReadBytePorts(const char* pszDevice, uint8_t* pbyPortA, uint8_t* pbyPortB,
                          uint8_t* pbyPortC)
    {
        return DeviceCall(pszDevice, [&](CBitIO& device)
                          { return device.ReadBytePorts(pbyPortA, pbyPortB, pbyPortC); });
    }

    int32_t WriteBitPortA(const char* pszDevice, int32_t nBit, int32_t nValue)
    {
        return DeviceCall(pszDevice,
                          [&](CBitIO& device) { return device.WriteBitPortA(nBit, nValue); });
    }

    int32_t WriteBitPortB(const char* pszDevice, int32_t nBit, int32_t nValue)
    {
        return DeviceCall(pszDevice,
                          [&](CBitIO& device) { return device.WriteBitPortB(nBit, nValue); });
    }

    int32_t WriteBitPortC(const char* pszDevice, int32_t nBit, int32_t nValue)
    {
        return DeviceCall(pszDevice,
                          [&](CBitIO& device) { return device.WriteBitPortC(nBit, nValue); });
    }

    int32_t ReadBitPortA(const char* pszDevice, int32_t nBit, int32_t* pnValue)
    {
        return DeviceCall(pszDevice,
                          [&](CBitIO& device) { return device.ReadBitPortA(nBit, pnValue); });
    }

    int32_t ReadBitPortB(const char* pszDevice, int32_t nBit, int32_t* pnValue)
    {
        return DeviceCall(pszDevice,
                          [&](CBitIO& device) { return device.ReadBitPortB(nBit, pnValue); });
    }

    int32_t ReadBitPortC(const char* pszDevice, int32_t nBit, int32_t* pnValue)
    {
        return DeviceCall(pszDevice,
                          [&](CBitIO& device) { return device.ReadBitPortC(nBit, pnValue); });
    }

} // extern "C"
