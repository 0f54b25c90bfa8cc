#include "protocol/Enumeration.h"

void WalkDeviceLinks(std::int32_t nCount, const DeviceLinkVisitor& visit)
{
    std::int32_t nRemaining = nCount;
    for (std::uint32_t nInstance = 0; nInstance < MPUSB_MAX_INSTANCES; ++nInstance)
    {
        const MPUSB_HANDLE hRead = MPUSBOpen(nInstance, MPUSB_VID_PID, MPUSB_ENDPOINT, MP_READ, 0);
        const MPUSB_HANDLE hWrite =
            MPUSBOpen(nInstance, MPUSB_VID_PID, MPUSB_ENDPOINT, MP_WRITE, 0);
        if (hRead == MPUSB_INVALID_HANDLE || hWrite == MPUSB_INVALID_HANDLE)
        {
            if (hRead != MPUSB_INVALID_HANDLE)
                MPUSBClose(hRead);
            if (hWrite != MPUSB_INVALID_HANDLE)
                MPUSBClose(hWrite);
            continue;
        }
        visit(nInstance, hRead, hWrite);
        if (--nRemaining == 0)
            return;
    }
}
