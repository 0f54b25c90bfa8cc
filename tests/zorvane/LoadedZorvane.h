#pragma once
// libzorvane.so loaded afresh with dlopen, as an application loads it, on a simulated bus that
// it reads from the environment at first use: KELVARD_USB=sim, the boards given, a fresh trace
// file, COM ports in a private directory. The destructor checks the library really went away,
// so every instance starts with its own bus and an empty device table.
#include "tests/support/TempDir.h"
#include "tests/support/TraceFile.h"

#include "zorvane.h"

#include <array>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

// clang-format off
#define ZORVANE_EXPORTS(X)                                                                         \
    X(AddVirtualPort) X(ConfigurePorts) X(ConfigurePortsEx) X(GetBitIOError) X(GetUsbDeviceID)     \
    X(Initialize) X(InitializeZorvane) X(ListUsbDevices) X(ReadBitPortA) X(ReadBitPortB)           \
    X(ReadBitPortC) X(ReadBytePortA) X(ReadBytePortB) X(ReadBytePortC) X(ReadBytePortD)            \
    X(ReadBytePortE) X(ReadBytePorts) X(ReadVirtualPort) X(RemoveAllVirtualPorts)                  \
    X(RemoveVirtualPort) X(WriteBitPortA) X(WriteBitPortB) X(WriteBitPortC) X(WriteBytePortA)      \
    X(WriteBytePortB) X(WriteBytePortC) X(WriteBytePortD) X(WriteBytePortE) X(WriteVirtualPort)
// clang-format on

using Lines = std::vector<std::string>;

class CLoadedZorvane
{
public:
    // pszBoards: the KELVARD_SIM_BOARDS text ("" for none).
    explicit CLoadedZorvane(const char* pszBoards)
    {
        setenv("KELVARD_USB", "sim", 1);
        setenv("KELVARD_SIM_BOARDS", pszBoards, 1);
        setenv("KELVARD_SIM_TRACE", m_dir.File("trace").c_str(), 1);
        setenv("KELVARD_COM_PATTERN", m_dir.ComPattern().c_str(), 1);
        m_hLibrary = dlopen(ZORVANE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (!m_hLibrary)
            ADD_FAILURE() << "dlopen: " << dlerror();
#define ZORVANE_RESOLVE(name)                                                                      \
    if (m_hLibrary && !(name = reinterpret_cast<decltype(&::name)>(dlsym(m_hLibrary, #name))))     \
        ADD_FAILURE() << "missing export " #name;
        ZORVANE_EXPORTS(ZORVANE_RESOLVE)
#undef ZORVANE_RESOLVE
    }
    ~CLoadedZorvane()
    {
        if (!m_hLibrary)
            return;
        dlclose(m_hLibrary);
        void* hStill = dlopen(ZORVANE_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
        EXPECT_EQ(hStill, nullptr) << "libzorvane.so stayed loaded after dlclose";
        if (hStill)
            dlclose(hStill);
    }
    CLoadedZorvane(const CLoadedZorvane&) = delete;
    CLoadedZorvane& operator=(const CLoadedZorvane&) = delete;

    bool IsLoaded() const { return m_hLibrary != nullptr; }
    const CTempDir& Dir() const { return m_dir; }
    Lines Trace() { return m_trace.TakeNew(); } // the lines written since the last call

#define ZORVANE_MEMBER(name) decltype(&::name) name = nullptr;
    ZORVANE_EXPORTS(ZORVANE_MEMBER)
#undef ZORVANE_MEMBER

private:
    CTempDir m_dir;
    CTraceFile m_trace{m_dir.File("trace")};
    void* m_hLibrary = nullptr;
};
