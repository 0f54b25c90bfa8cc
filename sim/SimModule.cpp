// The module's entry point: the driver layer loads libkelvard-sim.so.1 and asks it for a backend
// on the bus the environment describes.
#include "protocol/SimModule.h"
#include "sim/SimApi.h"
#include "sim/SimBackend.h"
#include "sim/SimBus.h"
#include "sim/SimDrift.h"

#include <memory>
#include <new>

namespace
{
class CModuleBackend final : public CSimBackend
{
public:
    CModuleBackend(std::shared_ptr<CSimBus> pBus, bool bDrift)
        : CSimBackend(pBus), m_pDrift(bDrift ? std::make_unique<CSimDrift>(pBus) : nullptr)
    {
    }

private:
    std::unique_ptr<CSimDrift> m_pDrift;
};
} // namespace

extern "C" KELVARD_SIM_API CUsbBackend* KelvardSimCreateBackend(unsigned nFlags)
{
    try
    {
        return new CModuleBackend(CSimBus::FromEnvironment(), (nFlags & SIM_MODULE_DRIFT) != 0);
    }
    catch (...)
    {
        return nullptr; // no exception crosses into the driver layer
    }
}
