/* Zorvane: find Kelvard USB digital-I/O boards and boards on COM ports, and read, write and
 * configure their ports by device name.
 *
 * Device names. A USB board is named by the decimal text of its device ID ("7"); any other
 * non-empty name is a COM port ("COM3", "com3" and "3" all mean COM port 3). Names are compared
 * without regard to case, and a USB board wins over a COM port of the same name. The USB table
 * is filled by Initialize; a COM-port board is made on first use of its name and kept until the
 * library unloads. COM port n is the device node given by the printf pattern in the environment
 * variable KELVARD_COM_PATTERN applied to n - 1 (default "/dev/ttyS%d": COM1 is /dev/ttyS0).
 *
 * Results. Every function returns a 32-bit signed integer: nonzero for success, 0 for failure,
 * for an unknown or empty device name, and for an operation that the board's kind does not
 * support. Failures leave no error text, except the two that GetBitIOError reports.
 *
 * Threads. Any thread may call any function at any time: one library lock serialises every
 * call and the library's own re-enumeration. A call blocks its caller for its transfers (at
 * most 500 ms per USB transfer, about 500 ms for a COM-port reply). No function throws.
 * The first Initialize starts the library's one thread of its own, which re-enumerates the USB
 * boards whenever one is plugged in or unplugged; it ends when the library is unloaded (no
 * function may still be running then).
 */
#ifndef ZORVANE_H
#define ZORVANE_H

#include <stdint.h>

#if defined(__GNUC__)
#define ZORVANE_API __attribute__((visibility("default")))
#else
#define ZORVANE_API
#endif

#ifdef __cplusplus
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

/* The string array that ListUsbDevices appends to. Header-only: the application owns it. */
class CStringArray
{
public:
    int GetSize() const { return static_cast<int>(m_arrItems.size()); }
    int GetCount() const { return GetSize(); }
    bool IsEmpty() const { return m_arrItems.empty(); }
    const std::string& GetAt(int nIndex) const { return m_arrItems.at(static_cast<std::size_t>(nIndex)); }
    void SetAt(int nIndex, std::string strItem) { m_arrItems.at(static_cast<std::size_t>(nIndex)) = std::move(strItem); }
    std::string& operator[](int nIndex) { return m_arrItems[static_cast<std::size_t>(nIndex)]; }
    const std::string& operator[](int nIndex) const { return m_arrItems[static_cast<std::size_t>(nIndex)]; }
    /* Appends and returns the new element's index. */
    int Add(std::string strItem)
    {
        m_arrItems.push_back(std::move(strItem));
        return GetSize() - 1;
    }
    void RemoveAll() { m_arrItems.clear(); }

private:
    std::vector<std::string> m_arrItems;
};

