// CTarvelDlg: the port and configuration exchanges with the current board. Each one talks to
// m_pDevice over USB; without a board it does nothing and returns 0, which is where the network
// link's frame will be sent instead.
#include "dialog/TarvelDlg.h"

#include "dialog/UsbDev.h"

#include "DeviceLink.h"

bool CTarvelDlg::ReadPorts(PortBytes& byPorts, bool bRefresh)
{
    if (m_pDevice)
    {
        if (!UsbReadPorts(m_pDevice->m_hRead, m_pDevice->m_hWrite, byPorts))
            return false;
        if (bRefresh)
            SetGrid(byPorts);
        return true;
    }
    return false;
}

bool CTarvelDlg::WritePorts(const PortBytes& byPorts)
{
    if (m_pDevice)
        return UsbWritePorts(m_pDevice->m_hWrite, byPorts);
    return false;
}

bool CTarvelDlg::ReadDirections(PortBytes& byPorts, bool bRefresh)
{
    if (m_pDevice)
    {
        ConfigBlock config;
        if (!UsbReadConfiguration(m_pDevice->m_hRead, m_pDevice->m_hWrite, config))
            return false;
        byPorts = config.byDir;
        ApplyPollingRule(byPorts);
        if (bRefresh)
            SetGrid(byPorts);
        return true;
    }
    return false;
}

bool CTarvelDlg::ReadInversions(PortBytes& byPorts, bool bRefresh)
{
    if (m_pDevice)
    {
        ConfigBlock config;
        if (!UsbReadConfiguration(m_pDevice->m_hRead, m_pDevice->m_hWrite, config))
            return false;
        // Byte E carries the analog input count, configuration byte 10.
        byPorts = {config.byInv[PORT_A], config.byInv[PORT_B], config.byInv[PORT_C],
                   config.byInv[PORT_D], config.byAnalogCount};
        if (bRefresh)
            SetGrid(byPorts);
        return true;
    }
    return false;
}

// The configuration writes change only their own fields of the block the board reports.

bool CTarvelDlg::WriteDirections(const PortBytes& byPorts)
{
    if (m_pDevice)
    {
        ConfigBlock config;
        if (!UsbReadConfiguration(m_pDevice->m_hRead, m_pDevice->m_hWrite, config))
            return false;
        config.byDir = byPorts;
        // Decided on the masks being written, before they are: all outputs stop the polling.
        ApplyPollingRule(byPorts);
        return UsbWriteConfiguration(m_pDevice->m_hWrite, config);
    }
    return false;
}

bool CTarvelDlg::WriteInversions(const PortBytes& byPorts)
{
    if (m_pDevice)
    {
        ConfigBlock config;
        if (!UsbReadConfiguration(m_pDevice->m_hRead, m_pDevice->m_hWrite, config))
            return false;
        // Ports A to D only: byte E of the grid is row E, which this view keeps clear, while
        // configuration byte 10 is the analog input count, which a polarity change must keep.
        for (int nPort = PORT_A; nPort <= PORT_D; ++nPort)
            config.byInv[nPort] = byPorts[nPort];
        return UsbWriteConfiguration(m_pDevice->m_hWrite, config);
    }
    return false;
}

bool CTarvelDlg::WriteAnalogCount(int nCount)
{
    if (m_pDevice)
    {
        ConfigBlock config;
        if (!UsbReadConfiguration(m_pDevice->m_hRead, m_pDevice->m_hWrite, config))
            return false;
        config.byAnalogCount = static_cast<std::uint8_t>(nCount);
        config.byDir[PORT_E] = 0;
        return UsbWriteConfiguration(m_pDevice->m_hWrite, config);
    }
    return false;
}

int CTarvelDlg::ReadAnalog(std::array<std::uint16_t, ANALOG_CHANNELS>& wReadings)
{
    if (m_pDevice)
    {
        int nChannels = 0;
        if (!UsbReadAnalog(m_pDevice->m_hRead, m_pDevice->m_hWrite, nChannels, wReadings))
            return 0;
        return nChannels;
    }
    return 0;
}
