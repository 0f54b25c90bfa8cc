#include "EmulatedBoard.h"

#include <sys/ioctl.h>

#include <linux/usbdevice_fs.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <utility>

namespace
{
// Device descriptor (04d8:fffe, one configuration), then the configuration: interface 0 with
// bulk endpoints 0x01 and 0x81 of 64 bytes, as the boards report them.
constexpr char kDescriptors[] = "1201000200000040d804feff000101020001"
                                "0902200001010080320904000002ff000000"
                                "0705010240000007058102400000";

constexpr std::uint8_t kEndpointOut = 0x01;
constexpr std::uint8_t kEndpointIn = 0x81;

std::string ThreeDigits(unsigned nValue)
{
    char szText[8];
    std::snprintf(szText, sizeof(szText), "%03u", nValue);
    return szText;
}

usbdevfs_urb* UrbOf(UMockdevIoctlData* pData)
{
    return reinterpret_cast<usbdevfs_urb*>(pData->data);
}

// The ioctl argument as umockdev hands it over is the caller's pointer value; this fetches the
// nSize bytes it points to. Owned reference, or null when the address is bad.
UMockdevIoctlData* Pointee(UMockdevIoctlData* pArg, std::size_t nSize)
{
    GError* pError = nullptr;
    UMockdevIoctlData* pData = umockdev_ioctl_data_resolve(pArg, 0, nSize, &pError);
    g_clear_error(&pError);
    return pData;
}
} // namespace

CEmulatedBoard::CEmulatedBoard(UMockdevTestbed* pTestbed, unsigned nBus, std::string strPort,
                               unsigned nAddress, std::uint8_t byDeviceId)
    : m_pTestbed(pTestbed), m_pHandler(umockdev_ioctl_base_new()), m_nBus(nBus),
      m_nAddress(nAddress), m_strPort(std::move(strPort)), m_byDeviceId(byDeviceId)
{
    m_strSysPath = "/sys/devices/pci0000:00/0000:00:14.0/usb" + std::to_string(m_nBus) + "/" +
                   std::to_string(m_nBus) + "-" + m_strPort;
    m_strNode = "/dev/bus/usb/" + ThreeDigits(m_nBus) + "/" + ThreeDigits(m_nAddress);
    g_signal_connect(m_pHandler, "handle-ioctl", G_CALLBACK(&CEmulatedBoard::OnIoctl), this);
    g_signal_connect(m_pHandler, "client-connected", G_CALLBACK(&CEmulatedBoard::OnConnected),
                     this);
    g_signal_connect(m_pHandler, "client-vanished", G_CALLBACK(&CEmulatedBoard::OnVanished), this);
}

CEmulatedBoard::~CEmulatedBoard()
{
    if (m_bAttached)
        umockdev_testbed_detach_ioctl(m_pTestbed, m_strNode.c_str(), nullptr);
    g_signal_handlers_disconnect_by_data(m_pHandler, this);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (SUrb& urb : m_dqParked)
            Drop(urb);
        for (SUrb& urb : m_dqDone)
            Drop(urb);
        m_dqParked.clear();
        m_dqDone.clear();
    }
    g_object_unref(m_pHandler);
}

bool CEmulatedBoard::Plug(std::string& strError)
{
    GError* pError = nullptr;
    // The handler must be in place before the device appears: libusb may open it at once.
    if (!umockdev_testbed_attach_ioctl(m_pTestbed, m_strNode.c_str(), m_pHandler, &pError))
    {
        strError = pError != nullptr ? pError->message : "attach_ioctl failed";
        g_clear_error(&pError);
        return false;
    }
    m_bAttached = true;

    const std::string strBus = ThreeDigits(m_nBus);
    const std::string strDev = ThreeDigits(m_nAddress);
    // clang-format off
    const std::string strRecord =
        "P: " + m_strSysPath.substr(std::strlen("/sys")) + "\n" +
        "N: bus/usb/" + strBus + "/" + strDev + "\n" +
        "E: SUBSYSTEM=usb\n"
        "E: DEVTYPE=usb_device\n"
        "E: DEVNAME=" + m_strNode + "\n" +
        "E: BUSNUM=" + strBus + "\n" +
        "E: DEVNUM=" + strDev + "\n" +
        "A: busnum=" + std::to_string(m_nBus) + "\\n\n" +
        "A: devnum=" + std::to_string(m_nAddress) + "\\n\n" +
        "A: speed=12\\n\n"
        "A: bConfigurationValue=1\\n\n"
        "A: idVendor=04d8\\n\n"
        "A: idProduct=fffe\\n\n"
        "H: descriptors=" + kDescriptors + "\n";
    // clang-format on
    if (!umockdev_testbed_add_from_string(m_pTestbed, strRecord.c_str(), &pError))
    {
        strError = pError != nullptr ? pError->message : "add_from_string failed";
        g_clear_error(&pError);
        return false;
    }
    m_bPresent = true;
    return true;
}

