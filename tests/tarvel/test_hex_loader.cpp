// The Intel HEX reader of CBootLoader: records, both passes, memory areas and images.
#include "bootloader/BootLoader.h"
#include "bootloader/BootStatus.h"
#include "bootloader/HexFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <random>
#include <spawn.h>
#include <sstream>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

namespace
{
// One record as a HEX writer produces it, without its line end.
std::string Record(int nType, int nAddress, const Bytes& byData, bool bLower = false)
{
    Bytes byAll{static_cast<std::uint8_t>(byData.size()), static_cast<std::uint8_t>(nAddress >> 8),
                static_cast<std::uint8_t>(nAddress), static_cast<std::uint8_t>(nType)};
    byAll.insert(byAll.end(), byData.begin(), byData.end());
    unsigned nSum = 0;
    for (std::uint8_t by : byAll)
        nSum += by;
    byAll.push_back(static_cast<std::uint8_t>(0x100 - (nSum & 0xFF)));
    std::string strText = ":";
    const char* pszDigits = bLower ? "0123456789abcdef" : "0123456789ABCDEF";
    for (std::uint8_t by : byAll)
        strText += {pszDigits[by >> 4], pszDigits[by & 0x0F]};
    return strText;
}

std::string Data(int nAddress, const Bytes& byData)
{
    return Record(0x00, nAddress, byData);
}
std::string Upper(int nWord)
{
    return Record(0x04, 0,
                  {static_cast<std::uint8_t>(nWord >> 8), static_cast<std::uint8_t>(nWord)});
}
const std::string END = ":00000001FF";

std::string Lines(const std::vector<std::string>& records, const char* pszEnd = "\r\n")
{
    std::string strText;
    for (const std::string& str : records)
        strText += str + pszEnd;
    return strText;
}

Bytes Image(const std::uint8_t* pImage, std::int32_t nLength)
{
    return pImage ? Bytes(pImage, pImage + std::max(nLength, 0)) : Bytes{};
}

Bytes Filled(std::size_t nLength, std::initializer_list<std::pair<std::size_t, Bytes>> parts)
{
    Bytes by(nLength, 0xFF);
    for (const auto& [nAt, byPart] : parts)
        std::copy(byPart.begin(), byPart.end(), by.begin() + static_cast<std::ptrdiff_t>(nAt));
    return by;
}

// Every test gets a fresh directory for its HEX files.
class HexFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const char* pszBase = std::getenv("TEST_TMPDIR");
        std::string strTemplate =
            (pszBase && *pszBase ? fs::path(pszBase) : fs::temp_directory_path()) / "hexXXXXXX";
        ASSERT_NE(mkdtemp(strTemplate.data()), nullptr);
        m_dir = strTemplate;
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string Write(const std::string& strText, const std::string& strName = "KelvardUSB.hex")
    {
        fs::path path = m_dir / strName;
        std::ofstream(path, std::ios::binary) << strText;
        return path.string();
    }
    // Loads text through a file, the way an update does.
    int Load(const std::string& strText)
    {
        m_loader.m_strHexPath = Write(strText);
        return m_loader.LoadHexFile();
    }
    Bytes Program() const
    {
        return Image(m_loader.m_pProgramImage.get(), m_loader.m_nProgramExtent);
    }
    Bytes Eeprom() const { return Image(m_loader.m_pEepromImage.get(), m_loader.m_nEepromExtent); }
    Bytes Id() const { return Bytes(m_loader.m_idImage.begin(), m_loader.m_idImage.end()); }
    void ExpectNoImages() const
    {
        EXPECT_EQ(m_loader.m_pProgramImage, nullptr);
        EXPECT_EQ(m_loader.m_pEepromImage, nullptr);
    }

    fs::path m_dir;
    CBootLoader m_loader{nullptr, ""};
};

// --- One record ------------------------------------------------------------------------------

