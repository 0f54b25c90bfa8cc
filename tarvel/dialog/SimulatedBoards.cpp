#include "tarvel/dialog/SimulatedBoards.h"

#include "protocol/DeviceLink.h"
#include "protocol/Enumeration.h"
#include "protocol/backends/SimBackend.h"
#include "sim/SimBus.h"

#include <cmath>
#include <numbers>

namespace
{
constexpr int STEP_MS = 250;
// Analog channels sweep their 10-bit range in about 10 s; each channel lags the one before.
constexpr double ANALOG_PERIOD_STEPS = 40.0;
constexpr std::uint16_t ANALOG_FULL_SCALE = 0x3FF;

// Demonstration set-up: A and D inputs, B outputs, C half and half, E0 and E1 analog.
const ConfigBlock DEMO_CONFIG{{0xFF, 0x00, 0xF0, 0x1F, 0xFF}, {0x00, 0x00, 0x00, 0x00}, 2};
const PortBytes DEMO_LATCHES{0x00, 0x5A, 0x05, 0x00, 0x00};
} // namespace

CSimulatedBoards::CSimulatedBoards(QObject* pParent)
    : QObject(pParent), m_pBus(CSimBus::FromEnvironment())
{
    MpusbInstallBackend(std::make_shared<CSimBackend>(m_pBus));
    ConfigureDemoBoard();
    Step();
    connect(&m_tmrDrift, &QTimer::timeout, this, &CSimulatedBoards::Step);
    m_tmrDrift.start(STEP_MS);
}

CSimulatedBoards::~CSimulatedBoards()
{
    MpusbInstallBackend(nullptr);
}

void CSimulatedBoards::ConfigureDemoBoard()
{
    const std::int32_t nCount = static_cast<std::int32_t>(MPUSBGetDeviceCount(MPUSB_VID_PID));
    bool bDone = false;
    WalkDeviceLinks(nCount,
                    [&](std::uint32_t, MPUSB_HANDLE hRead, MPUSB_HANDLE hWrite)
                    {
                        if (!bDone && !UsbQueryBootloader(hRead, hWrite))
                        {
                            UsbWriteConfiguration(hWrite, DEMO_CONFIG);
                            UsbWritePorts(hWrite, DEMO_LATCHES);
                            bDone = true;
                        }
                        MPUSBClose(hRead);
                        MPUSBClose(hWrite);
                    });
}

void CSimulatedBoards::Step()
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
