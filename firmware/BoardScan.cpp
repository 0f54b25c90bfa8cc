#include "firmware/BoardScan.h"

#include "firmware/BootLoader.h"
#include "protocol/Mpusb.h"

#include <algorithm>
#include <cctype>
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

// In the bootloader the serial number is read from the boot block by a loader, which holds the
// link meanwhile and gives it back.
std::string SerialOf(CBoardLink& link, bool bBoot)
{
    if (!bBoot)
        return link.ReadSerialNumber();
    CBootLoader loader(std::move(link), "");
    std::string strSerial = loader.ReadSerNo();
    link = std::move(loader.m_lnkBoard);
    return strSerial;
}

// The board at the location in the wanted mode, opened; not open when it is not there (yet).
CBoardLink OpenAt(const CDriverContext& context, const std::string& strLocation, bool bBoot)
{
    const std::uint32_t nCount = context.Count();
    for (std::uint32_t i = 0; i < nCount && i < MPUSB_MAX_INSTANCES; ++i)
    {
        if (context.Location(i) != strLocation)
            continue;
        CBoardLink link = context.Open(i);
        // Instances move as boards come and go: the pipe says where it really is.
        if (!link.IsOpen() || link.Location() != strLocation || link.QueryBootloader() != bBoot)
            return {};
        return link;
    }
    return {};
}

bool LocationPresent(const CDriverContext& context, const std::string& strLocation)
{
    const std::uint32_t nCount = context.Count();
    for (std::uint32_t i = 0; i < nCount && i < MPUSB_MAX_INSTANCES; ++i)
        if (context.Location(i) == strLocation)
            return true;
    return false;
}

CBoardLink OpenBySerial(const CDriverContext& context, const std::string& strSerial, bool bBoot)
{
    SClaims& claims = Claims();
    const std::lock_guard search(claims.mtxSearch);
    const std::uint32_t nCount = context.Count();
    for (std::uint32_t i = 0; i < nCount && i < MPUSB_MAX_INSTANCES; ++i)
    {
        {
            const std::lock_guard lock(claims.mtxLock);
            if (claims.setLocations.count(context.Location(i)) != 0)
                continue;
        }
        CBoardLink link = context.Open(i);
        if (link.IsOpen() && link.QueryBootloader() == bBoot && SerialOf(link, bBoot) == strSerial)
            return link;
    }
    return {};
}
} // namespace

void ReadIdentity(CBoardLink& link, SBoardInfo& info)
{
    info.bBoot = link.QueryBootloader();
    info.strSerial = SerialOf(link, info.bBoot);
    if (info.bBoot)
        return;
    info.wVersion = link.ReadVersion();
    std::uint8_t byId = 0;
    info.nDeviceId = link.ReadDeviceId(byId) == EStatus::Ok ? byId : -1;
}

std::vector<SBoardInfo> ScanBoards(const CDriverContext& context, const KnownBoard& fnKnown)
{
    std::vector<SBoardInfo> vecBoards;
    const std::uint32_t nCount = context.Count();
    for (std::uint32_t i = 0; i < nCount && i < MPUSB_MAX_INSTANCES; ++i)
    {
        SBoardInfo info;
        info.nInstance = i;
        info.strLocation = context.Location(i);
        if (fnKnown && !info.strLocation.empty() && fnKnown(info.strLocation, info))
        {
            info.nInstance = i;
        }
        else if (CBoardLink link = context.Open(i); link.IsOpen())
        {
            info.strLocation = link.Location();
            ReadIdentity(link, info);
        }
        else
        {
            info.eOpen = context.ProbeOpen(i);
            // It opens now yet did not a moment ago: its interface is held elsewhere.
            if (info.eOpen == EStatus::Ok)
                info.eOpen = EStatus::Busy;
        }
        if (!info.strLocation.empty()) // an empty one left while we looked
            vecBoards.push_back(std::move(info));
    }
    return vecBoards;
}

