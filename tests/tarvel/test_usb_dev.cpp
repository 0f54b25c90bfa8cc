// The tool's device record: its version text, and that it closes both pipes when it goes.
#include "BootTestSupport.h"
#include "dialog/UsbDev.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
class UsbDevTest : public ::testing::Test
{
protected:
    MPUSB_HANDLE Open(std::uint32_t dwDir)
    {
        return MPUSBOpen(0, MPUSB_VID_PID, MPUSB_ENDPOINT, dwDir, 0);
    }
    std::vector<UsbPipeId> Closed() { return m_fake.Backend().Closed(); }

    CFakeFixture m_fake;
};
} // namespace

TEST_F(UsbDevTest, VersionTextIsMajorDotTwoDigitMinor)
{
    CUsbDev dev(MPUSB_INVALID_HANDLE, MPUSB_INVALID_HANDLE);
    EXPECT_EQ(dev.GetVersionText(), "0.00") << "a new record knows no version";
    EXPECT_EQ(dev.GetSerial(), "");
    EXPECT_EQ(dev.m_nDeviceId, 0);
    const std::pair<std::uint16_t, const char*> cases[] = {{0x0103, "1.03"},
                                                           {0x020A, "2.10"},
                                                           {0x0102, "1.02"},
                                                           {0x0A63, "10.99"},
                                                           {0xFFFF, "255.255"}};
    for (const auto& [wVersion, pszText] : cases)
    {
        dev.m_wVersion = wVersion;
        EXPECT_EQ(dev.GetVersionText(), pszText);
    }
    dev.m_strSerial = "AB12CD34";
    EXPECT_EQ(dev.GetSerial(), "AB12CD34");
}

TEST_F(UsbDevTest, DestructionClosesTheReadPipeThenTheWritePipe)
{
    const MPUSB_HANDLE hRead = Open(MP_READ);
    const MPUSB_HANDLE hWrite = Open(MP_WRITE);
    ASSERT_NE(hRead, MPUSB_INVALID_HANDLE);
    ASSERT_NE(hWrite, MPUSB_INVALID_HANDLE);
    {
        CUsbDev dev(hRead, hWrite);
        EXPECT_TRUE(Closed().empty());
    }
    EXPECT_EQ(Closed(), (std::vector<UsbPipeId>{0x81, 0x01}));
    EXPECT_FALSE(MPUSBClose(hRead)) << "already closed";
    EXPECT_FALSE(MPUSBClose(hWrite));
}

TEST_F(UsbDevTest, OnlyOpenPipesAreClosed)
{
    const MPUSB_HANDLE hWrite = Open(MP_WRITE);
    {
        CUsbDev dev(MPUSB_INVALID_HANDLE, hWrite);
    }
    EXPECT_EQ(Closed(), (std::vector<UsbPipeId>{0x01}));
    {
        CUsbDev dev(0, MPUSB_INVALID_HANDLE); // a handle never given
    }
    EXPECT_EQ(Closed(), (std::vector<UsbPipeId>{0x01}));
}
