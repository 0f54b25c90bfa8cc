// zorvane backup TARGET FILE: the board's application area, data EEPROM and ID locations, read
// through its bootloader, as an Intel HEX file that zorvane update writes back.
#include "zorvane/cli/BoardTarget.h"
#include "zorvane/cli/Commands.h"
#include "zorvane/cli/FirmwareJob.h"
#include "zorvane/cli/JobRunner.h"

#include "firmware/HexWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace
{
// Where the HEX file puts what the bootloader reads: program memory at its own addresses, the
// ID locations at 0x200000 and the EEPROM at 0xF00000, as the chip's tools and the update do.
constexpr std::uint32_t HEX_ID_ADDRESS = 0x200000;
constexpr std::uint32_t HEX_EEPROM_ADDRESS = 0xF00000;
// The update writes 15 of the 16 ID locations; the last one is erased and stays 0xFF.
constexpr std::size_t ID_WRITTEN = 15;

class CBackupJob final : public CFirmwareJob
{
public:
    CBackupJob(const CDriverContext& context, SBoardInfo board, std::string strFile)
        : CFirmwareJob(context, std::move(board)), m_strFile(std::move(strFile))
    {
    }
    const SFirmwareMemory& Memory() const { return m_memRead; }

protected:
    EStatus Work(CBootLoader& loader) override { return loader.ReadFirmware(m_memRead); }
    std::string DoneText(std::uint16_t) const override
    {
        return "backed up to " + m_strFile + " (" + std::to_string(m_memRead.vecProgram.size()) +
               " program, " + std::to_string(m_memRead.vecEeprom.size()) + " EEPROM and " +
               std::to_string(m_memRead.arrId.size()) + " ID bytes)";
    }
    std::string ResumeCommand() const override
    {
        return "zorvane backup " + ResumeTarget(Board()) + " " + m_strFile;
    }

private:
    std::string m_strFile;
    SFirmwareMemory m_memRead;
};

std::string HexText(const SFirmwareMemory& memory)
{
    CHexWriter writer;
    writer.Data(static_cast<std::uint32_t>(memory.nProgramStart), memory.vecProgram.data(),
                memory.vecProgram.size());
    writer.Data(HEX_ID_ADDRESS, memory.arrId.data(), memory.arrId.size());
    writer.Data(HEX_EEPROM_ADDRESS, memory.vecEeprom.data(), memory.vecEeprom.size());
    writer.End();
    return writer.Text();
}

// The file a backup ends in. FILE itself is only checked at first: its folder must take a new
// file, and an existing FILE must be a regular file. The data go to a new file of a unique name
// beside it, created exclusively, which replaces FILE only once it is whole; anything that fails
// before removes that new file and nothing else.
class CBackupFile
{
public:
    explicit CBackupFile(const std::string& strFile) : m_strFile(strFile)
    {
        CheckTarget();
        const std::size_t nSlash = strFile.rfind('/');
        const std::string strFolder =
            nSlash == std::string::npos ? "." : strFile.substr(0, std::max<std::size_t>(nSlash, 1));
        const std::string strName =
            nSlash == std::string::npos ? strFile : strFile.substr(nSlash + 1);
        m_strTemporary = strFolder + "/." + strName + ".XXXXXX";
        m_hFile = mkostemp(m_strTemporary.data(), O_CLOEXEC);
        if (m_hFile < 0)
            throw std::runtime_error("cannot create a file in " + strFolder + ": " +
                                     std::strerror(errno));
    }
    ~CBackupFile()
    {
        if (m_hFile >= 0)
            close(m_hFile);
        if (!m_bCommitted)
            unlink(m_strTemporary.c_str());
    }
    CBackupFile(const CBackupFile&) = delete;
    CBackupFile& operator=(const CBackupFile&) = delete;

    // Writes the text and puts the file in FILE's place (a std::runtime_error when it cannot).
    void Commit(const std::string& strText)
    {
        for (std::size_t nDone = 0; nDone < strText.size();)
        {
            const ssize_t nWritten = write(m_hFile, strText.data() + nDone, strText.size() - nDone);
            if (nWritten < 0 && errno == EINTR)
                continue;
            if (nWritten <= 0)
                throw std::runtime_error("cannot write " + m_strTemporary + ": " +
                                         std::strerror(errno));
            nDone += static_cast<std::size_t>(nWritten);
        }
        // An existing FILE keeps its permissions; a new one gets what the umask allows.
        const mode_t nMode = m_bExists ? m_nMode : (0666 & ~CurrentUmask());
        const int hFile = std::exchange(m_hFile, -1);
        if (fchmod(hFile, nMode) != 0 || fsync(hFile) != 0 || close(hFile) != 0)
            throw std::runtime_error("cannot write " + m_strTemporary + ": " +
                                     std::strerror(errno));
        CheckTarget(); // FILE may have changed while the board was read
        if (std::rename(m_strTemporary.c_str(), m_strFile.c_str()) != 0)
            throw std::runtime_error("cannot write " + m_strFile + ": " + std::strerror(errno));
        m_bCommitted = true;
    }

private:
    void CheckTarget()
    {
        struct stat st = {};
        m_bExists = lstat(m_strFile.c_str(), &st) == 0;
        if (!m_bExists && errno != ENOENT)
            throw std::runtime_error("cannot write " + m_strFile + ": " + std::strerror(errno));
        if (m_bExists && S_ISDIR(st.st_mode))
            throw std::runtime_error(m_strFile + " is a folder; name a file in it");
        if (m_bExists && !S_ISREG(st.st_mode))
            throw std::runtime_error(m_strFile +
                                     " is not a regular file (a device, link, pipe or socket); "
                                     "backup replaces regular files only");
        m_nMode = st.st_mode & 07777;
    }
    static mode_t CurrentUmask()
    {
        const mode_t nMask = umask(0);
        umask(nMask);
        return nMask;
    }

    std::string m_strFile;
    std::string m_strTemporary;
    int m_hFile = -1;
    bool m_bExists = false;
    mode_t m_nMode = 0;
    bool m_bCommitted = false;
};
} // namespace

