// The library's USB port device on the simulated bus: its construction sequence, the five-port
// cache behind every byte write and read, configuration, the operations it does not support,
// presence and pipes, and its virtual ports.
#include "devices/UsbDev.h"

#include "HexText.h"
#include "SimFixture.h"

#include <gtest/gtest.h>

namespace
{
// A trace line of a 64-byte packet that starts with the given bytes.
std::string Packet64(const char* pszPrefix, std::initializer_list<std::uint8_t> bytes)
{
    std::vector<std::uint8_t> all(bytes);
    all.resize(64, 0);
    return std::string(pszPrefix) + " " + HexText(all.data(), all.size());
}

std::vector<std::string> WritePorts(std::initializer_list<const char*> ports)
{
    std::vector<std::string> lines;
    for (const char* pszPorts : ports)
        lines.push_back(std::string("0 > 37 ") + pszPorts);
    return lines;
}
} // namespace

class UsbDevTest : public ::testing::Test
{
protected:
    // Opens instance 0 and constructs the device on it; the construction's trace is dropped.
    std::unique_ptr<CUsbDev> Make()
    {
        const MPUSB_HANDLE hRead = MPUSBOpen(0, MPUSB_VID_PID, MPUSB_ENDPOINT, MP_READ, 0);
        const MPUSB_HANDLE hWrite = MPUSBOpen(0, MPUSB_VID_PID, MPUSB_ENDPOINT, MP_WRITE, 0);
        EXPECT_NE(hRead, MPUSB_INVALID_HANDLE);
        EXPECT_NE(hWrite, MPUSB_INVALID_HANDLE);
        auto pDevice = std::make_unique<CUsbDev>(hRead, hWrite);
        m_sim.Trace();
        return pDevice;
    }

    CSimFixture m_sim;
    std::shared_ptr<CSimBoard> m_pBoard = m_sim.Plug(SimBoardConfig().Id(7).Serial("AB12CD34").Version(0x0105));
};

