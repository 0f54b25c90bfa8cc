// zorvane backup TARGET FILE: the board's application area, data EEPROM and ID locations, read
// through its bootloader, as an Intel HEX file that zorvane update writes back.
#include "zorvane/cli/BoardTarget.h"
#include "zorvane/cli/Commands.h"
#include "zorvane/cli/FirmwareJob.h"
#include "zorvane/cli/JobRunner.h"

#include "firmware/HexWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>

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
    CBackupJob(SBoardInfo board, std::string strFile)
        : CFirmwareJob(std::move(board)), m_strFile(std::move(strFile))
    {
    }
    const SFirmwareMemory& Memory() const { return m_memRead; }

protected:
    int Work(CBootLoader& loader) override { return loader.ReadFirmware(m_memRead); }
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
} // namespace

int RunBackup(const CToolArgs& args)
{
    args.ExpectOperands(2, 2, "TARGET and FILE");
    const SBoardTarget target = SBoardTarget::Parse(args.Operands()[0]);
    const std::string& strFile = args.Operands()[1];
    const bool bQuiet = args.Has("quiet");

    // The file is made first, beside its final name, so that a folder that cannot take it is
    // known before the board is touched, and a failed backup never leaves half a file.
    const std::string strPart = strFile + ".part";
    std::ofstream file(strPart, std::ios::binary | std::ios::trunc);
    if (!file)
        throw std::runtime_error("cannot create " + strPart + ": " + std::strerror(errno));

    std::vector<std::unique_ptr<CFirmwareJob>> vecJobs;
    try
    {
        vecJobs.push_back(
            std::make_unique<CBackupJob>(ResolveTarget(target, ScanBoards()), strFile));
    }
    catch (...)
    {
        std::remove(strPart.c_str());
        throw;
    }
    const auto& job = static_cast<const CBackupJob&>(*vecJobs.front());
    const int nSignal = RunJobs(vecJobs, bQuiet);
    if (nSignal == 0 && job.Status().bOk)
    {
        file << HexText(job.Memory());
        file.close();
        if (!file || std::rename(strPart.c_str(), strFile.c_str()) != 0)
        {
            std::remove(strPart.c_str());
            return Fail("cannot write %s: %s", strFile.c_str(), std::strerror(errno));
        }
        const auto& arrId = job.Memory().arrId;
        if (arrId[ID_WRITTEN] != 0xFF)
            std::fprintf(stderr,
                         "zorvane: warning: ID location 0x%06zx holds 0x%02x, which an update "
                         "does not write back\n",
                         static_cast<std::size_t>(HEX_ID_ADDRESS + ID_WRITTEN), arrId[ID_WRITTEN]);
    }
    else
    {
        file.close();
        std::remove(strPart.c_str());
    }
    return ReportJobs(vecJobs, nSignal, bQuiet);
}
