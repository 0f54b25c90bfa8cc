#pragma once
// Helpers for the bootloader tests: HEX text, loaders on fresh links, and an update's requests and
// replies in trace form, built from the request layout alone.
#include "firmware/BootLoader.h"
#include "firmware/HexWriter.h"
#include "tests/support/DebugCapture.h"
#include "tests/support/HexText.h"
#include "tests/support/SimFixture.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numeric>

using Bytes = std::vector<std::uint8_t>;

// --- HEX text ------------------------------------------------------------------------------

// Lower-case digits, which the reader takes like upper-case ones.
inline std::string Lower(std::string str)
{
    for (char& c : str)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return str;
}

// One record, without its line end, in lower case.
inline std::string HexRecord(int nType, int nAddress, const Bytes& byData)
{
    return Lower(HexRecord(nType, std::uint16_t(nAddress), byData.data(), byData.size()));
}

inline const std::string HEX_END = ":00000001FF";

// The upper-word record, then data records of at most 16 bytes from a linear address, a line each.
inline std::string HexData(std::uint32_t nAddress, const Bytes& byData)
{
    CHexWriter writer;
    writer.Data(nAddress, byData.data(), byData.size());
    return Lower(writer.Text());
}

// nLength bytes of 0xFF but for the parts given at their offsets.
inline Bytes Filled(std::size_t nLength, std::initializer_list<std::pair<std::size_t, Bytes>> parts)
{
    Bytes by(nLength, 0xFF);
    for (const auto& [nAt, byPart] : parts)
        std::copy(byPart.begin(), byPart.end(), by.begin() + long(nAt));
    return by;
}

// n bytes counting from byFirst in steps of byStep (wrapping).
inline Bytes Counting(std::size_t n, std::uint8_t byFirst, std::uint8_t byStep = 1)
{
    Bytes by(n);
    for (std::size_t i = 0; i < n; ++i)
        by[i] = static_cast<std::uint8_t>(byFirst + i * byStep);
    return by;
}

// A loader on a freshly opened link of an instance, as discovery makes one.
inline std::unique_ptr<CBootLoader> NewLoader(CSimFixture& sim, const std::string& strHexPath = "",
                                              std::uint32_t nInstance = 0)
{
    return std::make_unique<CBootLoader>(sim.Context()->Open(nInstance), strHexPath);
}

// --- Requests and replies in trace form (instance 0) ----------------------------------------

inline Bytes Header(int nCommand, int nCount, std::uint32_t nAddress, const Bytes& byData = {})
{
    Bytes by{std::uint8_t(nCommand), std::uint8_t(nCount), std::uint8_t(nAddress),
             std::uint8_t(nAddress >> 8), std::uint8_t(nAddress >> 16)};
    by.insert(by.end(), byData.begin(), byData.end());
    return by;
}

// The simulated bootloader echoes the request header; reads add the bytes asked for.
inline void AddExchange(Lines& lines, const Bytes& byRequest, const Bytes& byReplyData = {})
{
    Bytes byReply(byRequest.begin(), byRequest.begin() + 5);
    byReply.insert(byReply.end(), byReplyData.begin(), byReplyData.end());
    lines.push_back("0 > " + HexText(byRequest.data(), byRequest.size()));
    lines.push_back("0 < " + HexText(byReply.data(), byReply.size()));
}

// A trace line as it reads when its transfer fails.
inline std::string Failed(const std::string& strLine)
{
    return strLine.rfind("0 >", 0) == 0 ? "0 >!" + strLine.substr(3) : "0 <!";
}

// Blocks of [nFirst, nEnd) from bySource[address & 0xFFFF]: the write, then the read-back of
// the bytes written followed by erased ones.
inline void AddBlocks(Lines& lines, int nWrite, std::uint32_t nFirst, std::uint32_t nEnd,
                      const Bytes& bySource)
{
    for (std::uint32_t nAt = nFirst; nAt < nEnd; nAt += 16)
    {
        const auto it = bySource.begin() + (nAt & 0xFFFF);
        Bytes byData(it, it + std::min<std::uint32_t>(16, nEnd - nAt));
        AddExchange(lines, Header(nWrite, 16, nAt, byData));
        byData.resize(16, 0xFF);
        AddExchange(lines, Header(nWrite - 1, 16, nAt), byData);
    }
}

// What one update of a board should put on the wire.
struct SUpdatePlan
{
    Bytes byChipId{0x00, 0x12}; // the chip ID word as the board holds it
    std::uint32_t nAppStart = 0x800, nProgramEnd = 0x7FFF;
    Bytes byProgram; // from address 0; its size is the extent
    Bytes byEeprom;  // from 0, empty when the file has none
    Bytes byId;      // the 16 ID bytes, empty when the file has none
};

inline Lines ExpectedUpdate(const SUpdatePlan& plan)
{
    Lines lines;
    AddExchange(lines, Header(0x01, 2, 0x3FFFFE), plan.byChipId);
    for (std::uint32_t nAt = plan.nAppStart; nAt <= plan.nProgramEnd; nAt += 64)
        AddExchange(lines, Header(0x03, 1, nAt));
    if (!plan.byId.empty())
        AddExchange(lines, Header(0x03, 1, 0x200000));
    AddBlocks(lines, 0x02, plan.nAppStart, std::uint32_t(plan.byProgram.size()), plan.byProgram);
    AddBlocks(lines, 0x05, 0, std::uint32_t(plan.byEeprom.size()), plan.byEeprom);
    AddBlocks(lines, 0x02, 0x200000, plan.byId.empty() ? 0x200000 : 0x20000F, plan.byId);
    lines.push_back("0 > ff");
    return lines;
}