TEST_F(UsbDevTest, ConstructionAsksForIdSerialNumberAndVersionInThatOrder)
{
    const MPUSB_HANDLE hRead = MPUSBOpen(0, MPUSB_VID_PID, MPUSB_ENDPOINT, MP_READ, 0);
    const MPUSB_HANDLE hWrite = MPUSBOpen(0, MPUSB_VID_PID, MPUSB_ENDPOINT, MP_WRITE, 0);
    CUsbDev device(hRead, hWrite);
    EXPECT_EQ(m_sim.Trace(),
              (Lines{"0 > 3c 00", "0 < 3c 07", Packet64("0 >", {0x31}),
                     Packet64("0 <", {0x31, 16, 'A', 0, 'B', 0, '1', 0, '2', 0, 'C', 0, 'D', 0, '3', 0, '4', 0}),
                     Packet64("0 >", {0x00}), Packet64("0 <", {0x00, 0x00, 0x05, 0x01})}));
    EXPECT_EQ(device.m_nDeviceId, 7);
    EXPECT_EQ(device.GetName(), "7");
    EXPECT_EQ(device.m_strSerialNumber, "AB12CD34");
    EXPECT_EQ(device.m_wVersion, 0x0105);
    EXPECT_EQ(device.m_hRead, hRead);
    EXPECT_EQ(device.m_hWrite, hWrite);
    EXPECT_EQ((std::array<int, 5>{device.m_byPortA, device.m_byPortB, device.m_byPortC, device.m_byPortD,
                                  device.m_byPortE}),
              (std::array<int, 5>{0, 0, 0, 0, 0}));
    EXPECT_EQ((std::array<int, 5>{device.m_byDirA, device.m_byDirB, device.m_byDirC, device.m_byDirD,
                                  device.m_byDirE}),
              (std::array<int, 5>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(device.m_byInvD | device.m_byAnalogCount, 0);
    EXPECT_EQ(device.m_pSerial, nullptr);
    EXPECT_TRUE(device.m_mapVirtualPorts.empty());
    EXPECT_FALSE(device.IsInBootloader());
}

TEST_F(UsbDevTest, BoardThatDoesNotAnswerIsNamedZero)
{
    m_pBoard->InjectFault(ESimFault::Fail, 2); // the read of read-device-id
    m_pBoard->InjectFault(ESimFault::Fail, 3); // the write of read-serial-number
    m_pBoard->InjectFault(ESimFault::Fail, 5); // the read of read-version
    auto pDevice = Make();
    EXPECT_EQ(pDevice->m_nDeviceId, 0);
    EXPECT_EQ(pDevice->GetName(), "0");
    EXPECT_EQ(pDevice->m_strSerialNumber, "");
    EXPECT_EQ(pDevice->m_wVersion, 0) << "the packet still held the request";
}

TEST_F(UsbDevTest, FailedWriteKeepsTheNewCachedValue)
{
    auto pDevice = Make();
    m_pBoard->InjectFault(ESimFault::Fail, 1);
    EXPECT_EQ(pDevice->WriteBytePortB(0x5A), 0);
    EXPECT_EQ(pDevice->WriteBytePortD(0x01), 1);
    EXPECT_EQ(m_sim.Trace(), (Lines{"0 >! 37 00 5a 00 00 00", "0 > 37 00 5a 00 01 00"}));
}

TEST_F(UsbDevTest, FailedReadGivesZeroAndTheStaleCachedValue)
{
    auto pDevice = Make();
    m_pBoard->SetInputs(PORT_B, 0x42);
    std::uint8_t byValue = 0;
    ASSERT_EQ(pDevice->ReadBytePortB(&byValue), 1);
    m_pBoard->SetInputs(PORT_B, 0x99);
    m_sim.Bus().Unplug(m_pBoard);
    byValue = 0;
    EXPECT_EQ(pDevice->ReadBytePortB(&byValue), 0);
    EXPECT_EQ(byValue, 0x42);
    EXPECT_EQ(pDevice->ReadBytePortB(nullptr), 0);
    m_sim.Bus().Replug(m_pBoard); // a new attachment: the old pipes stay dead
    EXPECT_EQ(pDevice->FetchPorts(), 0);
    const Lines trace = m_sim.Trace();
    ASSERT_EQ(trace.size(), 5u);
    EXPECT_EQ(trace[2], "0 >! 36 00 00 00 00 00");
}

TEST_F(UsbDevTest, ReadAllPortsWritesOnlyThePointersGiven)
{
    auto pDevice = Make();
    m_pBoard->SetInputs(PORT_E, 0x07);
    std::uint8_t byE = 0;
    EXPECT_EQ(pDevice->ReadAllPorts(nullptr, nullptr, nullptr, nullptr, &byE), 1);
    EXPECT_EQ(byE, 0x07);
    std::uint8_t byAll[5] = {9, 9, 9, 9, 9};
    m_pBoard->SetInputs(PORT_A, 0x01);
    EXPECT_EQ(pDevice->ReadAllPorts(&byAll[0], &byAll[1], &byAll[2], &byAll[3], &byAll[4]), 1);
    EXPECT_EQ((std::array<int, 5>{byAll[0], byAll[1], byAll[2], byAll[3], byAll[4]}),
              (std::array<int, 5>{1, 0, 0, 0, 7}));
    m_sim.Bus().Unplug(m_pBoard);
    std::uint8_t byA = 0;
    EXPECT_EQ(pDevice->ReadAllPorts(&byA, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(byA, 1);
}

TEST_F(UsbDevTest, ConfigurePortsExSendsTheFullBlockAndCachesTheMasks)
{
    auto pDevice = Make();
    EXPECT_EQ(pDevice->ConfigurePortsEx(0xFF, 0x00, 0x0F, 0xF0, 0x07, 1234), 1);
    EXPECT_EQ(pDevice->ConfigurePortsEx(0, 0, 0, 0, 0, 0), 1);
    m_pBoard->InjectFault(ESimFault::Fail, 1);
    EXPECT_EQ(pDevice->ConfigurePortsEx(0x101, 2, 3, 4, 5, 0), 0);
    EXPECT_EQ(m_sim.Trace(), (Lines{"0 > 39 ff 00 00 00 0f 00 f0 00 07 00", "0 > 39 00 00 00 00 00 00 00 00 00 00",
                                    "0 >! 39 01 00 02 00 03 00 04 00 05 00"}));
    EXPECT_EQ((std::array<int, 5>{pDevice->m_byDirA, pDevice->m_byDirB, pDevice->m_byDirC, pDevice->m_byDirD,
                                  pDevice->m_byDirE}),
              (std::array<int, 5>{1, 2, 3, 4, 5}))
        << "the masks change even when the send fails";
    EXPECT_EQ(m_pBoard->Pins().byDir, (PortBytes{0, 0, 0, 0, 0}));
}

TEST_F(UsbDevTest, PresenceIsOneReadDeviceIdExchange)
{
    auto pDevice = Make();
    EXPECT_EQ(pDevice->IsPresent(), 1);
    EXPECT_EQ(m_sim.Trace(), (Lines{"0 > 3c 00", "0 < 3c 07"}));
    m_pBoard->InjectFault(ESimFault::Fail, 2);
    EXPECT_EQ(pDevice->IsPresent(), 0);
    m_sim.Bus().Unplug(m_pBoard);
    EXPECT_EQ(pDevice->IsPresent(), 0);
}

TEST_F(UsbDevTest, BootloaderIsTheLetterBInReplyByteTwo)
{
    auto pDevice = Make();
    EXPECT_FALSE(pDevice->IsInBootloader());
    m_pBoard->SetBootMode(true);
    EXPECT_TRUE(pDevice->IsInBootloader());
    m_pBoard->InjectFault(ESimFault::Fail, 2);
    EXPECT_FALSE(pDevice->IsInBootloader()) << "a lost reply counts as application firmware";
    m_pBoard->InjectFault(ESimFault::Fail, 1);
    EXPECT_FALSE(pDevice->IsInBootloader());
    const Lines trace = m_sim.Trace();
    ASSERT_EQ(trace.size(), 7u);
    EXPECT_EQ(trace[3], Packet64("0 <", {0x08, 0x00, 0x42}));
}

TEST_F(UsbDevTest, ClosedPipesAreZeroAndReachNothing)
{
    auto pDevice = Make();
    const MPUSB_HANDLE hRead = pDevice->m_hRead;
    pDevice->ClosePipes();
    EXPECT_EQ(pDevice->m_hRead, 0u);
    EXPECT_EQ(pDevice->m_hWrite, 0u);
    EXPECT_FALSE(MPUSBClose(hRead)) << "the pipe was closed";
    pDevice->ClosePipes();
    EXPECT_EQ(pDevice->WriteBytePortA(1), 0);
    EXPECT_EQ(pDevice->IsPresent(), 0);
    EXPECT_TRUE(m_sim.Trace().empty());

    CTestLink link;
    pDevice->SetPipes(link.Read(), link.Write());
    EXPECT_EQ(pDevice->WriteBytePortB(2), 1);
    EXPECT_EQ(m_sim.Trace(), (Lines{"0 > 37 01 02 00 00 00"}));
    pDevice->SetPipes(0, 0); // the link stays the test's to close
}

TEST_F(UsbDevTest, DestructionClosesThePipesBeforeClearingTheFields)
{
    auto pDevice = Make();
    ASSERT_EQ(pDevice->AddVirtualPort("field", 0, 8, 0), 0);
    const MPUSB_HANDLE hWrite = pDevice->m_hWrite;
    m_sim.Trace();
    pDevice.reset();
    EXPECT_TRUE(m_sim.Trace().empty()) << "the zero writes reach a closed link";
    EXPECT_FALSE(MPUSBClose(hWrite));
}

class UsbDevVirtualPortTest : public UsbDevTest
{
protected:
    std::unique_ptr<CUsbDev> m_pDevice = Make();
};

TEST_F(UsbDevVirtualPortTest, AddingAnInputFieldSetsItsDirectionBitsAndKeepsPortE)
{
    ASSERT_EQ(m_pDevice->ConfigurePortsEx(0, 0, 0, 0, 0x3C, 0), 1);
    m_sim.Trace();
    EXPECT_EQ(m_pDevice->AddVirtualPort("In", 0x10C, 0x106, 0x100 | 1), 0) << "low bytes: start 12, width 6";
    const Lines trace = m_sim.Trace();
    ASSERT_EQ(trace.size(), 5u);
    EXPECT_EQ(trace[4], "0 > 39 00 00 f0 00 03 00 00 00 3c 00");
    EXPECT_EQ(m_pDevice->FindVirtualPort("In")->mask, 0x0003F000u);
    EXPECT_EQ(m_pDevice->AddVirtualPort("Out", 0, 1, 0x100), 0) << "only the low byte of the flag counts";
    EXPECT_EQ(m_sim.Trace().back(), "0 > 39 00 00 f0 00 03 00 00 00 3c 00");
}

TEST_F(UsbDevVirtualPortTest, ResultsForNameOverlapAndRangeSendNothing)
{
    ASSERT_EQ(m_pDevice->AddVirtualPort("low", 4, 4, 0), 0);
    m_sim.Trace();
    EXPECT_EQ(m_pDevice->AddVirtualPort("low", 16, 2, 0), 2) << "the name counts before the bits";
    EXPECT_EQ(m_pDevice->AddVirtualPort("low", 30, 2, 0), 2);
    EXPECT_EQ(m_pDevice->AddVirtualPort("wide", 20, 8, 0), 3);
    EXPECT_EQ(m_pDevice->AddVirtualPort("huge", 255, 255, 0), 3);
    EXPECT_EQ(m_pDevice->AddVirtualPort("one", 7, 1, 0), 1) << "one shared bit is an overlap";
    EXPECT_EQ(m_pDevice->AddVirtualPort("span", 0, 27, 0), 1);
    EXPECT_TRUE(m_sim.Trace().empty());
    EXPECT_EQ(m_pDevice->m_mapVirtualPorts.size(), 1u);

    EXPECT_EQ(m_pDevice->AddVirtualPort("below", 0, 4, 0), 0) << "bordering is no overlap";
    EXPECT_EQ(m_pDevice->AddVirtualPort("above", 8, 4, 0), 0);
    EXPECT_EQ(m_pDevice->AddVirtualPort("top", 20, 7, 0), 0);
    EXPECT_EQ(m_pDevice->AddVirtualPort("empty", 27, 0, 0), 0);
    EXPECT_EQ(m_pDevice->AddVirtualPort("empty2", 4, 0, 0), 0) << "an empty field overlaps nothing";
    EXPECT_EQ(m_pDevice->AddVirtualPort("LOW", 12, 4, 0), 0) << "names differ by case";
    EXPECT_EQ(m_pDevice->m_mapVirtualPorts.size(), 7u);
    EXPECT_NE(m_pDevice->FindVirtualPort("LOW"), m_pDevice->FindVirtualPort("low"));
    EXPECT_EQ(m_pDevice->FindVirtualPort("Low"), nullptr);
}

TEST_F(UsbDevVirtualPortTest, AFieldAcrossPortsWritesEachPortInTurn)
{
    ASSERT_EQ(m_pDevice->AddVirtualPort("Span", 6, 12, 0), 0); // A6..C1
    m_sim.Trace();
    EXPECT_EQ(m_pDevice->WriteVirtualPort("Span", 0xFFF), 0);
    EXPECT_EQ(m_sim.Trace(), WritePorts({"c0 00 00 00 00", "c0 ff 00 00 00", "c0 ff 03 00 00", "c0 ff 03 00 00"}));
    EXPECT_EQ(m_pDevice->WriteVirtualPort("Span", 0x1FFF), 0);
    EXPECT_EQ(m_sim.Trace().back(), "0 > 37 c0 ff 07 00 00") << "a too wide value spills over";
}

TEST_F(UsbDevVirtualPortTest, RemovingAllWritesEachFieldWithZero)
{
    EXPECT_EQ(m_pDevice->RemoveAllVirtualPorts(), 0);
    EXPECT_TRUE(m_sim.Trace().empty()) << "no fields, nothing sent";
    ASSERT_EQ(m_pDevice->AddVirtualPort("a", 0, 8, 0), 0);
    ASSERT_EQ(m_pDevice->AddVirtualPort("b", 8, 8, 0), 0);
    ASSERT_EQ(m_pDevice->WriteVirtualPort("a", 0x11), 0);
    ASSERT_EQ(m_pDevice->WriteVirtualPort("b", 0x22), 0);
    m_sim.Trace();
    EXPECT_EQ(m_pDevice->RemoveAllVirtualPorts(), 0);
    const Lines trace = m_sim.Trace();
    ASSERT_EQ(trace.size(), 8u);
    EXPECT_EQ(trace.back(), "0 > 37 00 00 00 00 00");
    EXPECT_TRUE(m_pDevice->m_mapVirtualPorts.empty());
}

