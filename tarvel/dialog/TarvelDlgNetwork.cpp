// CTarvelDlg: the network link to a board over TCP: Connect and Close, the read-configuration
// request once connected, and the frames that come back.
#include "tarvel/dialog/TarvelDlg.h"

#include "tarvel/dialog/IpAddressCtrl.h"
#include "tarvel/dialog/TarvelSettings.h"
#include "tarvel/net/ClientSocket.h"

#include "protocol/CommandSet.h"
#include "protocol/DebugOutput.h"

#include <exception>
#include <utility>

void CTarvelDlg::OnConnectButton()
{
    try
    {
        DropConnection();
        m_pLink = new CClientSocket(this, this);
        m_pLink->Connect(m_ipAddress->GetWindowText(), LinkPort());
        // Kept whether or not anything answers there, so the next start offers it again.
        std::uint32_t dwAddress = 0;
        m_ipAddress->GetAddress(dwAddress);
        WriteAddressSetting(dwAddress);
    }
    catch (const std::exception& e)
    {
        DebugOutputFormat("Connect failed: %s\n", e.what());
    }
}

void CTarvelDlg::OnCloseButton()
{
    if (!m_pLink)
        return;
    m_pLink->Close();
    DropConnection();
}

void CTarvelDlg::RequestConfiguration(int nErrorCode)
{
    // A connection that could not be made says nothing; the link stays until it is replaced.
    if (nErrorCode != 0)
        return;
    SendLinkFrame(BuildFrame(CMD_READ_CONFIGURATION));
}

void CTarvelDlg::OnSocketFrame(const std::uint8_t* pFrame, int nLength, CClientSocket* /*pLink*/)
{
    PortBytes byPorts{};
    if (DecodeGridFrame(pFrame, static_cast<std::size_t>(nLength), byPorts))
        SetGrid(byPorts);
}

void CTarvelDlg::SendLinkFrame(NetFrame frame)
{
    // The send's result is the link's business: a refused frame waits in its queue, one sent
    // before the connection is made is lost.
    if (m_pLink)
        m_pLink->SendFrame(frame.data(), NET_FRAME_SIZE);
}
