#include "protocol/backends/LibusbBackend.h"

#include "protocol/DebugOutput.h"

#include <libusb.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <climits>
#include <cstring>
#include <sys/time.h>
#include <tuple>
#include <utility>
#include <vector>

namespace
{
constexpr int INTERFACE = 0;
constexpr std::size_t MAX_PORT_DEPTH = 7; // USB 3 allows at most 7 tiers below the root
constexpr std::size_t STACK_READ_BUFFER = 512;
// How long the event thread sleeps in libusb at most before it looks at its stop flag again.
constexpr long EVENT_SLICE_US = 200 * 1000;

// "BUS-PORT.PORT...": bus 1, port 3 of the hub on port 2 is "1-2.3"; a device the platform
// gives no port path for is named by its address instead ("1-@5").
std::string LocationOf(libusb_device* pDevice)
{
    std::array<std::uint8_t, MAX_PORT_DEPTH> arrPorts{};
    const int nDepth =
        libusb_get_port_numbers(pDevice, arrPorts.data(), static_cast<int>(arrPorts.size()));
    std::string strLocation = std::to_string(libusb_get_bus_number(pDevice));
    if (nDepth <= 0)
        return strLocation + "-@" + std::to_string(libusb_get_device_address(pDevice));
    for (int i = 0; i < nDepth; ++i)
        strLocation += (i == 0 ? "-" : ".") + std::to_string(arrPorts[static_cast<std::size_t>(i)]);
    return strLocation;
}

// The single place where libusb results become statuses. A time-out, a stall, an overflow or
// any other transfer error is Usb to the caller, a vanished device Gone; an open refused is
// Access or Busy, anything else System. All but the expected ones (a time-out, a board that left
// the bus) leave a debug line that names the error, so that KELVARD_DEBUG tells why a board is
// missing.
EStatus StatusOf(int nResult, EStatus eOther)
{
    switch (nResult)
    {
    case LIBUSB_SUCCESS:
        return EStatus::Ok;
    case LIBUSB_ERROR_NO_DEVICE:
    case LIBUSB_ERROR_NOT_FOUND:
        return EStatus::Gone;
    case LIBUSB_ERROR_ACCESS:
        return EStatus::Access;
    case LIBUSB_ERROR_BUSY:
        return EStatus::Busy;
    case LIBUSB_ERROR_TIMEOUT:
        return EStatus::Usb;
    default:
        return eOther;
    }
}

// The same, with the debug line that names what could not be done.
EStatus StatusOf(int nResult, const char* pszWhat, libusb_device* pDevice = nullptr,
                 EStatus eOther = EStatus::Usb)
{
    if (nResult != LIBUSB_SUCCESS && nResult != LIBUSB_ERROR_TIMEOUT &&
        nResult != LIBUSB_ERROR_NO_DEVICE)
        DebugOutputFormat("libusb: cannot %s%s%s: %s (%s)\n", pszWhat,
                          pDevice ? " the board at " : "",
                          pDevice ? LocationOf(pDevice).c_str() : "", libusb_error_name(nResult),
                          libusb_strerror(nResult));
    return StatusOf(nResult, eOther);
}

// libusb reads 0 as "wait forever"; a caller asking for 0 ms wants the shortest wait instead.
unsigned int LibusbTimeout(std::uint32_t nTimeoutMs)
{
    return nTimeoutMs == 0 ? 1u : static_cast<unsigned int>(nTimeoutMs);
}

bool IsIn(std::uint8_t byEndpoint)
{
    return (byEndpoint & LIBUSB_ENDPOINT_IN) != 0;
}

// The device list of one call, freed (and its references dropped) on scope exit.
class CDeviceList
{
public:
    explicit CDeviceList(libusb_context* pContext)
    {
        if (pContext == nullptr)
            return;
        const ssize_t nCount = libusb_get_device_list(pContext, &m_ppList);
        if (nCount < 0)
            m_ppList = nullptr;
        else
            m_nCount = static_cast<std::size_t>(nCount);
    }
    ~CDeviceList()
    {
        if (m_ppList != nullptr)
            libusb_free_device_list(m_ppList, 1);
    }
    CDeviceList(const CDeviceList&) = delete;
    CDeviceList& operator=(const CDeviceList&) = delete;

