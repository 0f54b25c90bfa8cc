#include "kelvard/UsbBoard.h"

#include "protocol/DriverContext.h"
#include "zorvane/devices/VirtualPort.h"

#include <algorithm>
#include <mutex>

namespace
{
// The boards this process holds open, for listings that must not talk to them.
std::mutex g_mtxOpen;
std::vector<const SBoardInfo*> g_vecOpen;

int OpenFailure(EStatus eOpen)
{
    return eOpen == EStatus::Gone ? KELVARD_ERR_NOT_FOUND : ResultOf(eOpen);
}
} // namespace

std::vector<SBoardInfo> CKelvardUsbBoard::List(const CDriverContext& context)
{
    return ScanBoards(context, [](const std::string& strLocation, SBoardInfo& info) {
        std::lock_guard lock(g_mtxOpen);
        for (const SBoardInfo* pOpen : g_vecOpen)
            if (pOpen->strLocation == strLocation)
            {
                const std::uint32_t nInstance = info.nInstance;
                info = *pOpen;
                info.nInstance = nInstance;
                return true;
            }
        return false;
    });
}

int CKelvardUsbBoard::Open(const CDriverContext& context, const SBoardTarget& target,
                           std::unique_ptr<CKelvardBoard>& pBoard)
{
    const SBoardInfo* pFound = nullptr;
    const std::vector<SBoardInfo> vecBoards = List(context);
    for (const SBoardInfo& info : vecBoards)
        if (target.Matches(info))
        {
            if (pFound)
                return KELVARD_ERR_AMBIGUOUS;
            pFound = &info;
        }
    if (!pFound)
        return KELVARD_ERR_NOT_FOUND;
    if (pFound->eOpen != EStatus::Ok)
        return OpenFailure(pFound->eOpen);
    if (pFound->bBoot)
        return KELVARD_ERR_BOOTLOADER;
    if (pFound->nDeviceId < 0)
        return KELVARD_ERR_IO;

    EStatus eOpen = EStatus::Ok;
    CBoardLink link = context.Open(pFound->nInstance, &eOpen);
    if (!link.IsOpen())
        return OpenFailure(eOpen);
    // Another board may have taken the instance number since the scan.
    if (link.Location() != pFound->strLocation)
        return KELVARD_ERR_NOT_FOUND;
    pBoard = std::make_unique<CKelvardUsbBoard>(std::move(link), *pFound);
    return KELVARD_OK;
}

CKelvardUsbBoard::CKelvardUsbBoard(CBoardLink link, SBoardInfo info)
    : m_infoBoard(std::move(info)),
      m_devBoard(std::move(link), static_cast<std::uint8_t>(m_infoBoard.nDeviceId),
                 m_infoBoard.strSerial, m_infoBoard.wVersion)
{
    std::lock_guard lock(g_mtxOpen);
    g_vecOpen.push_back(&m_infoBoard);
}

CKelvardUsbBoard::~CKelvardUsbBoard()
{
    std::lock_guard lock(g_mtxOpen);
    g_vecOpen.erase(std::find(g_vecOpen.begin(), g_vecOpen.end(), &m_infoBoard));
}

int CKelvardUsbBoard::ExchangeReadPorts(PortBytes& ports)
{
    return ResultOf(m_devBoard.Link().ReadPorts(ports));
}

int CKelvardUsbBoard::ExchangeWritePorts(const PortBytes& ports)
{
    return ResultOf(m_devBoard.Link().WritePorts(ports));
}

int CKelvardUsbBoard::ExchangeReadConfig(ConfigBlock& config)
{
    return ResultOf(m_devBoard.Link().ReadConfiguration(config));
}

int CKelvardUsbBoard::ExchangeWriteConfig(const ConfigBlock& config)
{
    return ResultOf(m_devBoard.Link().WriteConfiguration(config));
}

int CKelvardUsbBoard::ReadAnalog(std::array<std::uint16_t, ANALOG_CHANNELS>& wReadings,
                                 unsigned& nCount)
{
    int nChannels = 0;
    const int nResult = ResultOf(m_devBoard.Link().ReadAnalog(nChannels, wReadings));
    if (nResult == KELVARD_OK)
        nCount = static_cast<unsigned>(std::clamp(nChannels, 0, ANALOG_CHANNELS));
    return nResult;
}

