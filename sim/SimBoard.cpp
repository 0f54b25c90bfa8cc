#include "sim/SimBoard.h"

#include <algorithm>
#include <cstring>

CSimBoard::CSimBoard(const SimBoardConfig& config)
    : m_cfgBoard(config), m_memBoard(config), m_bBootMode(config.bBootMode),
      m_usLatency(config.usLatency)
{
}

bool CSimBoard::IsBootMode() const
{
    std::lock_guard lock(m_mtxLock);
    return m_bBootMode;
}

void CSimBoard::SetInputs(EPort port, std::uint8_t byLevels)
{
    std::lock_guard lock(m_mtxLock);
    m_pinsBoard.byInput[port] = byLevels;
}

void CSimBoard::SetAnalog(int nChannel, std::uint16_t wReading)
{
    std::lock_guard lock(m_mtxLock);
    if (nChannel >= 0 && nChannel < ANALOG_CHANNELS)
        m_pinsBoard.wAnalog[nChannel] = wReading & 0x3FF;
}

SimPins CSimBoard::Pins() const
{
    std::lock_guard lock(m_mtxLock);
    return m_pinsBoard;
}

std::vector<std::uint8_t> CSimBoard::ReadMemory(std::uint32_t nAddress, std::size_t nLength) const
{
    std::lock_guard lock(m_mtxLock);
    std::vector<std::uint8_t> bytes(nLength);
    for (std::size_t i = 0; i < nLength; ++i)
        bytes[i] = m_memBoard.Read(nAddress + static_cast<std::uint32_t>(i));
    return bytes;
}

void CSimBoard::StoreMemory(std::uint32_t nAddress, const std::vector<std::uint8_t>& bytes)
{
    std::lock_guard lock(m_mtxLock);
    m_memBoard.Store(nAddress, bytes);
}

std::uint8_t CSimBoard::ReadEeprom(std::uint32_t nAddress) const
{
    std::lock_guard lock(m_mtxLock);
    return m_memBoard.ReadEeprom(nAddress);
}

std::uint16_t CSimBoard::FirmwareVersion() const
{
    std::lock_guard lock(m_mtxLock);
    return m_memBoard.Version();
}

void CSimBoard::InjectFault(ESimFault fault, std::uint64_t nTransfer, std::size_t nPosition)
{
    std::lock_guard lock(m_mtxLock);
    m_vecFaults.push_back({fault, m_nTransfers + std::max<std::uint64_t>(nTransfer, 1), nPosition});
}

void CSimBoard::ClearFaults()
{
    std::lock_guard lock(m_mtxLock);
    m_vecFaults.clear();
}

void CSimBoard::SetLatency(std::chrono::microseconds latency)
{
    std::lock_guard lock(m_mtxLock);
    m_usLatency = latency;
}

std::chrono::microseconds CSimBoard::Latency() const
{
    std::lock_guard lock(m_mtxLock);
    return m_usLatency;
}

std::uint64_t CSimBoard::TransferCount() const
{
    std::lock_guard lock(m_mtxLock);
    return m_nTransfers;
}

void CSimBoard::SetBootMode(bool bBoot)
{
    std::lock_guard lock(m_mtxLock);
    m_bBootMode = bBoot;
    m_optReply.reset(); // a restarted microcontroller has nothing queued
}

std::optional<CSimBoard::PendingFault> CSimBoard::NextTransfer()
{
    ++m_nTransfers;
    auto it = std::find_if(m_vecFaults.begin(), m_vecFaults.end(),
                           [&](const PendingFault& f) { return f.nAt == m_nTransfers; });
    if (it == m_vecFaults.end())
        return std::nullopt;
    PendingFault due = *it;
    m_vecFaults.erase(it);
    return due;
}

CSimBoard::Outcome CSimBoard::Write(const std::uint8_t* pData, std::size_t nLength)
{
    std::lock_guard lock(m_mtxLock);
    Outcome outcome;
    const auto fault = NextTransfer();
    if (fault && fault->eFault == ESimFault::Fail)
        return outcome;
    if (fault && fault->eFault == ESimFault::Timeout)
    {
        outcome.bTimedOut = true;
        return outcome;
    }

    Packet request{};
    const std::size_t nTaken = std::min(nLength, PACKET_SIZE);
    std::memcpy(request.data(), pData, nTaken);
    m_optReply = m_bBootMode ? CSimBootloader::Handle(m_memBoard, request, nTaken, outcome.eAction)
                             : CSimFirmware::Handle(m_pinsBoard, m_memBoard, m_cfgBoard.byId,
                                                    request, outcome.eAction);
    outcome.bOk = true;
    outcome.nMoved = nTaken;
    outcome.bUnplug = fault && fault->eFault == ESimFault::Unplug;
    return outcome;
}

CSimBoard::Outcome CSimBoard::Read(std::uint8_t* pData, std::size_t nLength)
{
    std::lock_guard lock(m_mtxLock);
    Outcome outcome;
    const auto fault = NextTransfer();
    std::optional<std::vector<std::uint8_t>> reply;
    reply.swap(m_optReply);
    if (fault && fault->eFault == ESimFault::Fail)
        return outcome;
    if (!reply || (fault && fault->eFault == ESimFault::Timeout))
    {
        // Nothing to send: the host's read runs into its time-out.
        outcome.bTimedOut = true;
        return outcome;
    }
    if (reply->size() > nLength)
        return outcome; // more than the host asked for: an overflow, not a reply
    if (fault && fault->eFault == ESimFault::Corrupt && !reply->empty())
    {
        const std::size_t nAt = std::min(fault->nPosition, reply->size() - 1);
        (*reply)[nAt] = static_cast<std::uint8_t>(~(*reply)[nAt]);
    }
    std::copy(reply->begin(), reply->end(), pData);
    outcome.bOk = true;
    outcome.nMoved = reply->size();
    outcome.bUnplug = fault && fault->eFault == ESimFault::Unplug;
    return outcome;
}
