#include "firmware/BootProgress.h"

#include <algorithm>

const char* BootPhaseName(EBootPhase ePhase)
{
    switch (ePhase)
    {
    case EBootPhase::Identify:
        return "identify";
    case EBootPhase::Erase:
        return "erase";
    case EBootPhase::Program:
        return "program";
    case EBootPhase::Eeprom:
        return "eeprom";
    case EBootPhase::Id:
        return "id";
    case EBootPhase::Read:
        return "read";
    case EBootPhase::Serial:
        return "serial";
    case EBootPhase::Restart:
        return "restart";
    case EBootPhase::Verify:
        return "verify";
    }
    return "?";
}

int SBootProgress::Percent() const
{
    if (nStepsTotal <= 0)
        return 0;
    return static_cast<int>(std::clamp<std::int64_t>(nStepsDone * 100 / nStepsTotal, 0, 100));
}

void CBootProgressBox::Set(const SBootProgress& progress)
{
    std::lock_guard lock(m_mtxLock);
    m_prgCurrent = progress;
}

SBootProgress CBootProgressBox::Get() const
{
    std::lock_guard lock(m_mtxLock);
    return m_prgCurrent;
}
