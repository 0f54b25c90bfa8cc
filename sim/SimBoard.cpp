#include "sim/SimBoard.h"

#include <algorithm>
#include <cstring>

CSimBoard::CSimBoard(const SimBoardConfig& config)
    : m_config(config), m_memory(config), m_bBootMode(config.bBootMode), m_latency(config.latency)
{
}

bool CSimBoard::IsBootMode() const
{
    std::lock_guard lock(m_mutex);
    return m_bBootMode;
}

void CSimBoard::SetInputs(EPort port, std::uint8_t byLevels)
{
    std::lock_guard lock(m_mutex);
    m_pins.byInput[port] = byLevels;
}

void CSimBoard::SetAnalog(int nChannel, std::uint16_t wReading)
{
    std::lock_guard lock(m_mutex);
    if (nChannel >= 0 && nChannel < ANALOG_CHANNELS)
        m_pins.wAnalog[nChannel] = wReading & 0x3FF;
}

SimPins CSimBoard::Pins() const
{
    std::lock_guard lock(m_mutex);
    return m_pins;
}

std::vector<std::uint8_t> CSimBoard::ReadMemory(std::uint32_t nAddress, std::size_t nLength) const
{
    std::lock_guard lock(m_mutex);
    std::vector<std::uint8_t> bytes(nLength);
    for (std::size_t i = 0; i < nLength; ++i)
        bytes[i] = m_memory.Read(nAddress + static_cast<std::uint32_t>(i));
    return bytes;
}

void CSimBoard::StoreMemory(std::uint32_t nAddress, const std::vector<std::uint8_t>& bytes)
{
    std::lock_guard lock(m_mutex);
    m_memory.Store(nAddress, bytes);
}

std::uint8_t CSimBoard::ReadEeprom(std::uint32_t nAddress) const
{
    std::lock_guard lock(m_mutex);
    return m_memory.ReadEeprom(nAddress);
}

std::uint16_t CSimBoard::FirmwareVersion() const
{
    std::lock_guard lock(m_mutex);
    return m_memory.Version();
}

void CSimBoard::InjectFault(ESimFault fault, std::uint64_t nTransfer, std::size_t nPosition)
{
    std::lock_guard lock(m_mutex);
    m_faults.push_back({fault, m_nTransfers + std::max<std::uint64_t>(nTransfer, 1), nPosition});
}

void CSimBoard::ClearFaults()
{
    std::lock_guard lock(m_mutex);
    m_faults.clear();
}

void CSimBoard::SetLatency(std::chrono::microseconds latency)
{
    std::lock_guard lock(m_mutex);
    m_latency = latency;
}

std::chrono::microseconds CSimBoard::Latency() const
{
    std::lock_guard lock(m_mutex);
    return m_latency;
}

std::uint64_t CSimBoard::TransferCount() const
{
    std::lock_guard lock(m_mutex);
    return m_nTransfers;
}

void CSimBoard::SetBootMode(bool bBoot)
{
    std::lock_guard lock(m_mutex);
    m_bBootMode = bBoot;
    m_reply.reset(); // a restarted microcontroller has nothing queued
}

std::optional<CSimBoard::PendingFault> CSimBoard::NextTransfer()
{
    ++m_nTransfers;
    auto it = std::find_if(m_faults.begin(), m_faults.end(),
                           [&](const PendingFault& f) { return f.nAt == m_nTransfers; });
    if (it == m_faults.end())
        return std::nullopt;
    PendingFault due = *it;
    m_faults.erase(it);
    return due;
}

CSimBoard::Outcome CSimBoard::Write(const std::uint8_t* pData, std::size_t nLength)
{
    std::lock_guard lock(m_mutex);
    Outcome outcome;
    const auto fault = NextTransfer();
    if (fault && fault->fault == ESimFault::Fail)
        return outcome;
    if (fault && fault->fault == ESimFault::Timeout)
    {
        outcome.bTimedOut = true;
        return outcome;
    }

    Packet request{};
    const std::size_t nTaken = std::min(nLength, PACKET_SIZE);
    std::memcpy(request.data(), pData, nTaken);
    m_reply = m_bBootMode
                  ? CSimBootloader::Handle(m_memory, request, nTaken, outcome.action)
                  : CSimFirmware::Handle(m_pins, m_memory, m_config.byId, request, outcome.action);
    outcome.bOk = true;
    outcome.nMoved = nTaken;
    outcome.bUnplug = fault && fault->fault == ESimFault::Unplug;
    return outcome;
}

CSimBoard::Outcome CSimBoard::Read(std::uint8_t* pData, std::size_t nLength)
{
    std::lock_guard lock(m_mutex);
    Outcome outcome;
    const auto fault = NextTransfer();
    std::optional<std::vector<std::uint8_t>> reply;
    reply.swap(m_reply);
    if (fault && fault->fault == ESimFault::Fail)
        return outcome;
    if (!reply || (fault && fault->fault == ESimFault::Timeout))
    {
        // Nothing to send: the host's read runs into its time-out.
        outcome.bTimedOut = true;
        return outcome;
    }
    if (reply->size() > nLength)
        return outcome; // more than the host asked for: an overflow, not a reply
    if (fault && fault->fault == ESimFault::Corrupt && !reply->empty())
    {
        const std::size_t nAt = std::min(fault->nPosition, reply->size() - 1);
        (*reply)[nAt] = static_cast<std::uint8_t>(~(*reply)[nAt]);
    }
    std::copy(reply->begin(), reply->end(), pData);
    outcome.bOk = true;
    outcome.nMoved = reply->size();
    outcome.bUnplug = fault && fault->fault == ESimFault::Unplug;
    return outcome;
}