struct SRecord
{
    int nStatus, nCount = -1, nAddress = -1, nType = -1, nChecksum = -1;
    Bytes byData;
};

SRecord ReadOne(CHexFile& file)
{
    SRecord rec{};
    std::uint8_t byData[256] = {};
    rec.nStatus = CBootLoader::ReadHexRecord(file, rec.nCount, rec.nAddress, rec.nType, byData,
                                             rec.nChecksum);
    if (rec.nStatus == BL_OK)
        rec.byData.assign(byData, byData + rec.nCount);
    return rec;
}

SRecord ReadOne(std::string_view strText)
{
    CHexFile file;
    file.OpenText(strText);
    return ReadOne(file);
}

TEST(HexRecordTest, ReadsEveryFieldInEitherCase)
{
    const Bytes byExpected{0x21, 0x46, 0x01, 0x36, 0x01, 0x21, 0x47, 0x01,
                           0x36, 0x00, 0x7E, 0xFE, 0x09, 0xD2, 0x19, 0x01};
    for (const char* psz : {":10010000214601360121470136007EFE09D2190140",
                            ":10010000214601360121470136007efe09d2190140"})
    {
        SRecord rec = ReadOne(psz);
        EXPECT_EQ(rec.nStatus, BL_OK) << psz;
        EXPECT_EQ(rec.nCount, 0x10);
        EXPECT_EQ(rec.nAddress, 0x0100);
        EXPECT_EQ(rec.nType, 0x00);
        EXPECT_EQ(rec.nChecksum, 0x40);
        EXPECT_EQ(rec.byData, byExpected);
    }
    Bytes byLong(255);
    for (std::size_t i = 0; i < byLong.size(); ++i)
        byLong[i] = static_cast<std::uint8_t>(i * 7 + 3);
    SRecord rec = ReadOne(Record(0x00, 0xFF00, byLong));
    EXPECT_EQ(rec.nStatus, BL_OK);
    EXPECT_EQ(rec.nAddress, 0xFF00);
    EXPECT_EQ(rec.byData, byLong);
}

TEST(HexRecordTest, SkipsToTheMarkAndNeedsNoLineStructure)
{
    CHexFile file;
    file.OpenText("junk\r\n\n   \t;comment\n:020000040020DA:00000001FF");
    SRecord rec = ReadOne(file);
    EXPECT_EQ(rec.nStatus, BL_OK);
    EXPECT_EQ(rec.nType, 0x04);
    EXPECT_EQ(rec.byData, (Bytes{0x00, 0x20}));
    EXPECT_EQ(ReadOne(file).nType, 0x01);
    EXPECT_EQ(ReadOne(file).nStatus, BL_ERR_EOF);
    EXPECT_EQ(ReadOne("").nStatus, BL_ERR_EOF);
    EXPECT_EQ(ReadOne("\r\n  no mark\r\n").nStatus, BL_ERR_EOF);
}

TEST(HexRecordTest, TextEndingInsideAnyFieldIsEof)
{
    const std::string strRecord = Data(0x1234, {0xAA, 0xBB, 0xCC});
    for (std::size_t n = 1; n < strRecord.size(); ++n)
        EXPECT_EQ(ReadOne(strRecord.substr(0, n)).nStatus, BL_ERR_EOF) << strRecord.substr(0, n);
    EXPECT_EQ(ReadOne(strRecord).nStatus, BL_OK);
}

TEST(HexRecordTest, WrongChecksumOrNonDigitFails)
{
    EXPECT_EQ(ReadOne(":00000001FE").nStatus, BL_ERR_CHECKSUM);
    EXPECT_EQ(ReadOne(":0300300002337A1E").nStatus, BL_OK);
    EXPECT_EQ(ReadOne(":0300300002337B1E").nStatus, BL_ERR_CHECKSUM); // a data byte changed
    EXPECT_EQ(ReadOne(":0300310002337A1E").nStatus, BL_ERR_CHECKSUM); // the address changed
    // 'G' would count as 0 and the sum would match; it must fail all the same.
    EXPECT_EQ(ReadOne(":0000000G00").nStatus, BL_ERR_CHECKSUM);
    EXPECT_EQ(ReadOne(":00000 0000").nStatus, BL_ERR_CHECKSUM);
}

