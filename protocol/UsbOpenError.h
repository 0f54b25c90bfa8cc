#pragma once
// Why an attached board could not be opened, as a tool tells its user.
enum class EUsbOpenError
{
    None,   // it opens (or is open already)
    Access, // the user may not open its device node: no udev rule, or not in the right group
    Busy,   // another program holds its interface
    Gone,   // it left the bus meanwhile
    Other,  // anything else
};

// A few words for a message: "permission denied", "in use by another program", ...
const char* UsbOpenErrorText(EUsbOpenError eError);
