#include "tarvel/dialog/SimulatedBoards.h"

#include "protocol/Enumeration.h"
#include "protocol/SimModule.h"

namespace
{
// Demonstration set-up: A and D inputs, B outputs, C half and half, E0 and E1 analog.
const ConfigBlock DEMO_CONFIG{{0xFF, 0x00, 0xF0, 0x1F, 0xFF}, {0x00, 0x00, 0x00, 0x00}, 2};
const PortBytes DEMO_LATCHES{0x00, 0x5A, 0x05, 0x00, 0x00};

void ConfigureDemoBoard(const CDriverContext& context)
{
    bool bDone = false;
    WalkDeviceLinks(context, static_cast<std::int32_t>(context.Count()),
                    [&](std::uint32_t, CBoardLink link)
                    {
                        if (bDone || link.QueryBootloader())
                            return;
                        link.WriteConfiguration(DEMO_CONFIG);
                        link.WritePorts(DEMO_LATCHES);
                        bDone = true;
                    });
}
} // namespace

std::shared_ptr<CDriverContext> CreateSimulatedBoards(std::string& strError)
{
    // The module drifts the boards on a thread of its own.
    std::shared_ptr<CDriverContext> pContext =
        CDriverContext::CreateSimulated(strError, SIM_MODULE_DRIFT);
    if (pContext)
        ConfigureDemoBoard(*pContext);
    return pContext;
}
