#include "protocol/DriverContext.h"

#include "protocol/DebugOutput.h"
#include "protocol/SimModule.h"
#include "protocol/backends/LibusbBackend.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <mutex>

namespace
{
// Where nothing is attached: a simulated bus that was asked for and is not installed.
class CNoBoards final : public CUsbBackend
{
public:
    std::uint32_t CountDevices(std::uint16_t, std::uint16_t) override { return 0; }
    EStatus OpenPipe(std::uint32_t, std::uint16_t, std::uint16_t, std::uint8_t, UsbPipeId&) override
    {
        return EStatus::Gone;
    }
    EStatus WritePipe(UsbPipeId, const std::uint8_t*, std::size_t, std::size_t& nMoved,
                      std::uint32_t) override
    {
        nMoved = 0;
        return EStatus::Gone;
    }
    EStatus ReadPipe(UsbPipeId, std::uint8_t*, std::size_t, std::size_t& nMoved,
                     std::uint32_t) override
    {
        nMoved = 0;
        return EStatus::Gone;
    }
    void ClosePipe(UsbPipeId) override {}
    bool SameDevice(UsbPipeId, UsbPipeId) override { return false; }
    std::string Location(std::uint32_t, std::uint16_t, std::uint16_t) override { return {}; }
    std::string PipeLocation(UsbPipeId) override { return {}; }
    EStatus ProbeOpen(std::uint32_t, std::uint16_t, std::uint16_t) override
    {
        return EStatus::Gone;
    }
    void WatchChanges(ChangeSink) override {}
};

// The folder of this library (or program), where the module is installed beside it.
std::string OwnFolder()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&OwnFolder), &info) == 0 || !info.dli_fname)
        return {};
    const std::string strPath = info.dli_fname;
    const std::size_t nSlash = strPath.rfind('/');
    return nSlash == std::string::npos ? std::string() : strPath.substr(0, nSlash + 1);
}

struct SDefault
{
    std::mutex mtxLock;
    std::shared_ptr<CDriverContext> pContext;
};

SDefault& DefaultState()
{
    static SDefault state;
    return state;
}
} // namespace

CDriverContext::CDriverContext(std::shared_ptr<CUsbBackend> pBackend)
    : m_wchBoards(
          [this]
          {
              m_pBackend->WatchChanges(
                  [pRelay = m_pRelay](EDeviceChange change)
                  {
                      std::lock_guard lock(pRelay->mtxLock);
                      if (pRelay->pWatch)
                          pRelay->pWatch->Notify(change);
                  });
          }),
      m_pRelay(std::make_shared<SRelay>()), m_pBackend(std::move(pBackend))
{
    m_pRelay->pWatch = &m_wchBoards;
}

CDriverContext::~CDriverContext()
{
    std::lock_guard lock(m_pRelay->mtxLock);
    m_pRelay->pWatch = nullptr;
}

std::shared_ptr<CDriverContext> CDriverContext::CreateLibusb()
{
    return std::make_shared<CDriverContext>(CreateLibusbBackend());
}

std::shared_ptr<CDriverContext> CDriverContext::CreateSimulated(std::string& strError,
                                                                unsigned nFlags)
{
    // Beside this library first (installed, or the build tree), then wherever the loader finds
    // it.
    void* hModule = dlopen((OwnFolder() + SIM_MODULE_FILE).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!hModule)
        hModule = dlopen(SIM_MODULE_FILE, RTLD_NOW | RTLD_LOCAL);
    if (!hModule)
    {
        const char* pszWhy = dlerror();
        strError = std::string("the simulated bus is not installed (") +
                   (pszWhy ? pszWhy : SIM_MODULE_FILE) + ")";
        return nullptr;
    }
    const auto fnCreate = reinterpret_cast<SimModuleEntry>(dlsym(hModule, SIM_MODULE_ENTRY));
    CUsbBackend* pBackend = fnCreate ? fnCreate(nFlags) : nullptr;
    if (!pBackend)
    {
        strError = std::string(SIM_MODULE_FILE) + " offers no simulated bus";
        dlclose(hModule);
        return nullptr;
    }
    // The module goes with the last user of its backend.
    std::shared_ptr<CUsbBackend> pShared(pBackend,
                                         [hModule](CUsbBackend* p)
                                         {
                                             delete p;
                                             dlclose(hModule);
                                         });
    return std::make_shared<CDriverContext>(std::move(pShared));
}

std::shared_ptr<CDriverContext> CDriverContext::Default()
{
    SDefault& state = DefaultState();
    std::lock_guard lock(state.mtxLock);
    if (!state.pContext)
    {
        const char* pszChoice = std::getenv("KELVARD_USB");
        if (pszChoice && std::strcmp(pszChoice, "sim") == 0)
        {
            std::string strError;
            state.pContext = CreateSimulated(strError);
            if (!state.pContext)
            {
                std::fprintf(stderr, "kelvard: KELVARD_USB=sim, but %s: no boards\n",
                             strError.c_str());
                DebugOutputFormat("KELVARD_USB=sim, but %s\n", strError.c_str());
                state.pContext = std::make_shared<CDriverContext>(std::make_shared<CNoBoards>());
            }
        }
        else
        {
            state.pContext = CreateLibusb();
        }
    }
    return state.pContext;
}

bool CDriverContext::SetDefault(std::shared_ptr<CDriverContext> pContext)
{
    SDefault& state = DefaultState();
    std::lock_guard lock(state.mtxLock);
    if (state.pContext)
        return false;
    state.pContext = std::move(pContext);
    return true;
}

std::uint32_t CDriverContext::Count() const
{
    return m_pBackend->CountDevices(MPUSB_VENDOR, MPUSB_PRODUCT);
}

CBoardLink CDriverContext::Open(std::uint32_t nInstance, EStatus* pStatus) const
{
    constexpr std::uint8_t ENDPOINT_WRITE = 0x01;
    constexpr std::uint8_t ENDPOINT_READ = 0x81;
    // Both pipes are asked for, as the driver's callers always did; either failing fails both.
    UsbPipeId pipeRead = 0;
    UsbPipeId pipeWrite = 0;
    const EStatus eRead =
        m_pBackend->OpenPipe(nInstance, MPUSB_VENDOR, MPUSB_PRODUCT, ENDPOINT_READ, pipeRead);
    const EStatus eWrite =
        m_pBackend->OpenPipe(nInstance, MPUSB_VENDOR, MPUSB_PRODUCT, ENDPOINT_WRITE, pipeWrite);
    const EStatus eStatus = eRead != EStatus::Ok ? eRead : eWrite;
    if (eStatus != EStatus::Ok)
    {
        if (pipeRead != 0)
            m_pBackend->ClosePipe(pipeRead);
        if (pipeWrite != 0)
            m_pBackend->ClosePipe(pipeWrite);
    }
    if (pStatus)
        *pStatus = eStatus;
    return eStatus == EStatus::Ok ? CBoardLink(m_pBackend, pipeRead, pipeWrite) : CBoardLink();
}

std::string CDriverContext::Location(std::uint32_t nInstance) const
{
    return m_pBackend->Location(nInstance, MPUSB_VENDOR, MPUSB_PRODUCT);
}

EStatus CDriverContext::ProbeOpen(std::uint32_t nInstance) const
{
    return m_pBackend->ProbeOpen(nInstance, MPUSB_VENDOR, MPUSB_PRODUCT);
}
