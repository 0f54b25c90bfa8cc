#pragma once
// What the driver layer's own files share and nothing above the driver layer uses: the order in
// which the device-change watch and the driver state come to life, and the watch asking for the
// backend's reports.

// Makes the device-change watch's state now (DeviceWatch.cpp). The driver state calls it before
// it makes itself, so the watch ends after the driver state: a backend reports changes to the
// watch until the driver state destroys it.
void DeviceWatchStartup();

// Connects the current backend (and every later one) to the device-change watch (Mpusb.cpp).
// The watch calls it when its first consumer registers.
void MpusbConnectWatch();
