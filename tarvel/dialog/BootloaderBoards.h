#pragma once
// What the dialog hands over to the firmware update, which sits a layer above it
// (tarvel/bootloader): boards that discovery finds in their bootloader, the Update button once
// the user said Yes, and closing while updates run. The dialog owns one, given to it from above
// (CTarvelDlg::SetBootloaderBoards); without one it leaves bootloader boards alone, unlisted,
// and Update does nothing after its question. Everything is called on the dialog's thread.
#include <cstdint>
#include <functional>
#include <memory>

class CBoardLink;
class CTarvelDlg;

class CBootloaderBoards
{
public:
    // Goes once the running updates have ended: no board is left half written.
    virtual ~CBootloaderBoards() = default;

    // Right after discovery opened a board, before any exchange with it: true while an update
    // is busy with that board. Discovery then leaves it alone, since any request would interleave
    // with the update's. Sends nothing.
    virtual bool IsUpdating(const CBoardLink& link) const = 0;
    // A board that discovery found waiting in its bootloader, as instance nInstance: taken over,
    // link and all. May run a message loop (the serial-number prompt) before it returns.
    virtual void TakeBoard(CBoardLink link, std::uint32_t nInstance) = 0;
    // The Update button for the selected board, after Yes: sends it into its bootloader, where
    // discovery will find it. link is the board's as the list holds it, valid until the first
    // message loop this runs.
    virtual void UpdateBoard(CBoardLink& link) = 0;
    // The dialog is closing with nResult: true when updates still run, the dialog stays until
    // they have ended and is then ended with nResult; false when it may close now.
    virtual bool FinishBeforeClosing(int nResult) = 0;
};

// Makes the update part for a dialog (the program's wiring, above the dialog layer).
using BootloaderBoardsFactory = std::function<std::unique_ptr<CBootloaderBoards>(CTarvelDlg&)>;
