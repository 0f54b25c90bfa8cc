// CUsbDev's virtual ports: named fields over the cached port bytes A to D, sent with the
// device's own byte writes and configuration.
#include "zorvane/devices/UsbDev.h"

#include <string>

namespace
{
std::string FieldName(const char* pszName)
{
    return pszName ? pszName : "";
}
} // namespace

VirtualPortInfo* CUsbDev::FindVirtualPort(const char* pszName)
{
    auto it = m_mapVirtualPorts.find(FieldName(pszName));
    return it == m_mapVirtualPorts.end() ? nullptr : &it->second;
}

std::int32_t CUsbDev::AddVirtualPort(const char* pszName, std::int32_t nStart, std::int32_t nWidth,
                                     std::int32_t nInput)
{
    if (FindVirtualPort(pszName))
        return VP_NAME_TAKEN;
    const auto byStart = static_cast<std::uint8_t>(nStart);
    const auto byWidth = static_cast<std::uint8_t>(nWidth);
    if (!FieldFits(byStart, byWidth))
        return VP_OUT_OF_RANGE;
    const VirtualPortInfo info{FieldMask(byStart, byWidth), byStart};
    for (const auto& [strName, other] : m_mapVirtualPorts)
        if (other.dwMask & info.dwMask)
            return VP_OVERLAP;
    const VirtualPortInfo& added =
        m_mapVirtualPorts.emplace(FieldName(pszName), info).first->second;

    // The pins go low before they change direction.
    WriteField(added, 0);
    std::uint32_t dwDirections = PinWord(m_byDirA, m_byDirB, m_byDirC, m_byDirD);
    if (static_cast<std::uint8_t>(nInput))
        dwDirections |= added.dwMask;
    else
        dwDirections &= ~added.dwMask;
    ConfigurePortsEx(PinWordByte(dwDirections, 0), PinWordByte(dwDirections, 1),
                     PinWordByte(dwDirections, 2), PinWordByte(dwDirections, 3), m_byDirE, 0);
    return VP_ADDED;
}

std::int32_t CUsbDev::RemoveVirtualPort(const char* pszName)
{
    const VirtualPortInfo* pInfo = FindVirtualPort(pszName);
    if (!pInfo)
        return 0;
    WriteField(*pInfo, 0);
    m_mapVirtualPorts.erase(FieldName(pszName));
    return 1;
}

std::int32_t CUsbDev::RemoveAllVirtualPorts()
{
    for (const auto& [strName, info] : m_mapVirtualPorts)
        WriteField(info, 0);
    m_mapVirtualPorts.clear();
    return 0;
}

std::int32_t CUsbDev::WriteVirtualPort(const char* pszName, std::int32_t nValue)
{
    if (const VirtualPortInfo* pInfo = FindVirtualPort(pszName))
        WriteField(*pInfo, nValue);
    return 0;
}

std::int32_t CUsbDev::ReadVirtualPort(const char* pszName, std::int32_t* /*pnValue*/)
{
    // No rule for reading a field is set; the output stays as the caller left it.
    FindVirtualPort(pszName);
    return 0;
}

void CUsbDev::WriteField(const VirtualPortInfo& info, std::int32_t nValue)
{
    const std::uint32_t dwWord =
        PlaceField(PinWord(m_byPortA, m_byPortB, m_byPortC, m_byPortD), info, nValue);
    // Four writes, whatever the field covers; the last carries the complete new state.
    WriteBytePortA(PinWordByte(dwWord, 0));
    WriteBytePortB(PinWordByte(dwWord, 1));
    WriteBytePortC(PinWordByte(dwWord, 2));
    WriteBytePortD(PinWordByte(dwWord, 3));
}
