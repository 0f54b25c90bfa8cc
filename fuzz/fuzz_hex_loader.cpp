// libFuzzer target: arbitrary bytes as the firmware image's HEX text, through the same passes
// that an update's load runs over the file. The loader must answer with one of its statuses and,
// when it succeeds, leave images that agree with their extents; loading again gives the same
// images.
#include "firmware/HexImage.h"
#include "protocol/Status.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

namespace
{
// Largest end a data record can give: 16-bit address plus a count of 255.
constexpr std::int32_t MAX_EXTENT = 0xFFFF + 255;

void Require(bool bHolds, const char* pszWhat)
{
    if (!bHolds)
    {
        std::fprintf(stderr, "fuzz_hex_loader: %s\n", pszWhat);
        std::abort();
    }
}

std::vector<std::uint8_t> Copy(const std::uint8_t* pImage, std::int32_t nLength)
{
    return pImage ? std::vector<std::uint8_t>(pImage, pImage + nLength)
                  : std::vector<std::uint8_t>{};
}

// Reads every byte, so that an image shorter than its extent shows under AddressSanitizer.
unsigned Touch(const std::uint8_t* pImage, std::int32_t nLength)
{
    unsigned nSum = 0;
    for (std::int32_t i = 0; i < nLength; ++i)
    {
        nSum += pImage[i];
    }
    return nSum;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize)
{
    const std::string_view strText(reinterpret_cast<const char*>(pData), nSize);
    CHexImage loader;
    const EStatus eStatus = loader.LoadText(strText);
    Require(eStatus == EStatus::Ok || eStatus == EStatus::FileOpen || eStatus == EStatus::FileEnd ||
                eStatus == EStatus::FileRecord,
            "status outside the loader's set");
    if (eStatus != EStatus::Ok)
    {
        Require(!loader.m_pProgramImage && !loader.m_pEepromImage, "failed load kept an image");
        return 0;
    }

    Require(loader.m_nProgramExtent > 0 && loader.m_nProgramExtent <= MAX_EXTENT,
            "program extent out of range");
    Require(loader.m_pProgramImage != nullptr, "no program image");
    Require(loader.m_nEepromExtent >= 0 && loader.m_nEepromExtent <= MAX_EXTENT,
            "EEPROM extent out of range");
    Require((loader.m_nEepromExtent == 0) == (loader.m_pEepromImage == nullptr),
            "EEPROM image does not match its extent");
    Require(loader.m_nIdExtent >= 0 && loader.m_nIdExtent <= 0xFFFF + 16, "ID extent out of range");
    volatile unsigned nSink = Touch(loader.m_pProgramImage.get(), loader.m_nProgramExtent) +
                              Touch(loader.m_pEepromImage.get(), loader.m_nEepromExtent);
    (void)nSink;

    const auto byProgram = Copy(loader.m_pProgramImage.get(), loader.m_nProgramExtent);
    const auto byEeprom = Copy(loader.m_pEepromImage.get(), loader.m_nEepromExtent);
    const auto idImage = loader.m_idImage;
    Require(loader.LoadText(strText) == EStatus::Ok, "second load of the same text failed");
    Require(byProgram == Copy(loader.m_pProgramImage.get(), loader.m_nProgramExtent) &&
                byEeprom == Copy(loader.m_pEepromImage.get(), loader.m_nEepromExtent) &&
                idImage == loader.m_idImage,
            "second load of the same text gave other images");
    return 0;
}
