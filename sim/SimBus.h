#pragma once
// The simulated USB bus: boards in slots (like the ports of a hub), instance numbers in slot
// order over the attached boards, pipes that die with the attachment they were opened on, a
// trace of every transfer, and device-change notices. Every method is thread-safe.
//
// Trace lines (file and capture alike): instance, '>' host-to-board or '<' board-to-host, then
// the bytes moved as two-digit lower-case hex, e.g. "0 > 37 00 00 0f 00 00". A failed transfer
// shows ">!" or "<!"; a failed read lists no bytes.
#include "sim/SimApi.h"
#include "sim/SimBoard.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class KELVARD_SIM_API CSimBus
{
public:
    CSimBus();
    ~CSimBus();
    CSimBus(const CSimBus&) = delete;
    CSimBus& operator=(const CSimBus&) = delete;

    // Boards from KELVARD_SIM_BOARDS (warnings on stderr), trace file from KELVARD_SIM_TRACE.
    static std::shared_ptr<CSimBus> FromEnvironment();

    // Attaches a new board behind the last slot; a device change.
    std::shared_ptr<CSimBoard> Plug(const SimBoardConfig& config);
    // Attaches a known board again, in its own slot.
    void Replug(const std::shared_ptr<CSimBoard>& pBoard);
    // Attaches a new board in the slot (and so at the location) of an unplugged one, as when
    // one board is swapped for another on the same USB port.
    std::shared_ptr<CSimBoard> PlugInPlaceOf(const std::shared_ptr<CSimBoard>& pGone,
                                             const SimBoardConfig& config);
    // Detaches a board: its pipes fail from now on; a device change. Cancels a pending re-attach.
    void Unplug(const std::shared_ptr<CSimBoard>& pBoard);
    std::vector<std::shared_ptr<CSimBoard>> Boards() const; // attached, in instance order
    std::shared_ptr<CSimBoard> Board(std::uint32_t nInstance) const;

    // How long a board that entered its bootloader or restarted stays off the bus (default
    // 200 ms, as a real board takes a moment to enumerate again). 0 re-attaches it before the
    // transfer that caused it returns.
    void SetReattachDelay(std::chrono::milliseconds delay);
    // Waits until no board is waiting to re-attach; false when the time ran out.
    bool WaitSettled(std::chrono::milliseconds timeout);

    void SetTraceFile(const std::string& strPath); // appends; "" stops tracing to a file
    void CaptureTrace(bool bCapture);              // keep lines in memory for TakeTrace
    std::vector<std::string> TakeTrace();

    // Called once per change of the attached set, after the change, on the thread that made
    // it (a test's, a transfer's, or the bus's re-attach thread).
    using ChangeListener = std::function<void(bool bArrival)>;
    void SetChangeListener(ChangeListener listener);

    // USB side, used by the simulated backend.
    std::uint32_t Count() const;
    // 0: no such instance, or a board that does not open (SimBoardConfig::eAccess).
    std::uint64_t Open(std::uint32_t nInstance, std::uint8_t byEndpoint);
    bool Write(std::uint64_t nPipe, const std::uint8_t* pData, std::size_t nLength,
               std::size_t& nMoved, std::uint32_t nTimeoutMs);
    bool Read(std::uint64_t nPipe, std::uint8_t* pData, std::size_t nLength, std::size_t& nMoved,
              std::uint32_t nTimeoutMs);
    void Close(std::uint64_t nPipe);
    // The slot of the instance-th attached board, or of the board a pipe was opened on; NO_SLOT
    // when there is none. A slot is like a hub's port: a board keeps it while it re-attaches.
    static constexpr std::size_t NO_SLOT = SIZE_MAX;
    std::size_t SlotOf(std::uint32_t nInstance) const;
    std::size_t SlotOfPipe(std::uint64_t nPipe) const;
    // True while the board a pipe was opened on is attached as it was then (not unplugged, not
    // reset since).
    bool IsPipeAttached(std::uint64_t nPipe) const;
    // True when both pipes were opened on the same attachment of one board.
    bool SameAttachment(std::uint64_t nPipeA, std::uint64_t nPipeB) const;

private:
    struct Slot
    {
        std::shared_ptr<CSimBoard> pBoard;
        bool bAttached = false;
        std::uint64_t nGeneration = 0; // bumped at every attach and detach
    };
    struct Pipe
    {
        std::size_t nSlot;
        std::uint64_t nGeneration;
        std::uint32_t nInstance;
        bool bIn;
    };
    struct Reattach
    {
        std::size_t nSlot;
        bool bBoot;
        std::chrono::steady_clock::time_point tDue;
    };

    // Looks a pipe up; the board only while its attachment is the one the pipe was opened on.
    std::shared_ptr<CSimBoard> Resolve(std::uint64_t nPipe, bool bIn, std::uint32_t& nInstance);
    void AfterTransfer(const std::shared_ptr<CSimBoard>& pBoard, const CSimBoard::Outcome& outcome);
    // The Locked helpers run under m_mtxLock and return how many notices to send afterwards.
    bool AttachLocked(std::size_t nSlot);
    bool DetachLocked(std::size_t nSlot);
    std::size_t SlotOfLocked(const std::shared_ptr<CSimBoard>& pBoard) const;
    void Notify(bool bArrival);
    void ReattachLoop();
    void Trace(std::uint32_t nInstance, bool bIn, bool bOk, const std::uint8_t* pData,
               std::size_t nLength);

    mutable std::mutex m_mtxLock;
    std::condition_variable m_cvReattach;
    std::vector<Slot> m_vecSlots;
    std::vector<std::pair<std::uint64_t, Pipe>> m_vecPipes;
    std::uint64_t m_nNextPipe = 1;
    std::vector<Reattach> m_vecReattach;
    std::chrono::milliseconds m_reattachDelay{200};
    std::thread m_reattachThread;
    bool m_bStop = false;
    ChangeListener m_fnListener;

    std::mutex m_traceMutex;
    std::FILE* m_pTraceFile = nullptr;
    bool m_bCapture = false;
    std::vector<std::string> m_vecTrace;
};
