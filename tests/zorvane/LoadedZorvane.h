#pragma once
// libzorvane.so loaded with dlopen, as an application loads it, on a simulated bus set up by
// the environment it reads at its first use: KELVARD_USB=sim, the boards given, a fresh trace
// file. Every instance loads the library afresh (and checks at the end that it really went
// away), so each one starts with its own bus and an empty device table.
//
//     CLoadedZorvane lib("id=7;id=9,mode=boot");
//     EXPECT_EQ(lib.Initialize(), 1);
//     EXPECT_EQ(lib.WriteBytePortC("7", 0x0F), 1);
//     EXPECT_EQ(lib.Trace(), (Lines{"0 > 37 00 00 0f 00 00"}));
#include "TempDir.h"

#include "zorvane.h"

#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#ifndef ZORVANE_LIBRARY
#error "ZORVANE_LIBRARY must name the built libzorvane.so.1"
#endif

#define ZORVANE_EXPORTS(X)                                                                         \
    X(AddVirtualPort) X(ConfigurePorts) X(ConfigurePortsEx) X(GetBitIOError) X(GetUsbDeviceID)     \
    X(Initialize) X(InitializeZorvane) X(ListUsbDevices) X(ReadBitPortA) X(ReadBitPortB)           \
    X(ReadBitPortC) X(ReadBytePortA) X(ReadBytePortB) X(ReadBytePortC) X(ReadBytePortD)            \
    X(ReadBytePortE) X(ReadBytePorts) X(ReadVirtualPort) X(RemoveAllVirtualPorts)                  \
    X(RemoveVirtualPort) X(WriteBitPortA) X(WriteBitPortB) X(WriteBitPortC) X(WriteBytePortA)      \
    X(WriteBytePortB) X(WriteBytePortC) X(WriteBytePortD) X(WriteBytePortE) X(WriteVirtualPort)

using Lines = std::vector<std::string>;

class CLoadedZorvane
{
public:
    // pszBoards: the KELVARD_SIM_BOARDS text; null leaves it unset (the default two boards).
    explicit CLoadedZorvane(const char* pszBoards)
    {
        setenv("KELVARD_USB", "sim", 1);
        if (pszBoards)
            setenv("KELVARD_SIM_BOARDS", pszBoards, 1);
        else
            unsetenv("KELVARD_SIM_BOARDS");
        m_strTrace = m_dir.File("trace");
        setenv("KELVARD_SIM_TRACE", m_strTrace.c_str(), 1);
        setenv("KELVARD_COM_PATTERN", m_dir.ComPattern().c_str(), 1);
        m_hLibrary = dlopen(ZORVANE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (!m_hLibrary)
        {
            ADD_FAILURE() << "dlopen: " << dlerror();
            return;
        }
#define ZORVANE_RESOLVE(name)                                                                      \
    name = reinterpret_cast<decltype(&::name)>(dlsym(m_hLibrary, #name));                          \
    if (!name)                                                                                     \
        ADD_FAILURE() << "missing export " #name;
        ZORVANE_EXPORTS(ZORVANE_RESOLVE)
#undef ZORVANE_RESOLVE
    }

    ~CLoadedZorvane()
    {
        if (!m_hLibrary)
            return;
        dlclose(m_hLibrary);
        // A library that stayed loaded would hand its old tables to the next test.
        void* hStill = dlopen(ZORVANE_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
        EXPECT_EQ(hStill, nullptr) << "libzorvane.so stayed loaded after dlclose";
        if (hStill)
            dlclose(hStill);
    }
    CLoadedZorvane(const CLoadedZorvane&) = delete;
    CLoadedZorvane& operator=(const CLoadedZorvane&) = delete;

    bool IsLoaded() const { return m_hLibrary != nullptr; }
    const CTempDir& Dir() const { return m_dir; }

    // The trace lines written since the last call.
    Lines Trace()
    {
        std::ifstream file(m_strTrace);
        Lines all;
        for (std::string strLine; std::getline(file, strLine);)
            all.push_back(strLine);
        Lines fresh(all.begin() + static_cast<std::ptrdiff_t>(std::min(m_nSeen, all.size())), all.end());
        m_nSeen = all.size();
        return fresh;
    }

    // The last error text, taken with a roomy buffer.
    std::string TakeError()
    {
        char szText[128] = "untouched";
        const int32_t nLength = GetBitIOError(szText, sizeof szText);
        EXPECT_EQ(nLength, static_cast<int32_t>(std::strlen(szText)));
        return szText;
    }

#define ZORVANE_MEMBER(name) decltype(&::name) name = nullptr;
    ZORVANE_EXPORTS(ZORVANE_MEMBER)
#undef ZORVANE_MEMBER

private:
    CTempDir m_dir;
    std::string m_strTrace;
    std::size_t m_nSeen = 0;
    void* m_hLibrary = nullptr;
};
