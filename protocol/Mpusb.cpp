#include "protocol/Mpusb.h"

#include "protocol/DriverContext.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <strings.h>
#include <unordered_map>
#include <utility>

namespace
{
struct OpenPipe
{
    std::shared_ptr<CUsbBackend> pBackend;
    UsbPipeId idPipe;
};

struct DriverState
{
    std::mutex mtxLock;
    std::unordered_map<MPUSB_HANDLE, OpenPipe> mapPipes;
    MPUSB_HANDLE nNextHandle = 1;
};

DriverState& State()
{
    static DriverState state;
    return state;
}

// Four hexadecimal digits after the tag ("vid_", "pid_"), in any case.
bool ParseIdField(const char* pszText, const char* pszTag, std::uint16_t& wValue)
{
    const std::size_t nTag = std::strlen(pszTag);
    for (const char* p = pszText; *p; ++p)
    {
        if (strncasecmp(p, pszTag, nTag) != 0)
            continue;
        unsigned nValue = 0;
        for (std::size_t i = 0; i < 4; ++i)
        {
            const char c = p[nTag + i];
            if (!std::isxdigit(static_cast<unsigned char>(c)))
                return false;
            nValue = nValue * 16 + (std::isdigit(static_cast<unsigned char>(c))
                                        ? c - '0'
                                        : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
        }
        wValue = static_cast<std::uint16_t>(nValue);
        return true;
    }
    return false;
}

bool ParseIdentity(const char* pszVidPid, std::uint16_t& wVendor, std::uint16_t& wProduct)
{
    return pszVidPid && ParseIdField(pszVidPid, "vid_", wVendor) &&
           ParseIdField(pszVidPid, "pid_", wProduct);
}

// "\MCHP_EPn" names endpoint n; the read pipe is its IN direction.
bool ParseEndpoint(const char* pszEndpoint, std::uint32_t dwDir, std::uint8_t& byEndpoint)
{
    if (!pszEndpoint)
        return false;
    const char* pszNumber = std::strstr(pszEndpoint, "_EP");
    if (!pszNumber || !std::isdigit(static_cast<unsigned char>(pszNumber[3])))
        return false;
    const long nEndpoint = std::strtol(pszNumber + 3, nullptr, 10);
    if (nEndpoint < 1 || nEndpoint > 15)
        return false;
    byEndpoint = static_cast<std::uint8_t>(nEndpoint | (dwDir == MP_READ ? 0x80 : 0x00));
    return true;
}

bool LookUp(MPUSB_HANDLE hPipe, OpenPipe& pipe)
{
    DriverState& state = State();
    std::lock_guard lock(state.mtxLock);
    auto it = state.mapPipes.find(hPipe);
    if (it == state.mapPipes.end())
        return false;
    pipe = it->second;
    return true;
}
} // namespace

std::uint32_t MPUSBGetDeviceCount(const char* pVidPid)
{
    std::uint16_t wVendor = 0;
    std::uint16_t wProduct = 0;
    if (!ParseIdentity(pVidPid, wVendor, wProduct))
        return 0;
    return CDriverContext::Default()->Backend()->CountDevices(wVendor, wProduct);
}

MPUSB_HANDLE MPUSBOpen(std::uint32_t dwInstance, const char* pVidPid, const char* pEndpoint,
                       std::uint32_t dwDir, std::uint32_t /*dwReserved*/)
{
    std::uint16_t wVendor = 0;
    std::uint16_t wProduct = 0;
    std::uint8_t byEndpoint = 0;
    if (dwInstance >= MPUSB_MAX_INSTANCES || (dwDir != MP_READ && dwDir != MP_WRITE) ||
        !ParseIdentity(pVidPid, wVendor, wProduct) || !ParseEndpoint(pEndpoint, dwDir, byEndpoint))
        return MPUSB_INVALID_HANDLE;

    const std::shared_ptr<CUsbBackend> pBackend = CDriverContext::Default()->Backend();
    UsbPipeId pipe = 0;
    if (pBackend->OpenPipe(dwInstance, wVendor, wProduct, byEndpoint, pipe) != EStatus::Ok)
        return MPUSB_INVALID_HANDLE;
    DriverState& state = State();
    std::lock_guard lock(state.mtxLock);
    const MPUSB_HANDLE hPipe = state.nNextHandle++;
    state.mapPipes.emplace(hPipe, OpenPipe{pBackend, pipe});
    return hPipe;
}

std::uint32_t MPUSBWrite(MPUSB_HANDLE hPipe, const void* pData, std::uint32_t dwLen,
                         std::uint32_t* pLength, std::uint32_t dwMilliseconds)
{
    if (pLength)
        *pLength = 0;
    OpenPipe pipe;
    if (!pData || !LookUp(hPipe, pipe))
        return MPUSB_FAIL;
    std::size_t nMoved = 0;
    const EStatus eStatus = pipe.pBackend->WritePipe(
        pipe.idPipe, static_cast<const std::uint8_t*>(pData), dwLen, nMoved, dwMilliseconds);
    if (pLength)
        *pLength = static_cast<std::uint32_t>(nMoved);
    return eStatus == EStatus::Ok && nMoved == dwLen ? MPUSB_SUCCESS : MPUSB_FAIL;
}

std::uint32_t MPUSBRead(MPUSB_HANDLE hPipe, void* pData, std::uint32_t dwLen,
                        std::uint32_t* pLength, std::uint32_t dwMilliseconds)
{
    if (pLength)
        *pLength = 0;
    OpenPipe pipe;
    if (!pData || !LookUp(hPipe, pipe))
        return MPUSB_FAIL;
    std::size_t nMoved = 0;
    const EStatus eStatus = pipe.pBackend->ReadPipe(pipe.idPipe, static_cast<std::uint8_t*>(pData),
                                                    dwLen, nMoved, dwMilliseconds);
    if (pLength)
        *pLength = static_cast<std::uint32_t>(nMoved);
    return eStatus == EStatus::Ok ? MPUSB_SUCCESS : MPUSB_FAIL;
}

bool MPUSBClose(MPUSB_HANDLE hPipe)
{
    OpenPipe pipe;
    {
        DriverState& state = State();
        std::lock_guard lock(state.mtxLock);
        auto it = state.mapPipes.find(hPipe);
        if (it == state.mapPipes.end())
            return false;
        pipe = std::move(it->second);
        state.mapPipes.erase(it);
    }
    pipe.pBackend->ClosePipe(pipe.idPipe);
    return true;
}