void CEmulatedBoard::Unplug()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bUnplugged = true;
        // The kernel fails every URB still queued when the device goes.
        while (!m_dqParked.empty())
        {
            SUrb urb = m_dqParked.front();
            m_dqParked.pop_front();
            Finish(urb, -ENODEV, 0);
        }
    }
    m_cv.notify_all();
    if (m_bPresent)
    {
        umockdev_testbed_uevent(m_pTestbed, m_strSysPath.c_str(), "remove");
        umockdev_testbed_remove_device(m_pTestbed, m_strSysPath.c_str());
        m_bPresent = false;
    }
}

void CEmulatedBoard::ForceNextUrb(int nStatus, int nLength)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bForceNext = true;
    m_nForcedStatus = nStatus;
    m_nForcedLength = nLength;
}

void CEmulatedBoard::QueueReply(std::vector<std::uint8_t> vecReply)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_dqReplies.push_back(std::move(vecReply));
        ServeParkedReads();
    }
    m_cv.notify_all();
}

std::vector<std::vector<std::uint8_t>> CEmulatedBoard::Received() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_vecReceived;
}

std::array<std::uint8_t, 5> CEmulatedBoard::Ports() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_arrPorts;
}

bool CEmulatedBoard::WaitForParkedReads(std::size_t nCount, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, timeout, [&] { return m_dqParked.size() >= nCount; });
}

unsigned CEmulatedBoard::Opens() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nOpens;
}

unsigned CEmulatedBoard::Claims() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nClaims;
}

unsigned CEmulatedBoard::Releases() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nReleases;
}

unsigned CEmulatedBoard::Discards() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nDiscards;
}

unsigned CEmulatedBoard::UnknownIoctls() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nUnknown;
}

gboolean CEmulatedBoard::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* pClient, gpointer pSelf)
{
    static_cast<CEmulatedBoard*>(pSelf)->HandleIoctl(pClient);
    return TRUE;
}

void CEmulatedBoard::OnConnected(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer pSelf)
{
    auto* pBoard = static_cast<CEmulatedBoard*>(pSelf);
    std::lock_guard<std::mutex> lock(pBoard->m_mutex);
    ++pBoard->m_nOpens;
}

void CEmulatedBoard::OnVanished(UMockdevIoctlBase*, UMockdevIoctlClient* pClient, gpointer pSelf)
{
    // Closing the file gives up its claim and its URBs, as usbfs does.
    auto* pBoard = static_cast<CEmulatedBoard*>(pSelf);
    std::lock_guard<std::mutex> lock(pBoard->m_mutex);
    if (pBoard->m_pClaimedBy == pClient)
        pBoard->m_pClaimedBy = nullptr;
    for (std::deque<SUrb>* pQueue : {&pBoard->m_dqParked, &pBoard->m_dqDone})
    {
        for (auto it = pQueue->begin(); it != pQueue->end();)
        {
            if (it->pClient != pClient)
            {
                ++it;
                continue;
            }
            Drop(*it);
            it = pQueue->erase(it);
        }
    }
}