int RunBackup(const CToolArgs& args)
{
    args.ExpectOperands(2, 2, "TARGET and FILE");
    const SBoardTarget target = ParseTarget(args.Operands()[0]);
    const std::string& strFile = args.Operands()[1];
    const bool bStdout = strFile == "-";
    // On standard output the image is the output: the rest goes to stderr or nowhere.
    const bool bQuiet = args.Has("quiet") || bStdout;

    // Made first, so that a FILE that cannot be written is known before the board is touched.
    std::optional<CBackupFile> file;
    if (!bStdout)
        file.emplace(strFile);

    std::vector<std::unique_ptr<CFirmwareJob>> vecJobs;
    vecJobs.push_back(std::make_unique<CBackupJob>(
        args.Context(), ResolveTarget(target, ScanBoards(args.Context())),
        bStdout ? "standard output" : strFile));
    const auto& job = static_cast<const CBackupJob&>(*vecJobs.front());
    const int nSignal = RunJobs(vecJobs, bQuiet);
    if (nSignal == 0 && job.Status().bOk)
    {
        const std::string strText = HexText(job.Memory());
        if (bStdout)
        {
            if (std::fwrite(strText.data(), 1, strText.size(), stdout) != strText.size() ||
                std::fflush(stdout) != 0)
                return Fail("cannot write to standard output: %s", std::strerror(errno));
        }
        else
        {
            file->Commit(strText);
        }
        const auto& arrId = job.Memory().arrId;
        if (arrId[ID_WRITTEN] != 0xFF)
            std::fprintf(stderr,
                         "zorvane: warning: ID location 0x%06zx holds 0x%02x, which an update "
                         "does not write back\n",
                         static_cast<std::size_t>(HEX_ID_ADDRESS + ID_WRITTEN), arrId[ID_WRITTEN]);
    }
    return ReportJobs(vecJobs, nSignal, bQuiet);
}
