// kelvard-boards: lists the attached boards with their identity and port values, through a
// driver context and the command set alone. "--simulate" uses the simulated bus.
#include "protocol/DriverContext.h"
#include "protocol/Enumeration.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    std::shared_ptr<CDriverContext> pContext;
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp(argv[i], "--simulate") == 0 && !pContext)
        {
            std::string strError;
            pContext = CDriverContext::CreateSimulated(strError);
            if (!pContext)
            {
                std::fprintf(stderr, "kelvard-boards: %s\n", strError.c_str());
                return 1;
            }
        }
        else
        {
            std::fprintf(stderr, "usage: kelvard-boards [--simulate]\n");
            return 2;
        }
    }
    if (!pContext)
        pContext = CDriverContext::CreateLibusb();

    const std::uint32_t nCount = pContext->Count();
    std::printf("%u board(s) with identity vid_04d8&pid_fffe\n", nCount);
    if (nCount == 0)
        return 0;
    std::printf("%-9s %-4s %-9s %-9s %s\n", "Instance", "ID", "Serial", "Firmware", "Ports A-E");
    WalkDeviceLinks(*pContext, static_cast<std::int32_t>(nCount),
                    [](std::uint32_t nInstance, CBoardLink link)
                    {
                        if (link.QueryBootloader())
                        {
                            std::printf("%-9u (in its bootloader)\n", nInstance);
                            return;
                        }
                        std::uint8_t byId = 0;
                        link.ReadDeviceId(byId);
                        const std::string strSerial = link.ReadSerialNumber();
                        const std::uint16_t wVersion = link.ReadVersion();
                        PortBytes ports{};
                        const bool bPorts = link.ReadPorts(ports) == EStatus::Ok;
                        std::printf("%-9u %-4u %-9s %-9s ", nInstance, byId,
                                    strSerial.empty() ? "-" : strSerial.c_str(),
                                    FormatVersion(wVersion).c_str());
                        if (bPorts)
                            std::printf("%02x %02x %02x %02x %02x\n", ports[0], ports[1],
                                        ports[2], ports[3], ports[4]);
                        else
                            std::printf("(no answer)\n");
                    });
    return 0;
}
