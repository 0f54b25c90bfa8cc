#include "zorvane/devices/UsbDev.h"

CUsbDev::CUsbDev(CBoardLink link)
    : m_nDeviceId(0), m_bIdentified(false), m_wVersion(0), m_byPortD(0), m_byPortE(0),
      m_byDirD(0xFF), m_byDirE(0xFF), m_byInvD(0), m_byAnalogCount(0), m_lnkBoard(std::move(link))
{
    std::uint8_t byId = 0;
    m_bIdentified = m_lnkBoard.ReadDeviceId(byId) == EStatus::Ok;
    if (m_bIdentified)
        m_nDeviceId = byId;
    m_strSerialNumber = m_lnkBoard.ReadSerialNumber();
    m_wVersion = m_lnkBoard.ReadVersion();
}

CUsbDev::CUsbDev(CBoardLink link, std::uint8_t byDeviceId, std::string strSerial,
                 std::uint16_t wVersion)
    : m_nDeviceId(byDeviceId), m_bIdentified(true), m_strSerialNumber(std::move(strSerial)),
      m_wVersion(wVersion), m_byPortD(0), m_byPortE(0), m_byDirD(0xFF), m_byDirE(0xFF),
      m_byInvD(0), m_byAnalogCount(0), m_lnkBoard(std::move(link))
{
}

CUsbDev::~CUsbDev()
{
    ClosePipes();
    RemoveAllVirtualPorts();
}

bool CUsbDev::IsInBootloader()
{
    return m_lnkBoard.QueryBootloader();
}

std::string CUsbDev::GetName() const
{
    return std::to_string(m_nDeviceId);
}

std::int32_t CUsbDev::ConfigurePortsEx(std::int32_t nDirA, std::int32_t nDirB, std::int32_t nDirC,
                                       std::int32_t nDirD, std::int32_t nDirE,
                                       std::int32_t /*nUnused*/)
{
    m_byDirA = static_cast<std::uint8_t>(nDirA);
    m_byDirB = static_cast<std::uint8_t>(nDirB);
    m_byDirC = static_cast<std::uint8_t>(nDirC);
    m_byDirD = static_cast<std::uint8_t>(nDirD);
    m_byDirE = static_cast<std::uint8_t>(nDirE);
    ConfigBlock config;
    config.byDir = {m_byDirA, m_byDirB, m_byDirC, m_byDirD, m_byDirE};
    config.byInv = {m_byInvA, m_byInvB, m_byInvC, m_byInvD};
    config.byAnalogCount = m_byAnalogCount;
    return m_lnkBoard.WriteConfiguration(config) == EStatus::Ok ? 1 : 0;
}

std::int32_t CUsbDev::ConfigurePorts(std::int32_t, std::int32_t, std::int32_t, std::int32_t)
{
    return 0;
}

std::int32_t CUsbDev::WriteBytePortA(std::int32_t nValue)
{
    return StorePort(m_byPortA, nValue);
}

std::int32_t CUsbDev::WriteBytePortB(std::int32_t nValue)
{
    return StorePort(m_byPortB, nValue);
}

std::int32_t CUsbDev::WriteBytePortC(std::int32_t nValue)
{
    return StorePort(m_byPortC, nValue);
}

std::int32_t CUsbDev::WriteBytePortD(std::int32_t nValue)
{
    return StorePort(m_byPortD, nValue);
}

std::int32_t CUsbDev::WriteBytePortE(std::int32_t nValue)
{
    return StorePort(m_byPortE, nValue);
}

std::int32_t CUsbDev::WriteBitPortA(std::int32_t, std::int32_t)
{
    return 0;
}

std::int32_t CUsbDev::WriteBitPortB(std::int32_t, std::int32_t)
{
    return 0;
}

std::int32_t CUsbDev::WriteBitPortC(std::int32_t, std::int32_t)
{
    return 0;
}