    // The devices with this identity, in instance order: bus number, then port path. The
    // device address only breaks ties where a platform gives no port path.
    std::vector<libusb_device*> Matching(std::uint16_t wVendor, std::uint16_t wProduct) const
    {
        struct SEntry
        {
            libusb_device* pDevice;
            std::uint8_t byBus;
            std::vector<std::uint8_t> vecPorts;
            std::uint8_t byAddress;
        };
        std::vector<SEntry> vecEntries;
        for (std::size_t i = 0; i < m_nCount; ++i)
        {
            libusb_device_descriptor descriptor{};
            if (libusb_get_device_descriptor(m_ppList[i], &descriptor) != LIBUSB_SUCCESS)
                continue;
            if (descriptor.idVendor != wVendor || descriptor.idProduct != wProduct)
                continue;
            std::array<std::uint8_t, MAX_PORT_DEPTH> arrPorts{};
            const int nDepth = libusb_get_port_numbers(m_ppList[i], arrPorts.data(),
                                                       static_cast<int>(arrPorts.size()));
            SEntry entry{m_ppList[i],
                         libusb_get_bus_number(m_ppList[i]),
                         {},
                         libusb_get_device_address(m_ppList[i])};
            if (nDepth > 0)
                entry.vecPorts.assign(arrPorts.begin(), arrPorts.begin() + nDepth);
            vecEntries.push_back(std::move(entry));
        }
        std::sort(vecEntries.begin(), vecEntries.end(),
                  [](const SEntry& a, const SEntry& b)
                  {
                      return std::tie(a.byBus, a.vecPorts, a.byAddress) <
                             std::tie(b.byBus, b.vecPorts, b.byAddress);
                  });
        std::vector<libusb_device*> vecDevices;
        vecDevices.reserve(vecEntries.size());
        for (const SEntry& entry : vecEntries)
            vecDevices.push_back(entry.pDevice);
        return vecDevices;
    }

private:
    libusb_device** m_ppList = nullptr;
    std::size_t m_nCount = 0;
};

// The transfer type of the endpoint with this address on interface 0: bulk or interrupt (the
// boards' firmware declares either, and the platform driver they were made for moves data on
// both alike); -1 for none or another type. Reads cached descriptors only; no transfer.
int EndpointType(libusb_device* pDevice, std::uint8_t byEndpoint)
{
    libusb_config_descriptor* pConfig = nullptr;
    if (libusb_get_active_config_descriptor(pDevice, &pConfig) != LIBUSB_SUCCESS &&
        libusb_get_config_descriptor(pDevice, 0, &pConfig) != LIBUSB_SUCCESS)
        return -1;
    int nType = -1;
    for (int i = 0; i < pConfig->bNumInterfaces && nType < 0; ++i)
    {
        const libusb_interface& usbInterface = pConfig->interface[i];
        if (usbInterface.num_altsetting < 1 ||
            usbInterface.altsetting[0].bInterfaceNumber != INTERFACE)
            continue;
        const libusb_interface_descriptor& setting = usbInterface.altsetting[0];
        for (int e = 0; e < setting.bNumEndpoints; ++e)
        {
            const libusb_endpoint_descriptor& endpoint = setting.endpoint[e];
            const int nKind = endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK;
            if (endpoint.bEndpointAddress == byEndpoint &&
                (nKind == LIBUSB_TRANSFER_TYPE_BULK || nKind == LIBUSB_TRANSFER_TYPE_INTERRUPT))
                nType = nKind;
        }
    }
    libusb_free_config_descriptor(pConfig);
    return nType;
}

// One transfer of the kind the endpoint's descriptor names. Both end an IN transfer at a short
// packet, so a reply shorter than asked for comes back as success with its own length.
int Transfer(libusb_device_handle* hDevice, std::uint8_t byEndpoint, bool bInterrupt,
             std::uint8_t* pData, int nLength, int* pnTransferred, unsigned int nTimeout)
{
    return bInterrupt
               ? libusb_interrupt_transfer(hDevice, byEndpoint, pData, nLength, pnTransferred,
                                           nTimeout)
               : libusb_bulk_transfer(hDevice, byEndpoint, pData, nLength, pnTransferred, nTimeout);
}
} // namespace

CLibusbBackend::CLibusbBackend()
{
    libusb_context* pContext = nullptr;
    if (StatusOf(libusb_init(&pContext), "start") == EStatus::Ok)
        m_pContext = pContext;
}

CLibusbBackend::~CLibusbBackend()
{
    if (m_thrEvents.joinable())
    {
        if (m_bHotplugRegistered)
            libusb_hotplug_deregister_callback(m_pContext, m_hHotplug);
        m_bStop = true;
        libusb_interrupt_event_handler(m_pContext);
        m_thrEvents.join();
    }
    else if (m_bHotplugRegistered)
    {
        libusb_hotplug_deregister_callback(m_pContext, m_hHotplug);
    }

    // Dropping the pipes closes every device whose records nobody else holds; at destruction
    // nobody else may.
    std::map<UsbPipeId, CPipe> mapPipes;
    {
        std::lock_guard<std::mutex> lock(m_mutexPipes);
        mapPipes.swap(m_mapPipes);
    }
    mapPipes.clear();

    if (m_pContext != nullptr)
        libusb_exit(m_pContext);
}

