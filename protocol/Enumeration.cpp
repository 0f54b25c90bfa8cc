#include "protocol/Enumeration.h"

#include "protocol/Mpusb.h"

void WalkDeviceLinks(const CDriverContext& context, std::int32_t nCount,
                     const DeviceLinkVisitor& visit)
{
    std::int32_t nRemaining = nCount;
    for (std::uint32_t nInstance = 0; nInstance < MPUSB_MAX_INSTANCES; ++nInstance)
    {
        CBoardLink link = context.Open(nInstance);
        if (!link.IsOpen())
            continue;
        visit(nInstance, std::move(link));
        if (--nRemaining == 0)
            return;
    }
}
