#include "firmware/BoardRecord.h"

#include "protocol/PortTypes.h"

std::string CBoardRecord::GetVersionText() const
{
    return FormatVersion(m_wVersion);
}
