#pragma once
// Dialog templates as data: per dialog its caption, size, font and style, and per control its
// ID, kind, caption, rectangle in dialog units and style, in template order (which is also the
// tab order). CDialogBuilder turns a template into widgets.
#include <cstdint>
#include <span>

enum class EControlKind
{
    GroupBox, // a frame with a caption around other controls
    Static,   // a text label
    Icon,     // the application icon
    PushButton,
    DefPushButton, // the button that Enter presses
    AutoCheckBox,
    Auto3State, // checked, indeterminate, unchecked, in that order, on successive clicks
    AutoRadio,
    Edit,
    DropDownList, // a combo box without an edit field; its height is the dropped-down height
    IpAddress,    // four address fields
};

// Control style bits (the ones the templates use).
enum EControlStyle : std::uint32_t
{
    CS_NONE = 0,
    CS_GROUP = 1u << 0, // starts a group: a radio group or a tab group
    CS_TABSTOP = 1u << 1,
    CS_CENTER = 1u << 2, // centred text
    CS_SUNKEN = 1u << 3, // sunken frame of a static
    CS_BORDER = 1u << 4,
    CS_SORT = 1u << 5, // a list that keeps its entries sorted as text
    CS_VSCROLL = 1u << 6,
    CS_AUTOHSCROLL = 1u << 7,
    CS_NOPREFIX = 1u << 8, // '&' shows as itself
};

// Dialog style bits.
enum EDialogStyle : std::uint32_t
{
    DLS_NONE = 0,
    DLS_CAPTION = 1u << 0,
    DLS_SYSMENU = 1u << 1,
    DLS_MODALFRAME = 1u << 2,
    DLS_APPWINDOW = 1u << 3, // shown on the task bar
};

struct DialogItem
{
    int nId;
    EControlKind eKind;
    const char* pszCaption; // "" when the control has none
    int nX, nY, nCx, nCy;   // dialog units
    std::uint32_t dwStyle;
};

struct DialogTemplate
{
    int nId;
    const char* pszCaption;
    int nCx, nCy; // dialog units
    const char* pszFontFace;
    int nPointSize;
    std::uint32_t dwStyle;
    std::span<const DialogItem> arrItems;
};

// The template with this resource ID; null when there is none.
const DialogTemplate* FindDialogTemplate(int nId);

// The item of a template with this control ID (the first one for IDC_STATIC); null when none.
const DialogItem* FindDialogItem(const DialogTemplate& dlgTemplate, int nId);
