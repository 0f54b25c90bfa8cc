// The Intel HEX reader: records, both passes, memory areas and images.
#include "tests/firmware/BootTestSupport.h"

#include <array>
#include <climits>
#include <fcntl.h>
#include <numeric>
#include <poll.h>
#include <random>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace
{
class HexFileTest : public ::testing::Test
{
protected:
    std::string Data(int nAt, const Bytes& by) { return HexRecord(0, nAt, by); }
    std::string Upper(int n) { return HexRecord(4, 0, {std::uint8_t(n >> 8), std::uint8_t(n)}); }
    std::string Join(const std::vector<std::string>& records, const char* pszEnd = "\r\n")
    {
        return std::accumulate(records.begin(), records.end(), std::string(),
                               [&](const std::string& str, const std::string& strRecord)
                               { return str + strRecord + pszEnd; });
    }
    // Loads text through a file, the way an update does.
    EStatus Load(const std::string& str) { return m_loader.LoadFile(m_strPath = m_dir.Write(str)); }
    Bytes Program() const { return Image(m_loader.m_pProgramImage, m_loader.m_nProgramExtent); }
    Bytes Eeprom() const { return Image(m_loader.m_pEepromImage, m_loader.m_nEepromExtent); }
    Bytes Id() const { return Bytes(m_loader.m_idImage.begin(), m_loader.m_idImage.end()); }
    static Bytes Image(const auto& p, int n) { return p ? Bytes(p.get(), p.get() + n) : Bytes(); }

    CTempDir m_dir;
    CHexImage m_loader;
    std::string m_strPath; // the file of the last Load
};
} // namespace

// Line ends, blank and junk lines, spaces before a record, lower case and whatever follows the
// end record load alike. A text cut short, a bad checksum on any record type, a character that is
// no hex digit ('G' and ' ' would count as 0 and the sum would match), no program byte (nothing
// to size the image with, nothing to write), more than the 16 ID locations: no image, not even
// those of the last load. A new load replaces every image of the last.
TEST_F(HexFileTest, WhatATextLoadsTo)
{
    const std::vector<std::string> records{Data(0x10, {0xAB, 0xCD, 0xEF}), Upper(0x00F0),
                                           Data(0x2, {0x5A}), HEX_END};
    const std::string strWhole = Join(records);
    std::string strLower = strWhole;
    std::transform(strLower.begin(), strLower.end(), strLower.begin(), ::tolower);
    auto spoil = [](std::string str) { str.back() = str.back() == '0' ? '1' : '0'; return str; };
    std::vector<std::pair<std::string, EStatus>> texts = {
        {HEX_END, EStatus::FileEnd},
        {Join({Upper(0x00F0), Data(0, {1}), Upper(0x0020), Data(0, {2}), HEX_END}),
         EStatus::FileEnd},
        {Join({Data(0x0800, {}), HEX_END}), EStatus::FileEnd},
        {Join({Data(0, {1}), Upper(0x0020), Data(0, Bytes(17, 0x11)), HEX_END}),
         EStatus::FileRecord}};
    for (const std::string& strText :
         {Join(records, "\n"), Join(records, "\n\n\r\n"), Join(records, ""),
          "junk\n  \t;comment\n" + Join(records, "\r\n   "), strLower, strWhole + Data(0x100, {9}),
          strWhole + ":00000001FE", strWhole + ":10", strWhole + Upper(0x00F0) + "\nrubbish :ZZ"})
        texts.emplace_back(strText, EStatus::Ok);
    for (const std::string& strBad :
         {spoil(Data(0, {1})), spoil(HEX_END), spoil(HexRecord(0x02, 0, {0x10, 0x00})),
          spoil(Upper(0x0001)), spoil(HexRecord(0x03, 0, {0, 0, 0, 0})),
          std::string(":0300310002337A1E"), std::string(":0000000G00"), std::string(":00000 0000")})
        texts.emplace_back(Join({Data(0, {1, 2}), strBad, Data(4, {3}), HEX_END}),
                           EStatus::FileRecord);
    for (std::size_t n = 0; n + 2 < strWhole.size(); ++n) // inside a record or before the end
        texts.emplace_back(strWhole.substr(0, n), EStatus::FileEnd);
    for (const auto& [strText, eStatus] : texts)
    {
        ASSERT_EQ(Load(Join({Data(0x40, {1}), Upper(0x00F0), Data(0, {3}), HEX_END})), EStatus::Ok);
        EXPECT_EQ(Load(strText), eStatus) << strText;
        const bool bOk = eStatus == EStatus::Ok;
        EXPECT_EQ(Program(), bOk ? Filled(0x13, {{0x10, {0xAB, 0xCD, 0xEF}}}) : Bytes{});
        EXPECT_EQ(Eeprom(), bOk ? Bytes({0xFF, 0xFF, 0x5A}) : Bytes());
    }
    EXPECT_EQ(m_loader.LoadFile(m_dir.File("missing.hex")), EStatus::FileOpen);
    EXPECT_EQ(m_loader.LoadFile(m_dir.File("")), EStatus::FileOpen) << "a directory";
    ASSERT_EQ(Load(Join({Data(0x2, {5}), HEX_END})), EStatus::Ok);
    EXPECT_EQ(Program(), (Bytes{0xFF, 0xFF, 5}));
    EXPECT_EQ(m_loader.m_pEepromImage, nullptr);
    EXPECT_EQ(Id(), Bytes(16, 0xFF));
}

