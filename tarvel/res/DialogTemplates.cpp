// The dialog templates of the tool: the main dialog (102), the about box (100) and the
// serial-number prompt (129). Control order is template order and tab order.
#include "tarvel/res/DialogTemplate.h"

#include "tarvel/res/ControlIds.h"

#include <array>

namespace
{
// Main dialog "Kelvard IO". The bit boxes of port p and bit b sit at x 25 + 49p (port E: 221),
// y 112 + 11b; their Set and Clear buttons above and below the column.
constexpr DialogItem TARVEL_ITEMS[] = {
    {IDOK, EControlKind::DefPushButton, "Close", 114, 236, 50, 14, CS_TABSTOP},
    {IDC_DEVICES, EControlKind::DropDownList, "", 17, 37, 58, 70,
     CS_SORT | CS_VSCROLL | CS_TABSTOP},
    {IDC_SERIAL, EControlKind::Edit, "", 79, 36, 45, 14,
     CS_CENTER | CS_BORDER | CS_AUTOHSCROLL | CS_TABSTOP},
    {IDC_FIRMWARE, EControlKind::Static, "Static", 17, 19, 161, 12, CS_CENTER | CS_SUNKEN},
    {IDC_STATIC, EControlKind::GroupBox, "Device", 7, 7, 182, 85, CS_NONE},
    {1003, EControlKind::AutoCheckBox, "A0", 25, 112, 32, 8, CS_TABSTOP},
    {1004, EControlKind::AutoCheckBox, "A1", 25, 123, 32, 8, CS_TABSTOP},
    {1005, EControlKind::AutoCheckBox, "A2", 25, 134, 32, 8, CS_TABSTOP},
    {1006, EControlKind::AutoCheckBox, "A3", 25, 145, 32, 8, CS_TABSTOP},
    {1007, EControlKind::AutoCheckBox, "A4", 25, 156, 32, 8, CS_TABSTOP},
    {1008, EControlKind::AutoCheckBox, "A5", 25, 167, 32, 8, CS_TABSTOP},
    {1009, EControlKind::AutoCheckBox, "A6", 25, 178, 32, 8, CS_TABSTOP},
    {1010, EControlKind::AutoCheckBox, "A7", 25, 189, 32, 8, CS_TABSTOP},
    {1011, EControlKind::AutoCheckBox, "B0", 74, 112, 32, 8, CS_TABSTOP},
    {1012, EControlKind::AutoCheckBox, "B1", 74, 123, 32, 8, CS_TABSTOP},
    {1013, EControlKind::AutoCheckBox, "B2", 74, 134, 32, 8, CS_TABSTOP},
    {1014, EControlKind::AutoCheckBox, "B3", 74, 145, 32, 8, CS_TABSTOP},
    {1015, EControlKind::AutoCheckBox, "B4", 74, 156, 32, 8, CS_TABSTOP},
    {1016, EControlKind::AutoCheckBox, "B5", 74, 167, 32, 8, CS_TABSTOP},
    {1017, EControlKind::AutoCheckBox, "B6", 74, 178, 32, 8, CS_TABSTOP},
    {1018, EControlKind::AutoCheckBox, "B7", 74, 189, 32, 8, CS_TABSTOP},
    {1019, EControlKind::AutoCheckBox, "C0", 123, 112, 32, 8, CS_TABSTOP},
    {1020, EControlKind::AutoCheckBox, "C1", 123, 123, 32, 8, CS_TABSTOP},
    {1021, EControlKind::AutoCheckBox, "C2", 123, 134, 32, 8, CS_TABSTOP},
    {1022, EControlKind::AutoCheckBox, "C3", 123, 145, 32, 8, CS_TABSTOP},
    {1023, EControlKind::AutoCheckBox, "C4", 123, 156, 32, 8, CS_TABSTOP},
    {1024, EControlKind::AutoCheckBox, "C5", 123, 167, 32, 8, CS_TABSTOP},
    {1025, EControlKind::AutoCheckBox, "C6", 123, 178, 32, 8, CS_TABSTOP},
    {1026, EControlKind::AutoCheckBox, "C7", 123, 189, 32, 8, CS_TABSTOP},
    {1027, EControlKind::AutoCheckBox, "D0", 172, 112, 32, 8, CS_TABSTOP},
    {1028, EControlKind::AutoCheckBox, "D1", 172, 123, 32, 8, CS_TABSTOP},
    {1029, EControlKind::AutoCheckBox, "D2", 172, 134, 32, 8, CS_TABSTOP},
    {1030, EControlKind::AutoCheckBox, "D3", 172, 145, 32, 8, CS_TABSTOP},
    {1031, EControlKind::AutoCheckBox, "D4", 172, 156, 32, 8, CS_TABSTOP},
    {1032, EControlKind::AutoCheckBox, "D5", 172, 167, 32, 8, CS_TABSTOP},
    {1033, EControlKind::AutoCheckBox, "D6", 172, 178, 32, 8, CS_TABSTOP},
    {1034, EControlKind::AutoCheckBox, "D7", 172, 189, 32, 8, CS_TABSTOP},
    {1043, EControlKind::Auto3State, "E0", 221, 112, 52, 8, CS_TABSTOP},
    {1044, EControlKind::Auto3State, "E1", 221, 123, 52, 8, CS_TABSTOP},
    {1045, EControlKind::Auto3State, "E2", 221, 134, 52, 8, CS_TABSTOP},
    {1046, EControlKind::Auto3State, "E3", 221, 145, 52, 8, CS_TABSTOP},
    {1047, EControlKind::AutoCheckBox, "E4", 221, 156, 32, 8, CS_TABSTOP},
    {1048, EControlKind::AutoCheckBox, "E5", 221, 167, 32, 8, CS_TABSTOP},
    {1049, EControlKind::AutoCheckBox, "E6", 221, 178, 32, 8, CS_TABSTOP},
    {1050, EControlKind::AutoCheckBox, "E7", 221, 189, 32, 8, CS_TABSTOP},
    {IDC_UPDATE, EControlKind::PushButton, "Update", 128, 36, 50, 14, CS_TABSTOP},
    {IDC_PORT_BITS, EControlKind::AutoRadio, "Port Bits", 198, 15, 63, 10, CS_GROUP | CS_TABSTOP},
    {IDC_PORT_DIRECTION, EControlKind::AutoRadio, "Port Direction", 198, 28, 63, 10, CS_NONE},
    {IDC_INPUT_POLARITY, EControlKind::AutoRadio, "Input Polarity", 198, 41, 63, 10, CS_NONE},
    {IDC_ANALOG_INPUTS, EControlKind::AutoRadio, "Analog Inputs", 198, 54, 63, 10, CS_NONE},
    {IDC_MESSAGE, EControlKind::Static, "Message", 16, 221, 247, 10, CS_CENTER | CS_GROUP},
    {1051, EControlKind::PushButton, "Set", 21, 99, 29, 10, CS_TABSTOP},
    {1052, EControlKind::PushButton, "Clear", 21, 203, 29, 10, CS_TABSTOP},
    {1053, EControlKind::PushButton, "Set", 70, 99, 29, 10, CS_TABSTOP},
    {1054, EControlKind::PushButton, "Clear", 70, 203, 29, 10, CS_TABSTOP},
    {1055, EControlKind::PushButton, "Set", 118, 99, 29, 10, CS_TABSTOP},
    {1056, EControlKind::PushButton, "Clear", 118, 203, 29, 10, CS_TABSTOP},
    {1057, EControlKind::PushButton, "Set", 166, 99, 29, 10, CS_TABSTOP},
    {1058, EControlKind::PushButton, "Clear", 166, 203, 29, 10, CS_TABSTOP},
    {1059, EControlKind::PushButton, "Set", 217, 99, 29, 10, CS_TABSTOP},
    {1060, EControlKind::PushButton, "Clear", 217, 203, 29, 10, CS_TABSTOP},
    {IDC_IPADDRESS, EControlKind::IpAddress, "", 18, 64, 100, 15, CS_TABSTOP},
    {IDC_CONNECT, EControlKind::PushButton, "Connect", 128, 57, 50, 14, CS_TABSTOP},
    {IDC_CLOSE_LINK, EControlKind::PushButton, "Close", 128, 75, 50, 14, CS_TABSTOP},
};

// About box.
constexpr DialogItem ABOUT_ITEMS[] = {
    {IDC_STATIC, EControlKind::Icon, "", 11, 17, 20, 20, CS_NONE},
    {IDC_STATIC, EControlKind::Static, "Tarvel Version 1.0", 40, 10, 119, 8, CS_NOPREFIX},
    {IDC_STATIC, EControlKind::Static, "Kelvard I/O test tool", 40, 25, 119, 8, CS_NONE},
    {IDOK, EControlKind::DefPushButton, "OK", 178, 7, 50, 14, CS_GROUP | CS_TABSTOP},
};

// Serial-number prompt, asked for a board found in its bootloader without a serial number.
constexpr DialogItem SERIAL_NUM_ITEMS[] = {
    {IDOK, EControlKind::DefPushButton, "OK", 17, 48, 50, 14, CS_TABSTOP},
    {IDCANCEL, EControlKind::PushButton, "Cancel", 76, 48, 50, 14, CS_TABSTOP},
    {IDC_SERIALNUM_EDIT, EControlKind::Edit, "", 41, 28, 60, 12,
     CS_BORDER | CS_TABSTOP | CS_CENTER | CS_AUTOHSCROLL},
    {IDC_STATIC, EControlKind::Static, "Enter serial number or use scanner\nThen OK", 7, 7, 130, 18,
     CS_CENTER | CS_GROUP},
};

constexpr std::array TEMPLATES = {
    DialogTemplate{IDD_TARVEL_DIALOG, "Kelvard IO", 280, 258, "MS Sans Serif", 8,
                   DLS_CAPTION | DLS_SYSMENU | DLS_MODALFRAME | DLS_APPWINDOW, TARVEL_ITEMS},
    DialogTemplate{IDD_ABOUTBOX, "About Tarvel", 235, 55, "MS Sans Serif", 8,
                   DLS_CAPTION | DLS_SYSMENU | DLS_MODALFRAME, ABOUT_ITEMS},
    DialogTemplate{IDD_SERIALNUM, "Serial Number", 144, 70, "MS Sans Serif", 8,
                   DLS_CAPTION | DLS_MODALFRAME, SERIAL_NUM_ITEMS},
};
} // namespace

const DialogTemplate* FindDialogTemplate(int nId)
{
    for (const DialogTemplate& dlgTemplate : TEMPLATES)
    {
        if (dlgTemplate.nId == nId)
            return &dlgTemplate;
    }
    return nullptr;
}

const DialogItem* FindDialogItem(const DialogTemplate& dlgTemplate, int nId)
{
    for (const DialogItem& item : dlgTemplate.arrItems)
    {
        if (item.nId == nId)
            return &item;
    }
    return nullptr;
}
