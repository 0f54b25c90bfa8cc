#pragma once
// One simulated board: its memories, pin model, mode, and the faults and latency a test asks
// for. The bus moves transfers to it; tests reach its state through the same object. Every
// method is thread-safe.
#include "sim/SimApi.h"
#include "sim/SimBootloader.h"
#include "sim/SimFirmware.h"
#include "sim/SimMemory.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

enum class ESimFault
{
    Fail,    // the transfer fails at once; a write is not taken
    Timeout, // the transfer fails after its full time-out
    Unplug,  // the transfer completes, then the board is unplugged
    Corrupt, // a read delivers its reply with one byte inverted
};

class KELVARD_SIM_API CSimBoard
{
public:
    explicit CSimBoard(const SimBoardConfig& config);

    std::uint8_t DeviceId() const { return m_cfgBoard.byId; }
    const SimBoardConfig& Config() const { return m_cfgBoard; }
    bool IsBootMode() const;

    // Pin model.
    void SetInputs(EPort port, std::uint8_t byLevels);
    void SetAnalog(int nChannel, std::uint16_t wReading); // 10 bits kept
    SimPins Pins() const;

    // Memories.
    std::vector<std::uint8_t> ReadMemory(std::uint32_t nAddress, std::size_t nLength) const;
    void StoreMemory(std::uint32_t nAddress, const std::vector<std::uint8_t>& bytes);
    std::uint8_t ReadEeprom(std::uint32_t nAddress) const;
    std::uint16_t FirmwareVersion() const;

    // Faults: nTransfer counts this board's transfers from now on, 1 being the next one. A
    // corrupted read inverts reply byte nPosition (the last one when the reply is shorter).
    void InjectFault(ESimFault fault, std::uint64_t nTransfer, std::size_t nPosition = 5);
    void ClearFaults();
    void SetLatency(std::chrono::microseconds latency);
    std::chrono::microseconds Latency() const;
    std::uint64_t TransferCount() const;

    // Bus side.
    struct Outcome
    {
        bool bOk = false;
        bool bTimedOut = false; // the bus lets the transfer's time-out pass before failing it
        bool bUnplug = false;   // unplug the board once the transfer is over
        ESimAction eAction = ESimAction::None;
        std::size_t nMoved = 0;
    };
    Outcome Write(const std::uint8_t* pData, std::size_t nLength);
    Outcome Read(std::uint8_t* pData, std::size_t nLength);
    void SetBootMode(bool bBoot);

private:
    struct PendingFault
    {
        ESimFault eFault;
        std::uint64_t nAt;
        std::size_t nPosition;
    };
    // Counts the transfer and takes the fault due for it, if any.
    std::optional<PendingFault> NextTransfer();

    const SimBoardConfig m_cfgBoard;
    mutable std::mutex m_mtxLock;
    CSimMemory m_memBoard;
    SimPins m_pinsBoard;
    bool m_bBootMode;
    std::optional<std::vector<std::uint8_t>> m_optReply; // the reply waiting on the read pipe
    std::vector<PendingFault> m_vecFaults;
    std::uint64_t m_nTransfers = 0;
    std::chrono::microseconds m_usLatency{0};
};
