#include "protocol/BoardLink.h"

#include <utility>

CBoardLink::CBoardLink(std::shared_ptr<CUsbBackend> pBackend, UsbPipeId pipeRead,
                       UsbPipeId pipeWrite)
    : m_pBackend(std::move(pBackend)), m_pipeRead(pipeRead), m_pipeWrite(pipeWrite)
{
}

CBoardLink::CBoardLink(CBoardLink&& other) noexcept
    : m_pBackend(std::move(other.m_pBackend)), m_pipeRead(std::exchange(other.m_pipeRead, 0)),
      m_pipeWrite(std::exchange(other.m_pipeWrite, 0))
{
}

CBoardLink& CBoardLink::operator=(CBoardLink&& other) noexcept
{
    if (this != &other)
    {
        Close();
        m_pBackend = std::move(other.m_pBackend);
        m_pipeRead = std::exchange(other.m_pipeRead, 0);
        m_pipeWrite = std::exchange(other.m_pipeWrite, 0);
    }
    return *this;
}

void CBoardLink::Close()
{
    if (!m_pBackend)
        return;
    m_pBackend->ClosePipe(std::exchange(m_pipeRead, 0));
    m_pBackend->ClosePipe(std::exchange(m_pipeWrite, 0));
    m_pBackend.reset();
}

EStatus CBoardLink::Write(const std::uint8_t* pData, std::size_t nLength, std::uint32_t nTimeoutMs)
{
    if (!m_pBackend)
        return EStatus::Gone;
    std::size_t nMoved = 0;
    const EStatus eStatus = m_pBackend->WritePipe(m_pipeWrite, pData, nLength, nMoved, nTimeoutMs);
    return eStatus == EStatus::Ok && nMoved != nLength ? EStatus::Usb : eStatus;
}

EStatus CBoardLink::Read(std::uint8_t* pData, std::size_t nLength, std::size_t& nMoved,
                         std::uint32_t nTimeoutMs)
{
    nMoved = 0;
    if (!m_pBackend)
        return EStatus::Gone;
    return m_pBackend->ReadPipe(m_pipeRead, pData, nLength, nMoved, nTimeoutMs);
}

CBoardLink::SExchange CBoardLink::Transfer(Packet& packet)
{
    SExchange result;
    const CommandInfo* pInfo = FindCommand(packet[0]);
    if (!pInfo)
        return result;
    result.eWrite = Write(packet.data(), pInfo->byRequestLength);
    if (result.eWrite == EStatus::Ok && pInfo->byReplyLength > 0)
    {
        std::size_t nMoved = 0;
        result.eRead = Read(packet.data(), pInfo->byReplyLength, nMoved);
    }
    return result;
}

EStatus CBoardLink::Exchange(Packet& packet)
{
    const SExchange result = Transfer(packet);
    return result.eWrite != EStatus::Ok ? result.eWrite : result.eRead;
}

template <typename Parse>
EStatus CBoardLink::Query(std::uint8_t byCode, Parse parse)
{
    Packet packet;
    BuildRequest(packet, byCode);
    const EStatus eStatus = Exchange(packet);
    if (eStatus == EStatus::Ok)
        parse(packet);
    return eStatus;
}

EStatus CBoardLink::ReadPorts(PortBytes& ports)
{
    return Query(CMD_READ_PORTS, [&](const Packet& packet) { ports = ParsePorts(packet); });
}

EStatus CBoardLink::WritePorts(const PortBytes& ports)
{
    Packet packet;
    BuildWritePorts(packet, ports);
    return Exchange(packet);
}

EStatus CBoardLink::ReadConfiguration(ConfigBlock& config)
{
    return Query(CMD_READ_CONFIGURATION,
                 [&](const Packet& packet) { config = ParseConfiguration(packet); });
}

EStatus CBoardLink::WriteConfiguration(const ConfigBlock& config)
{
    Packet packet;
    BuildWriteConfiguration(packet, config);
    return Exchange(packet);
}

EStatus CBoardLink::ReadDeviceId(std::uint8_t& byId)
{
    return Query(CMD_READ_DEVICE_ID, [&](const Packet& packet) { byId = ParseDeviceId(packet); });
}

EStatus CBoardLink::ReadAnalog(int& nChannels,
                               std::array<std::uint16_t, ANALOG_CHANNELS>& wReadings)
{
    return Query(CMD_READ_ANALOG,
                 [&](const Packet& packet) { nChannels = ParseAnalog(packet, wReadings); });
}

EStatus CBoardLink::EnterBootloader()
{
    return Query(CMD_ENTER_BOOTLOADER, [](const Packet&) {});
}

std::uint16_t CBoardLink::ReadVersion()
{
    Packet packet;
    BuildRequest(packet, CMD_READ_VERSION);
    return Transfer(packet).eWrite == EStatus::Ok ? ParseVersion(packet) : 0;
}

bool CBoardLink::QueryBootloader()
{
    Packet packet;
    BuildRequest(packet, CMD_QUERY_MODE);
    return Transfer(packet).eWrite == EStatus::Ok && ParseIsBootloader(packet);
}

std::string CBoardLink::ReadSerialNumber()
{
    Packet packet;
    BuildRequest(packet, CMD_READ_SERIAL_NUMBER);
    return Transfer(packet).eWrite == EStatus::Ok ? ParseSerialNumber(packet) : std::string();
}

std::string CBoardLink::Location() const
{
    return m_pBackend ? m_pBackend->PipeLocation(m_pipeRead) : std::string();
}

bool CBoardLink::SameDevice(const STag& tagA, const STag& tagB)
{
    return tagA.pBackend && tagA.pBackend == tagB.pBackend &&
           tagA.pBackend->SameDevice(tagA.idPipe, tagB.idPipe);
}