bool SBoardTarget::Parse(const std::string& strText, SBoardTarget& target, std::string& strError)
{
    constexpr char SERIAL_PREFIX[] = "serial=";
    constexpr char PATH_PREFIX[] = "path=";
    target = {};
    if (strText.rfind(SERIAL_PREFIX, 0) == 0 || strText.rfind(PATH_PREFIX, 0) == 0)
    {
        const bool bSerial = strText[0] == 's';
        target.eKind = bSerial ? EKind::Serial : EKind::Path;
        target.strValue =
            strText.substr(bSerial ? sizeof SERIAL_PREFIX - 1 : sizeof PATH_PREFIX - 1);
        if (target.strValue.empty())
            strError = bSerial ? "'serial=' needs the serial number"
                               : "'path=' needs a location as 'zorvane list --long' prints it";
        return !target.strValue.empty();
    }
    // A device ID, in decimal or 0x hex.
    const bool bHex =
        strText.size() > 2 && strText[0] == '0' && (strText[1] == 'x' || strText[1] == 'X');
    const std::size_t nFirst = bHex ? 2 : 0;
    const int nBase = bHex ? 16 : 10;
    int nValue = 0;
    bool bValid = strText.size() > nFirst;
    for (std::size_t i = nFirst; bValid && i < strText.size(); ++i)
    {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(strText[i])));
        const int nDigit = c >= '0' && c <= '9'   ? c - '0'
                           : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                  : 16;
        nValue = nValue * nBase + nDigit;
        bValid = nDigit < nBase && nValue <= 255;
    }
    if (!bValid)
    {
        strError = "invalid board (device ID, serial=TEXT or path=LOCATION) '" + strText +
                   "' (0 to 255, decimal or 0x hex)";
        return false;
    }
    target.nId = nValue;
    return true;
}

bool SBoardTarget::Matches(const SBoardInfo& board) const
{
    switch (eKind)
    {
    case EKind::Id:
        return board.eOpen == EStatus::Ok && !board.bBoot && board.nDeviceId == nId;
    case EKind::Serial:
        return board.eOpen == EStatus::Ok && board.strSerial == strValue;
    case EKind::Path:
        return board.strLocation == strValue;
    }
    return false;
}

std::string SBoardTarget::Text() const
{
    switch (eKind)
    {
    case EKind::Id:
        return std::to_string(nId);
    case EKind::Serial:
        return "serial=" + strValue;
    case EKind::Path:
        return "path=" + strValue;
    }
    return {};
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

CBoardFinder::CBoardFinder(const CDriverContext& context, SBoardKey key, bool bBoot)
    : m_ctxDriver(context), m_keyBoard(std::move(key)), m_bBoot(bBoot),
      m_tLastSeen(std::chrono::steady_clock::now())
{
}

CBoardLink CBoardFinder::TryOpen()
{
    bool bOther = false; // another board sits at the location
    if (CBoardLink link = OpenAt(m_ctxDriver, m_keyBoard.strLocation, m_bBoot); link.IsOpen())
    {
        if (!m_keyBoard.bSameSerial || m_keyBoard.strSerial.empty() ||
            SerialOf(link, m_bBoot) == m_keyBoard.strSerial)
            return link;
        bOther = true;
    }
    const auto tNow = std::chrono::steady_clock::now();
    if (!bOther && LocationPresent(m_ctxDriver, m_keyBoard.strLocation))
        m_tLastSeen = tNow;
    else if (!m_keyBoard.strSerial.empty() && tNow - m_tLastSeen >= SERIAL_SEARCH_AFTER)
        return OpenBySerial(m_ctxDriver, m_keyBoard.strSerial, m_bBoot);
    return {};
}

CBoardLink WaitForBoard(const CDriverContext& context, const SBoardKey& key, bool bBoot,
                        std::chrono::milliseconds timeout, const std::atomic<bool>* pbStop)
{
    const auto tStart = std::chrono::steady_clock::now();
    CBoardFinder finder(context, key, bBoot);
    for (;;)
    {
        if (CBoardLink link = finder.TryOpen(); link.IsOpen())
            return link;
        if (std::chrono::steady_clock::now() - tStart >= timeout || (pbStop != nullptr && *pbStop))
            return {};
        std::this_thread::sleep_for(POLL_INTERVAL);
    }
}
