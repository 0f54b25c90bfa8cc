#pragma once
// Helpers for the bootloader tests: HEX text, loaders on fresh links, and the golden cases of
// golden/, each what one update or serial-number write must put on the wire.
#include "firmware/BootLoader.h"
#include "firmware/HexWriter.h"
#include "tests/support/DebugCapture.h"
#include "tests/support/SimFixture.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

using Bytes = std::vector<std::uint8_t>;

// --- HEX text ------------------------------------------------------------------------------

// One record, without its line end.
inline std::string HexRecord(int nType, int nAddress, const Bytes& by)
{
    return HexRecord(nType, std::uint16_t(nAddress), by.data(), by.size());
}

inline const std::string HEX_END = ":00000001FF";

// The upper-word record, then data records of at most 16 bytes from a linear address, a line each.
inline std::string HexData(std::uint32_t nAddress, const Bytes& byData)
{
    CHexWriter writer;
    writer.Data(nAddress, byData.data(), byData.size());
    return writer.Text();
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

// A trace line as it reads when its transfer fails.
inline std::string Failed(const std::string& strLine)
{
    return strLine.rfind("0 >", 0) == 0 ? "0 >!" + strLine.substr(3) : "0 <!";
}

// --- Golden cases ----------------------------------------------------------------------------

// A case of golden/NAME.trace: "key: value" lines, then the trace lines of instance 0 in order;
// '#' starts a comment. board: as KELVARD_SIM_BOARDS writes one; revision: its chip's (decimal).
// erased: "ADDRESS COUNT" of program memory erased before the run. image: the HEX file, a record
// a line (none: no file). known-chips-only: yes. serial: the run writes this serial number
// instead of updating. status: code and text. refusal: why the image does not fit. log: the
// debug lines in order.
struct SGolden
{
    explicit SGolden(const std::string& strName)
    {
        std::ifstream file(std::string(KELVARD_GOLDEN_DIR "/") + strName + ".trace");
        for (std::string str; std::getline(file, str);)
        {
            const std::string strKey = str.substr(0, str.find(':'));
            const std::string strValue = str.substr(std::min(strKey.size() + 2, str.size()));
            if (std::isdigit(str[0]))
                trace.push_back(str);
            else if (strKey == "image")
                strImage += strValue + "\n";
            else if (strKey == "log")
                log.push_back(strValue + "\n");
            else if (!str.empty() && str[0] != '#')
                mapValues[strKey] = strValue;
        }
    }
    // Plugs the case's board into the bus.
    std::shared_ptr<CSimBoard> Plug(CSimFixture& sim)
    {
        std::vector<std::string> warnings;
        auto configs = ParseSimBoards(mapValues["board"].c_str(), warnings);
        EXPECT_TRUE(warnings.empty() && configs.size() == 1) << mapValues["board"];
        auto pBoard =
            sim.Plug(configs.at(0).Revision(std::uint8_t(std::stoi("0" + mapValues["revision"]))));
        std::istringstream erased(mapValues["erased"]);
        std::uint32_t nAddress = 0, nCount = 0;
        if (erased >> std::hex >> nAddress >> std::dec >> nCount)
            pBoard->StoreMemory(nAddress, Bytes(nCount, 0xFF));
        return pBoard;
    }

    std::map<std::string, std::string> mapValues; // every key but image and log; "" for none
    std::string strImage;
    Lines log, trace;
};

// Runs every case whose name starts with strPrefix on a fresh bus: the status, the refusal, the
// debug log and every transfer must be the file's.
inline void CheckGoldenCases(const std::string& strPrefix)
{
    int nCases = 0;
    for (const auto& entry : std::filesystem::directory_iterator(KELVARD_GOLDEN_DIR))
    {
        const std::string strName = entry.path().stem();
        if (!strName.starts_with(strPrefix))
            continue;
        SCOPED_TRACE(strName);
        ++nCases;
        SGolden golden(strName);
        CSimFixture sim;
        CTempDir dir;
        golden.Plug(sim);
        CDebugCapture debug;
        auto pLoader = NewLoader(sim, golden.strImage.empty() ? dir.File("absent.hex")
                                                              : dir.Write(golden.strImage));
        pLoader->m_bKnownChipsOnly = golden.mapValues["known-chips-only"] == "yes";
        std::vector<int> vecPercent;
        pLoader->m_fnProgress = [&](const SBootProgress& progress)
        { vecPercent.push_back(progress.Percent()); };
        const bool bSerial = golden.mapValues.count("serial");
        const EStatus eStatus = bSerial ? pLoader->WriteSerialNumber(golden.mapValues["serial"])
                                        : pLoader->UpdateFirmware();
        EXPECT_EQ(std::to_string(StatusCode(eStatus)) + " " + StatusText(eStatus),
                  golden.mapValues["status"]);
        EXPECT_EQ(pLoader->m_strRefusal, golden.mapValues["refusal"]);
        EXPECT_EQ(debug.Take(), golden.log);
        EXPECT_EQ(sim.Trace(), golden.trace);
        // A step per request of an update: the bar is full with the restart, not before.
        EXPECT_TRUE(
            bSerial || eStatus != EStatus::Ok ||
            (vecPercent.size() > 1 && vecPercent.back() == 100 && vecPercent.end()[-2] < 100));
    }
    EXPECT_GT(nCases, 0);
}
