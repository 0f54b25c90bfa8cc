#include "sim/SimDrift.h"

#include "sim/SimBus.h"

#include <cmath>
#include <numbers>

namespace
{
constexpr auto STEP = std::chrono::milliseconds(250);
// Analog channels sweep their 10-bit range in about 10 s; each channel lags the one before.
constexpr double ANALOG_PERIOD_STEPS = 40.0;
constexpr std::uint16_t ANALOG_FULL_SCALE = 0x3FF;
} // namespace

CSimDrift::CSimDrift(std::shared_ptr<CSimBus> pBus) : m_pBus(std::move(pBus))
{
    Step();
    m_thrDrift = std::thread(&CSimDrift::Run, this);
}

CSimDrift::~CSimDrift()
{
    {
        std::lock_guard lock(m_mtxLock);
        m_bStop = true;
    }
    m_cvStop.notify_all();
    m_thrDrift.join();
}

void CSimDrift::Run()
{
    std::unique_lock lock(m_mtxLock);
    while (!m_cvStop.wait_for(lock, STEP, [this] { return m_bStop; }))
    {
        lock.unlock();
        Step();
        lock.lock();
    }
}

void CSimDrift::Step()
{
    const unsigned n = m_nStep++;
    int nBoard = 0;
    for (const std::shared_ptr<CSimBoard>& pBoard : m_pBus->Boards())
    {
        // Port A counts up every other step, a single level walks along C and D, E toggles.
        const unsigned k = n + 3 * static_cast<unsigned>(nBoard);
        pBoard->SetInputs(PORT_A, static_cast<std::uint8_t>(k / 2));
        pBoard->SetInputs(PORT_B, static_cast<std::uint8_t>(~(k / 4)));
        pBoard->SetInputs(PORT_C, static_cast<std::uint8_t>(0x10u << (k / 2 % 4)));
        pBoard->SetInputs(PORT_D, static_cast<std::uint8_t>(1u << (k / 2 % 5)));
        pBoard->SetInputs(PORT_E, static_cast<std::uint8_t>(k / 8 % 2 ? 0xF0 : 0x00));
        for (int nChannel = 0; nChannel < ANALOG_CHANNELS; ++nChannel)
        {
            const double dPhase =
                2.0 * std::numbers::pi * (k / ANALOG_PERIOD_STEPS + nChannel / 4.0);
            const double dLevel = (1.0 + std::sin(dPhase)) / 2.0;
            pBoard->SetAnalog(nChannel,
                              static_cast<std::uint16_t>(std::lround(dLevel * ANALOG_FULL_SCALE)));
        }
        ++nBoard;
    }
}
