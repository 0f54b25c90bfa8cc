#pragma once
// Finding boards in either mode, for programs that work on a board from outside the dialog: what
// is attached, with the identity each board reports, and waiting for a board that re-attaches
// (after entering its bootloader, or after a restart) to come back. Through the driver layer only.
#include "protocol/BoardLink.h"
#include "protocol/DriverContext.h"
#include "protocol/Status.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// One attached board as a scan finds it.
struct SBoardInfo
{
    std::uint32_t nInstance = 0;
    std::string strLocation;     // "1-2.3", "sim:0"
    EStatus eOpen = EStatus::Ok; // not Ok: it did not open (why); nothing more known
    bool bBoot = false;          // waits in its bootloader
    int nDeviceId = -1;          // application only; -1 in the bootloader or when it did not answer
    std::string strSerial;       // "" when it has none
    std::uint16_t wVersion = 0;  // application only
};

// The board a program names: a device ID ("7", "0x07"), "serial=TEXT", or "path=LOCATION" as
// 'zorvane list --long' prints it ("path=1-2.3", "path=sim:0"). Boards in their bootloader have
// no device ID: only the other two forms reach them.
struct SBoardTarget
{
    enum class EKind
    {
        Id,
        Serial,
        Path,
    };
    EKind eKind = EKind::Id;
    std::string strValue; // the serial number or the location
    int nId = -1;

    // Reads strText into target; false, with strError saying why, for a text that names no
    // board.
    static bool Parse(const std::string& strText, SBoardTarget& target, std::string& strError);
    bool Matches(const SBoardInfo& board) const;
    std::string Text() const; // as the user wrote it
};

// Every attached board, in instance order. Each is opened, asked its mode (query-mode) and its
// identity, and closed again: in its application read-serial-number, read-version and
// read-device-id, the dialog's questions in the dialog's order; in its bootloader the serial
// number from the boot block. A board that does not open is listed with the reason. Must not run
// while another thread works on one of the boards.
// fnKnown, when given, may tell a board's identity from elsewhere (a board this process holds
// open, which must not be asked while another thread talks to it): true skips its exchanges.
using KnownBoard = std::function<bool(const std::string& strLocation, SBoardInfo& info)>;
std::vector<SBoardInfo> ScanBoards(const CDriverContext& context, const KnownBoard& fnKnown = {});

// Mode and identity of an open board, as above. The link stays open (in the bootloader a loader
// holds it for the serial number and hands it back).
void ReadIdentity(CBoardLink& link, SBoardInfo& info);

// How a job recognises its board after it re-attached: where it sat, and its serial number as a
// second chance (a board that came back elsewhere).
struct SBoardKey
{
    std::string strLocation;
    std::string strSerial; // "" : by location only
    // The board at the location must report the key's serial number too (when it has one):
    // another board plugged in where it sat is not taken for it.
    bool bSameSerial = false;
};

// Marks a location as followed by a job of this process for as long as it lives, so that no
// other job's search by serial number sends anything to that board.
class CLocationClaim
{
public:
    explicit CLocationClaim(std::string strLocation);
    ~CLocationClaim();
    CLocationClaim(const CLocationClaim&) = delete;
    CLocationClaim& operator=(const CLocationClaim&) = delete;
    // Follows the board to where it came back.
    void Move(const std::string& strLocation);

private:
    std::string m_strLocation;
};

// Looks for the key's board in the wanted mode (bBoot: its bootloader) without waiting, for a
// loop that has other work between looks. Each TryOpen looks at the key's location first. When
// nothing has been at that location for a second (since the finder was made) and the key has a
// serial number, boards at locations that no CLocationClaim holds are asked for theirs.
class CBoardFinder
{
public:
    // The context must outlive the finder.
    CBoardFinder(const CDriverContext& context, SBoardKey key, bool bBoot);
    // The board, opened; a link that is not open when it is not there (yet).
    CBoardLink TryOpen();

private:
    const CDriverContext& m_ctxDriver;
    SBoardKey m_keyBoard;
    bool m_bBoot;
    std::chrono::steady_clock::time_point m_tLastSeen; // something sat at the location
};

// Waits until the key's board is attached in the wanted mode and opens it, looking as
// CBoardFinder does. A link that is not open when the time runs out or *pbStop turns true
// (polled every 5 ms).
CBoardLink WaitForBoard(const CDriverContext& context, const SBoardKey& key, bool bBoot,
                        std::chrono::milliseconds timeout,
                        const std::atomic<bool>* pbStop = nullptr);
