#pragma once
// A board on an emulated USB bus. umockdev fakes its sysfs entry and usbfs node; this class
// answers the usbfs ioctls libusb issues and a few commands of the board's command set, the
// way the firmware does. The ioctl handler runs on umockdev's own thread, so every piece of
// state below sits under one mutex.
#include <umockdev.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

class CEmulatedBoard
{
public:
    static constexpr std::uint8_t kCmdReadPorts = 0x36;
    static constexpr std::uint8_t kCmdWritePorts = 0x37;
    static constexpr std::uint8_t kCmdReadDeviceId = 0x3C;

    // Bus nBus, port strPort of the root hub ("1" is sysfs "1-1"), device number nAddress.
    CEmulatedBoard(UMockdevTestbed* pTestbed, unsigned nBus, std::string strPort, unsigned nAddress,
                   std::uint8_t byDeviceId);
    ~CEmulatedBoard();

    CEmulatedBoard(const CEmulatedBoard&) = delete;
    CEmulatedBoard& operator=(const CEmulatedBoard&) = delete;

    // Attaches the ioctl handler to the node, then adds the device (which sends "add").
    bool Plug(std::string& strError);
    // Fails reads still waiting, sends "remove" and takes the device out of sysfs. From now on
    // every ioctl on an open handle fails with ENODEV, as usbfs does.
    void Unplug();

    // The next URB submitted, either direction, completes at once with this status and
    // length instead of being served: -EPIPE is a stall, 0 with a short length a partial write.
    void ForceNextUrb(int nStatus, int nLength);
    // Queues a reply the next read (IN transfer) receives, whatever was asked for.
    void QueueReply(std::vector<std::uint8_t> vecReply);
    // Every OUT packet received, in order.
    std::vector<std::vector<std::uint8_t>> Received() const;
    std::array<std::uint8_t, 5> Ports() const;
    // Waits until at least nCount IN transfers are waiting for a reply.
    bool WaitForParkedReads(std::size_t nCount, std::chrono::milliseconds timeout) const;

    unsigned Opens() const;    // connections to the node (one per open device handle)
    unsigned Claims() const;   // interface 0 claims, plain or disconnect-and-claim
    unsigned Releases() const; // interface 0 releases
    unsigned Discards() const; // URBs cancelled by the host (how a time-out ends)
    unsigned UnknownIoctls() const;
    const std::string& SysPath() const { return m_strSysPath; }
    const std::string& NodePath() const { return m_strNode; }

private:
    // usbfs keeps URBs per open file: each is reaped only through the file it was submitted on.
    struct SUrb
    {
        UMockdevIoctlClient* pClient = nullptr; // identifies the open file; not referenced
        UMockdevIoctlData* pUrb = nullptr;
        UMockdevIoctlData* pBuffer = nullptr;
    };

    static gboolean OnIoctl(UMockdevIoctlBase* pHandler, UMockdevIoctlClient* pClient,
                            gpointer pSelf);
    static void OnConnected(UMockdevIoctlBase* pHandler, UMockdevIoctlClient* pClient,
                            gpointer pSelf);
    static void OnVanished(UMockdevIoctlBase* pHandler, UMockdevIoctlClient* pClient,
                           gpointer pSelf);
    void HandleInterface(UMockdevIoctlClient* pClient, gulong nRequest, UMockdevIoctlData* pArg);
    void HandleIoctl(UMockdevIoctlClient* pClient);
    void SubmitUrb(UMockdevIoctlClient* pClient, UMockdevIoctlData* pArg);
    void RunCommand(const std::vector<std::uint8_t>& vecRequest);
    void ServeParkedReads();
    void Finish(SUrb urb, int nStatus, int nLength);
    static void Drop(SUrb& urb);

    UMockdevTestbed* m_pTestbed;
    UMockdevIoctlBase* m_pHandler;
    unsigned m_nBus;
    unsigned m_nAddress;
    std::string m_strPort;
    std::string m_strSysPath;
    std::string m_strNode;
    std::uint8_t m_byDeviceId;
    bool m_bAttached = false;
    bool m_bPresent = false;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    bool m_bUnplugged = false;
    bool m_bForceNext = false;
    int m_nForcedStatus = 0;
    int m_nForcedLength = 0;
    std::array<std::uint8_t, 5> m_arrPorts{};
    std::deque<std::vector<std::uint8_t>> m_dqReplies;
    std::vector<std::vector<std::uint8_t>> m_vecReceived;
    std::deque<SUrb> m_dqParked;                 // IN URBs waiting for a reply
    std::deque<SUrb> m_dqDone;                   // completed URBs waiting to be reaped
    UMockdevIoctlClient* m_pClaimedBy = nullptr; // the open file holding interface 0
    unsigned m_nOpens = 0;
    unsigned m_nClaims = 0;
    unsigned m_nReleases = 0;
    unsigned m_nDiscards = 0;
    unsigned m_nUnknown = 0;
};
