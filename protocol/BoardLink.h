#pragma once
// The one owner of an open board: its read pipe and its write pipe on endpoint 1, closed when the
// link goes (read pipe first). Move-only. Offers the command set's exchanges: a zero-filled
// 64-byte packet, the request length written with a 500 ms time-out and, for commands with a
// reply, the reply length read into the same packet; no read follows a failed write. A link is
// used by one thread at a time. Made by CDriverContext::Open.
//
//     CBoardLink link = context.Open(0);
//     PortBytes ports;
//     if (link.ReadPorts(ports) == EStatus::Ok) ...
#include "protocol/CommandSet.h"
#include "protocol/PortTypes.h"
#include "protocol/Status.h"
#include "protocol/UsbBackend.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Every transfer waits at most this long.
inline constexpr std::uint32_t LINK_TIMEOUT_MS = 500;

class CBoardLink
{
public:
    CBoardLink() = default; // no board
    // Takes over both pipes of one board on the backend (the driver context makes links).
    CBoardLink(std::shared_ptr<CUsbBackend> pBackend, UsbPipeId pipeRead, UsbPipeId pipeWrite);
    ~CBoardLink() { Close(); }
    CBoardLink(CBoardLink&& other) noexcept;
    CBoardLink& operator=(CBoardLink&& other) noexcept;
    CBoardLink(const CBoardLink&) = delete;
    CBoardLink& operator=(const CBoardLink&) = delete;

    bool IsOpen() const { return m_pBackend != nullptr; }
    // Closes the read pipe, then the write pipe; the link is then no board's.
    void Close();

    // One transfer. Write: all nLength bytes, or Usb (Gone for a board that left). Read: one
    // reply of at most nLength bytes; nMoved its length (a shorter reply is a completed read).
    // A link that is not open gives Gone.
    EStatus Write(const std::uint8_t* pData, std::size_t nLength,
                  std::uint32_t nTimeoutMs = LINK_TIMEOUT_MS);
    EStatus Read(std::uint8_t* pData, std::size_t nLength, std::size_t& nMoved,
                 std::uint32_t nTimeoutMs = LINK_TIMEOUT_MS);

    // A request already built in packet (code in byte 0, lengths from the command table): Ok
    // when the write and, where the command has a reply, the read succeeded; the reply is then in
    // packet. Argument for a code outside the command set (nothing sent).
    EStatus Exchange(Packet& packet);

    // Checked commands: Ok only when the write and (where there is one) the read succeeded; the
    // outputs are written only then.
    EStatus ReadPorts(PortBytes& ports);
    EStatus WritePorts(const PortBytes& ports);
    EStatus ReadConfiguration(ConfigBlock& config);
    EStatus WriteConfiguration(const ConfigBlock& config);
    EStatus ReadDeviceId(std::uint8_t& byId);
    EStatus ReadAnalog(int& nChannels, std::array<std::uint16_t, ANALOG_CHANNELS>& wReadings);
    EStatus EnterBootloader();

    // Unchecked commands: after a successful write the reply is parsed as the read left the
    // packet (a failed read leaves the request, which parses as version 0, application firmware
    // and an empty text). A failed write gives the same neutral values.
    std::uint16_t ReadVersion();
    bool QueryBootloader();
    std::string ReadSerialNumber();

    // Where the board sits ("1-2.3", "sim:0"); "" for a link that is not open. Talks to no board.
    std::string Location() const;
    // What identifies the attachment this link is open on, to be compared later without holding
    // the link: once the link has closed, nothing compares equal to it any more.
    struct STag
    {
        std::shared_ptr<CUsbBackend> pBackend;
        UsbPipeId idPipe = 0;
    };
    STag Tag() const { return {m_pBackend, m_pipeRead}; }
    // True when both are open on the same attachment of one board (a board that re-attached
    // counts as another). Sends nothing.
    bool SameDevice(const CBoardLink& other) const { return SameDevice(Tag(), other.Tag()); }
    bool SameDevice(const STag& tag) const { return SameDevice(Tag(), tag); }
    static bool SameDevice(const STag& tagA, const STag& tagB);

private:
    // The write of the request and, when the command has one, the read of its reply.
    struct SExchange
    {
        EStatus eWrite = EStatus::Argument;
        EStatus eRead = EStatus::Ok;
    };
    SExchange Transfer(Packet& packet);
    // A command without fields whose reply, when the exchange went through, goes to parse.
    template <typename Parse>
    EStatus Query(std::uint8_t byCode, Parse parse);

    std::shared_ptr<CUsbBackend> m_pBackend;
    UsbPipeId m_pipeRead = 0;
    UsbPipeId m_pipeWrite = 0;
};