// --- Whole files -----------------------------------------------------------------------------

TEST_F(HexFileTest, LoadsProgramFromAddressZeroWithGapsErased)
{
    ASSERT_EQ(Load(Lines({Data(0x0820, {5, 6}), Data(0x0800, {1, 2, 3, 4}), END})), BL_OK);
    EXPECT_EQ(m_loader.m_nProgramExtent, 0x822);
    EXPECT_EQ(Program(), Filled(0x822, {{0x800, {1, 2, 3, 4}}, {0x820, {5, 6}}}));
    EXPECT_EQ(m_loader.m_nEepromExtent, 0);
    EXPECT_EQ(m_loader.m_pEepromImage, nullptr);
    EXPECT_EQ(m_loader.m_nIdExtent, 0);
    EXPECT_EQ(Id(), Bytes(16, 0xFF));
}

TEST_F(HexFileTest, FileWithoutEndRecordFails)
{
    EXPECT_EQ(Load(Lines({Data(0, {1, 2})})), BL_ERR_EOF);
    ExpectNoImages();
    EXPECT_EQ(Load(Lines({Data(0, {1, 2}), ":000000"})), BL_ERR_EOF); // cut inside the end record
}

TEST_F(HexFileTest, NothingAfterTheEndRecordIsRead)
{
    const std::string strImage = Lines({Data(0, {1, 2}), END});
    for (const std::string& strTail :
         {Data(0x100, {9}), std::string(":00000001FE"), std::string(":10"),
          Record(0x04, 0, {0x00}) + "\nrubbish :ZZ"})
    {
        ASSERT_EQ(Load(strImage + strTail), BL_OK) << strTail;
        EXPECT_EQ(Program(), (Bytes{1, 2}));
    }
}

TEST_F(HexFileTest, LineEndsBlankLinesSpacesAndCaseLoadAlike)
{
    const std::vector<std::string> records{Data(0x10, {0xAB, 0xCD, 0xEF}), Upper(0x00F0),
                                           Data(0x2, {0x5A}), END};
    ASSERT_EQ(Load(Lines(records, "\n")), BL_OK);
    const Bytes byProgram = Program(), byEeprom = Eeprom();
    ASSERT_EQ(byProgram, Filled(0x13, {{0x10, {0xAB, 0xCD, 0xEF}}}));
    ASSERT_EQ(byEeprom, (Bytes{0xFF, 0xFF, 0x5A}));

    std::string strLower;
    for (const std::string& str :
         {Record(0, 0x10, {0xAB, 0xCD, 0xEF}, true), Record(4, 0, {0x00, 0xF0}, true),
          Record(0, 0x2, {0x5A}, true), END})
        strLower += str + "\n";
    for (const std::string& strText : {Lines(records, "\r\n"), Lines(records, "\n\n\r\n"),
                                       "\n  \t" + Lines(records, "\r\n   "), strLower})
    {
        ASSERT_EQ(Load(strText), BL_OK) << strText;
        EXPECT_EQ(Program(), byProgram);
        EXPECT_EQ(Eeprom(), byEeprom);
    }
}

TEST_F(HexFileTest, BadChecksumOnAnyRecordTypeStopsTheLoad)
{
    auto spoil = [](std::string str)
    {
        str.back() = str.back() == '0' ? '1' : '0';
        return str;
    };
    const std::vector<std::string> bad{spoil(Data(0, {1})), spoil(END),
                                       spoil(Record(0x02, 0, {0x10, 0x00})), spoil(Upper(0x0001)),
                                       spoil(Record(0x03, 0, {0, 0, 0, 0}))};
    for (const std::string& strBad : bad)
    {
        EXPECT_EQ(Load(Lines({Data(0, {1, 2}), strBad, Data(4, {3}), END})), BL_ERR_CHECKSUM)
            << strBad;
        ExpectNoImages();
    }
}