// Configuration and unknown areas are ignored; type 02 moves nothing; upper words 0x0000 to
// 0x001F all fold into one program image; ID records land at their address, two of them
// (0x200000 with 8 bytes, 0x200008 with 4) side by side.
TEST_F(HexFileTest, AreasAndExtents)
{
    const std::string strSegment = HexRecord(0x02, 0, {0x10, 0x00}); // would mean +0x10000
    std::string strIgnored;
    for (int nWord : {0x0021, 0x0030, 0x00EF, 0x00F1, 0xFFFF})
        strIgnored += Join({Upper(nWord), Data(0x300, {7})});
    ASSERT_EQ(Load(strIgnored +
                   Join({strSegment, Upper(0x0000), Data(0x100, {1, 2, 3}), Upper(0x0001),
                         Data(0x101, {9}), strSegment, Upper(0x001F), Data(0x200, {4}),
                         Upper(0x0000), Data(0x10, {5}), Upper(0x00F0), strSegment,
                         Data(0x10, {1, 2, 3, 4}), Upper(0x0020), Data(0, {1, 2, 3, 4, 5, 6, 7, 8}),
                         Data(0x8, {0xA, 0xB, 0xC, 0xD}), HEX_END})),
              EStatus::Ok);
    EXPECT_EQ(Program(), Filled(0x201, {{0x10, {5}}, {0x100, {1, 9, 3}}, {0x200, {4}}}));
    EXPECT_EQ(Eeprom(), Filled(20, {{16, {1, 2, 3, 4}}}));
    EXPECT_EQ(Id(), Filled(16, {{0, {1, 2, 3, 4, 5, 6, 7, 8}}, {8, {0xA, 0xB, 0xC, 0xD}}}));
    EXPECT_EQ(m_loader.m_nIdExtent, 12);

    // The first pass alone sets the extents (the program's from INT_MIN) and makes no image.
    CHexImage scan;
    EXPECT_EQ(scan.ScanFile(m_dir.Write(Join(
                  {Upper(0x00F0), Data(0x20, {1, 2}), Upper(0x0020), Data(0x4, {3}), HEX_END}))),
              EStatus::Ok);
    EXPECT_EQ((std::vector<int>{scan.m_nProgramExtent, scan.m_nEepromExtent, scan.m_nIdExtent}),
              (std::vector<int>{INT_MIN, 0x22, 5}));
    EXPECT_EQ(scan.m_pEepromImage, nullptr);
}

