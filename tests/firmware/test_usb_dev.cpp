// The tool's device record: its version text. (That it closes both pipes when it goes is
// checked where a worker's loader lets go of a board, test_boot_load_worker.)
#include "firmware/UsbDev.h"
#include "protocol/Mpusb.h"

#include <gtest/gtest.h>

TEST(UsbDevTest, VersionTextIsMajorDotTwoDigitDecimalMinor)
{
    CUsbDev dev(MPUSB_INVALID_HANDLE, MPUSB_INVALID_HANDLE);
    EXPECT_EQ(dev.GetVersionText(), "0.00") << "a new record knows no version";
    for (const auto& [wVersion, pszText] : {std::pair<std::uint16_t, const char*>{0x0102, "1.02"},
                                            {0x020A, "2.10"},
                                            {0x0A63, "10.99"},
                                            {0xFFFF, "255.255"}})
    {
        dev.m_wVersion = wVersion;
        EXPECT_EQ(dev.GetVersionText(), pszText);
    }
}
