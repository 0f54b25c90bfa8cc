// kelvard-boards: lists the attached boards with their identity and port values, through the
// driver operations and the command set alone. "--simulate" uses the simulated bus.
#include "protocol/DeviceLink.h"
#include "protocol/Enumeration.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp(argv[i], "--simulate") == 0)
        {
            setenv("KELVARD_USB", "sim", 1);
        }
        else
        {
            std::fprintf(stderr, "usage: kelvard-boards [--simulate]\n");
            return 2;
        }
    }

    const std::uint32_t nCount = MPUSBGetDeviceCount(MPUSB_VID_PID);
    std::printf("%u board(s) with identity %s\n", nCount, MPUSB_VID_PID);
    if (nCount == 0)
        return 0;
    std::printf("%-9s %-4s %-9s %-9s %s\n", "Instance", "ID", "Serial", "Firmware", "Ports A-E");
    WalkDeviceLinks(static_cast<std::int32_t>(nCount),
                    [](std::uint32_t nInstance, MPUSB_HANDLE hRead, MPUSB_HANDLE hWrite)
                    {
                        if (UsbQueryBootloader(hRead, hWrite))
                        {
                            std::printf("%-9u (in its bootloader)\n", nInstance);
                        }
                        else
                        {
                            std::uint8_t byId = 0;
                            UsbReadDeviceId(hRead, hWrite, byId);
                            const std::string strSerial = UsbReadSerialNumber(hRead, hWrite);
                            const std::uint16_t wVersion = UsbReadVersion(hRead, hWrite);
                            PortBytes ports{};
                            const bool bPorts = UsbReadPorts(hRead, hWrite, ports);
                            std::printf("%-9u %-4u %-9s %-9s ", nInstance, byId,
                                        strSerial.empty() ? "-" : strSerial.c_str(),
                                        FormatVersion(wVersion).c_str());
                            if (bPorts)
                                std::printf("%02x %02x %02x %02x %02x\n", ports[0], ports[1],
                                            ports[2], ports[3], ports[4]);
                            else
                                std::printf("(no answer)\n");
                        }
                        MPUSBClose(hRead);
                        MPUSBClose(hWrite);
                    });
    return 0;
}
