/* A program built against an installed Zorvane: it finds the boards and drives the first one.
 * Prints one line per step; exit 0 when every call answered as it should. */
#include <zorvane.h>

#include <stdio.h>
#include <string.h>

int main(void)
{
    const int32_t nBoards = Initialize();
    printf("boards %d\n", nBoards);
    if (nBoards < 1)
        return 1;
    const char* pszName = GetUsbDeviceID(0);
    printf("first %s\n", pszName);
    if (WriteBytePortC(pszName, 0x0F) != 1 || ConfigurePortsEx(pszName, 0, 0, 0, 0, 0, 0) != 1)
        return 2;
    uint8_t byValue = 0;
    if (ReadBytePortC(pszName, &byValue) != 1)
        return 3;
    printf("port C %02x\n", byValue);
    char szError[32];
    ReadBytePortA(NULL, &byValue);
    if (GetBitIOError(szError, (int32_t)sizeof szError) != 15 || strcmp(szError, "No Port defined") != 0)
        return 4;
    puts("ok");
    return 0;
}
