#pragma once
// The enumeration walk both deliverables make over a context's instances.
#include "protocol/DriverContext.h"

#include <cstdint>
#include <functional>

// Called for each instance whose two pipes opened; takes the link over.
using DeviceLinkVisitor = std::function<void(std::uint32_t nInstance, CBoardLink link)>;

// Tries instances 0 to 126 in order, opening the read pipe and then the write pipe of each. An
// instance where either pipe does not open is skipped (the one that opened is closed again) and
// does not count. nCount, the device count the caller got, goes down by one for each visited
// instance; the walk ends at the instance that brings it from 1 to 0. A count of 0 (or less)
// never ends the walk early: all 127 instances are tried.
void WalkDeviceLinks(const CDriverContext& context, std::int32_t nCount,
                     const DeviceLinkVisitor& visit);
