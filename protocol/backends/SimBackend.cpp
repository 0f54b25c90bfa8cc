#include "protocol/backends/SimBackend.h"

#include "protocol/DebugOutput.h"

namespace
{
bool IsBoardIdentity(std::uint16_t wVendor, std::uint16_t wProduct)
{
    return wVendor == MPUSB_VENDOR && wProduct == MPUSB_PRODUCT;
}
} // namespace

CSimBackend::CSimBackend(std::shared_ptr<CSimBus> pBus) : m_pBus(std::move(pBus)) {}

CSimBackend::~CSimBackend()
{
    // The bus may outlive this backend (a test keeps it); stop reporting through us.
    m_pBus->SetChangeListener(nullptr);
}

std::uint32_t CSimBackend::CountDevices(std::uint16_t wVendor, std::uint16_t wProduct)
{
    return IsBoardIdentity(wVendor, wProduct) ? m_pBus->Count() : 0;
}

UsbPipeId CSimBackend::OpenPipe(std::uint32_t nInstance, std::uint16_t wVendor,
                                std::uint16_t wProduct, std::uint8_t byEndpoint)
{
    if (!IsBoardIdentity(wVendor, wProduct))
        return 0;
    const UsbPipeId pipe = m_pBus->Open(nInstance, byEndpoint);
    // A board that is there but refuses, as a real one without the udev rule would: say why.
    if (const EUsbOpenError eError = ProbeOpen(nInstance, wVendor, wProduct);
        pipe == 0 && eError != EUsbOpenError::Gone)
        DebugOutputFormat("sim: cannot open the board at %s: %s\n",
                          Location(nInstance, wVendor, wProduct).c_str(), UsbOpenErrorText(eError));
    return pipe;
}

bool CSimBackend::WritePipe(UsbPipeId pipe, const std::uint8_t* pData, std::size_t nLength,
                            std::size_t& nMoved, std::uint32_t nTimeoutMs)
{
    return m_pBus->Write(pipe, pData, nLength, nMoved, nTimeoutMs);
}

bool CSimBackend::ReadPipe(UsbPipeId pipe, std::uint8_t* pData, std::size_t nLength,
                           std::size_t& nMoved, std::uint32_t nTimeoutMs)
{
    return m_pBus->Read(pipe, pData, nLength, nMoved, nTimeoutMs);
}

void CSimBackend::ClosePipe(UsbPipeId pipe)
{
    m_pBus->Close(pipe);
}

bool CSimBackend::SameDevice(UsbPipeId pipeA, UsbPipeId pipeB)
{
    return m_pBus->SameAttachment(pipeA, pipeB);
}

std::string CSimBackend::Location(std::uint32_t nInstance, std::uint16_t wVendor,
                                  std::uint16_t wProduct)
{
    const std::size_t nSlot =
        IsBoardIdentity(wVendor, wProduct) ? m_pBus->SlotOf(nInstance) : CSimBus::NO_SLOT;
    return nSlot == CSimBus::NO_SLOT ? std::string() : "sim:" + std::to_string(nSlot);
}

std::string CSimBackend::PipeLocation(UsbPipeId pipe)
{
    const std::size_t nSlot = m_pBus->SlotOfPipe(pipe);
    return nSlot == CSimBus::NO_SLOT ? std::string() : "sim:" + std::to_string(nSlot);
}

EUsbOpenError CSimBackend::ProbeOpen(std::uint32_t nInstance, std::uint16_t wVendor,
                                     std::uint16_t wProduct)
{
    const auto pBoard = IsBoardIdentity(wVendor, wProduct) ? m_pBus->Board(nInstance) : nullptr;
    if (!pBoard)
        return EUsbOpenError::Gone;
    switch (pBoard->Config().eAccess)
    {
    case ESimAccess::Open:
        return EUsbOpenError::None;
    case ESimAccess::Denied:
        return EUsbOpenError::Access;
    case ESimAccess::Busy:
        return EUsbOpenError::Busy;
    }
    return EUsbOpenError::Other;
}

void CSimBackend::WatchChanges(ChangeSink sink)
{
    m_pBus->SetChangeListener(
        [sink = std::move(sink)](bool bArrival)
        { sink(bArrival ? EDeviceChange::Arrival : EDeviceChange::Removal); });
}