extern "C" {
#else
/* C callers cannot make one; they use GetUsbDeviceID instead. */
typedef struct CStringArray CStringArray;
#endif

/* --- Boards -------------------------------------------------------------------------------- */

/* Finds the attached USB boards: drops boards that no longer answer, enters every new board in
 * application firmware under its device ID (boards in their bootloader and second boards with
 * an ID already taken are left out), and arms the library to follow plug and unplug events by
 * itself. Result: the number of USB boards in the table. May be called any number of times.
 * Threads: any; other calls wait while the boards are asked (a few USB exchanges per board). */
ZORVANE_API int32_t Initialize(void);

/* The same as Initialize, under a second name. Threads: as Initialize. */
ZORVANE_API int32_t InitializeZorvane(void);

/* Appends the name of every USB board to *pArray (existing elements stay), in the same order
 * as GetUsbDeviceID. Result: the array's element count afterwards; 0 when pArray is null.
 * Threads: any; the array is the caller's, so one thread at a time per array. */
ZORVANE_API int32_t ListUsbDevices(CStringArray* pArray);

/* The name of the USB board at nPosition (0 based, in the order of ListUsbDevices), or an
 * empty text when nPosition is negative or not below the board count. The text belongs to the
 * library and stays valid until the library unloads, even after its board has left.
 * Threads: any. */
ZORVANE_API const char* GetUsbDeviceID(int32_t nPosition);

/* Copies the last error text ("No Port defined" after an empty device name, "Failed to write
 * configuration" after a failed ConfigurePortsEx, else empty) into pszBuffer, at most
 * nSize - 1 characters and a terminating zero, and clears it. Result: the number of characters
 * copied. A null buffer or a size below 1 copies nothing, keeps the text and gives 0.
 * Threads: any; there is one error text for the whole process. */
ZORVANE_API int32_t GetBitIOError(char* pszBuffer, int32_t nSize);

/* --- Configuration ------------------------------------------------------------------------- */

/* Sets the pin directions of ports A to E (bit set = input; the low byte of each value is
 * used); nReserved is not used. A COM-port board takes ports A to C only. Result: 1 on success
 * (the error text becomes empty), 0 on failure (error text "Failed to write configuration").
 * Threads: any (one USB transfer or one COM-port line). */
ZORVANE_API int32_t ConfigurePortsEx(const char* pszDevice, int32_t nDirA, int32_t nDirB,
                                     int32_t nDirC, int32_t nDirD, int32_t nDirE,
                                     int32_t nReserved);

/* Sets the pin directions of ports A to C of a COM-port board; nReserved is not used.
 * Result: the number of characters sent, 0 on failure; always 0 for a USB board.
 * Threads: any. */
ZORVANE_API int32_t ConfigurePorts(const char* pszDevice, int32_t nDirA, int32_t nDirB,
                                   int32_t nDirC, int32_t nReserved);

/* --- Whole ports --------------------------------------------------------------------------- */

/* Write the low byte of nValue to one port. A USB board receives all five ports, the others
 * as last written or read. Result for a USB board: 1 when the board took the write, else 0.
 * For a COM-port board (ports A to C): the number of reply characters that were already
 * waiting (0 to 64), so 0 does not mean failure; ports D and E always give 0.
 * Threads: any (one USB transfer or one COM-port line). */
ZORVANE_API int32_t WriteBytePortA(const char* pszDevice, int32_t nValue);
ZORVANE_API int32_t WriteBytePortB(const char* pszDevice, int32_t nValue);
ZORVANE_API int32_t WriteBytePortC(const char* pszDevice, int32_t nValue);
ZORVANE_API int32_t WriteBytePortD(const char* pszDevice, int32_t nValue);
ZORVANE_API int32_t WriteBytePortE(const char* pszDevice, int32_t nValue);

/* Read one port into *pbyValue. Result: 1 when the board answered, else 0. After a failed
 * read of a USB board *pbyValue receives the value last known; a COM-port board leaves it
 * untouched (and gives 0 for ports D and E).
 * Threads: any; a COM-port board's reply is awaited for about 500 ms at most. */
ZORVANE_API int32_t ReadBytePortA(const char* pszDevice, uint8_t* pbyValue);
ZORVANE_API int32_t ReadBytePortB(const char* pszDevice, uint8_t* pbyValue);
ZORVANE_API int32_t ReadBytePortC(const char* pszDevice, uint8_t* pbyValue);
ZORVANE_API int32_t ReadBytePortD(const char* pszDevice, uint8_t* pbyValue);
ZORVANE_API int32_t ReadBytePortE(const char* pszDevice, uint8_t* pbyValue);

/* Reads ports A to C of a COM-port board in one exchange into the non-null pointers.
 * Result: 1 or 0; always 0 for a USB board. Threads: as ReadBytePortA. */
ZORVANE_API int32_t ReadBytePorts(const char* pszDevice, uint8_t* pbyPortA, uint8_t* pbyPortB,
                                  uint8_t* pbyPortC);

/* --- Single bits (COM-port boards; always 0 for a USB board) ------------------------------- */

/* Sets (nValue nonzero) or clears bit nBit (0 to 7) of a port. Result: the number of reply
 * characters that were already waiting, as for WriteBytePortA. Threads: any. */
ZORVANE_API int32_t WriteBitPortA(const char* pszDevice, int32_t nBit, int32_t nValue);
ZORVANE_API int32_t WriteBitPortB(const char* pszDevice, int32_t nBit, int32_t nValue);
ZORVANE_API int32_t WriteBitPortC(const char* pszDevice, int32_t nBit, int32_t nValue);

/* Asks for bit nBit (0 to 7) of a port and waits up to about 30 ms for the board's reply. Result:
 * 1 when the board answered, and then *pnValue is 0x31; else 0 and *pnValue is untouched.
 * Threads: any. */
ZORVANE_API int32_t ReadBitPortA(const char* pszDevice, int32_t nBit, int32_t* pnValue);
ZORVANE_API int32_t ReadBitPortB(const char* pszDevice, int32_t nBit, int32_t* pnValue);
ZORVANE_API int32_t ReadBitPortC(const char* pszDevice, int32_t nBit, int32_t* pnValue);

/* --- Virtual ports: named bit fields over pins 0 to 26 of a USB board ---------------------- */
/* nDevice is the board's device ID; COM-port boards have no virtual ports. An unknown nDevice
 * gives 0 and does nothing. Pin n of the field word is bit n % 8 of port A, B, C, D for
 * n / 8 = 0, 1, 2, 3. Names are compared exactly, case included. Threads: any, for all five;
 * a field change is a few USB transfers that no other call interrupts. */

/* Defines field pszName over nWidth pins from pin nStart (low 8 bits of each used), writes it
 * with 0 and then makes its pins inputs (nInput nonzero) or outputs. Result: 0 = added (or
 * unknown nDevice), 1 = it would overlap another field, 2 = the name exists, 3 = nStart +
 * nWidth is above 27. */
ZORVANE_API int32_t AddVirtualPort(int32_t nDevice, const char* pszName, int32_t nStart,
                                   int32_t nWidth, int32_t nInput);

/* Writes the field with 0 and removes it; its pins keep their direction. Result: 1 = removed,
 * 0 = no such field. */
ZORVANE_API int32_t RemoveVirtualPort(int32_t nDevice, const char* pszName);

/* Writes every field with 0 and removes it. Result: always 0. */
ZORVANE_API int32_t RemoveAllVirtualPorts(int32_t nDevice);

/* Writes nValue (which must fit the field's width) to the field's pins; the other pins keep
 * their last values. Result: always 0. */
ZORVANE_API int32_t WriteVirtualPort(int32_t nDevice, const char* pszName, int32_t nValue);

/* Reading a field is not supported: *pnValue is left untouched. Result: always 0. */
ZORVANE_API int32_t ReadVirtualPort(int32_t nDevice, const char* pszName, int32_t* pnValue);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* ZORVANE_H */
