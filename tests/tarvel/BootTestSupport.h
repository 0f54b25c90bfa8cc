#pragma once
// Helpers for the bootloader client's tests: HEX text, a private directory for image files,
// the diagnostic lines, loaders on fresh links, and the bootloader's requests and replies in
// trace form, built from the request layout alone.
#include "HexText.h"
#include "SimFixture.h"
#include "UsbBackend.h"
#include "bootloader/BootLoader.h"
#include "dialog/UsbDev.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// --- HEX text ------------------------------------------------------------------------------

inline std::string HexRecord(int nType, int nAddress, const Bytes& byData)
{
    Bytes byAll{static_cast<std::uint8_t>(byData.size()), static_cast<std::uint8_t>(nAddress >> 8),
                static_cast<std::uint8_t>(nAddress), static_cast<std::uint8_t>(nType)};
    byAll.insert(byAll.end(), byData.begin(), byData.end());
    unsigned nSum = 0;
    for (std::uint8_t by : byAll)
        nSum += by;
    byAll.push_back(static_cast<std::uint8_t>(0x100 - (nSum & 0xFF)));
    static const char HEX[] = "0123456789ABCDEF";
    std::string strText = ":";
    for (std::uint8_t by : byAll)
        strText += {HEX[by >> 4], HEX[by & 0x0F]};
    return strText + "\n";
}

// Data records of at most 16 bytes from a linear address, with the upper-word record first.
inline std::string HexData(std::uint32_t nAddress, const Bytes& byData)
{
    std::string strText = HexRecord(
        0x04, 0,
        {static_cast<std::uint8_t>(nAddress >> 24), static_cast<std::uint8_t>(nAddress >> 16)});
    for (std::size_t nAt = 0; nAt < byData.size(); nAt += 16)
    {
        const auto itFirst = byData.begin() + static_cast<std::ptrdiff_t>(nAt);
        const auto itLast =
            byData.begin() + static_cast<std::ptrdiff_t>(std::min(nAt + 16, byData.size()));
        strText +=
            HexRecord(0x00, static_cast<int>((nAddress + nAt) & 0xFFFF), Bytes(itFirst, itLast));
    }
    return strText;
}

inline std::string HexEnd()
{
    return ":00000001FF\n";
}

// n bytes counting from byFirst in steps of byStep (wrapping).
inline Bytes Counting(std::size_t n, std::uint8_t byFirst, std::uint8_t byStep = 1)
{
    Bytes by(n);
    for (std::size_t i = 0; i < n; ++i)
        by[i] = static_cast<std::uint8_t>(byFirst + i * byStep);
    return by;
}

// --- Files and diagnostics -------------------------------------------------------------------

class CTestDir
{
public:
    CTestDir()
    {
        const char* pszBase = std::getenv("TEST_TMPDIR");
        std::string strTemplate = (pszBase && *pszBase ? std::filesystem::path(pszBase)
                                                       : std::filesystem::temp_directory_path()) /
                                  "bootXXXXXX";
        if (mkdtemp(strTemplate.data()) != nullptr)
            m_path = strTemplate;
    }
    ~CTestDir()
    {
        std::error_code error;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, error);
    }
    CTestDir(const CTestDir&) = delete;
    CTestDir& operator=(const CTestDir&) = delete;

    std::string File(const std::string& strName) const { return (m_path / strName).string(); }
    std::string Write(const std::string& strText,
                      const std::string& strName = "KelvardUSB.hex") const
    {
        std::ofstream(File(strName), std::ios::binary) << strText;
        return File(strName);
    }

private:
    std::filesystem::path m_path;
};

// Sends the diagnostic channel to a file for the length of the scope. Set it before any thread
// that writes diagnostics starts.
class CDebugCapture
{
public:
    CDebugCapture() : m_strPath(m_dir.File("debug.txt"))
    {
        setenv("KELVARD_DEBUG", m_strPath.c_str(), 1);
    }
    ~CDebugCapture() { unsetenv("KELVARD_DEBUG"); }
    CDebugCapture(const CDebugCapture&) = delete;
    CDebugCapture& operator=(const CDebugCapture&) = delete;

    // The lines written since the last call, each with its line feed.
    Lines Take()
    {
        std::ifstream in(m_strPath);
        std::stringstream text;
        text << in.rdbuf();
        in.close();
        std::filesystem::remove(m_strPath);
        Lines lines;
        std::string strLine;
        while (std::getline(text, strLine))
            lines.push_back(strLine + "\n");
        return lines;
    }

private:
    CTestDir m_dir;
    std::string m_strPath;
};

// --- Loaders -----------------------------------------------------------------------------------

// A loader on freshly opened pipes of an instance, as discovery makes one.
inline std::unique_ptr<CBootLoader> NewLoader(const std::string& strHexPath = "",
                                              std::uint32_t nInstance = 0)
{
    const MPUSB_HANDLE hRead = MPUSBOpen(nInstance, MPUSB_VID_PID, MPUSB_ENDPOINT, MP_READ, 0);
    const MPUSB_HANDLE hWrite = MPUSBOpen(nInstance, MPUSB_VID_PID, MPUSB_ENDPOINT, MP_WRITE, 0);
    return std::make_unique<CBootLoader>(new CUsbDev(hRead, hWrite), strHexPath);
}