TEST_F(HexFileTest, SegmentAddressRecordMovesNothing)
{
    const std::string strSegment =
        Record(0x02, 0, {0x10, 0x00}); // segment 0x1000 would mean +0x10000
    ASSERT_EQ(
        Load(Lines({strSegment, Data(0x4, {7}), Upper(0x00F0), strSegment, Data(0x1, {8}), END})),
        BL_OK);
    EXPECT_EQ(Program(), Filled(5, {{4, {7}}}));
    EXPECT_EQ(Eeprom(), (Bytes{0xFF, 8}));
}

TEST_F(HexFileTest, AllProgramUpperWordsShareOneImage)
{
    ASSERT_EQ(Load(Lines({Upper(0x0000), Data(0x100, {1, 2, 3}), Upper(0x0001), Data(0x101, {9}),
                          Upper(0x001F), Data(0x200, {4}), Upper(0x0000), Data(0x10, {5}), END})),
              BL_OK);
    EXPECT_EQ(m_loader.m_nProgramExtent, 0x201);
    EXPECT_EQ(Program(), Filled(0x201, {{0x10, {5}}, {0x100, {1, 9, 3}}, {0x200, {4}}}));
}

TEST_F(HexFileTest, IdRecordsFillTheIdImageFromItsStart)
{
    ASSERT_EQ(Load(Lines({Data(0, {0}), Upper(0x0020), Data(0x0000, {1, 2, 3, 4, 5, 6, 7, 8}),
                          Data(0x0008, {0xA, 0xB, 0xC, 0xD}), END})),
              BL_OK);
    EXPECT_EQ(Id(), Filled(16, {{0, {0xA, 0xB, 0xC, 0xD, 5, 6, 7, 8}}}));
    EXPECT_EQ(m_loader.m_nIdExtent, 12);
    EXPECT_EQ(Program(), (Bytes{0}));

    Bytes byFull(16);
    for (std::size_t i = 0; i < 16; ++i)
        byFull[i] = static_cast<std::uint8_t>(0x30 + i);
    ASSERT_EQ(Load(Lines({Data(0, {0}), Upper(0x0020), Data(0, byFull), END})), BL_OK);
    EXPECT_EQ(Id(), byFull);
    EXPECT_EQ(m_loader.m_nIdExtent, 16);
}

TEST_F(HexFileTest, EepromImageCoversUpToItsLastByte)
{
    ASSERT_EQ(Load(Lines({Data(0, {0}), Upper(0x00F0), Data(0x0010, {1, 2, 3, 4}), END})), BL_OK);
    EXPECT_EQ(m_loader.m_nEepromExtent, 20);
    EXPECT_EQ(Eeprom(), Filled(20, {{16, {1, 2, 3, 4}}}));
}

TEST_F(HexFileTest, ConfigurationAndUnknownAreasAreIgnored)
{
    for (int nWord : {0x0021, 0x0030, 0x0031, 0x0040, 0x00EF, 0x00F1, 0xFFFF})
    {
        ASSERT_EQ(
            Load(Lines({Data(0, {1}), Upper(nWord), Data(0x0, {7, 7}), Data(0x0300, {8}), END})),
            BL_OK)
            << nWord;
        EXPECT_EQ(Program(), (Bytes{1}));
        EXPECT_EQ(m_loader.m_nEepromExtent, 0);
        EXPECT_EQ(m_loader.m_nIdExtent, 0);
        EXPECT_EQ(Id(), Bytes(16, 0xFF));
    }
}

