#pragma once
// How a simulated board starts: identity, firmware and chip. Fluent setters keep a test's
// setup on one line: SimBoardConfig().Id(7).Serial("AB12CD34").Version(0x0102).
#include "sim/SimApi.h"
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// Whether the host may open the board: a board whose device node the user may not open, or
// whose interface another program holds, is attached (it counts) but never opens.
enum class ESimAccess
{
    Open,
    Denied,
    Busy,
};

struct KELVARD_SIM_API SimBoardConfig
{
    std::uint8_t byId = 1;
    std::string strSerial; // empty: no valid serial number stored
    std::uint16_t wVersion = 0x0103;
    bool bBootMode = false;                 // starts in its bootloader
    std::uint16_t wChip = 0x90;             // 11-bit device code
    std::uint8_t byRevision = 0;            // 5-bit silicon revision
    std::chrono::microseconds usLatency{0}; // added to every transfer
    ESimAccess eAccess = ESimAccess::Open;

    SimBoardConfig& Id(std::uint8_t v)
    {
        byId = v;
        return *this;
    }
    SimBoardConfig& Serial(std::string v)
    {
        strSerial = std::move(v);
        return *this;
    }
    SimBoardConfig& Version(std::uint16_t v)
    {
        wVersion = v;
        return *this;
    }
    SimBoardConfig& Boot(bool v = true)
    {
        bBootMode = v;
        return *this;
    }
    SimBoardConfig& Chip(std::uint16_t v)
    {
        wChip = v;
        return *this;
    }
    SimBoardConfig& Revision(std::uint8_t v)
    {
        byRevision = v;
        return *this;
    }
    SimBoardConfig& Latency(std::chrono::microseconds v)
    {
        usLatency = v;
        return *this;
    }
    SimBoardConfig& Access(ESimAccess v)
    {
        eAccess = v;
        return *this;
    }
};

// Parses the board list of KELVARD_SIM_BOARDS: boards separated by ';', each a list of
// key=value pairs separated by ',' (id, serial, version, mode, chip, latency in microseconds
// per transfer, open=denied or open=busy). A null text gives the
// default pair of boards, an empty text no board. Unknown keys and bad values are skipped, each
// with a line in warnings.
KELVARD_SIM_API std::vector<SimBoardConfig> ParseSimBoards(const char* pszText, std::vector<std::string>& warnings);
