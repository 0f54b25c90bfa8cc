#pragma once
// A simulated bus with a driver context of its own for the length of one test, its trace captured
// in memory and boards that re-attach at once after a reset. Code under test takes Context().
//
//     CSimFixture sim;
//     auto pBoard = sim.Plug(SimBoardConfig().Id(7).Serial("AB12CD34"));
//     CBoardLink link = sim.Context()->Open(0);
//     ... drive the board ...
//     EXPECT_EQ(sim.Trace(), (Lines{"0 > 37 00 00 0f 00 00"}));
#include "protocol/DriverContext.h"
#include "sim/SimBackend.h"
#include "sim/SimBus.h"

using Lines = std::vector<std::string>;

class CSimFixture
{
public:
    CSimFixture()
        : m_pBus(std::make_shared<CSimBus>()),
          m_pContext(std::make_shared<CDriverContext>(std::make_shared<CSimBackend>(m_pBus)))
    {
        m_pBus->CaptureTrace(true);
        m_pBus->SetReattachDelay(std::chrono::milliseconds(0));
    }
    CSimFixture(const CSimFixture&) = delete;
    CSimFixture& operator=(const CSimFixture&) = delete;

    CSimBus& Bus() { return *m_pBus; }
    const std::shared_ptr<CDriverContext>& Context() const { return m_pContext; }
    std::shared_ptr<CSimBoard> Plug(const SimBoardConfig& config = {})
    {
        return m_pBus->Plug(config);
    }
    // The trace lines since the last call.
    Lines Trace() { return m_pBus->TakeTrace(); }

private:
    std::shared_ptr<CSimBus> m_pBus;
    std::shared_ptr<CDriverContext> m_pContext;
};

// One simulated bus for the whole test program, made the default context at its first use, so
// that what reaches boards through the default context (libkelvard, the exports) reaches it.
inline CSimFixture& DefaultSim()
{
    static CSimFixture* s_pSim = [] {
        auto* pSim = new CSimFixture;
        CDriverContext::SetDefault(pSim->Context());
        return pSim;
    }();
    return *s_pSim;
}
