/* An application written in C: it loads libzorvane.so with dlopen, finds the one board of the
 * simulated bus and drives it; the bus trace is then compared byte for byte with what the
 * command set prescribes. It then loads the library once more, opens a USB board and a COM
 * port (a pseudo-terminal) and ends without unloading it: the process exit ends the library.
 *
 *   c_application <library> <trace file>      exit 0 when everything matched */
#include "zorvane.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#define CHECK(condition)                                                                          \
    do                                                                                            \
    {                                                                                             \
        if (!(condition))                                                                         \
        {                                                                                         \
            fprintf(stderr, "c_application:%d: %s\n", __LINE__, #condition);                     \
            return 1;                                                                             \
        }                                                                                         \
    } while (0)

static const char* const EXPECTED[] = {
    "0 > 37 00 00 0f 00 00",
    "0 > 39 ff 00 00 00 00 00 f0 00 07 00",
    "0 > 36 00 00 00 00 00",
    "0 < 36 00 00 0f 00 00",
    "0 > 37 00 00 0f 00 00",
    "0 > 37 00 00 0f 00 00",
    "0 > 37 00 00 0f 00 00",
    "0 > 37 00 00 0f 00 00",
    "0 > 39 ff 00 00 00 00 00 f0 00 07 00",
};

/* Loads the library afresh, opens board 7 and COM port 1, and returns with both open. */
static int EndWithEverythingOpen(const char* pszLibrary, const char* pszTrace)
{
    int hMaster = -1;
    int hSlave = -1;
    char szSlave[128];
    CHECK(openpty(&hMaster, &hSlave, szSlave, NULL, NULL) == 0);
    struct termios tio;
    CHECK(tcgetattr(hMaster, &tio) == 0);
    cfmakeraw(&tio);
    CHECK(tcsetattr(hMaster, TCSANOW, &tio) == 0);
    char szLink[512];
    snprintf(szLink, sizeof szLink, "%s.com0", pszTrace);
    unlink(szLink);
    CHECK(symlink(szSlave, szLink) == 0);
    char szPattern[512];
    snprintf(szPattern, sizeof szPattern, "%s.com%%d", pszTrace);
    CHECK(setenv("KELVARD_COM_PATTERN", szPattern, 1) == 0);
    CHECK(setenv("KELVARD_SIM_TRACE", "", 1) == 0);

    void* hLibrary = dlopen(pszLibrary, RTLD_NOW);
    CHECK(hLibrary != NULL);
    int32_t (*pInitialize)(void) = (int32_t(*)(void))dlsym(hLibrary, "Initialize");
    int32_t (*pWriteBytePortA)(const char*, int32_t) =
        (int32_t(*)(const char*, int32_t))dlsym(hLibrary, "WriteBytePortA");
    CHECK(pInitialize && pWriteBytePortA);
    CHECK(pInitialize() == 1);
    CHECK(pWriteBytePortA("7", 1) == 1);
    CHECK(pWriteBytePortA("COM1", 0x41) == 0);
    char szLine[16] = {0};
    size_t nTaken = 0;
    while (nTaken < 9)
    {
        struct pollfd pfd = {hMaster, POLLIN, 0};
        CHECK(poll(&pfd, 1, 2000) == 1);
        const ssize_t nRead = read(hMaster, szLine + nTaken, sizeof szLine - 1 - nTaken);
        CHECK(nRead > 0);
        nTaken += (size_t)nRead;
    }
    CHECK(strcmp(szLine, "O,65,0,0\n") == 0);
    unlink(szLink);
    puts("c_application: leaving with a board and a COM port open");
    return 0; /* no dlclose: the process exit ends the library */
}

int main(int argc, char** argv)
{
    CHECK(argc == 3);
    /* The library reads its bus from the environment at its first use. */
    remove(argv[2]);
    CHECK(setenv("KELVARD_USB", "sim", 1) == 0);
    CHECK(setenv("KELVARD_SIM_BOARDS", "id=7", 1) == 0);
    CHECK(setenv("KELVARD_SIM_TRACE", argv[2], 1) == 0);
    void* hLibrary = dlopen(argv[1], RTLD_NOW);
    CHECK(hLibrary != NULL);
    int32_t (*pInitialize)(void) = (int32_t(*)(void))dlsym(hLibrary, "Initialize");
    const char* (*pGetUsbDeviceID)(int32_t) = (const char* (*)(int32_t))dlsym(hLibrary, "GetUsbDeviceID");
    int32_t (*pWriteBytePortC)(const char*, int32_t) =
        (int32_t(*)(const char*, int32_t))dlsym(hLibrary, "WriteBytePortC");
    int32_t (*pReadBytePortC)(const char*, uint8_t*) =
        (int32_t(*)(const char*, uint8_t*))dlsym(hLibrary, "ReadBytePortC");
    int32_t (*pConfigurePortsEx)(const char*, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) =
        (int32_t(*)(const char*, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t))dlsym(hLibrary,
                                                                                            "ConfigurePortsEx");
    int32_t (*pAddVirtualPort)(int32_t, const char*, int32_t, int32_t, int32_t) =
        (int32_t(*)(int32_t, const char*, int32_t, int32_t, int32_t))dlsym(hLibrary, "AddVirtualPort");
    int32_t (*pGetBitIOError)(char*, int32_t) = (int32_t(*)(char*, int32_t))dlsym(hLibrary, "GetBitIOError");
    CHECK(pInitialize && pGetUsbDeviceID && pWriteBytePortC && pReadBytePortC && pConfigurePortsEx &&
          pAddVirtualPort && pGetBitIOError);

    CHECK(pInitialize() == 1);
    const char* pszName = pGetUsbDeviceID(0);
    CHECK(strcmp(pszName, "7") == 0);
    CHECK(pWriteBytePortC(pszName, 0x0F) == 1);
    CHECK(pConfigurePortsEx(pszName, 0xFF, 0x00, 0x00, 0xF0, 0x07, 0) == 1);
    uint8_t byValue = 0;
    CHECK(pReadBytePortC(pszName, &byValue) == 1);
    CHECK(byValue == 0x0F);
    CHECK(pAddVirtualPort(7, "Low", 0, 8, 1) == 0);
    CHECK(pReadBytePortC("", &byValue) == 0);
    char szError[64];
    CHECK(pGetBitIOError(szError, (int32_t)sizeof szError) == 15);
    CHECK(strcmp(szError, "No Port defined") == 0);
    CHECK(dlclose(hLibrary) == 0);

    FILE* pTrace = fopen(argv[2], "r");
    CHECK(pTrace != NULL);
    char szLine[512];
    size_t nLine = 0;
    /* Skip the enumeration: the port traffic starts with the first write-ports. */
    while (fgets(szLine, sizeof szLine, pTrace) && strncmp(szLine, "0 > 37", 6) != 0)
    {
    }
    do
    {
        szLine[strcspn(szLine, "\n")] = '\0';
        CHECK(nLine < sizeof EXPECTED / sizeof EXPECTED[0]);
        if (strcmp(szLine, EXPECTED[nLine]) != 0)
        {
            fprintf(stderr, "c_application: trace line %zu is \"%s\", not \"%s\"\n", nLine, szLine,
                    EXPECTED[nLine]);
            return 1;
        }
        ++nLine;
    } while (fgets(szLine, sizeof szLine, pTrace));
    fclose(pTrace);
    CHECK(nLine == sizeof EXPECTED / sizeof EXPECTED[0]);
    puts("c_application: all bytes as expected");
    return EndWithEverythingOpen(argv[1], argv[2]);
}
