#pragma once
// The tool's record of one opened board: its two pipes and the identity that discovery read.
// Not the library's port device of the same name.
#include <cstdint>
#include <string>

#include "protocol/Mpusb.h"

class CUsbDev
{
public:
    // Takes over both pipes; discovery fills in the identity right after.
    CUsbDev(MPUSB_HANDLE hRead, MPUSB_HANDLE hWrite);
    // Closes the read pipe, then the write pipe, each only if it is open.
    virtual ~CUsbDev();

    CUsbDev(const CUsbDev&) = delete;
    CUsbDev& operator=(const CUsbDev&) = delete;

    std::string GetSerial() const { return m_strSerial; }
    // "%d.%02d" of major (high byte) and minor (low byte): 0x0103 reads 1.03.
    std::string GetVersionText() const;

    int m_nDeviceId = 0; // from read-device-id, 0 when that exchange failed
    MPUSB_HANDLE m_hRead;
    MPUSB_HANDLE m_hWrite;
    std::string m_strSerial;      // "" when the board reports none
    std::uint16_t m_wVersion = 0; // high byte major, low byte minor
};
