#include "firmware/BoardScan.h"

#include "firmware/BootLoader.h"
#include "protocol/DeviceLink.h"

#include <algorithm>
#include <mutex>
#include <set>
#include <thread>

namespace
{
constexpr auto POLL_INTERVAL = std::chrono::milliseconds(5);
// How long a location may stay empty before the board is looked for by its serial number.
constexpr auto SERIAL_SEARCH_AFTER = std::chrono::seconds(1);

struct SClaims
{
    std::mutex mtxLock;
    std::multiset<std::string> setLocations;
    // One search by serial number at a time: it talks to boards nobody follows.
    std::mutex mtxSearch;
};

SClaims& Claims()
{
    static SClaims claims;
    return claims;
}

std::unique_ptr<CUsbDev> OpenInstance(std::uint32_t nInstance)
{
    const MPUSB_HANDLE hRead = MPUSBOpen(nInstance, MPUSB_VID_PID, MPUSB_ENDPOINT, MP_READ, 0);
    const MPUSB_HANDLE hWrite = MPUSBOpen(nInstance, MPUSB_VID_PID, MPUSB_ENDPOINT, MP_WRITE, 0);
    if (hRead != MPUSB_INVALID_HANDLE && hWrite != MPUSB_INVALID_HANDLE)
        return std::make_unique<CUsbDev>(hRead, hWrite);
    MPUSBClose(hRead);
    MPUSBClose(hWrite);
    return nullptr;
}

// In the bootloader the serial number is read from the boot block by a loader, which holds the
// link meanwhile and gives it back.
std::string SerialOf(std::unique_ptr<CUsbDev>& pDev, bool bBoot)
{
    if (!bBoot)
        return UsbReadSerialNumber(pDev->m_hRead, pDev->m_hWrite);
    CBootLoader loader(pDev.release(), "");
    std::string strSerial = loader.ReadSerNo();
    pDev = std::move(loader.m_pDev);
    return strSerial;
}

// The board at the location in the wanted mode, opened; null when it is not there (yet).
std::unique_ptr<CUsbDev> OpenAt(const std::string& strLocation, bool bBoot)
{
    const std::uint32_t nCount = MPUSBGetDeviceCount(MPUSB_VID_PID);
    for (std::uint32_t i = 0; i < nCount && i < MPUSB_MAX_INSTANCES; ++i)
    {
        if (MpusbLocation(i) != strLocation)
            continue;
        auto pDev = OpenInstance(i);
        // Instances move as boards come and go: the pipe says where it really is.
        if (!pDev || MpusbPipeLocation(pDev->m_hRead) != strLocation ||
            UsbQueryBootloader(pDev->m_hRead, pDev->m_hWrite) != bBoot)
            return nullptr;
        return pDev;
    }
    return nullptr;
}

bool LocationPresent(const std::string& strLocation)
{
    const std::uint32_t nCount = MPUSBGetDeviceCount(MPUSB_VID_PID);
    for (std::uint32_t i = 0; i < nCount && i < MPUSB_MAX_INSTANCES; ++i)
        if (MpusbLocation(i) == strLocation)
            return true;
    return false;
}

std::unique_ptr<CUsbDev> OpenBySerial(const std::string& strSerial, bool bBoot)
{
    SClaims& claims = Claims();
    const std::lock_guard search(claims.mtxSearch);
    const std::uint32_t nCount = MPUSBGetDeviceCount(MPUSB_VID_PID);
    for (std::uint32_t i = 0; i < nCount && i < MPUSB_MAX_INSTANCES; ++i)
    {
        {
            const std::lock_guard lock(claims.mtxLock);
            if (claims.setLocations.count(MpusbLocation(i)) != 0)
                continue;
        }
        auto pDev = OpenInstance(i);
        if (pDev && UsbQueryBootloader(pDev->m_hRead, pDev->m_hWrite) == bBoot &&
            SerialOf(pDev, bBoot) == strSerial)
            return pDev;
    }
    return nullptr;
}
} // namespace

