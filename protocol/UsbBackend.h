#pragma once
// The one interface between the driver operations and whatever reaches the boards: libusb for
// real boards, the simulated bus for tests and demos. Nothing above the driver layer knows which
// backend runs. Every method may be called from any thread at any time.
#include "protocol/Status.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The boards' identity "vid_04d8&pid_fffe" (MPUSB_VID_PID), parsed: what WatchChanges watches
// and the simulated bus answers to.
inline constexpr std::uint16_t MPUSB_VENDOR = 0x04D8;
inline constexpr std::uint16_t MPUSB_PRODUCT = 0xFFFE;

// A backend's own pipe number; 0 means "no pipe".
using UsbPipeId = std::uint64_t;

enum class EDeviceChange
{
    Arrival, // a device with a watched identity was attached
    Removal, // a device was detached
};

class CUsbBackend
{
public:
    using ChangeSink = std::function<void(EDeviceChange)>;

    virtual ~CUsbBackend() = default;

    // Number of attached devices with this vendor and product. Does not talk to any device;
    // returns at once.
    virtual std::uint32_t CountDevices(std::uint16_t wVendor, std::uint16_t wProduct) = 0;

    // Opens a pipe on endpoint byEndpoint (0x01 = write pipe, 0x81 = read pipe) of the
    // instance-th attached device with this vendor and product, in the backend's stable order,
    // into pipe (a nonzero number). Ok; Gone when there is no such instance; Access, Busy or
    // System when it cannot be opened (pipe stays 0). Blocks only for the open itself (no
    // transfer).
    virtual EStatus OpenPipe(std::uint32_t nInstance, std::uint16_t wVendor, std::uint16_t wProduct,
                             std::uint8_t byEndpoint, UsbPipeId& pipe) = 0;

    // Sends nLength bytes on a write pipe. Ok only when all of them were taken within
    // nTimeoutMs; nMoved receives the count taken. Usb when the transfer failed or timed out
    // (or moved fewer bytes), Gone when the device has left. Blocks at most about nTimeoutMs (a
    // time-out of 0 waits about a millisecond, never forever).
    virtual EStatus WritePipe(UsbPipeId pipe, const std::uint8_t* pData, std::size_t nLength,
                              std::size_t& nMoved, std::uint32_t nTimeoutMs) = 0;

    // Receives one reply of at most nLength bytes on a read pipe into pData. Ok when a reply
    // (possibly shorter than nLength: a short packet ends the transfer) arrived within
    // nTimeoutMs; nMoved receives its length. Usb or Gone as for WritePipe; on failure pData is
    // left untouched and nMoved is 0. Blocks at most about nTimeoutMs.
    virtual EStatus ReadPipe(UsbPipeId pipe, std::uint8_t* pData, std::size_t nLength,
                             std::size_t& nMoved, std::uint32_t nTimeoutMs) = 0;

    // Closes a pipe; the device is released with its last pipe. Unknown pipes are ignored.
    // Returns at once.
    virtual void ClosePipe(UsbPipeId pipe) = 0;

    // True when both pipes are open on the same attachment of one device; a device that left
    // and came back is a new attachment. False for an unknown pipe. Talks to no device;
    // returns at once.
    virtual bool SameDevice(UsbPipeId pipeA, UsbPipeId pipeB) = 0;

    // Where the instance-th attached device with this identity sits: "BUS-PORT.PORT..." as
    // the USB topology gives it ("1-2.3": bus 1, port 3 of the hub on port 2), "sim:N" on the
    // simulated bus (N its slot). Stays the same while a device re-attaches on the same port.
    // "" when there is no such instance. Opens nothing; returns at once.
    virtual std::string Location(std::uint32_t nInstance, std::uint16_t wVendor,
                                 std::uint16_t wProduct) = 0;

    // The location of the device a pipe was opened on; "" for an unknown pipe. Returns at once.
    virtual std::string PipeLocation(UsbPipeId pipe) = 0;

    // Whether the instance-th attached device can be opened, and if not why (Access, Busy,
    // Gone, System). Opens its device node and closes it again, claiming nothing and sending
    // nothing, so it may be asked about a device another program holds. Ok for a device this
    // backend has open.
    virtual EStatus ProbeOpen(std::uint32_t nInstance, std::uint16_t wVendor,
                              std::uint16_t wProduct) = 0;

    // Starts reporting changes of the set of attached boards (MPUSB_VENDOR, MPUSB_PRODUCT) to
    // sink, once per change, from a thread of the backend's own (never from inside a caller's
    // call). Called at most once; a backend that cannot watch ignores it. Returns at once.
    virtual void WatchChanges(ChangeSink sink) = 0;
};
