#include "protocol/UsbOpenError.h"

const char* UsbOpenErrorText(EUsbOpenError eError)
{
    switch (eError)
    {
    case EUsbOpenError::None:
        return "opens";
    case EUsbOpenError::Access:
        return "permission denied";
    case EUsbOpenError::Busy:
        return "in use by another program";
    case EUsbOpenError::Gone:
        return "left the bus";
    case EUsbOpenError::Other:
        return "cannot be opened";
    }
    return "cannot be opened";
}