void ReadIdentity(std::unique_ptr<CUsbDev>& pDev, SBoardInfo& info)
{
    info.bBoot = UsbQueryBootloader(pDev->m_hRead, pDev->m_hWrite);
    info.strSerial = SerialOf(pDev, info.bBoot);
    if (info.bBoot)
        return;
    info.wVersion = UsbReadVersion(pDev->m_hRead, pDev->m_hWrite);
    std::uint8_t byId = 0;
    info.nDeviceId = UsbReadDeviceId(pDev->m_hRead, pDev->m_hWrite, byId) ? byId : -1;
}

std::vector<SBoardInfo> ScanBoards()
{
    std::vector<SBoardInfo> vecBoards;
    const std::uint32_t nCount = MPUSBGetDeviceCount(MPUSB_VID_PID);
    for (std::uint32_t i = 0; i < nCount && i < MPUSB_MAX_INSTANCES; ++i)
    {
        SBoardInfo info;
        info.nInstance = i;
        info.strLocation = MpusbLocation(i);
        if (auto pDev = OpenInstance(i))
        {
            info.strLocation = MpusbPipeLocation(pDev->m_hRead);
            ReadIdentity(pDev, info);
        }
        else
        {
            info.eOpenError = MpusbProbeOpen(i);
            // It opens now yet did not a moment ago: its interface is held elsewhere.
            if (info.eOpenError == EUsbOpenError::None)
                info.eOpenError = EUsbOpenError::Busy;
        }
        if (!info.strLocation.empty()) // an empty one left while we looked
            vecBoards.push_back(std::move(info));
    }
    return vecBoards;
}

CLocationClaim::CLocationClaim(std::string strLocation) : m_strLocation(std::move(strLocation))
{
    const std::lock_guard lock(Claims().mtxLock);
    Claims().setLocations.insert(m_strLocation);
}

CLocationClaim::~CLocationClaim()
{
    const std::lock_guard lock(Claims().mtxLock);
    const auto it = Claims().setLocations.find(m_strLocation);
    if (it != Claims().setLocations.end())
        Claims().setLocations.erase(it);
}

void CLocationClaim::Move(const std::string& strLocation)
{
    const std::lock_guard lock(Claims().mtxLock);
    const auto it = Claims().setLocations.find(m_strLocation);
    if (it != Claims().setLocations.end())
        Claims().setLocations.erase(it);
    m_strLocation = strLocation;
    Claims().setLocations.insert(m_strLocation);
}

CBoardFinder::CBoardFinder(SBoardKey key, bool bBoot)
    : m_keyBoard(std::move(key)), m_bBoot(bBoot), m_tLastSeen(std::chrono::steady_clock::now())
{
}

std::unique_ptr<CUsbDev> CBoardFinder::TryOpen()
{
    bool bOther = false; // another board sits at the location
    if (auto pDev = OpenAt(m_keyBoard.strLocation, m_bBoot))
    {
        if (!m_keyBoard.bSameSerial || m_keyBoard.strSerial.empty() ||
            SerialOf(pDev, m_bBoot) == m_keyBoard.strSerial)
            return pDev;
        bOther = true;
    }
    const auto tNow = std::chrono::steady_clock::now();
    if (!bOther && LocationPresent(m_keyBoard.strLocation))
        m_tLastSeen = tNow;
    else if (!m_keyBoard.strSerial.empty() && tNow - m_tLastSeen >= SERIAL_SEARCH_AFTER)
        return OpenBySerial(m_keyBoard.strSerial, m_bBoot);
    return nullptr;
}

std::unique_ptr<CUsbDev> WaitForBoard(const SBoardKey& key, bool bBoot,
                                      std::chrono::milliseconds timeout,
                                      const std::atomic<bool>* pbStop)
{
    const auto tStart = std::chrono::steady_clock::now();
    CBoardFinder finder(key, bBoot);
    for (;;)
    {
        if (auto pDev = finder.TryOpen())
            return pDev;
        if (std::chrono::steady_clock::now() - tStart >= timeout || (pbStop != nullptr && *pbStop))
            return nullptr;
        std::this_thread::sleep_for(POLL_INTERVAL);
    }
}