std::int32_t CUsbDev::ReadAllPorts(std::uint8_t* pbyA, std::uint8_t* pbyB, std::uint8_t* pbyC,
                                   std::uint8_t* pbyD, std::uint8_t* pbyE)
{
    const std::int32_t nResult = FetchPorts();
    const std::uint8_t byCached[] = {m_byPortA, m_byPortB, m_byPortC, m_byPortD, m_byPortE};
    std::uint8_t* pbyOut[] = {pbyA, pbyB, pbyC, pbyD, pbyE};
    for (int i = 0; i < 5; ++i)
        if (pbyOut[i])
            *pbyOut[i] = byCached[i];
    return nResult;
}

std::int32_t CUsbDev::ReadBytePorts(std::uint8_t*, std::uint8_t*, std::uint8_t*)
{
    return 0;
}

std::int32_t CUsbDev::ReadBytePortA(std::uint8_t* pbyValue)
{
    return FetchOnePort(m_byPortA, pbyValue);
}

std::int32_t CUsbDev::ReadBytePortB(std::uint8_t* pbyValue)
{
    return FetchOnePort(m_byPortB, pbyValue);
}

std::int32_t CUsbDev::ReadBytePortC(std::uint8_t* pbyValue)
{
    return FetchOnePort(m_byPortC, pbyValue);
}

std::int32_t CUsbDev::ReadBytePortD(std::uint8_t* pbyValue)
{
    return FetchOnePort(m_byPortD, pbyValue);
}

std::int32_t CUsbDev::ReadBytePortE(std::uint8_t* pbyValue)
{
    return FetchOnePort(m_byPortE, pbyValue);
}

std::int32_t CUsbDev::ReadBitPortA(std::int32_t, std::int32_t*)
{
    return 0;
}

std::int32_t CUsbDev::ReadBitPortB(std::int32_t, std::int32_t*)
{
    return 0;
}

std::int32_t CUsbDev::ReadBitPortC(std::int32_t, std::int32_t*)
{
    return 0;
}

std::int32_t CUsbDev::SpareOperation1(std::int32_t, std::int32_t)
{
    return 0;
}

std::int32_t CUsbDev::SpareOperation2(std::int32_t, std::int32_t)
{
    return 0;
}

std::int32_t CUsbDev::SpareOperation3(std::int32_t, std::int32_t)
{
    return 0;
}

std::int32_t CUsbDev::SpareOperation4(std::int32_t, std::int32_t)
{
    return 0;
}

std::int32_t CUsbDev::IsPresent()
{
    std::uint8_t byId = 0;
    return m_lnkBoard.ReadDeviceId(byId) == EStatus::Ok ? 1 : 0;
}

void CUsbDev::ClosePipes()
{
    m_lnkBoard.Close();
}

void CUsbDev::SetLink(CBoardLink link)
{
    m_lnkBoard = std::move(link);
}

std::int32_t CUsbDev::SendPorts()
{
    const PortBytes ports{m_byPortA, m_byPortB, m_byPortC, m_byPortD, m_byPortE};
    return m_lnkBoard.WritePorts(ports) == EStatus::Ok ? 1 : 0;
}

std::int32_t CUsbDev::FetchPorts()
{
    PortBytes ports{};
    if (m_lnkBoard.ReadPorts(ports) != EStatus::Ok)
        return 0;
    m_byPortA = ports[PORT_A];
    m_byPortB = ports[PORT_B];
    m_byPortC = ports[PORT_C];
    m_byPortD = ports[PORT_D];
    m_byPortE = ports[PORT_E];
    return 1;
}

std::int32_t CUsbDev::StorePort(std::uint8_t& byPort, std::int32_t nValue)
{
    // The cache takes the value even when the write then fails.
    byPort = static_cast<std::uint8_t>(nValue);
    return SendPorts();
}

std::int32_t CUsbDev::FetchOnePort(const std::uint8_t& byPort, std::uint8_t* pbyValue)
{
    // After a failed read the caller still gets the value last known.
    const std::int32_t nResult = FetchPorts();
    if (pbyValue)
        *pbyValue = byPort;
    return nResult;
}
