#include "kelvard/KelvardBoard.h"

#include <algorithm>

int ResultOf(EStatus eStatus)
{
    switch (eStatus)
    {
    case EStatus::Ok:
        return KELVARD_OK;
    case EStatus::Gone:
        return KELVARD_ERR_GONE;
    case EStatus::Access:
        return KELVARD_ERR_ACCESS;
    case EStatus::Busy:
        return KELVARD_ERR_BUSY;
    case EStatus::Argument:
        return KELVARD_ERR_ARGUMENT;
    case EStatus::System:
        return KELVARD_ERR_SYSTEM;
    default:
        return KELVARD_ERR_IO;
    }
}

ConfigBlock MergeConfig(ConfigBlock base, const ConfigBlock& change, unsigned nMask)
{
    for (int nPort = 0; nPort < PORT_COUNT; ++nPort)
        if (nMask & KELVARD_CONFIG_DIRECTION(nPort))
            base.byDir[nPort] = change.byDir[nPort];
    for (int nPort = 0; nPort < KELVARD_POLARITY_PORTS; ++nPort)
        if (nMask & KELVARD_CONFIG_POLARITY(nPort))
            base.byInv[nPort] = change.byInv[nPort];
    if (nMask & KELVARD_CONFIG_ANALOG_COUNT)
        base.byAnalogCount = change.byAnalogCount;
    return base;
}

int CKelvardBlockBoard::ReadPorts(std::uint8_t* pValues, std::size_t nCount)
{
    PortBytes ports{};
    const int nResult = ExchangeReadPorts(ports);
    if (nResult != KELVARD_OK)
        return nResult;
    m_byPorts = ports;
    m_bPortsKnown = true;
    std::copy_n(ports.begin(), nCount, pValues);
    return KELVARD_OK;
}

int CKelvardBlockBoard::WritePort(int nPort, std::uint8_t byValue)
{
    const int nResult = SeedPorts();
    if (nResult != KELVARD_OK)
        return nResult;
    PortBytes ports = m_byPorts;
    ports[nPort] = byValue;
    return StorePorts(ports);
}

int CKelvardBlockBoard::WriteBit(int nPort, unsigned nBit, bool bValue)
{
    const int nResult = SeedPorts();
    if (nResult != KELVARD_OK)
        return nResult;
    PortBytes ports = m_byPorts;
    const auto byBit = static_cast<std::uint8_t>(1u << nBit);
    ports[nPort] = static_cast<std::uint8_t>(bValue ? ports[nPort] | byBit : ports[nPort] & ~byBit);
    return StorePorts(ports);
}

int CKelvardBlockBoard::ReadConfig(ConfigBlock& config)
{
    return ExchangeReadConfig(config);
}

int CKelvardBlockBoard::ChangeConfig(const ConfigBlock& config, unsigned nMask)
{
    ConfigBlock held;
    const int nResult = ExchangeReadConfig(held);
    if (nResult != KELVARD_OK)
        return nResult;
    return ExchangeWriteConfig(MergeConfig(held, config, nMask));
}

int CKelvardBlockBoard::SeedPorts()
{
    if (m_bPortsKnown)
        return KELVARD_OK;
    PortBytes ports{};
    const int nResult = ExchangeReadPorts(ports);
    if (nResult == KELVARD_OK)
    {
        m_byPorts = ports;
        m_bPortsKnown = true;
    }
    return nResult;
}

int CKelvardBlockBoard::StorePorts(const PortBytes& ports)
{
    const int nResult = ExchangeWritePorts(ports);
    if (nResult == KELVARD_OK)
        m_byPorts = ports;
    return nResult;
}