int CKelvardUsbBoard::LoadDevice(bool bConfig)
{
    int nResult = SeedPorts();
    ConfigBlock config;
    if (nResult == KELVARD_OK && bConfig)
        nResult = ExchangeReadConfig(config);
    if (nResult != KELVARD_OK)
        return nResult;
    CUsbDev& dev = m_devBoard;
    dev.m_byPortA = m_byPorts[PORT_A];
    dev.m_byPortB = m_byPorts[PORT_B];
    dev.m_byPortC = m_byPorts[PORT_C];
    dev.m_byPortD = m_byPorts[PORT_D];
    dev.m_byPortE = m_byPorts[PORT_E];
    if (!bConfig)
        return KELVARD_OK;
    dev.m_byDirA = config.byDir[PORT_A];
    dev.m_byDirB = config.byDir[PORT_B];
    dev.m_byDirC = config.byDir[PORT_C];
    dev.m_byDirD = config.byDir[PORT_D];
    dev.m_byDirE = config.byDir[PORT_E];
    dev.m_byInvA = config.byInv[PORT_A];
    dev.m_byInvB = config.byInv[PORT_B];
    dev.m_byInvC = config.byInv[PORT_C];
    dev.m_byInvD = config.byInv[PORT_D];
    dev.m_byAnalogCount = config.byAnalogCount;
    return KELVARD_OK;
}

void CKelvardUsbBoard::TakeLatches()
{
    const CUsbDev& dev = m_devBoard;
    m_byPorts = {dev.m_byPortA, dev.m_byPortB, dev.m_byPortC, dev.m_byPortD, dev.m_byPortE};
}

int CKelvardUsbBoard::AddField(const std::string& strName, unsigned nStart, unsigned nWidth,
                               bool bInput)
{
    if (m_devBoard.FindVirtualPort(strName.c_str()))
        return KELVARD_ERR_EXISTS;
    // Refused before anything is read from the board.
    const std::uint32_t dwMask =
        FieldMask(static_cast<std::uint8_t>(nStart), static_cast<std::uint8_t>(nWidth));
    for (const auto& [strOther, other] : m_devBoard.m_mapVirtualPorts)
        if (other.dwMask & dwMask)
            return KELVARD_ERR_OVERLAP;
    const int nResult = LoadDevice(true);
    if (nResult != KELVARD_OK)
        return nResult;
    const std::int32_t nAdded = m_devBoard.AddVirtualPort(
        strName.c_str(), static_cast<std::int32_t>(nStart), static_cast<std::int32_t>(nWidth),
        bInput ? 1 : 0);
    TakeLatches();
    switch (nAdded)
    {
    case VP_ADDED:
        return KELVARD_OK;
    case VP_OVERLAP:
        return KELVARD_ERR_OVERLAP;
    case VP_NAME_TAKEN:
        return KELVARD_ERR_EXISTS;
    default:
        return KELVARD_ERR_ARGUMENT;
    }
}

int CKelvardUsbBoard::WriteField(const std::string& strName, std::uint32_t dwValue)
{
    const VirtualPortInfo* pInfo = m_devBoard.FindVirtualPort(strName.c_str());
    if (!pInfo)
        return KELVARD_ERR_NOT_FOUND;
    const int nResult = LoadDevice(false);
    if (nResult != KELVARD_OK)
        return nResult;
    // Only the field's own pins change: the value is cut to its width.
    const std::uint32_t dwWidthMask = pInfo->dwMask >> pInfo->startBit;
    m_devBoard.WriteVirtualPort(strName.c_str(), static_cast<std::int32_t>(dwValue & dwWidthMask));
    TakeLatches();
    return KELVARD_OK;
}

int CKelvardUsbBoard::RemoveField(const std::string& strName)
{
    if (!m_devBoard.FindVirtualPort(strName.c_str()))
        return KELVARD_ERR_NOT_FOUND;
    const int nResult = LoadDevice(false);
    if (nResult != KELVARD_OK)
        return nResult;
    m_devBoard.RemoveVirtualPort(strName.c_str());
    TakeLatches();
    return KELVARD_OK;
}
