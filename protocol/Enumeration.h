#pragma once
// The enumeration walk both deliverables make over the driver's instances.
#include "protocol/Mpusb.h"

#include <cstdint>
#include <functional>

// Called for each instance whose two pipes opened; takes ownership of both handles.
using DeviceLinkVisitor =
    std::function<void(std::uint32_t nInstance, MPUSB_HANDLE hRead, MPUSB_HANDLE hWrite)>;

// Tries instances 0 to 126 in order, opening the read pipe and then the write pipe of each on
// "\MCHP_EP1". An instance where either pipe does not open is skipped (the one that opened is
// closed again) and does not count. nCount, the device count the caller got, goes down by one
// for each visited instance; the walk ends at the instance that brings it from 1 to 0. A count
// of 0 (or less) never ends the walk early: all 127 instances are tried.
void WalkDeviceLinks(std::int32_t nCount, const DeviceLinkVisitor& visit);
