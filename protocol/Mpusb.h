#pragma once
// The five operations of the board maker's general-purpose USB driver, with the arguments and
// results both deliverables rely on, on the default driver context (DriverContext.h). The
// project's own code opens boards through a context as CBoardLink instead; these are the driver
// interface for whoever expects it.
#include "protocol/UsbBackend.h"

#include <cstdint>
#include <string>

using MPUSB_HANDLE = std::uintptr_t;

// The invalid-handle value: all ones.
inline constexpr MPUSB_HANDLE MPUSB_INVALID_HANDLE = ~MPUSB_HANDLE(0);

inline constexpr std::uint32_t MP_WRITE = 0; // direction: write pipe (host to board)
inline constexpr std::uint32_t MP_READ = 1;  // direction: read pipe (board to host)
inline constexpr std::uint32_t MPUSB_SUCCESS = 1;
inline constexpr std::uint32_t MPUSB_FAIL = 0;

inline constexpr char MPUSB_VID_PID[] = "vid_04d8&pid_fffe";
inline constexpr char MPUSB_ENDPOINT[] = "\\MCHP_EP1";
inline constexpr std::uint32_t MPUSB_TIMEOUT_MS = 500;
inline constexpr std::uint32_t MPUSB_MAX_INSTANCES = 127; // instance numbers 0 to 126

// Number of attached devices with the identity ("vid_xxxx&pid_yyyy"); 0 for an unreadable identity.
std::uint32_t MPUSBGetDeviceCount(const char* pVidPid);

// Opens one pipe of endpoint pEndpoint ("\MCHP_EPn") of the instance-th device with the identity:
// dwDir MP_READ gives the read pipe, MP_WRITE the write pipe. MPUSB_INVALID_HANDLE when that
// instance cannot be opened. Never returns 0.
MPUSB_HANDLE MPUSBOpen(std::uint32_t dwInstance, const char* pVidPid, const char* pEndpoint,
                       std::uint32_t dwDir, std::uint32_t dwReserved);

// Sends dwLen bytes on a write pipe, waiting at most dwMilliseconds. MPUSB_SUCCESS when every
// byte was taken; anything else is failure. *pLength (when not null) receives the bytes moved.
std::uint32_t MPUSBWrite(MPUSB_HANDLE hPipe, const void* pData, std::uint32_t dwLen,
                         std::uint32_t* pLength, std::uint32_t dwMilliseconds);

// Receives one reply of at most dwLen bytes on a read pipe, waiting at most dwMilliseconds.
// MPUSB_SUCCESS when a reply arrived; *pLength receives its length. On failure the buffer is
// left as it was.
std::uint32_t MPUSBRead(MPUSB_HANDLE hPipe, void* pData, std::uint32_t dwLen,
                        std::uint32_t* pLength, std::uint32_t dwMilliseconds);

// Closes one pipe; unknown handles are ignored. Returns true when the handle was open.
bool MPUSBClose(MPUSB_HANDLE hPipe);
