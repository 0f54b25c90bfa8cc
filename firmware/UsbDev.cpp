#include "firmware/UsbDev.h"

#include "protocol/PortTypes.h"

namespace
{
// A pipe counts as open unless it is the driver's invalid handle (or was never given one).
bool IsOpen(MPUSB_HANDLE hPipe)
{
    return hPipe != 0 && hPipe != MPUSB_INVALID_HANDLE;
}

void ClosePipe(MPUSB_HANDLE& hPipe)
{
    if (IsOpen(hPipe))
    {
        MPUSBClose(hPipe);
    }
    hPipe = MPUSB_INVALID_HANDLE;
}
} // namespace

CUsbDev::CUsbDev(MPUSB_HANDLE hRead, MPUSB_HANDLE hWrite) : m_hRead(hRead), m_hWrite(hWrite) {}

CUsbDev::~CUsbDev()
{
    ClosePipe(m_hRead);
    ClosePipe(m_hWrite);
}

std::string CUsbDev::GetVersionText() const
{
    return FormatVersion(m_wVersion);
}