// A backend without boards: pipes are named by their endpoint (0x81 read, 0x01 write), closes
// are recorded in order, and every request is answered with its first 5 bytes alone, a reply
// that carries none of the bytes asked for (a real link delivers it as a completed short read).
class CFakeBackend : public CUsbBackend
{
public:
    std::uint32_t CountDevices(std::uint16_t, std::uint16_t) override { return 1; }
    UsbPipeId OpenPipe(std::uint32_t, std::uint16_t, std::uint16_t,
                       std::uint8_t byEndpoint) override
    {
        return byEndpoint;
    }
    bool WritePipe(UsbPipeId, const std::uint8_t* pData, std::size_t nLength, std::size_t& nMoved,
                   std::uint32_t) override
    {
        std::lock_guard lock(m_mutex);
        m_byHeader.assign(pData, pData + std::min<std::size_t>(nLength, 5));
        nMoved = nLength;
        return true;
    }
    bool ReadPipe(UsbPipeId, std::uint8_t* pData, std::size_t, std::size_t& nMoved,
                  std::uint32_t) override
    {
        std::lock_guard lock(m_mutex);
        std::copy(m_byHeader.begin(), m_byHeader.end(), pData);
        nMoved = m_byHeader.size();
        return true;
    }
    void ClosePipe(UsbPipeId pipe) override
    {
        std::lock_guard lock(m_mutex);
        m_vecClosed.push_back(pipe);
    }
    bool SameDevice(UsbPipeId, UsbPipeId) override { return false; }
    void WatchChanges(ChangeSink) override {}

    std::vector<UsbPipeId> Closed()
    {
        std::lock_guard lock(m_mutex);
        return m_vecClosed;
    }

private:
    std::mutex m_mutex;
    Bytes m_byHeader;
    std::vector<UsbPipeId> m_vecClosed;
};

// Installs a fake backend as the process-wide one for the length of the scope.
class CFakeFixture
{
public:
    CFakeFixture() { MpusbInstallBackend(m_pBackend); }
    ~CFakeFixture() { MpusbInstallBackend(nullptr); }
    CFakeFixture(const CFakeFixture&) = delete;
    CFakeFixture& operator=(const CFakeFixture&) = delete;

    CFakeBackend& Backend() { return *m_pBackend; }

private:
    std::shared_ptr<CFakeBackend> m_pBackend = std::make_shared<CFakeBackend>();
};

// --- Requests and replies in trace form (instance 0) ----------------------------------------

inline Bytes Header(std::uint8_t byCommand, std::uint8_t byCount, std::uint32_t nAddress)
{
    return {byCommand, byCount, static_cast<std::uint8_t>(nAddress),
            static_cast<std::uint8_t>(nAddress >> 8), static_cast<std::uint8_t>(nAddress >> 16)};
}

inline Bytes Plus(Bytes by, const Bytes& byMore)
{
    by.insert(by.end(), byMore.begin(), byMore.end());
    return by;
}

inline std::string Out(const Bytes& by)
{
    return "0 > " + HexText(by.data(), by.size());
}
inline std::string In(const Bytes& by)
{
    return "0 < " + HexText(by.data(), by.size());
}

// The simulated bootloader echoes the request header; reads add the bytes asked for.
inline void AddExchange(Lines& lines, const Bytes& byRequest, const Bytes& byReplyData = {})
{
    lines.push_back(Out(byRequest));
    lines.push_back(In(Plus(Bytes(byRequest.begin(), byRequest.begin() + 5), byReplyData)));
}

// What one update of a board should put on the wire, from the request layout.
struct SUpdatePlan
{
    std::uint8_t byChipLow = 0, byChipHigh = 0x12; // the chip ID word as the board holds it
    std::uint32_t nAppStart = 0x800, nProgramEnd = 0x7FFF;
    Bytes byProgram; // program image from address 0 (its size is the extent)
    Bytes byEeprom;  // EEPROM image from 0, empty when the file has none
    Bytes byId;      // the 16-byte ID image, empty when the file has none
};

// Blocks of [nFirst, nEnd) from pSource[address & 0xFFFF]: write, then read-back with the
// block's bytes as written followed by what the board holds after them (byTail).
inline void AddBlocks(Lines& lines, std::uint8_t byWrite, std::uint32_t nFirst, std::uint32_t nEnd,
                      const Bytes& bySource, std::uint8_t byTail)
{
    for (std::uint32_t nAt = nFirst; nAt < nEnd; nAt += 16)
    {
        const std::uint32_t n = std::min<std::uint32_t>(16, nEnd - nAt);
        const auto itData = bySource.begin() + (nAt & 0xFFFF);
        const Bytes byData(itData, itData + n);
        AddExchange(lines, Plus(Header(byWrite, 16, nAt), byData));
        Bytes byBack = byData;
        byBack.resize(16, byTail);
        AddExchange(lines, Header(static_cast<std::uint8_t>(byWrite - 1), 16, nAt), byBack);
    }
}

inline Lines ExpectedUpdate(const SUpdatePlan& plan)
{
    Lines lines;
    AddExchange(lines, Header(0x01, 2, 0x3FFFFE), {plan.byChipLow, plan.byChipHigh});
    for (std::uint32_t nAt = plan.nAppStart; nAt <= plan.nProgramEnd; nAt += 64)
        AddExchange(lines, Header(0x03, 1, nAt));
    if (!plan.byId.empty())
        AddExchange(lines, Header(0x03, 1, 0x200000));
    AddBlocks(lines, 0x02, plan.nAppStart, static_cast<std::uint32_t>(plan.byProgram.size()),
              plan.byProgram, 0xFF);
    if (!plan.byEeprom.empty())
        AddBlocks(lines, 0x05, 0, static_cast<std::uint32_t>(plan.byEeprom.size()), plan.byEeprom,
                  0xFF);
    if (!plan.byId.empty())
        AddBlocks(lines, 0x02, 0x200000, 0x20000F, plan.byId, 0xFF);
    lines.push_back("0 > ff");
    return lines;
}