void CEmulatedBoard::HandleIoctl(UMockdevIoctlClient* pClient)
{
    const gulong nRequest = umockdev_ioctl_client_get_request(pClient);
    UMockdevIoctlData* pArg = umockdev_ioctl_client_get_arg(pClient);
    std::unique_lock<std::mutex> lock(m_mutex);

    if (nRequest == USBDEVFS_REAPURB || nRequest == USBDEVFS_REAPURBNDELAY)
    {
        const auto it = std::find_if(m_dqDone.begin(), m_dqDone.end(),
                                     [&](const SUrb& urb) { return urb.pClient == pClient; });
        if (it == m_dqDone.end())
        {
            umockdev_ioctl_client_complete(pClient, -1, m_bUnplugged ? ENODEV : EAGAIN);
            return;
        }
        UMockdevIoctlData* pSlot = Pointee(pArg, sizeof(void*));
        if (pSlot == nullptr)
        {
            umockdev_ioctl_client_complete(pClient, -1, EFAULT);
            return;
        }
        SUrb urb = *it;
        m_dqDone.erase(it);
        // Stores the URB's address in the caller's slot; completing writes the URB (status,
        // length, IN data) back too.
        umockdev_ioctl_data_set_ptr(pSlot, 0, urb.pUrb);
        umockdev_ioctl_client_complete(pClient, 0, 0);
        umockdev_ioctl_data_unref(pSlot);
        Drop(urb);
        return;
    }
    if (m_bUnplugged)
    {
        umockdev_ioctl_client_complete(pClient, -1, ENODEV);
        return;
    }

    switch (nRequest)
    {
    case USBDEVFS_SUBMITURB:
        SubmitUrb(pClient, pArg);
        break;
    case USBDEVFS_DISCARDURB:
    {
        // The argument is the URB's address in the caller; a time-out ends this way.
        gulong nAddress = 0;
        std::memcpy(&nAddress, pArg->data,
                    std::min(sizeof(nAddress), static_cast<std::size_t>(pArg->data_len)));
        const auto it =
            std::find_if(m_dqParked.begin(), m_dqParked.end(),
                         [&](const SUrb& urb)
                         { return urb.pClient == pClient && urb.pUrb->client_addr == nAddress; });
        if (it == m_dqParked.end())
        {
            umockdev_ioctl_client_complete(pClient, -1, EINVAL);
            break;
        }
        const SUrb urb = *it;
        m_dqParked.erase(it);
        ++m_nDiscards;
        Finish(urb, -ENOENT, 0);
        umockdev_ioctl_client_complete(pClient, 0, 0);
        break;
    }
    case USBDEVFS_GET_CAPABILITIES:
    {
        std::uint32_t nCaps = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                              USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
        UMockdevIoctlData* pCaps = Pointee(pArg, sizeof(nCaps));
        if (pCaps == nullptr)
        {
            umockdev_ioctl_client_complete(pClient, -1, EFAULT);
            break;
        }
        umockdev_ioctl_data_update(pCaps, 0, reinterpret_cast<guint8*>(&nCaps), sizeof(nCaps));
        umockdev_ioctl_client_complete(pClient, 0, 0);
        umockdev_ioctl_data_unref(pCaps);
        break;
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_DISCONNECT_CLAIM:
    case USBDEVFS_RELEASEINTERFACE:
        HandleInterface(pClient, nRequest, pArg);
        break;
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESET:
    case USBDEVFS_RESETEP:
        umockdev_ioctl_client_complete(pClient, 0, 0);
        break;
    case USBDEVFS_GETDRIVER:
    case USBDEVFS_IOCTL:
        // No kernel driver is bound to the board.
        umockdev_ioctl_client_complete(pClient, -1, ENODATA);
        break;
    default:
        ++m_nUnknown;
        umockdev_ioctl_client_complete(pClient, -1, ENOTTY);
        break;
    }
    lock.unlock();
    m_cv.notify_all();
}

void CEmulatedBoard::HandleInterface(UMockdevIoctlClient* pClient, gulong nRequest,
                                     UMockdevIoctlData* pArg)
{
    // Both claim forms and the release start with the interface number.
    unsigned int nInterface = 0;
    UMockdevIoctlData* pInterface = Pointee(pArg, sizeof(nInterface));
    if (pInterface == nullptr)
    {
        umockdev_ioctl_client_complete(pClient, -1, EFAULT);
        return;
    }
    std::memcpy(&nInterface, pInterface->data, sizeof(nInterface));
    umockdev_ioctl_data_unref(pInterface);
    if (nInterface != 0)
    {
        umockdev_ioctl_client_complete(pClient, -1, EINVAL);
        return;
    }
    if (nRequest == USBDEVFS_RELEASEINTERFACE)
    {
        if (m_pClaimedBy != pClient)
        {
            umockdev_ioctl_client_complete(pClient, -1, EINVAL);
            return;
        }
        m_pClaimedBy = nullptr;
        ++m_nReleases;
    }
    else
    {
        // Another open file holding the interface keeps it.
        if (m_pClaimedBy != nullptr && m_pClaimedBy != pClient)
        {
            umockdev_ioctl_client_complete(pClient, -1, EBUSY);
            return;
        }
        m_pClaimedBy = pClient;
        ++m_nClaims;
    }
    umockdev_ioctl_client_complete(pClient, 0, 0);
}

void CEmulatedBoard::SubmitUrb(UMockdevIoctlClient* pClient, UMockdevIoctlData* pArg)
{
    SUrb urb;
    urb.pClient = pClient;
    urb.pUrb = Pointee(pArg, sizeof(usbdevfs_urb));
    if (urb.pUrb == nullptr)
    {
        umockdev_ioctl_client_complete(pClient, -1, EFAULT);
        return;
    }
    const usbdevfs_urb* pUrb = UrbOf(urb.pUrb);
    if (pUrb->type != USBDEVFS_URB_TYPE_BULK ||
        (pUrb->endpoint != kEndpointOut && pUrb->endpoint != kEndpointIn) ||
        pUrb->buffer_length < 0)
    {
        Drop(urb);
        umockdev_ioctl_client_complete(pClient, -1, EINVAL);
        return;
    }
    if (pUrb->buffer_length > 0)
    {
        GError* pError = nullptr;
        urb.pBuffer = umockdev_ioctl_data_resolve(urb.pUrb, offsetof(usbdevfs_urb, buffer),
                                                  static_cast<gsize>(pUrb->buffer_length), &pError);
        if (urb.pBuffer == nullptr)
        {
            g_clear_error(&pError);
            Drop(urb);
            umockdev_ioctl_client_complete(pClient, -1, EFAULT);
            return;
        }
    }

    if (m_bForceNext)
    {
        m_bForceNext = false;
        const int nLength = std::clamp(m_nForcedLength, 0, pUrb->buffer_length);
        if (pUrb->endpoint == kEndpointOut && nLength > 0)
            m_vecReceived.emplace_back(urb.pBuffer->data, urb.pBuffer->data + nLength);
        Finish(urb, m_nForcedStatus, nLength);
    }
    else if (pUrb->endpoint == kEndpointOut)
    {
        std::vector<std::uint8_t> vecPacket;
        if (urb.pBuffer != nullptr)
            vecPacket.assign(urb.pBuffer->data, urb.pBuffer->data + urb.pBuffer->data_len);
        m_vecReceived.push_back(vecPacket);
        const int nLength = pUrb->buffer_length;
        Finish(urb, 0, nLength);
        RunCommand(vecPacket);
    }
    else
    {
        m_dqParked.push_back(urb);
    }
    ServeParkedReads();
    umockdev_ioctl_client_complete(pClient, 0, 0);
}

void CEmulatedBoard::RunCommand(const std::vector<std::uint8_t>& vecRequest)
{
    if (vecRequest.empty())
        return;
    switch (vecRequest[0])
    {
    case kCmdReadDeviceId:
        if (vecRequest.size() >= 2)
            m_dqReplies.push_back({kCmdReadDeviceId, m_byDeviceId});
        break;
    case kCmdReadPorts:
        if (vecRequest.size() >= 6)
        {
            std::vector<std::uint8_t> vecReply{kCmdReadPorts};
            vecReply.insert(vecReply.end(), m_arrPorts.begin(), m_arrPorts.end());
            m_dqReplies.push_back(std::move(vecReply));
        }
        break;
    case kCmdWritePorts:
        if (vecRequest.size() >= 6)
            std::copy(vecRequest.begin() + 1, vecRequest.begin() + 6, m_arrPorts.begin());
        break;
    default:
        break; // the firmware ignores what it does not know
    }
}

void CEmulatedBoard::ServeParkedReads()
{
    while (!m_dqParked.empty() && !m_dqReplies.empty())
    {
        const SUrb urb = m_dqParked.front();
        m_dqParked.pop_front();
        const std::vector<std::uint8_t> vecReply = std::move(m_dqReplies.front());
        m_dqReplies.pop_front();
        const int nRoom = urb.pBuffer != nullptr ? urb.pBuffer->data_len : 0;
        const int nLength = std::min(nRoom, static_cast<int>(vecReply.size()));
        if (nLength > 0)
            umockdev_ioctl_data_update(urb.pBuffer, 0, const_cast<std::uint8_t*>(vecReply.data()),
                                       nLength);
        // A reply longer than the host's buffer is a babble: the kernel reports overflow.
        Finish(urb, static_cast<int>(vecReply.size()) > nRoom ? -EOVERFLOW : 0, nLength);
    }
}

void CEmulatedBoard::Finish(SUrb urb, int nStatus, int nLength)
{
    // Through update(), so umockdev writes the fields back when the URB is reaped.
    umockdev_ioctl_data_update(urb.pUrb, offsetof(usbdevfs_urb, status),
                               reinterpret_cast<guint8*>(&nStatus), sizeof(nStatus));
    umockdev_ioctl_data_update(urb.pUrb, offsetof(usbdevfs_urb, actual_length),
                               reinterpret_cast<guint8*>(&nLength), sizeof(nLength));
    m_dqDone.push_back(urb);
}

void CEmulatedBoard::Drop(SUrb& urb)
{
    if (urb.pBuffer != nullptr)
        umockdev_ioctl_data_unref(urb.pBuffer);
    if (urb.pUrb != nullptr)
        umockdev_ioctl_data_unref(urb.pUrb);
    urb = SUrb{};
}
