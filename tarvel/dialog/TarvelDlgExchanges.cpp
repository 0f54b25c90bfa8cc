// CTarvelDlg: the port and configuration exchanges with the current board. Each one talks to
// m_pDevice over its link. Without a board, the exchanges that have a network form send their frame
// over the network link, if there is one, and return false at once: nothing was read or written
// yet, and the reply, if the board sends one, draws the grid when it arrives (OnSocketFrame).
#include "tarvel/dialog/TarvelDlg.h"

#include "firmware/BoardRecord.h"

#include "protocol/CommandSet.h"

bool CTarvelDlg::ReadPorts(PortBytes& byPorts, bool bRefresh)
{
    if (m_pDevice)
    {
        if (m_pDevice->m_lnkBoard.ReadPorts(byPorts) != EStatus::Ok)
            return false;
        if (bRefresh)
            SetGrid(byPorts);
        return true;
    }
    SendLinkFrame(BuildFrame(CMD_READ_PORTS));
    return false;
}

bool CTarvelDlg::WritePorts(const PortBytes& byPorts)
{
    if (m_pDevice)
        return m_pDevice->m_lnkBoard.WritePorts(byPorts) == EStatus::Ok;
    SendLinkFrame(BuildWritePortsFrame(byPorts));
    return false;
}

bool CTarvelDlg::ReadDirections(PortBytes& byPorts, bool bRefresh)
{
    if (m_pDevice)
    {
        ConfigBlock config;
        if (m_pDevice->m_lnkBoard.ReadConfiguration(config) != EStatus::Ok)
            return false;
        byPorts = config.byDir;
        ApplyPollingRule(byPorts);
        if (bRefresh)
            SetGrid(byPorts);
        return true;
    }
    // The polling rule is for boards on USB only.
    SendLinkFrame(BuildFrame(CMD_READ_CONFIGURATION));
    return false;
}

bool CTarvelDlg::ReadInversions(PortBytes& byPorts, bool bRefresh)
{
    if (m_pDevice)
    {
        ConfigBlock config;
        if (m_pDevice->m_lnkBoard.ReadConfiguration(config) != EStatus::Ok)
            return false;
        // Byte E carries the analog input count, configuration byte 10.
        byPorts = {config.byInv[PORT_A], config.byInv[PORT_B], config.byInv[PORT_C],
                   config.byInv[PORT_D], config.byAnalogCount};
        if (bRefresh)
            SetGrid(byPorts);
        return true;
    }
    if (m_pLink)
    {
        // A to C are cleared; D and E keep what the caller put there.
        byPorts[PORT_A] = byPorts[PORT_B] = byPorts[PORT_C] = 0;
        SendLinkFrame(BuildFrame(CMD_READ_CONFIGURATION));
    }
    return false;
}

// The configuration writes change only their own fields of the block the board reports.
bool CTarvelDlg::ChangeConfiguration(const std::function<void(ConfigBlock&)>& fnChange)
{
    ConfigBlock config;
    if (m_pDevice->m_lnkBoard.ReadConfiguration(config) != EStatus::Ok)
        return false;
    fnChange(config);
    return m_pDevice->m_lnkBoard.WriteConfiguration(config) == EStatus::Ok;
}

bool CTarvelDlg::WriteDirections(const PortBytes& byPorts)
{
    if (m_pDevice)
    {
        return ChangeConfiguration(
            [&](ConfigBlock& config)
            {
                config.byDir = byPorts;
                // Decided on the masks being written, before they are: all outputs stop the
                // polling.
                ApplyPollingRule(byPorts);
            });
    }
    // Over the network nothing is read first: the frame holds the directions and zeros.
    SendLinkFrame(BuildWriteDirectionsFrame(byPorts));
    return false;
}

bool CTarvelDlg::WriteInversions(const PortBytes& byPorts)
{
    if (m_pDevice)
    {
        // Ports A to D only: byte E of the grid is row E, which this view keeps clear, while
        // configuration byte 10 is the analog input count, which a polarity change must keep.
        return ChangeConfiguration(
            [&](ConfigBlock& config)
            {
                for (int nPort = PORT_A; nPort <= PORT_D; ++nPort)
                    config.byInv[nPort] = byPorts[nPort];
            });
    }
    // Over the network nothing is read first: the frame holds the inversions and zeros, so
    // byte 11 (the analog input count's place) carries row E as the grid has it.
    SendLinkFrame(BuildWriteInversionsFrame(byPorts));
    return false;
}

bool CTarvelDlg::WriteAnalogCount(int nCount)
{
    if (m_pDevice)
    {
        return ChangeConfiguration(
            [&](ConfigBlock& config)
            {
                config.byAnalogCount = static_cast<std::uint8_t>(nCount);
                config.byDir[PORT_E] = 0;
            });
    }
    return false; // no network form
}

int CTarvelDlg::ReadAnalog(std::array<std::uint16_t, ANALOG_CHANNELS>& wReadings)
{
    if (m_pDevice)
    {
        int nChannels = 0;
        if (m_pDevice->m_lnkBoard.ReadAnalog(nChannels, wReadings) != EStatus::Ok)
            return 0;
        return nChannels;
    }
    return 0; // no network form
}