std::uint32_t CLibusbBackend::CountDevices(std::uint16_t wVendor, std::uint16_t wProduct)
{
    const CDeviceList list(m_pContext);
    return static_cast<std::uint32_t>(list.Matching(wVendor, wProduct).size());
}

EStatus CLibusbBackend::OpenPipe(std::uint32_t nInstance, std::uint16_t wVendor,
                                 std::uint16_t wProduct, std::uint8_t byEndpoint, UsbPipeId& pipe)
{
    pipe = 0;
    if (m_pContext == nullptr)
        return EStatus::Gone;
    // Declared before the locks: if this is the last reference when the function leaves
    // (a failure after the open), it must be dropped with no lock held.
    std::shared_ptr<CDevice> pDevice;
    std::unique_lock<std::mutex> lockDevices(m_mutexDevices);

    const CDeviceList list(m_pContext);
    const std::vector<libusb_device*> vecDevices = list.Matching(wVendor, wProduct);
    if (nInstance >= vecDevices.size())
        return EStatus::Gone;
    libusb_device* pUsbDevice = vecDevices[nInstance];
    const int nType = EndpointType(pUsbDevice, byEndpoint);
    if (nType < 0)
    {
        DebugOutputFormat("libusb: the board at %s has no endpoint 0x%02x\n",
                          LocationOf(pUsbDevice).c_str(), byEndpoint);
        return EStatus::System;
    }

    // A record of this device whose last reference just went is still closing; claiming
    // interface 0 again before it has been released would fail.
    m_cvDevices.wait(lockDevices,
                     [&]
                     {
                         const auto it = m_mapDevices.find(pUsbDevice);
                         return it == m_mapDevices.end() || !it->second.expired();
                     });

    const auto it = m_mapDevices.find(pUsbDevice);
    if (it != m_mapDevices.end())
        pDevice = it->second.lock();
    if (!pDevice)
    {
        // The record exists before the handle, so a failure anywhere below releases what
        // was opened through the same path as a normal close.
        pDevice =
            std::shared_ptr<CDevice>(new CDevice, [this](CDevice* p) { ReleaseDevice(p); });
        pDevice->m_pUsbDevice = libusb_ref_device(pUsbDevice);
        if (const EStatus eStatus = OpenHandle(*pDevice); eStatus != EStatus::Ok)
            return eStatus;
        m_mapDevices[pUsbDevice] = pDevice;
    }

    std::lock_guard<std::mutex> lockPipes(m_mutexPipes);
    pipe = m_nNextPipe++;
    m_mapPipes.emplace(pipe,
                       CPipe{pDevice, byEndpoint, nType == LIBUSB_TRANSFER_TYPE_INTERRUPT});
    return EStatus::Ok;
}

EStatus CLibusbBackend::OpenHandle(CDevice& device)
{
    libusb_device_handle* hDevice = nullptr;
    EStatus eStatus = StatusOf(libusb_open(device.m_pUsbDevice, &hDevice), "open",
                               device.m_pUsbDevice, EStatus::System);
    if (eStatus != EStatus::Ok)
        return eStatus;
    // Detaches a kernel driver bound to interface 0 on claim and gives it back on release;
    // platforms without detach support just refuse, which is harmless.
    libusb_set_auto_detach_kernel_driver(hDevice, 1);
    eStatus = StatusOf(libusb_claim_interface(hDevice, INTERFACE), "claim interface 0 of",
                       device.m_pUsbDevice, EStatus::System);
    if (eStatus != EStatus::Ok)
    {
        libusb_close(hDevice);
        return eStatus;
    }
    device.m_hDevice = hDevice;
    return EStatus::Ok;
}

void CLibusbBackend::ReleaseDevice(CDevice* pDevice) noexcept
{
    if (pDevice->m_hDevice != nullptr)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutexDevices);
            libusb_release_interface(pDevice->m_hDevice, INTERFACE);
            libusb_close(pDevice->m_hDevice);
            // Only an expired entry can name this device here: OpenPipe waits for it to go
            // before it opens the device again.
            const auto it = m_mapDevices.find(pDevice->m_pUsbDevice);
            if (it != m_mapDevices.end() && it->second.expired())
                m_mapDevices.erase(it);
        }
        m_cvDevices.notify_all();
    }
    if (pDevice->m_pUsbDevice != nullptr)
        libusb_unref_device(pDevice->m_pUsbDevice);
    delete pDevice;
}

