// zorvane serial TARGET [TEXT]: prints a board's serial number; with TEXT writes it into the
// boot block through the bootloader, as the dialog's serial-number prompt does, and reads it back.
#include "zorvane/cli/BoardTarget.h"
#include "zorvane/cli/Commands.h"
#include "zorvane/cli/FirmwareJob.h"
#include "zorvane/cli/JobRunner.h"

#include "protocol/Status.h"

#include <cstdio>

namespace
{
// What reads back as a valid serial number: all 8 characters from blank to 'z'. Fewer would
// leave the block's old characters behind the new ones.
constexpr std::size_t SERIAL_LENGTH = 8;
constexpr char SERIAL_CHAR_FIRST = 0x20; // blank
constexpr char SERIAL_CHAR_LAST = 0x7A;  // 'z'

class CSerialJob final : public CFirmwareJob
{
public:
    CSerialJob(const CDriverContext& context, SBoardInfo board, std::string strSerial)
        : CFirmwareJob(context, std::move(board)), m_strSerial(std::move(strSerial))
    {
    }
    const std::string& ReadBack() const { return m_strReadBack; }

protected:
    EStatus Work(CBootLoader& loader) override
    {
        loader.m_bKnownChipsOnly = true;
        const EStatus eStatus = loader.WriteSerialNumber(m_strSerial);
        if (eStatus == EStatus::Ok)
            m_strReadBack = loader.ReadSerNo();
        return eStatus;
    }
    // A boot block that may be damaged stays in the bootloader, where the rewrite can be run
    // again; a board restarted with it might never come back there.
    bool RestartAfterFailure(EStatus eStatus) const override
    {
        return eStatus != EStatus::BootBlock;
    }
    std::string DoneText(std::uint16_t) const override { return "serial number " + m_strReadBack; }
    std::string ResumeCommand() const override
    {
        return "zorvane serial " + ResumeTarget(Board()) + " " + m_strSerial;
    }

private:
    std::string m_strSerial;
    std::string m_strReadBack;
};
} // namespace

int RunSerial(const CToolArgs& args)
{
    args.ExpectOperands(1, 2, "TARGET");
    const SBoardTarget target = ParseTarget(args.Operands()[0]);
    const bool bWrite = args.Operands().size() == 2;
    const std::string strSerial = bWrite ? args.Operands()[1] : std::string();
    if (bWrite && strSerial.size() != SERIAL_LENGTH)
        throw CUsageError("a serial number has exactly 8 characters (\"" + strSerial + "\" has " +
                          std::to_string(strSerial.size()) + ")");
    for (const char c : strSerial)
        if (c < SERIAL_CHAR_FIRST || c > SERIAL_CHAR_LAST)
            throw CUsageError("a serial number holds the characters from blank to 'z' only");

    const SBoardInfo board = ResolveTarget(target, ScanBoards(args.Context()));
    if (!bWrite)
    {
        std::printf("%s\n", board.strSerial.c_str());
        return 0;
    }
    std::vector<std::unique_ptr<CFirmwareJob>> vecJobs;
    vecJobs.push_back(std::make_unique<CSerialJob>(args.Context(), board, strSerial));
    const int nSignal = RunJobs(vecJobs, true);
    const CFirmwareJob::SStatus status = vecJobs.front()->Status();
    if (nSignal != 0 || !status.bOk)
        return ReportJobs(vecJobs, nSignal, true);
    const std::string& strReadBack = static_cast<const CSerialJob&>(*vecJobs.front()).ReadBack();
    if (strReadBack != strSerial)
        return Fail("%s: the serial number was written and checked, but reads back as \"%s\"",
                    BoardLabel(board).c_str(), strReadBack.c_str());
    std::printf("%s\n", strReadBack.c_str());
    return 0;
}
