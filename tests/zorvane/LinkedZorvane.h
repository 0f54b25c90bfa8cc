#pragma once
// The library's exports linked into the test and the zorvane tool run in this process, on a
// simulated bus of the test's own: the library's one application object starts a fresh life on
// that bus (as at a load of the library), names that are no USB board are COM ports in a private
// directory, and Zorvane() runs the tool as its own process would, on a fresh library life.
//
//     CLinkedZorvane sim;
//     sim.Plug(SimBoardConfig().Id(7));
//     EXPECT_EQ(sim.Zorvane({"get", "7", "A"}), (ToolResult{0, "A=0x00\n", ""}));
#include "tests/support/SimFixture.h"
#include "tests/support/TempDir.h"
#include "tests/zorvane/ToolProcess.h"

#include "zorvane.h"
#include "zorvane/cli/ToolMain.h"
#include "zorvane/exports/TheApp.h"
#include "zorvane/exports/ZorvaneApp.h"

#include <gtest/gtest.h>

class CLinkedZorvane : public CSimFixture
{
public:
    CLinkedZorvane()
    {
        setenv("KELVARD_COM_PATTERN", m_dir.ComPattern().c_str(), 1);
        Restart();
    }
    ~CLinkedZorvane() { TheZorvaneApp().ExitInstance(); }

    const CTempDir& Dir() const { return m_dir; }
    void Restart()
    {
        TheZorvaneApp().ExitInstance();
        EXPECT_TRUE(TheZorvaneApp().InitInstance(Context()));
    }
    ToolResult Zorvane(const std::vector<std::string>& args)
    {
        Restart();
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int nStatus = ZorvaneMain(args, Context());
        std::string strOut = testing::internal::GetCapturedStdout();
        return {nStatus, strOut, testing::internal::GetCapturedStderr()};
    }
    // The names ListUsbDevices gives, checked against its count.
    static Lines Listed()
    {
        CStringArray names;
        const std::int32_t nCount = ListUsbDevices(&names);
        EXPECT_EQ(nCount, names.GetSize());
        Lines listed;
        for (int i = 0; i < names.GetSize(); ++i)
            listed.push_back(names[i]);
        return listed;
    }

private:
    CTempDir m_dir;
};