CLibusbBackend::CPipe CLibusbBackend::FindPipe(UsbPipeId pipe)
{
    std::lock_guard<std::mutex> lock(m_mutexPipes);
    const auto it = m_mapPipes.find(pipe);
    return it != m_mapPipes.end() ? it->second : CPipe{};
}

EStatus CLibusbBackend::WritePipe(UsbPipeId pipe, const std::uint8_t* pData, std::size_t nLength,
                                  std::size_t& nMoved, std::uint32_t nTimeoutMs)
{
    nMoved = 0;
    if ((pData == nullptr && nLength != 0) || nLength > static_cast<std::size_t>(INT_MAX))
        return EStatus::Argument;
    // Held for the whole transfer: a concurrent ClosePipe cannot close the handle under it.
    const CPipe found = FindPipe(pipe);
    const std::shared_ptr<CDevice>& pDevice = found.m_pDevice;
    if (!pDevice || IsIn(found.m_byEndpoint))
        return EStatus::Gone;
    int nTransferred = 0;
    // libusb only reads the buffer of an OUT transfer.
    const int nResult = Transfer(pDevice->m_hDevice, found.m_byEndpoint, found.m_bInterrupt,
                                 const_cast<std::uint8_t*>(pData), static_cast<int>(nLength),
                                 &nTransferred, LibusbTimeout(nTimeoutMs));
    nMoved = static_cast<std::size_t>(std::max(nTransferred, 0));
    const EStatus eStatus = StatusOf(nResult, "write to", pDevice->m_pUsbDevice);
    return eStatus == EStatus::Ok && nMoved != nLength ? EStatus::Usb : eStatus;
}

EStatus CLibusbBackend::ReadPipe(UsbPipeId pipe, std::uint8_t* pData, std::size_t nLength,
                                 std::size_t& nMoved, std::uint32_t nTimeoutMs)
{
    nMoved = 0;
    if ((pData == nullptr && nLength != 0) || nLength > static_cast<std::size_t>(INT_MAX))
        return EStatus::Argument;
    const CPipe found = FindPipe(pipe);
    const std::shared_ptr<CDevice>& pDevice = found.m_pDevice;
    if (!pDevice || !IsIn(found.m_byEndpoint))
        return EStatus::Gone;

    // The reply lands in a buffer of our own and reaches the caller only on success, so a
    // failed or partial read leaves the caller's buffer as it was.
    std::array<std::uint8_t, STACK_READ_BUFFER> arrBuffer;
    std::vector<std::uint8_t> vecBuffer;
    std::uint8_t* pBuffer = arrBuffer.data();
    if (nLength > arrBuffer.size())
    {
        vecBuffer.resize(nLength);
        pBuffer = vecBuffer.data();
    }

    int nTransferred = 0;
    // A reply shorter than nLength counts as completed: the bootloader answers that way.
    const int nResult =
        Transfer(pDevice->m_hDevice, found.m_byEndpoint, found.m_bInterrupt, pBuffer,
                 static_cast<int>(nLength), &nTransferred, LibusbTimeout(nTimeoutMs));
    const EStatus eStatus = StatusOf(nResult, "read from", pDevice->m_pUsbDevice);
    if (eStatus != EStatus::Ok)
        return eStatus;
    if (nTransferred < 0 || static_cast<std::size_t>(nTransferred) > nLength)
        return EStatus::Usb;
    if (nTransferred > 0)
        std::memcpy(pData, pBuffer, static_cast<std::size_t>(nTransferred));
    nMoved = static_cast<std::size_t>(nTransferred);
    return EStatus::Ok;
}

void CLibusbBackend::ClosePipe(UsbPipeId pipe)
{
    // Dropped after the lock is gone: the last reference closes the device.
    std::shared_ptr<CDevice> pDevice;
    std::lock_guard<std::mutex> lock(m_mutexPipes);
    const auto it = m_mapPipes.find(pipe);
    if (it == m_mapPipes.end())
        return;
    pDevice = std::move(it->second.m_pDevice);
    m_mapPipes.erase(it);
}

