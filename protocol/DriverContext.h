#pragma once
// A driver context owns one backend (libusb for real boards, or the simulated bus) and the watch
// of its boards' comings and goings; boards are opened through it. Programs and tests make the
// contexts they need, side by side if they like; the driver operations (Mpusb.h) and the
// library's exports use the default context, which a program may choose before its first use.
//
//     std::string strError;
//     auto pContext = CDriverContext::CreateSimulated(strError);
//     CBoardLink link = pContext->Open(0);
#include "protocol/BoardLink.h"
#include "protocol/DeviceWatch.h"
#include "protocol/Status.h"
#include "protocol/UsbBackend.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class CDriverContext
{
public:
    explicit CDriverContext(std::shared_ptr<CUsbBackend> pBackend);
    // The backend may live on in links still open; from now on its reports reach nothing.
    ~CDriverContext();
    CDriverContext(const CDriverContext&) = delete;
    CDriverContext& operator=(const CDriverContext&) = delete;

    // Real boards through a libusb context of its own (no boards where libusb cannot start).
    static std::shared_ptr<CDriverContext> CreateLibusb();
    // The simulated bus of KELVARD_SIM_BOARDS and KELVARD_SIM_TRACE, from the module
    // libkelvard-sim.so.1 (installed beside this library, or in the build tree), loaded now.
    // nFlags: SIM_MODULE_DRIFT. Null, with strError saying why, when the module is missing.
    static std::shared_ptr<CDriverContext> CreateSimulated(std::string& strError,
                                                           unsigned nFlags = 0);
    // The default context: the one SetDefault gave, else made at its first use from the
    // environment (KELVARD_USB=sim: the simulated bus, with a line on stderr and no boards when
    // its module is missing; anything else: libusb). Threads: any.
    static std::shared_ptr<CDriverContext> Default();
    // Makes pContext the default. Only before the default's first use: false, and nothing
    // changes, once it has been made.
    static bool SetDefault(std::shared_ptr<CDriverContext> pContext);

    const std::shared_ptr<CUsbBackend>& Backend() const { return m_pBackend; }
    // The attached boards. Talks to none; returns at once.
    std::uint32_t Count() const;
    // Opens both pipes of the instance-th board (read pipe first): an open link, or one that is
    // not open with the reason in *pStatus (Gone, Access, Busy, System).
    CBoardLink Open(std::uint32_t nInstance, EStatus* pStatus = nullptr) const;
    // Where the instance-th board sits ("1-2.3", "sim:0"); "" for none. Opens nothing.
    std::string Location(std::uint32_t nInstance) const;
    // Whether the instance-th board can be opened, and if not why; claims nothing.
    EStatus ProbeOpen(std::uint32_t nInstance) const;
    // The watch of this context's boards.
    CDeviceWatch& Watch() { return m_wchBoards; }

private:
    // What the backend reports to: the watch while the context lives, nothing after.
    struct SRelay
    {
        std::mutex mtxLock;
        CDeviceWatch* pWatch = nullptr;
    };

    CDeviceWatch m_wchBoards;
    std::shared_ptr<SRelay> m_pRelay;
    std::shared_ptr<CUsbBackend> m_pBackend;
};
