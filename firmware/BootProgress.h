#pragma once
// How far a bootloader job has come: its phase, the bytes of that phase done and in all, and
// the exchanges of the whole job done and planned, for one overall percentage. CBootLoader
// reports it on the thread that runs the job; reporting sends nothing to the board.
#include <cstdint>
#include <functional>
#include <mutex>

enum class EBootPhase
{
    Identify, // reading the chip ID
    Erase,    // erasing the application area (and the ID locations)
    Program,  // writing and verifying program memory
    Eeprom,   // writing and verifying data EEPROM
    Id,       // writing and verifying the ID locations
    Read,     // reading memory back
    Serial,   // rewriting the serial number's block
    Restart,  // restart sent
    Verify,   // comparing the board with an image
};

// "identify", "erase", "program", "eeprom", "id", "read", "serial", "restart", "verify".
const char* BootPhaseName(EBootPhase ePhase);

struct SBootProgress
{
    EBootPhase ePhase = EBootPhase::Identify;
    std::int64_t nDone = 0;       // bytes of this phase done
    std::int64_t nTotal = 0;      // bytes of this phase
    std::int64_t nStepsDone = 0;  // exchanges of the whole job done
    std::int64_t nStepsTotal = 0; // exchanges the job needs; 0 until they are known

    // The whole job's share done, 0 to 100.
    int Percent() const;
};

// Told of every change, on the loader's thread. It must be quick: the next exchange waits.
using BootProgressHook = std::function<void(const SBootProgress&)>;

// The latest report, for another thread to look at whenever it likes.
class CBootProgressBox
{
public:
    void Set(const SBootProgress& progress);
    SBootProgress Get() const;

private:
    mutable std::mutex m_mtxLock;
    SBootProgress m_prgCurrent;
};
