#pragma once
// The simulated bus as a backend of a driver context: boards answer with the identity
// vid_04d8&pid_fffe on endpoint 1.
#include "protocol/UsbBackend.h"
#include "sim/SimApi.h"
#include "sim/SimBus.h"

class KELVARD_SIM_API CSimBackend : public CUsbBackend
{
public:
    explicit CSimBackend(std::shared_ptr<CSimBus> pBus);
    ~CSimBackend() override;

    const std::shared_ptr<CSimBus>& Bus() const { return m_pBus; }

    std::uint32_t CountDevices(std::uint16_t wVendor, std::uint16_t wProduct) override;
    EStatus OpenPipe(std::uint32_t nInstance, std::uint16_t wVendor, std::uint16_t wProduct,
                     std::uint8_t byEndpoint, UsbPipeId& pipe) override;
    EStatus WritePipe(UsbPipeId pipe, const std::uint8_t* pData, std::size_t nLength,
                      std::size_t& nMoved, std::uint32_t nTimeoutMs) override;
    EStatus ReadPipe(UsbPipeId pipe, std::uint8_t* pData, std::size_t nLength,
                     std::size_t& nMoved, std::uint32_t nTimeoutMs) override;
    void ClosePipe(UsbPipeId pipe) override;
    bool SameDevice(UsbPipeId pipeA, UsbPipeId pipeB) override;
    std::string Location(std::uint32_t nInstance, std::uint16_t wVendor,
                         std::uint16_t wProduct) override;
    std::string PipeLocation(UsbPipeId pipe) override;
    EStatus ProbeOpen(std::uint32_t nInstance, std::uint16_t wVendor,
                      std::uint16_t wProduct) override;
    void WatchChanges(ChangeSink sink) override;

private:
    std::shared_ptr<CSimBus> m_pBus;
};
