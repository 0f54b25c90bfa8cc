#pragma once
// The results of the driver layer and the firmware engine: one closed set, each with its text.
// A failure that a system call or libusb reports is written to the debug output once, where it
// becomes one of these; the caller only passes the value on. The firmware engine's values are
// the update's exit codes (0 success, -1 a failed transfer, -12 to -20), which the dialog and the
// worker threads have always reported.
enum class EStatus : int
{
    Ok = 0,
    Usb = -1,          // a USB transfer failed or timed out
    Verify = -12,      // a block read back differs from what was written
    FileOpen = -13,    // the HEX file cannot be opened for reading
    FileEnd = -14,     // the HEX text ends inside a record or before its end record (or holds no
                       // program data)
    FileRecord = -15,  // a HEX record is not valid (checksum, a character that is no hex digit,
                       // ID data of more than 16 bytes)
    Stopped = -16,     // the caller stopped the job before its next request
    NoFit = -17,       // the image does not fit the identified chip; nothing was erased
    UnknownChip = -18, // the chip is not in the chip table and the caller takes known chips only
    BootBlock = -19,   // the boot block's rewrite failed on every try: it may be damaged
    Argument = -20,    // the request cannot be made as asked
    Access = -21,      // the board's device node may not be opened (no udev rule, no group)
    Busy = -22,        // another program holds the board's interface
    Gone = -23,        // no such board: it left the bus, or was never there
    System = -24,      // another failure of the system or libusb (written to the debug output)
};

// A few words for a message: "no reply", "permission denied", "in use by another program", ...
const char* StatusText(EStatus eStatus);

// The status as the number the firmware update reports (its thread's exit code).
constexpr int StatusCode(EStatus eStatus)
{
    return static_cast<int>(eStatus);
}
