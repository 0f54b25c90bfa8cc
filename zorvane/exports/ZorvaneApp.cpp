#include "zorvane/exports/ZorvaneApp.h"

#include "zorvane/devices/BitIO.h"
#include "zorvane/devices/HiddenWnd.h"
#include "zorvane/devices/UsbDev.h"

#include "protocol/Enumeration.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>

namespace
{
constexpr char NO_PORT_DEFINED[] = "No Port defined";

// A USB name ("0" to "255") as a text that lives as long as the library. The table's own key
// goes with its board, and the watcher's thread may drop the board before a caller outside
// the lock has copied the name GetUsbDeviceID gave it.
const char* LastingDeviceName(const std::string& strName)
{
    struct CNames
    {
        char szName[256][4];
        CNames()
        {
            for (int i = 0; i < 256; ++i)
                *std::to_chars(szName[i], szName[i] + 3, i).ptr = '\0';
        }
    };
    static const CNames NAMES;
    const unsigned long nId = std::strtoul(strName.c_str(), nullptr, 10);
    return nId < 256 ? NAMES.szName[nId] : "";
}
} // namespace

std::string UpperCaseName(const char* pszName)
{
    std::string strName = pszName ? pszName : "";
    for (char& c : strName)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return strName;
}

CZorvaneApp::CZorvaneApp(std::shared_ptr<CDriverContext> pContext)
    : m_nDeviceCount(0), m_pContext(std::move(pContext))
{
}

CDriverContext& CZorvaneApp::Context()
{
    if (!m_pContext)
        m_pContext = CDriverContext::Default();
    return *m_pContext;
}

CZorvaneApp::~CZorvaneApp() = default;

bool CZorvaneApp::InitInstance(std::shared_ptr<CDriverContext> pContext)
{
    std::lock_guard lock(m_mtxLock);
    if (pContext)
        m_pContext = std::move(pContext);
    m_nDeviceCount = 0;
    m_pHiddenWnd.reset(new (std::nothrow) CHiddenWnd(m_mtxLock, [this] { EnumerateDevices(); }));
    if (m_pHiddenWnd)
        m_pHiddenWnd->Create(); // a window that does not appear only means no change notices
    return true;
}

int CZorvaneApp::ExitInstance()
{
    // The watch's thread may be waiting for the lock to enumerate: stop it first, unlocked, so
    // that no thread runs library code once the library is unmapped.
    if (m_pHiddenWnd)
        m_pHiddenWnd->DestroyWindow();
    std::lock_guard lock(m_mtxLock);
    m_pHiddenWnd.reset();
    m_mapSerialDevices.clear();
    DeleteUsbDevices();
    return 0;
}

std::int32_t CZorvaneApp::Initialize()
{
    if (m_pHiddenWnd)
        m_pHiddenWnd->Arm(Context().Watch());
    EnumerateDevices();
    return m_nDeviceCount;
}

CBitIO* CZorvaneApp::FindDevice(const char* pszName)
{
    if (!pszName || !*pszName)
    {
        m_strLastError = NO_PORT_DEFINED;
        return nullptr;
    }
    // USB names are digits, which have no case: that lookup needs no upper-cased copy.
    if (auto it = m_mapUsbDevices.find(std::string_view(pszName)); it != m_mapUsbDevices.end())
        return it->second.get();
    const std::string strName = UpperCaseName(pszName);
    if (auto it = m_mapSerialDevices.find(strName); it != m_mapSerialDevices.end())
        return it->second.get();
    auto pDevice = std::make_unique<CBitIO>(strName.c_str());
    pDevice->Open(); // a port that does not open leaves a board whose every operation gives 0
    return m_mapSerialDevices.emplace(strName, std::move(pDevice)).first->second.get();
}

CUsbDev* CZorvaneApp::FindUsbDevice(std::int32_t nDevice)
{
    auto it = m_mapUsbDevices.find(std::to_string(nDevice));
    return it == m_mapUsbDevices.end() ? nullptr : it->second.get();
}

void CZorvaneApp::EnumerateDevices()
{
    CDriverContext& context = Context();
    const auto nCount = static_cast<std::int32_t>(context.Count());
    PurgeAbsentDevices();
    WalkDeviceLinks(context, nCount,
                    [this](std::uint32_t, CBoardLink link) { EnterDevice(std::move(link)); });
    m_nDeviceCount = static_cast<std::int32_t>(m_mapUsbDevices.size());
}

void CZorvaneApp::EnterDevice(CBoardLink link)
{
    auto pDevice = std::make_unique<CUsbDev>(std::move(link));
    // A board in its bootloader, or a second board with a taken ID, is closed again at once. So
    // is a link that never told its device ID: a board that left during its own enumeration,
    // or pipes opened on two boards because one came or went between the two opens. Entered,
    // it would stand under the false name "0" until the next enumeration.
    if (pDevice->IsInBootloader() || !pDevice->m_bIdentified)
        return;
    std::string strName = UpperCaseName(pDevice->GetName().c_str());
    m_mapUsbDevices.try_emplace(std::move(strName), std::move(pDevice));
}

void CZorvaneApp::PurgeAbsentDevices()
{
    std::vector<std::string> absent;
    for (const auto& [strName, pDevice] : m_mapUsbDevices)
        if (!pDevice->IsPresent())
            absent.push_back(strName);
    for (const std::string& strName : absent)
        m_mapUsbDevices.erase(strName);
}

void CZorvaneApp::DeleteUsbDevices()
{
    m_mapUsbDevices.clear();
}

std::vector<std::string> CZorvaneApp::GetUsbDeviceNames() const
{
    std::vector<std::string> names;
    for (const auto& entry : m_mapUsbDevices)
        names.push_back(entry.first);
    return names;
}

const char* CZorvaneApp::GetUsbDeviceID(std::int32_t nPosition) const
{
    if (nPosition < 0 || static_cast<std::size_t>(nPosition) >= m_mapUsbDevices.size())
        return "";
    return LastingDeviceName(std::next(m_mapUsbDevices.begin(), nPosition)->first);
}

std::int32_t CZorvaneApp::GetBitIOError(char* pszBuffer, std::int32_t nSize)
{
    if (!pszBuffer || nSize < 1)
        return 0;
    const std::size_t nCopied =
        std::min(m_strLastError.size(), static_cast<std::size_t>(nSize) - 1);
    std::memcpy(pszBuffer, m_strLastError.data(), nCopied);
    pszBuffer[nCopied] = '\0';
    m_strLastError.clear();
    return static_cast<std::int32_t>(nCopied);
}