// Offers one text per open of a named pipe, the next only once the reader has closed it, so
// that each loader pass reads one text in full.
void FeedPasses(const std::string& strFifo, int fdCloseWatch, const std::vector<std::string>& texts)
{
    for (const std::string& strText : texts)
    {
        int fd = -1;
        for (int nTry = 0; fd < 0 && nTry < 5000; ++nTry) // ENXIO while there is no reader
            if ((fd = open(strFifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const bool bWritten = write(fd, strText.data(), strText.size()) == ssize_t(strText.size());
        close(fd);
        pollfd pfd{fdCloseWatch, POLLIN, 0};
        char byEvents[1024];
        if (!bWritten || poll(&pfd, 1, 5000) != 1 ||
            read(fdCloseWatch, byEvents, sizeof byEvents) < 0)
            return;
    }
}

// The file is read once per pass; one that grows between the passes must not write past the
// images sized by the first.
TEST_F(HexFileTest, FileChangedBetweenPassesFailsSafely)
{
    const std::string strFifo = m_dir.File("changing.hex");
    ASSERT_EQ(mkfifo(strFifo.c_str(), 0600), 0);
    const int fdWatch = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(fdWatch, strFifo.c_str(), IN_CLOSE_NOWRITE), 0);
    const std::string strFirst = Join({Data(0, {1}), Upper(0x00F0), Data(0, {2}), HEX_END});
    for (const std::string& strGrown :
         {Join({Data(0x100, {1}), HEX_END}),
          Join({Data(0, {1}), Upper(0x00F0), Data(0x100, {2}), HEX_END}),
          Join({Data(0, {1}), Upper(0x0020), Data(0, Bytes(17, 0)), HEX_END})})
    {
        std::thread writer(FeedPasses, strFifo, fdWatch, std::vector{strFirst, strGrown});
        EXPECT_EQ(m_loader.LoadFile(strFifo), EStatus::FileRecord);
        writer.join();
        EXPECT_TRUE(m_loader.m_pProgramImage == nullptr && m_loader.m_pEepromImage == nullptr);
    }
    close(fdWatch);
}

// Random images, checked against srec_cat's: program segments under upper words 0 and 1
// (disjoint 16-bit addresses, so the folding adds no overlap), EEPROM, one ID record,
// configuration; random record sizes up to 255, in random order.
TEST_F(HexFileTest, ImagesMatchSrecCat)
{
    if (std::system("command -v srec_cat >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "srec_cat (Debian package srecord) is not installed";
    // srec_cat's image of a selection of the file, 0xFF from 0 to nExtent.
    auto converted = [&](const std::string& strSelect, int nExtent)
    {
        const std::string strCommand = "srec_cat -disable-sequence-warnings " + strSelect +
                                       " -fill 0xFF 0 " + std::to_string(nExtent) + " -o '" +
                                       m_dir.File("out.bin") + "' -binary";
        EXPECT_EQ(std::system(strCommand.c_str()), 0) << strCommand;
        std::ifstream in(m_dir.File("out.bin"), std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    };
    for (unsigned nSeed = 1; nSeed <= 6; ++nSeed)
    {
        SCOPED_TRACE("seed " + std::to_string(nSeed));
        std::mt19937 rng(nSeed);
        auto pick = [&](int nLow, int nHigh)
        { return std::uniform_int_distribution(nLow, nHigh)(rng); };
        std::vector<std::array<int, 3>> segments; // upper word, start, length
        for (int nBase = 0; nBase < 0x10000; nBase += 0x2000)
            segments.push_back({pick(0, 1), nBase + pick(0, 0x1000), pick(1, 0x800)});
        segments.push_back({0xF0, pick(0, 0x40), pick(1, 0xBF)});
        segments.push_back({0x20, 0, 10 + int(nSeed)}); // up to all 16 ID locations
        segments.push_back({0x30, 0, 14});
        const int nProgramExtent = segments[7][1] + segments[7][2]; // the last ends highest
        const int nEepromExtent = segments[8][1] + segments[8][2], nIdExtent = segments[9][2];
        std::shuffle(segments.begin(), segments.end(), rng);

        std::string strText;
        for (const auto& [nUpper, nStart, nLength] : segments)
        {
            strText += Upper(nUpper) + "\n";
            for (int nAt = nStart, nCount = 0; nAt < nStart + nLength; nAt += nCount)
            {
                nCount = nUpper == 0x20
                             ? nLength
                             : std::min(nStart + nLength - nAt, pick(0, 9) ? pick(1, 32) : 255);
                strText += Data(nAt, Counting(nCount, pick(0, 255), pick(1, 255))) + "\n";
            }
        }
        ASSERT_EQ(Load(strText + HEX_END), EStatus::Ok);
        EXPECT_EQ(m_loader.m_nIdExtent, nIdExtent); // the images' sizes are the other extents
        const std::string strHex = "'" + m_strPath + "' -intel";
        EXPECT_EQ(Program(),
                  converted("'(' " + strHex + " -crop 0x10000 0x20000 -offset -0x10000 " + strHex +
                                " -crop 0 0x10000 ')'",
                            nProgramExtent));
        EXPECT_EQ(Eeprom(),
                  converted(strHex + " -crop 0xF00000 0xF10000 -offset -0xF00000", nEepromExtent));
        EXPECT_EQ(Id(), converted(strHex + " -crop 0x200000 0x200010 -offset -0x200000", 16));
    }
}