TEST_F(HexFileTest, FileThatCannotBeReadFailsToOpen)
{
    m_loader.m_strHexPath = (m_dir / "missing.hex").string();
    EXPECT_EQ(m_loader.LoadHexFile(), BL_ERR_OPEN);
    EXPECT_EQ(m_loader.ScanHexFile(), BL_ERR_OPEN);
    m_loader.m_strHexPath = m_dir.string(); // a directory opens but cannot be read
    EXPECT_EQ(m_loader.LoadHexFile(), BL_ERR_OPEN);
    ExpectNoImages();
}

TEST_F(HexFileTest, FilesThatCannotMakeAnImageAreRejected)
{
    // No program byte: nothing to size the image with, nothing to write.
    EXPECT_EQ(Load(END), BL_ERR_EOF);
    EXPECT_EQ(m_loader.m_nProgramExtent, INT_MIN);
    EXPECT_EQ(Load(Lines({Upper(0x00F0), Data(0, {1}), Upper(0x0020), Data(0, {2}), END})),
              BL_ERR_EOF);
    ExpectNoImages();
    EXPECT_EQ(Load(Lines({Data(0x0800, {}), END})), BL_ERR_EOF); // program records without bytes
    ExpectNoImages();
    // More than the 16 ID locations.
    EXPECT_EQ(Load(Lines({Data(0, {1}), Upper(0x0020), Data(0, Bytes(17, 0x11)), END})),
              BL_ERR_CHECKSUM);
    ExpectNoImages();
    EXPECT_EQ(m_loader.ScanHexFile(), BL_ERR_CHECKSUM);
}

TEST_F(HexFileTest, ScanSetsTheExtentsAlone)
{
    m_loader.m_strHexPath =
        Write(Lines({Upper(0x00F0), Data(0x20, {1, 2}), Upper(0x0020), Data(0x4, {3}), END}));
    EXPECT_EQ(m_loader.ScanHexFile(), BL_OK);
    EXPECT_EQ(m_loader.m_nProgramExtent, INT_MIN);
    EXPECT_EQ(m_loader.m_nEepromExtent, 0x22);
    EXPECT_EQ(m_loader.m_nIdExtent, 5);
    ExpectNoImages();
}

TEST_F(HexFileTest, EachLoadReplacesTheImagesOfTheLast)
{
    ASSERT_EQ(Load(Lines({Data(0x40, {1, 2}), Upper(0x00F0), Data(0, {3}), Upper(0x0020),
                          Data(0, {4}), END})),
              BL_OK);
    ASSERT_EQ(Load(Lines({Data(0x2, {5}), END})), BL_OK);
    EXPECT_EQ(Program(), (Bytes{0xFF, 0xFF, 5}));
    EXPECT_EQ(m_loader.m_nEepromExtent, 0);
    EXPECT_EQ(m_loader.m_pEepromImage, nullptr);
    EXPECT_EQ(m_loader.m_nIdExtent, 0);
    EXPECT_EQ(Id(), Bytes(16, 0xFF));
    EXPECT_EQ(Load(Lines({Data(0x2, {5})})), BL_ERR_EOF); // a failed load leaves no image to use
    ExpectNoImages();
}

TEST_F(HexFileTest, TextLoadsLikeTheFile)
{
    const std::string strText =
        Lines({Data(0x8, {1, 2}), Upper(0x00F0), Data(1, {3}), Upper(0x0020), Data(2, {4}), END});
    ASSERT_EQ(Load(strText), BL_OK);
    const Bytes byProgram = Program(), byEeprom = Eeprom(), byId = Id();
    CBootLoader other(nullptr, "");
    ASSERT_EQ(other.LoadHexText(strText), BL_OK);
    EXPECT_EQ(Image(other.m_pProgramImage.get(), other.m_nProgramExtent), byProgram);
    EXPECT_EQ(Image(other.m_pEepromImage.get(), other.m_nEepromExtent), byEeprom);
    EXPECT_EQ(Bytes(other.m_idImage.begin(), other.m_idImage.end()), byId);
    EXPECT_EQ(other.LoadHexText(strText.substr(0, strText.size() - 5)), BL_ERR_EOF);
}

