/* An application written in C: it loads libzorvane.so with dlopen, opens the USB board of the
 * simulated bus and a COM port (a pseudo-terminal), and ends without unloading the library: the
 * process exit ends the library, with a board and a COM port open. (A C program linked against
 * the library, its calls and their bytes on the wire: check_install.sh.)
 *
 *   c_application <library> <scratch path>      exit 0 when everything answered as it should */
#include "zorvane.h"

#include <dlfcn.h>
#include <poll.h>
#include <pty.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

/* As a statement: returns 1 from main when the condition does not hold. */
/* clang-format off */
#define CHECK(condition)                                                                           \
    if (!(condition))                                                                              \
        return fprintf(stderr, "c_application:%d: %s\n", __LINE__, #condition), 1
/* clang-format on */
/* The export's own type, from zorvane.h. */
#define LOAD(library, name) __typeof__(&name) p##name = (__typeof__(&name))dlsym(library, #name)

int main(int argc, char** argv)
{
    CHECK(argc == 3);
    /* COM port 1 is the pseudo-terminal, through a link at <scratch path>.com0. */
    int hMaster = -1, hSlave = -1;
    char szSlave[128], szLink[512], szPattern[512];
    CHECK(openpty(&hMaster, &hSlave, szSlave, NULL, NULL) == 0);
    snprintf(szLink, sizeof szLink, "%s.com0", argv[2]);
    snprintf(szPattern, sizeof szPattern, "%s.com%%d", argv[2]);
    unlink(szLink);
    CHECK(symlink(szSlave, szLink) == 0);
    /* The library reads its bus from the environment at its first use. */
    CHECK(setenv("KELVARD_USB", "sim", 1) == 0 && setenv("KELVARD_SIM_BOARDS", "id=7", 1) == 0 &&
          setenv("KELVARD_SIM_TRACE", "", 1) == 0 &&
          setenv("KELVARD_COM_PATTERN", szPattern, 1) == 0);

    void* hLibrary = dlopen(argv[1], RTLD_NOW);
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
