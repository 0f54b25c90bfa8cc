#include "sim/SimBackend.h"

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

EStatus CSimBackend::OpenPipe(std::uint32_t nInstance, std::uint16_t wVendor,
                              std::uint16_t wProduct, std::uint8_t byEndpoint, UsbPipeId& pipe)
{
    pipe = IsBoardIdentity(wVendor, wProduct) ? m_pBus->Open(nInstance, byEndpoint) : 0;
    if (pipe != 0)
        return EStatus::Ok;
    // A board that is there but refuses, as a real one without the udev rule would: say why.
    EStatus eStatus = ProbeOpen(nInstance, wVendor, wProduct);
    if (eStatus == EStatus::Ok)
        eStatus = EStatus::System; // no such endpoint
    if (eStatus != EStatus::Gone)
        DebugOutputFormat("sim: cannot open the board at %s: %s\n",
                          Location(nInstance, wVendor, wProduct).c_str(), StatusText(eStatus));
    return eStatus;
}

EStatus CSimBackend::WritePipe(UsbPipeId pipe, const std::uint8_t* pData, std::size_t nLength,
                               std::size_t& nMoved, std::uint32_t nTimeoutMs)
{
    if (m_pBus->Write(pipe, pData, nLength, nMoved, nTimeoutMs))
        return EStatus::Ok;
    return m_pBus->IsPipeAttached(pipe) ? EStatus::Usb : EStatus::Gone;
}

EStatus CSimBackend::ReadPipe(UsbPipeId pipe, std::uint8_t* pData, std::size_t nLength,
                              std::size_t& nMoved, std::uint32_t nTimeoutMs)
{
    if (m_pBus->Read(pipe, pData, nLength, nMoved, nTimeoutMs))
        return EStatus::Ok;
    return m_pBus->IsPipeAttached(pipe) ? EStatus::Usb : EStatus::Gone;
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

EStatus CSimBackend::ProbeOpen(std::uint32_t nInstance, std::uint16_t wVendor,
                               std::uint16_t wProduct)
{
    const auto pBoard = IsBoardIdentity(wVendor, wProduct) ? m_pBus->Board(nInstance) : nullptr;
    if (!pBoard)
        return EStatus::Gone;
    switch (pBoard->Config().eAccess)
    {
    case ESimAccess::Open:
        return EStatus::Ok;
    case ESimAccess::Denied:
        return EStatus::Access;
    case ESimAccess::Busy:
        return EStatus::Busy;
    }
    return EStatus::System;
}

void CSimBackend::WatchChanges(ChangeSink sink)
{
    m_pBus->SetChangeListener(
        [sink = std::move(sink)](bool bArrival)
        { sink(bArrival ? EDeviceChange::Arrival : EDeviceChange::Removal); });
}
