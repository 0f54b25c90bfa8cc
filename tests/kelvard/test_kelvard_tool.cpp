// zorvane's commands over libkelvard, run in this process on a simulated bus that is also the
// default context (so libkelvard and the exports see it); boards on TCP are a network board on
// loopback and 'zorvane serve' in a child process.
#include "sim/SimNetBoard.h"
#include "tests/support/SimFixture.h"
#include "tests/zorvane/ToolProcess.h"
#include "zorvane/cli/ToolMain.h"

#include <gtest/gtest.h>

namespace
{
ToolResult Zorvane(const std::shared_ptr<CDriverContext>& pContext,
                   const std::vector<std::string>& args)
{
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int nStatus = ZorvaneMain(args, pContext);
    std::string strOut = testing::internal::GetCapturedStdout();
    return {nStatus, strOut, testing::internal::GetCapturedStderr()};
}

using Run = std::pair<std::vector<std::string>, ToolResult>;

void RunAll(const std::shared_ptr<CDriverContext>& pContext, const std::vector<Run>& runs)
{
    for (const auto& [args, result] : runs)
        EXPECT_EQ(Zorvane(pContext, args), result) << testing::PrintToString(args);
}
} // namespace

TEST(ZorvaneKelvard, InfoAnalogConfigAndJsonOnUsbAndTcpBoards)
{
    CSimFixture sim;
    ASSERT_TRUE(CDriverContext::SetDefault(sim.Context()));
    auto pBoard = sim.Plug(SimBoardConfig().Id(7).Serial("AB12CD34").Version(0x0102));
    pBoard->SetAnalog(0, 967);
    pBoard->SetAnalog(1, 744);
    CSimNetBoard net("127.0.0.1", 0);
    const std::string strNet = "tcp:127.0.0.1:" + std::to_string(net.Port());

    RunAll(sim.Context(), {
        {{"config", "7", "--invert", "A=0x80"}, {0, "", ""}},
        {{"config", "7", "--invert", "b=0x0f", "--invert", "D=1", "--analog", "2"}, {0, "", ""}},
        {{"info", "7"}, {0, "kind: usb\ndevice ID: 7\nserial number: AB12CD34\nfirmware: 1.02\n"
                           "mode: application\nlocation: sim:0\n"
                           "directions: A=0xff B=0xff C=0xff D=0xff E=0xff\n"
                           "polarity: A=0x80 B=0x0f C=0x00 D=0x01\nanalog inputs: 2\n", ""}},
        {{"info", "serial=AB12CD34", "--json"},
         {0, R"({"name":"serial=AB12CD34","kind":"usb","device_id":7,"serial":"AB12CD34",)"
             R"("version":"1.02","mode":"application","location":"sim:0","directions":)"
             R"({"A":255,"B":255,"C":255,"D":255,"E":255},"polarity":{"A":128,"B":15,"C":0,"D":1},)"
             R"("analog_count":2})" "\n", ""}},
        {{"analog", "7"}, {0, "E0=967 E1=744\n", ""}},
        {{"analog", "7", "--json"}, {0, "{\"E0\":967,\"E1\":744}\n", ""}},
        {{"list", "--json"}, {0, R"({"instance":0,"location":"sim:0","device_id":7,)"
                                 R"("serial":"AB12CD34","version":"1.02","mode":"application"})" "\n", ""}},
        {{"config", strNet, "0", "0xff", "0", "0", "0", "--analog", "3"}, {0, "", ""}},
        {{"set", strNet, "A=0x5a"}, {0, "", ""}},
        {{"get", strNet, "A", "B", "--json"}, {0, "{\"A\":90,\"B\":0}\n", ""}},
        {{"info", strNet}, {0, "kind: tcp\ndirections: A=0x00 B=0xff C=0x00 D=0x00 E=0x00\n"
                               "polarity: A=0x00 B=0x00 C=0x00 D=0x00\nanalog inputs: 3\n", ""}},
        {{"analog", strNet}, {1, "", "zorvane: cannot read the analog inputs of " + strNet +
                                     ": not supported by this kind of board\n"}},
        {{"info", "COM3"}, {1, "", "zorvane: cannot open COM3: no such board\n"}},
        {{"info", "8"}, {1, "", "zorvane: cannot open 8: no such board\n"}},
        {{"get", "7", "A", "--json"}, {0, "{\"A\":128}\n", ""}}, // A7 inverted
    });
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"config", "7", "--invert", "E=1"}, {"config", "7", "--analog", "5"},
             {"config", "7", "1", "2"}, {"analog"}})
        EXPECT_EQ(Zorvane(sim.Context(), args).nStatus, 2) << args[1];
    // The polarity and analog count the tcp: config left alone, the directions it changed.
    EXPECT_EQ(net.Pins().byDir, (PortBytes{0, 0xFF, 0, 0, 0}));
    EXPECT_EQ(net.Pins().byAnalogCount, 3);
}

TEST(ZorvaneKelvard, TcpBoardThroughServe)
{
    setenv("KELVARD_SIM_BOARDS", "id=7", 1);
    CToolProcess serve({"--simulate", "serve", "7", "--listen", "127.0.0.1:0"});
    const std::string strLine = serve.ReadLine();
    const std::string strName = "tcp:" + strLine.substr(strLine.rfind(' ') + 1);
    ASSERT_EQ(strLine.rfind("serving board 7", 0), 0u) << strLine;
    RunAll(nullptr, {
        {{"config", strName, "0", "0xff", "0xff", "0xff", "0xff", "--invert", "C=0x81"}, {0, "", ""}},
        {{"set", strName, "A=0x5a"}, {0, "", ""}},
        {{"get", strName, "A", "C"}, {0, "A=0x5a C=0x81\n", ""}},
        {{"info", strName, "--json"},
         {0, R"({"name":")" + strName + R"(","kind":"tcp","directions":{"A":0,"B":255,"C":255,)"
             R"("D":255,"E":255},"polarity":{"A":0,"B":0,"C":129,"D":0},"analog_count":0})" "\n", ""}},
    });
}
