#include "protocol/Status.h"

const char* StatusText(EStatus eStatus)
{
    switch (eStatus)
    {
    case EStatus::Ok:
        return "done";
    case EStatus::Usb:
        return "no reply";
    case EStatus::Verify:
        return "verify failed";
    case EStatus::FileOpen:
        return "cannot be opened";
    case EStatus::FileEnd:
        return "ends too early";
    case EStatus::FileRecord:
        return "a record is not valid";
    case EStatus::Stopped:
        return "interrupted";
    case EStatus::NoFit:
        return "does not fit the chip";
    case EStatus::UnknownChip:
        return "unknown chip";
    case EStatus::BootBlock:
        return "boot block may be damaged";
    case EStatus::Argument:
        return "not a valid request";
    case EStatus::Access:
        return "permission denied";
    case EStatus::Busy:
        return "in use by another program";
    case EStatus::Gone:
        return "left the bus";
    case EStatus::System:
        return "cannot be opened";
    }
    return "unknown status";
}