// Offers one text per open of a named pipe, the next only after the reader has closed it again,
// so that each loader pass reads one text in full.
void FeedPasses(const fs::path& fifo, int fdCloseWatch, const std::vector<std::string>& texts)
{
    for (const std::string& strText : texts)
    {
        int fd = -1;
        for (int nTry = 0; fd < 0 && nTry < 5000; ++nTry) // no reader yet: ENXIO
        {
            fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (fd < 0)
            return;
        fcntl(fd, F_SETFL, 0);
        for (std::size_t nDone = 0; nDone < strText.size();)
        {
            ssize_t n = write(fd, strText.data() + nDone, strText.size() - nDone);
            if (n <= 0)
                break;
            nDone += static_cast<std::size_t>(n);
        }
        close(fd);
        pollfd pfd{fdCloseWatch, POLLIN, 0};
        char byEvents[1024];
        if (poll(&pfd, 1, 5000) == 1 && read(fdCloseWatch, byEvents, sizeof byEvents) < 0)
            return;
    }
}

// The file is read once per pass; a file that grows between the passes must not write past the
// images sized by the first.
TEST_F(HexFileTest, FileChangedBetweenPassesFailsSafely)
{
    const fs::path fifo = m_dir / "changing.hex";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int fdWatch = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(fdWatch, 0);
    ASSERT_GE(inotify_add_watch(fdWatch, fifo.c_str(), IN_CLOSE_NOWRITE), 0);
    for (const std::string& strGrown :
         {Lines({Data(0x100, {1}), END}),
          Lines({Data(0, {1}), Upper(0x00F0), Data(0x100, {2}), END}),
          Lines({Data(0, {1}), Upper(0x0020), Data(0, Bytes(17, 0)), END})})
    {
        std::thread writer(FeedPasses, fifo, fdWatch,
                           std::vector<std::string>{
                               Lines({Data(0, {1}), Upper(0x00F0), Data(0, {2}), END}), strGrown});
        m_loader.m_strHexPath = fifo.string();
        EXPECT_EQ(m_loader.LoadHexFile(), BL_ERR_CHECKSUM);
        writer.join();
        ExpectNoImages();
    }
    close(fdWatch);
}

// --- Against an independent converter --------------------------------------------------------

std::string FindProgram(const std::string& strName)
{
    std::istringstream path(std::getenv("PATH") ? std::getenv("PATH") : "");
    for (std::string strDir; std::getline(path, strDir, ':');)
        if (access((fs::path(strDir) / strName).c_str(), X_OK) == 0)
            return (fs::path(strDir) / strName).string();
    return {};
}

int RunProgram(std::vector<std::string> args)
{
    std::vector<char*> argv;
    for (std::string& str : args)
        argv.push_back(str.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int nWait = 0;
    waitpid(pid, &nWait, 0);
    return WIFEXITED(nWait) ? WEXITSTATUS(nWait) : -1;
}

// Random images: program segments under upper words 0 and 1 (disjoint 16-bit addresses, so the
// folding adds no overlap), EEPROM, one ID record, configuration; random record sizes, order,
// case and line ends.
struct SRandomImage
{
    std::string strText;
    std::int32_t nProgramExtent = 0, nEepromExtent = 0, nIdExtent = 0;
};

SRandomImage RandomImage(std::mt19937& rng)
{
    auto pick = [&](int nLow, int nHigh)
    { return std::uniform_int_distribution<int>(nLow, nHigh)(rng); };
    struct SSegment
    {
        int nUpper, nStart, nLength;
    };
    std::vector<SSegment> segments;
    SRandomImage image;
    for (int nBase = 0; nBase < 0x10000; nBase += 0x2000) // one segment per 8 KB, upper word 0 or 1
    {
        SSegment seg{pick(0, 1), nBase + pick(0, 0x1000), pick(1, 0x800)};
        segments.push_back(seg);
        image.nProgramExtent = std::max(image.nProgramExtent, seg.nStart + seg.nLength);
    }
    SSegment eeprom{0xF0, pick(0, 0x40), pick(1, 0xBF)};
    image.nEepromExtent = eeprom.nStart + eeprom.nLength;
    segments.push_back(eeprom);
    segments.push_back({0x20, 0, image.nIdExtent = pick(1, 16)});
    segments.push_back({0x30, 0, 14});
    std::shuffle(segments.begin(), segments.end(), rng);

    const bool bLower = pick(0, 1) != 0;
    const char* pszEnd = pick(0, 1) ? "\r\n" : "\n";
    for (const SSegment& seg : segments)
    {
        image.strText += Record(4, 0, {0, static_cast<std::uint8_t>(seg.nUpper)}, bLower) + pszEnd;
        for (int nAt = seg.nStart, nEnd = seg.nStart + seg.nLength; nAt < nEnd;)
        {
            int nCount = seg.nUpper == 0x20 ? seg.nLength
                                            : std::min(nEnd - nAt, pick(0, 9) ? pick(1, 32) : 255);
            Bytes byData(static_cast<std::size_t>(nCount));
            for (std::uint8_t& by : byData)
                by = static_cast<std::uint8_t>(pick(0, 255));
            image.strText += Record(0, nAt, byData, bLower) + pszEnd;
            nAt += nCount;
        }
    }
    image.strText += END + pszEnd;
    return image;
}

TEST_F(HexFileTest, ImagesMatchSrecCat)
{
    const std::string strSrecCat = FindProgram("srec_cat");
    if (strSrecCat.empty())
        GTEST_SKIP() << "srec_cat (Debian package srecord) is not installed";
    auto binary = [&](std::vector<std::string> args, int nExtent)
    {
        const std::string strOut = (m_dir / "out.bin").string();
        // The random segment order is intended.
        args.insert(args.begin(), {strSrecCat, "-disable-sequence-warnings"});
        for (const std::string& str :
             {std::string("-fill"), std::string("0xFF"), std::string("0"), std::to_string(nExtent),
              std::string("-o"), strOut, std::string("-binary")})
            args.push_back(str);
        EXPECT_EQ(RunProgram(args), 0);
        std::ifstream in(strOut, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    };
    for (unsigned nSeed = 1; nSeed <= 6; ++nSeed)
    {
        std::mt19937 rng(nSeed);
        const SRandomImage image = RandomImage(rng);
        ASSERT_EQ(Load(image.strText), BL_OK) << "seed " << nSeed;
        const std::string strHex = m_loader.m_strHexPath;
        EXPECT_EQ(m_loader.m_nProgramExtent, image.nProgramExtent);
        EXPECT_EQ(m_loader.m_nEepromExtent, image.nEepromExtent);
        EXPECT_EQ(m_loader.m_nIdExtent, image.nIdExtent);
        EXPECT_EQ(Program(),
                  binary({"(", strHex, "-intel", "-crop", "0x10000", "0x20000", "-offset",
                          "-0x10000", strHex, "-intel", "-crop", "0", "0x10000", ")"},
                         image.nProgramExtent))
            << "seed " << nSeed;
        EXPECT_EQ(Eeprom(), binary({strHex, "-intel", "-crop", "0xF00000", "0xF10000", "-offset",
                                    "-0xF00000"},
                                   image.nEepromExtent))
            << "seed " << nSeed;
        EXPECT_EQ(
            Id(),
            binary({strHex, "-intel", "-crop", "0x200000", "0x200010", "-offset", "-0x200000"}, 16))
            << "seed " << nSeed;
    }
}
} // namespace
