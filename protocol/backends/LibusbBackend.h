#pragma once
// The backend for real boards: bulk transfers on interface 0 through libusb-1.0.
// libusb.h stays out of this header so users of the backend need no libusb include path.
#include "protocol/UsbBackend.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;

class CLibusbBackend final : public CUsbBackend
{
public:
    // Starts a private libusb context. When libusb cannot start, the backend stays usable and
    // simply sees no devices.
    CLibusbBackend();
    ~CLibusbBackend() override;

    CLibusbBackend(const CLibusbBackend&) = delete;
    CLibusbBackend& operator=(const CLibusbBackend&) = delete;

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

    // False when libusb could not start; the backend then reports no devices.
    bool IsAvailable() const { return m_pContext != nullptr; }

private:
    // One opened device. Every pipe of the device and every transfer in flight holds a
    // reference, so the handle is released only when the last of them lets go.
    struct CDevice
    {
        libusb_device* m_pUsbDevice = nullptr;     // referenced while the record lives
        libusb_device_handle* m_hDevice = nullptr; // open, interface 0 claimed
    };

    struct CPipe
    {
        std::shared_ptr<CDevice> m_pDevice;
        std::uint8_t m_byEndpoint = 0;
        bool m_bInterrupt = false; // an interrupt endpoint; bulk otherwise
    };

    // A copy of the pipe's record (no device for an unknown pipe).
    CPipe FindPipe(UsbPipeId pipe);
    EStatus OpenHandle(CDevice& device);
    void ReleaseDevice(CDevice* pDevice) noexcept;
    void QueueChange(EDeviceChange change);
    void RunEvents();
    void DeliverChanges();

    libusb_context* m_pContext = nullptr;

    // Lock order: m_mutexDevices before m_mutexPipes. A CDevice reference must never be
    // dropped while either is held: the last drop closes the handle under m_mutexDevices.
    std::mutex m_mutexDevices;
    std::condition_variable m_cvDevices; // signalled when a record has finished closing
    std::map<libusb_device*, std::weak_ptr<CDevice>> m_mapDevices;

    std::mutex m_mutexPipes;
    std::map<UsbPipeId, CPipe> m_mapPipes;
    UsbPipeId m_nNextPipe = 1;

    // Device-change watch: the hot-plug callback may run on any thread that handles libusb
    // events (including a caller blocked in a transfer), so it only queues; the event thread
    // hands the queue to the sink.
    std::atomic<bool> m_bWatchRequested{false};
    std::atomic<bool> m_bStop{false};
    bool m_bHotplugRegistered = false;
    int m_hHotplug = 0;
    ChangeSink m_fnSink;
    std::mutex m_mutexChanges;
    std::deque<EDeviceChange> m_dqChanges;
    std::thread m_thrEvents;
};

// A libusb backend, for a driver context.
std::shared_ptr<CUsbBackend> CreateLibusbBackend();