bool CLibusbBackend::SameDevice(UsbPipeId pipeA, UsbPipeId pipeB)
{
    // Pipes share one record per libusb device while any of them is open, and a device that
    // enumerates again is a new libusb device: equal records mean the same attachment. Only the
    // pointers are compared, so no reference is dropped under the lock.
    std::lock_guard<std::mutex> lock(m_mutexPipes);
    const auto itA = m_mapPipes.find(pipeA);
    const auto itB = m_mapPipes.find(pipeB);
    return itA != m_mapPipes.end() && itB != m_mapPipes.end() && itA->second.m_pDevice &&
           itA->second.m_pDevice.get() == itB->second.m_pDevice.get();
}

std::string CLibusbBackend::Location(std::uint32_t nInstance, std::uint16_t wVendor,
                                     std::uint16_t wProduct)
{
    const CDeviceList list(m_pContext);
    const std::vector<libusb_device*> vecDevices = list.Matching(wVendor, wProduct);
    return nInstance < vecDevices.size() ? LocationOf(vecDevices[nInstance]) : std::string();
}

std::string CLibusbBackend::PipeLocation(UsbPipeId pipe)
{
    const std::shared_ptr<CDevice> pDevice = FindPipe(pipe).m_pDevice;
    return pDevice ? LocationOf(pDevice->m_pUsbDevice) : std::string();
}

EStatus CLibusbBackend::ProbeOpen(std::uint32_t nInstance, std::uint16_t wVendor,
                                  std::uint16_t wProduct)
{
    if (m_pContext == nullptr)
        return EStatus::Gone;
    const CDeviceList list(m_pContext);
    const std::vector<libusb_device*> vecDevices = list.Matching(wVendor, wProduct);
    if (nInstance >= vecDevices.size())
        return EStatus::Gone;
    {
        std::lock_guard<std::mutex> lock(m_mutexDevices);
        const auto it = m_mapDevices.find(vecDevices[nInstance]);
        if (it != m_mapDevices.end() && !it->second.expired())
            return EStatus::Ok;
    }
    libusb_device_handle* hDevice = nullptr;
    const int nResult = libusb_open(vecDevices[nInstance], &hDevice);
    if (nResult == LIBUSB_SUCCESS)
        libusb_close(hDevice);
    // The reason is the answer here, not a failure of ours: nothing to write to the debug output.
    return StatusOf(nResult, EStatus::System);
}

void CLibusbBackend::WatchChanges(ChangeSink sink)
{
    if (m_pContext == nullptr || !sink || m_bWatchRequested.exchange(true))
        return;
    if (libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) == 0)
        return;
    m_fnSink = std::move(sink);
    // No LIBUSB_HOTPLUG_ENUMERATE: boards present now are not changes.
    auto fnCallback = [](libusb_context*, libusb_device*, libusb_hotplug_event event,
                         void* pUser) -> int
    {
        static_cast<CLibusbBackend*>(pUser)->QueueChange(
            event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED ? EDeviceChange::Arrival
                                                         : EDeviceChange::Removal);
        return 0; // stay registered
    };
    int hHotplug = 0;
    if (StatusOf(libusb_hotplug_register_callback(
                       m_pContext,
                       static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                                         LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
                       static_cast<libusb_hotplug_flag>(0), MPUSB_VENDOR, MPUSB_PRODUCT,
                       LIBUSB_HOTPLUG_MATCH_ANY, fnCallback, this, &hHotplug),
                   "follow plugging and unplugging", nullptr, EStatus::System) != EStatus::Ok)
        return;
    m_hHotplug = hHotplug;
    m_bHotplugRegistered = true;
    m_thrEvents = std::thread(&CLibusbBackend::RunEvents, this);
}

void CLibusbBackend::QueueChange(EDeviceChange change)
{
    std::lock_guard<std::mutex> lock(m_mutexChanges);
    m_dqChanges.push_back(change);
}

void CLibusbBackend::RunEvents()
{
    while (!m_bStop)
    {
        timeval tvSlice{0, EVENT_SLICE_US};
        const int nResult = libusb_handle_events_timeout_completed(m_pContext, &tvSlice, nullptr);
        DeliverChanges();
        if (nResult != LIBUSB_SUCCESS && nResult != LIBUSB_ERROR_INTERRUPTED && !m_bStop)
            std::this_thread::sleep_for(std::chrono::milliseconds(10)); // no busy spin on errors
    }
}

void CLibusbBackend::DeliverChanges()
{
    std::deque<EDeviceChange> dqChanges;
    {
        std::lock_guard<std::mutex> lock(m_mutexChanges);
        dqChanges.swap(m_dqChanges);
    }
    for (const EDeviceChange change : dqChanges)
    {
        if (m_bStop)
            return;
        m_fnSink(change);
    }
}

std::shared_ptr<CUsbBackend> CreateLibusbBackend()
{
    return std::make_shared<CLibusbBackend>();
}
