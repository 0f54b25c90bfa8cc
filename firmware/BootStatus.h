#pragma once
// Results of the firmware-update steps. 0 is success; every failure is negative and ends the
// update at once. The HEX reader returns only BL_OK, BL_ERR_OPEN, BL_ERR_EOF and BL_ERR_CHECKSUM.

inline constexpr int BL_OK = 0;
inline constexpr int BL_ERR_USB = -1;     // a USB write or read failed or timed out
inline constexpr int BL_ERR_VERIFY = -12; // a block read back differs from what was written
inline constexpr int BL_ERR_OPEN = -13;   // the HEX file cannot be opened for reading
inline constexpr int BL_ERR_EOF = -14;    // the HEX text ends inside a record or before its end
inline constexpr int BL_ERR_CHECKSUM =
    -15; // a HEX record is not valid (checksum, or see LoadHexFile)
// The caller stopped the job (CBootLoader::Stop) before its next request: the board keeps what
// was written so far and stays in its bootloader.
inline constexpr int BL_ERR_STOPPED = -16;
// The image does not fit the identified chip (CBootLoader::m_strRefusal says why); nothing was
// erased or written.
inline constexpr int BL_ERR_FIT = -17;
// The chip's device code is not in the chip table and the caller takes known chips only;
// nothing was erased or written.
inline constexpr int BL_ERR_CHIP = -18;
// The rewrite of the boot block failed on every try: the block, which holds bootloader code,
// may be damaged.
inline constexpr int BL_ERR_BOOT_BLOCK = -19;
// The request cannot be made as asked (a serial number not 1 to 8 characters long); nothing was
// written.
inline constexpr int BL_ERR_ARGUMENT = -20;
