/* An application written in C: it loads libzorvane.so with dlopen, writes the one board of the
 * simulated bus and compares the bus trace byte for byte. Then it loads the library once more,
 * opens a USB board and a COM port (a pseudo-terminal) and ends without unloading it: the
 * process exit ends the library.
 *
 *   c_application <library> <trace file>      exit 0 when everything matched */
#include "zorvane.h"

#include <dlfcn.h>
#include <poll.h>
#include <pty.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#define CHECK(condition)                                                                           \
    do                                                                                             \
    {                                                                                              \
        if (!(condition))                                                                          \
        {                                                                                          \
            fprintf(stderr, "c_application:%d: %s\n", __LINE__, #condition);                       \
            return 1;                                                                              \
        }                                                                                          \
    } while (0)
/* The export's own type, from zorvane.h. */
#define LOAD(library, name) __typeof__(&name) p##name = (__typeof__(&name))dlsym(library, #name)

/* Loads the library afresh, opens board 7 and COM port 1 (a pseudo-terminal), and returns with
 * both open. */
static int EndWithEverythingOpen(const char* pszLibrary, const char* pszTrace)
{
    int hMaster = -1, hSlave = -1;
    char szSlave[128], szLink[512], szPattern[512];
    CHECK(openpty(&hMaster, &hSlave, szSlave, NULL, NULL) == 0);
    snprintf(szLink, sizeof szLink, "%s.com0", pszTrace);
    snprintf(szPattern, sizeof szPattern, "%s.com%%d", pszTrace);
    unlink(szLink);
    CHECK(symlink(szSlave, szLink) == 0);
    CHECK(setenv("KELVARD_COM_PATTERN", szPattern, 1) == 0 &&
          setenv("KELVARD_SIM_TRACE", "", 1) == 0);

    void* hLibrary = dlopen(pszLibrary, RTLD_NOW);
    CHECK(hLibrary != NULL);
    LOAD(hLibrary, Initialize);
    LOAD(hLibrary, WriteBytePortA);
    CHECK(pInitialize && pWriteBytePortA);
    CHECK(pInitialize() == 1 && pWriteBytePortA("7", 1) == 1);
    CHECK(pWriteBytePortA("COM1", 0x41) == 0);
    /* The line arriving shows the port is open. */
    char cFirst = 0;
    struct pollfd pfd = {hMaster, POLLIN, 0};
    CHECK(poll(&pfd, 1, 2000) == 1 && read(hMaster, &cFirst, 1) == 1 && cFirst == 'O');
    unlink(szLink);
    puts("c_application: leaving with a board and a COM port open");
    return 0; /* no dlclose: the process exit ends the library */
}

int main(int argc, char** argv)
{
    CHECK(argc == 3);
    /* The library reads its bus from the environment at its first use. */
    remove(argv[2]);
    CHECK(setenv("KELVARD_USB", "sim", 1) == 0 && setenv("KELVARD_SIM_BOARDS", "id=7", 1) == 0 &&
          setenv("KELVARD_SIM_TRACE", argv[2], 1) == 0);
    void* hLibrary = dlopen(argv[1], RTLD_NOW);
    CHECK(hLibrary != NULL);
    LOAD(hLibrary, Initialize);
    LOAD(hLibrary, GetUsbDeviceID);
    LOAD(hLibrary, WriteBytePortC);
    LOAD(hLibrary, GetBitIOError);
    CHECK(pInitialize && pGetUsbDeviceID && pWriteBytePortC && pGetBitIOError);

    CHECK(pInitialize() == 1);
    const char* pszName = pGetUsbDeviceID(0);
    CHECK(strcmp(pszName, "7") == 0);
    CHECK(pWriteBytePortC(pszName, 0x0F) == 1);
    CHECK(pWriteBytePortC("", 1) == 0);
    char szError[64];
    CHECK(pGetBitIOError(szError, (int32_t)sizeof szError) == 15 &&
          strcmp(szError, "No Port defined") == 0);
    CHECK(dlclose(hLibrary) == 0);

    /* The last line of the trace: the write, after the enumeration's exchanges. */
    FILE* pTrace = fopen(argv[2], "r");
    CHECK(pTrace != NULL);
    static char szTrace[8192];
    szTrace[fread(szTrace, 1, sizeof szTrace - 1, pTrace)] = '\0';
    fclose(pTrace);
    const char* pszLast = strstr(szTrace, "0 > 37");
    CHECK(pszLast && strcmp(pszLast, "0 > 37 00 00 0f 00 00\n") == 0);
    puts("c_application: all bytes as expected");
    return EndWithEverythingOpen(argv[1], argv[2]);
}
