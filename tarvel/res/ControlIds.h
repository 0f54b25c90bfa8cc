#pragma once
// Resource and control identifiers of the tool's dialogs, menus, strings and icon: the numbers
// the dialog templates, the data exchange and the message routing share.

// Common dialog results and the "no ID" of frames and labels.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDC_STATIC = -1;

// Resources.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDD_TARVEL_DIALOG = 102;
inline constexpr int IDP_SOCKETS_INIT_FAILED = 103;
inline constexpr int IDR_MAINFRAME = 128;
inline constexpr int IDD_SERIALNUM = 129;

// System-menu commands: the about item the dialog adds, and the framework's close command.
inline constexpr unsigned IDM_ABOUTBOX = 0x0010;
inline constexpr unsigned SC_CLOSE = 0xF060;

// Main dialog (template 102).
inline constexpr int IDC_DEVICES = 1000;  // device list
inline constexpr int IDC_SERIAL = 1001;   // serial-number text
inline constexpr int IDC_FIRMWARE = 1002; // firmware line
inline constexpr int IDC_BIT_A0 = 1003;   // box of port p (A = 0 ... D = 3), bit b: 1003 + 8p + b
inline constexpr int IDC_BIT_D7 = 1034;
inline constexpr int IDC_UPDATE = 1035;
inline constexpr int IDC_PORT_BITS = 1037; // first radio button of the view group
inline constexpr int IDC_PORT_DIRECTION = 1038;
inline constexpr int IDC_INPUT_POLARITY = 1039;
inline constexpr int IDC_ANALOG_INPUTS = 1040;
inline constexpr int IDC_MESSAGE = 1042;
inline constexpr int IDC_BIT_E0 = 1043; // box of port E, bit b: 1043 + b
inline constexpr int IDC_BIT_E7 = 1050;
inline constexpr int IDC_SET_A = 1051; // Set of port p: 1051 + 2p; its Clear: 1052 + 2p
inline constexpr int IDC_CLEAR_A = 1052;
inline constexpr int IDC_IPADDRESS = 1061;
inline constexpr int IDC_CONNECT = 1062;
inline constexpr int IDC_CLOSE_LINK = 1063;

// Serial-number dialog (template 129).
inline constexpr int IDC_SERIALNUM_EDIT = 1041;

// The bit box of a port (0 = A ... 4 = E) and bit.
constexpr int BitBoxId(int nPort, int nBit)
{
    return nPort < 4 ? IDC_BIT_A0 + 8 * nPort + nBit : IDC_BIT_E0 + nBit;
}
constexpr int SetButtonId(int nPort)
{
    return IDC_SET_A + 2 * nPort;
}
constexpr int ClearButtonId(int nPort)
{
    return IDC_CLEAR_A + 2 * nPort;
}
