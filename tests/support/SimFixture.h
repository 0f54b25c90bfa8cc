#pragma once
// A simulated bus installed as the process-wide backend for the length of one test, with its
// trace captured in memory and boards that re-attach at once after a reset:
//
//     CSimFixture sim;
//     auto pBoard = sim.Plug(SimBoardConfig().Id(7).Serial("AB12CD34"));
//     ... drive the board ...
//     EXPECT_EQ(sim.Trace(), (Lines{"0 > 37 00 00 0f 00 00"}));
#include "protocol/Mpusb.h"
#include "protocol/UsbBackend.h"
#include "protocol/backends/SimBackend.h"
#include "sim/SimBus.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

using Lines = std::vector<std::string>;

class CSimFixture
{
public:
    CSimFixture() : m_pBus(std::make_shared<CSimBus>())
    {
        m_pBus->CaptureTrace(true);
        m_pBus->SetReattachDelay(std::chrono::milliseconds(0));
        MpusbInstallBackend(std::make_shared<CSimBackend>(m_pBus));
    }
    ~CSimFixture() { MpusbInstallBackend(nullptr); }
    CSimFixture(const CSimFixture&) = delete;
    CSimFixture& operator=(const CSimFixture&) = delete;

    CSimBus& Bus() { return *m_pBus; }
    std::shared_ptr<CSimBoard> Plug(const SimBoardConfig& config = {})
    {
        return m_pBus->Plug(config);
    }
    // The trace lines since the last call.
    Lines Trace() { return m_pBus->TakeTrace(); }

private:
    std::shared_ptr<CSimBus> m_pBus;
};

// Both pipes of one instance, closed at the end of the scope.
class CTestLink
{
public:
    explicit CTestLink(std::uint32_t nInstance = 0)
        : m_hRead(MPUSBOpen(nInstance, MPUSB_VID_PID, MPUSB_ENDPOINT, MP_READ, 0)),
          m_hWrite(MPUSBOpen(nInstance, MPUSB_VID_PID, MPUSB_ENDPOINT, MP_WRITE, 0))
    {
    }
    ~CTestLink()
    {
        MPUSBClose(m_hRead);
        MPUSBClose(m_hWrite);
    }
    CTestLink(const CTestLink&) = delete;
    CTestLink& operator=(const CTestLink&) = delete;

    bool IsOpen() const
    {
        return m_hRead != MPUSB_INVALID_HANDLE && m_hWrite != MPUSB_INVALID_HANDLE;
    }
    MPUSB_HANDLE Read() const { return m_hRead; }
    MPUSB_HANDLE Write() const { return m_hWrite; }

private:
    MPUSB_HANDLE m_hRead;
    MPUSB_HANDLE m_hWrite;
};
