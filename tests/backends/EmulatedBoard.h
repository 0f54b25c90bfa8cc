#pragma once
// A board on an emulated USB bus. umockdev fakes its sysfs entry and usbfs node; this class
// answers the usbfs ioctls libusb issues, and three commands of the board's command set the
// way the firmware does. The ioctl handler runs on umockdev's own thread, so every piece of
// state below sits under one mutex.
#include "protocol/CommandSet.h"

#include <umockdev.h>

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class CEmulatedBoard
{
public:
    // Connections to the node (one per open device handle), interface claims (plain or
    // disconnect-and-claim) and releases, URBs cancelled by the host (how a time-out ends),
    // and IN transfers waiting for a reply now.
    struct SCounts
    {
        unsigned nOpens = 0, nClaims = 0, nReleases = 0, nDiscards = 0;
        std::size_t nParked = 0;
        bool operator==(const SCounts&) const = default;
    };

    // Bus nBus, port strPort of the root hub ("1" is sysfs "1-1"), device number nAddress.
    // bInterrupt: endpoints 0x01 and 0x81 are interrupt endpoints, as some firmware declares
    // them, and transfers of another kind are refused, as usbfs refuses them.
    CEmulatedBoard(UMockdevTestbed* pTestbed, unsigned nBus, const std::string& strPort,
                   unsigned nAddress, std::uint8_t byDeviceId, bool bInterrupt = false)
        : m_pTestbed(pTestbed), m_pHandler(umockdev_ioctl_base_new()), m_byDeviceId(byDeviceId),
          m_nUrbType(bInterrupt ? USBDEVFS_URB_TYPE_INTERRUPT : USBDEVFS_URB_TYPE_BULK)
    {
        // Device descriptor (04d8:fffe, one configuration), then the configuration: interface 0
        // with endpoints 0x01 and 0x81 of 64 bytes, bulk as the boards report them (or
        // interrupt, polled every frame).
        const char* pszEndpoint = bInterrupt ? "03400001" : "02400000";
        char szText[1024];
        std::snprintf(szText, sizeof szText,
                      "P: /devices/pci0000:00/0000:00:14.0/usb%u/%u-%s\nN: bus/usb/%03u/%03u\n"
                      "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=/dev/bus/usb/%03u/%03u\n"
                      "E: BUSNUM=%03u\nE: DEVNUM=%03u\nA: busnum=%u\\n\nA: devnum=%u\\n\n"
                      "A: speed=12\\n\nA: bConfigurationValue=1\\n\nA: idVendor=04d8\\n\n"
                      "A: idProduct=fffe\\n\nH: descriptors=1201000200000040d804feff000101020001"
                      "0902200001010080320904000002ff000000070501%s070581%s\n",
                      nBus, nBus, strPort.c_str(), nBus, nAddress, nBus, nAddress, nBus, nAddress,
                      nBus, nAddress, pszEndpoint, pszEndpoint);
        m_strRecord = szText;
        m_strSysPath = "/sys" + m_strRecord.substr(3, m_strRecord.find('\n') - 3);
        m_strNode = "/dev/" + m_strRecord.substr(m_strRecord.find("N: ") + 3, 15);
        g_signal_connect(m_pHandler, "handle-ioctl", G_CALLBACK(&CEmulatedBoard::OnIoctl), this);
        g_signal_connect(m_pHandler, "client-connected",
                         G_CALLBACK(+[](UMockdevIoctlBase*, UMockdevIoctlClient*, CEmulatedBoard* p)
                                    {
                                        const std::lock_guard<std::mutex> lock(p->m_mtxLock);
                                        ++p->m_counts.nOpens;
                                    }),
                         this);
    }

    ~CEmulatedBoard()
    {
        if (m_bAttached)
            umockdev_testbed_detach_ioctl(m_pTestbed, m_strNode.c_str(), nullptr);
        g_signal_handlers_disconnect_by_data(m_pHandler, this);
        const std::lock_guard<std::mutex> lock(m_mtxLock);
        for (const std::deque<SUrb>* pQueue : {&m_dqParked, &m_dqDone})
            std::for_each(pQueue->begin(), pQueue->end(), &CEmulatedBoard::Drop);
        g_object_unref(m_pHandler);
    }

    CEmulatedBoard(const CEmulatedBoard&) = delete;
    CEmulatedBoard& operator=(const CEmulatedBoard&) = delete;

    // Attaches the ioctl handler to the node (before the device appears: libusb may open it at
    // once), then adds the device, which sends "add".
    // Returns what failed; empty when the board is there.
    std::string Plug()
    {
        GError* pError = nullptr;
        m_bAttached =
            umockdev_testbed_attach_ioctl(m_pTestbed, m_strNode.c_str(), m_pHandler, &pError);
        m_bPresent = m_bAttached &&
                     umockdev_testbed_add_from_string(m_pTestbed, m_strRecord.c_str(), &pError);
        std::string strError = m_bPresent ? "" : pError != nullptr ? pError->message : "failed";
        g_clear_error(&pError);
        return strError;
    }

    // Fails reads still waiting, sends "remove" and takes the device out of sysfs. From then on
    // every ioctl but reaping fails with ENODEV, as usbfs does.
    void Unplug()
    {
        {
            std::lock_guard<std::mutex> lock(m_mtxLock);
            m_bUnplugged = true;
            for (const SUrb& urb : std::exchange(m_dqParked, {}))
                Finish(urb, -ENODEV, 0);
        }
        if (std::exchange(m_bPresent, false))
        {
            umockdev_testbed_uevent(m_pTestbed, m_strSysPath.c_str(), "remove");
            umockdev_testbed_remove_device(m_pTestbed, m_strSysPath.c_str());
        }
    }

    SCounts Counts() const
    {
        const std::lock_guard<std::mutex> lock(m_mtxLock);
        SCounts counts = m_counts;
        counts.nParked = m_dqParked.size();
        return counts;
    }

private:
    // usbfs keeps URBs per open file; the backend has one open file per board at a time.
    struct SUrb
    {
        UMockdevIoctlData* pUrb;
        UMockdevIoctlData* pBuffer;
    };

    // umockdev hands the ioctl argument over as the caller's pointer value; this fetches the
    // nSize bytes it points to (at nOffset of pArg for a pointer inside a structure). Owned
    // reference, or null when the address is bad.
    static UMockdevIoctlData* Pointee(UMockdevIoctlData* pArg, std::size_t nSize,
                                      std::size_t nOffset = 0)
    {
        GError* pError = nullptr;
        UMockdevIoctlData* pData = umockdev_ioctl_data_resolve(pArg, nOffset, nSize, &pError);
        g_clear_error(&pError);
        return pData;
    }

    static void Drop(const SUrb& urb)
    {
        if (urb.pBuffer != nullptr)
            umockdev_ioctl_data_unref(urb.pBuffer);
        umockdev_ioctl_data_unref(urb.pUrb);
    }

    static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* pClient, gpointer pSelf)
    {
        auto* pBoard = static_cast<CEmulatedBoard*>(pSelf);
        const std::lock_guard<std::mutex> lock(pBoard->m_mtxLock);
        const int nErrno = pBoard->HandleIoctl(pClient, umockdev_ioctl_client_get_request(pClient),
                                               umockdev_ioctl_client_get_arg(pClient));
        if (nErrno >= 0)
            umockdev_ioctl_client_complete(pClient, nErrno == 0 ? 0 : -1, nErrno);
        return TRUE;
    }

    // Serves one ioctl. Returns the errno to fail it with, 0 to complete it with success, or -1
    // when it has been completed already.
    int HandleIoctl(UMockdevIoctlClient* pClient, gulong nRequest, UMockdevIoctlData* pArg)
    {
        if (nRequest == USBDEVFS_REAPURB || nRequest == USBDEVFS_REAPURBNDELAY)
            return Reap(pClient, pArg);
        if (m_bUnplugged)
            return ENODEV;
        switch (nRequest)
        {
        case USBDEVFS_SUBMITURB:
            return SubmitUrb(pArg);
        case USBDEVFS_DISCARDURB:
        {
            // The argument is the URB's address in the caller; a time-out ends this way.
            const gulong nAddress = *reinterpret_cast<const gulong*>(pArg->data);
            const auto it =
                std::find_if(m_dqParked.begin(), m_dqParked.end(),
                             [&](const SUrb& urb) { return urb.pUrb->client_addr == nAddress; });
            if (it == m_dqParked.end())
                return EINVAL;
            Finish(*it, -ENOENT, 0);
            m_dqParked.erase(it);
            ++m_counts.nDiscards;
            return 0;
        }
        case USBDEVFS_CLAIMINTERFACE: // interface 0, the only one the board has
        case USBDEVFS_DISCONNECT_CLAIM:
            ++m_counts.nClaims;
            return 0;
        case USBDEVFS_RELEASEINTERFACE:
            ++m_counts.nReleases;
            return 0;
        default: // capabilities and kernel drivers among others: libusb does without
            return ENOTTY;
        }
    }

    int Reap(UMockdevIoctlClient* pClient, UMockdevIoctlData* pArg)
    {
        if (m_dqDone.empty())
            return m_bUnplugged ? ENODEV : EAGAIN;
        UMockdevIoctlData* pSlot = Pointee(pArg, sizeof(void*));
        if (pSlot == nullptr)
            return EFAULT;
        // Stores the URB's address in the caller's slot; completing writes the URB (status,
        // length, IN data) back too.
        umockdev_ioctl_data_set_ptr(pSlot, 0, m_dqDone.front().pUrb);
        umockdev_ioctl_client_complete(pClient, 0, 0);
        umockdev_ioctl_data_unref(pSlot);
        Drop(m_dqDone.front());
        m_dqDone.pop_front();
        return -1;
    }

    int SubmitUrb(UMockdevIoctlData* pArg)
    {
        SUrb urb{Pointee(pArg, sizeof(usbdevfs_urb)), nullptr};
        if (urb.pUrb == nullptr)
            return EFAULT;
        const auto* pUrb = reinterpret_cast<const usbdevfs_urb*>(urb.pUrb->data);
        const bool bOut = pUrb->endpoint == ENDPOINT_OUT;
        const int nLength = pUrb->buffer_length;
        if (pUrb->type != m_nUrbType || (!bOut && pUrb->endpoint != ENDPOINT_IN) || nLength < 0 ||
            (nLength > 0 && (urb.pBuffer = Pointee(urb.pUrb, nLength,
                                                   offsetof(usbdevfs_urb, buffer))) == nullptr))
        {
            Drop(urb);
            return EINVAL;
        }
        if (bOut)
        {
            std::vector<std::uint8_t> vecRequest;
            if (urb.pBuffer != nullptr)
                vecRequest.assign(urb.pBuffer->data, urb.pBuffer->data + urb.pBuffer->data_len);
            Finish(urb, 0, nLength);
            RunCommand(vecRequest);
        }
        else
        {
            m_dqParked.push_back(urb);
        }
        ServeParkedReads();
        return 0;
    }

    // The firmware ignores what it does not know, and requests too short for their command.
    void RunCommand(const std::vector<std::uint8_t>& vecRequest)
    {
        if (vecRequest.size() >= 2 && vecRequest[0] == CMD_READ_DEVICE_ID)
            m_dqReplies.push_back({CMD_READ_DEVICE_ID, m_byDeviceId});
        const auto& p = m_arrPorts;
        if (vecRequest.size() >= 6 && vecRequest[0] == CMD_READ_PORTS)
            m_dqReplies.push_back({CMD_READ_PORTS, p[0], p[1], p[2], p[3], p[4]});
        if (vecRequest.size() >= 6 && vecRequest[0] == CMD_WRITE_PORTS)
            std::copy(vecRequest.begin() + 1, vecRequest.begin() + 6, m_arrPorts.begin());
    }

    void ServeParkedReads()
    {
        while (!m_dqParked.empty() && !m_dqReplies.empty())
        {
            const SUrb urb = m_dqParked.front();
            m_dqParked.pop_front();
            std::vector<std::uint8_t> vecReply = std::move(m_dqReplies.front());
            m_dqReplies.pop_front();
            const int nRoom = urb.pBuffer != nullptr ? urb.pBuffer->data_len : 0;
            const int nLength = std::min(nRoom, static_cast<int>(vecReply.size()));
            if (nLength > 0)
                umockdev_ioctl_data_update(urb.pBuffer, 0, vecReply.data(), nLength);
            // A reply longer than the host's buffer is a babble: the kernel reports overflow.
            Finish(urb, static_cast<int>(vecReply.size()) > nRoom ? -EOVERFLOW : 0, nLength);
        }
    }

    // Sets status and length through update(), so umockdev writes them back when the URB is
    // reaped, and queues the URB for reaping.
    void Finish(const SUrb& urb, int nStatus, int nLength)
    {
        umockdev_ioctl_data_update(urb.pUrb, offsetof(usbdevfs_urb, status),
                                   reinterpret_cast<guint8*>(&nStatus), sizeof(nStatus));
        umockdev_ioctl_data_update(urb.pUrb, offsetof(usbdevfs_urb, actual_length),
                                   reinterpret_cast<guint8*>(&nLength), sizeof(nLength));
        m_dqDone.push_back(urb);
    }

    static constexpr std::uint8_t ENDPOINT_OUT = 0x01;
    static constexpr std::uint8_t ENDPOINT_IN = 0x81;
    UMockdevTestbed* m_pTestbed;
    UMockdevIoctlBase* m_pHandler;
    std::uint8_t m_byDeviceId;
    unsigned char m_nUrbType; // of both endpoints
    std::string m_strSysPath, m_strNode, m_strRecord;
    bool m_bAttached = false, m_bPresent = false;

    mutable std::mutex m_mtxLock;
    bool m_bUnplugged = false;
    SCounts m_counts;
    std::array<std::uint8_t, 5> m_arrPorts{};
    std::deque<std::vector<std::uint8_t>> m_dqReplies;
    std::deque<SUrb> m_dqParked; // IN URBs waiting for a reply
    std::deque<SUrb> m_dqDone;   // completed URBs waiting to be reaped
};
