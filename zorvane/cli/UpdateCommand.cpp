// zorvane update TARGET FILE, zorvane update --all FILE: the dialog's firmware update, byte for
// byte, from a terminal, with the board brought into its bootloader and back.
#include "zorvane/cli/BoardTarget.h"
#include "zorvane/cli/Commands.h"
#include "zorvane/cli/FirmwareJob.h"
#include "zorvane/cli/JobRunner.h"

#include "protocol/PortTypes.h"
#include "protocol/Status.h"

namespace
{
class CUpdateJob final : public CFirmwareJob
{
public:
    CUpdateJob(const CDriverContext& context, SBoardInfo board, const std::string& strImage,
               std::string strFile)
        : CFirmwareJob(context, std::move(board)), m_strImage(strImage),
          m_strFile(std::move(strFile))
    {
    }

protected:
    EStatus Work(CBootLoader& loader) override
    {
        loader.m_bKnownChipsOnly = true;
        return loader.UpdateFirmware(m_strImage);
    }
    bool WorkRestarts() const override { return true; }
    // Once anything may be erased, only a finished update may leave the bootloader; an image
    // refused before the first erase leaves the application as it was.
    bool RestartAfterFailure(EStatus eStatus) const override
    {
        return eStatus == EStatus::NoFit || eStatus == EStatus::UnknownChip;
    }
    std::string DoneText(std::uint16_t wVersion) const override
    {
        return "firmware " + FormatVersion(wVersion);
    }
    std::string ResumeCommand() const override
    {
        return "zorvane update " + ResumeTarget(Board()) + " " + m_strFile;
    }

private:
    const std::string& m_strImage;
    std::string m_strFile;
};
} // namespace

int RunUpdate(const CToolArgs& args)
{
    const bool bAll = args.Has("all");
    const bool bQuiet = args.Has("quiet");
    if (bAll)
        args.ExpectOperands(1, 1, "FILE");
    else
        args.ExpectOperands(2, 2, "TARGET and FILE");
    const std::vector<std::string>& operands = args.Operands();
    const std::string& strFile = operands.back();
    const SBoardTarget target = bAll ? SBoardTarget{} : ParseTarget(operands.front());

    const std::string strImage = ImageText(strFile);
    const std::vector<SBoardInfo> vecBoards = ScanBoards(args.Context());
    std::vector<std::unique_ptr<CFirmwareJob>> vecJobs;
    int nStatus = 0;
    if (!bAll)
        vecJobs.push_back(std::make_unique<CUpdateJob>(
            args.Context(), ResolveTarget(target, vecBoards), strImage, strFile));
    for (const SBoardInfo& board : bAll ? vecBoards : std::vector<SBoardInfo>{})
    {
        if (board.eOpen != EStatus::Ok)
            nStatus = Fail("%s %s", BoardLabel(board).c_str(), OpenFailureText(board).c_str());
        else
            vecJobs.push_back(
                std::make_unique<CUpdateJob>(args.Context(), board, strImage, strFile));
    }
    if (vecJobs.empty())
        return nStatus != 0 ? nStatus : Fail("no board is attached");

    const int nSignal = RunJobs(vecJobs, bQuiet);
    const int nJobs = ReportJobs(vecJobs, nSignal, bQuiet);
    return nJobs != 0 ? nJobs : nStatus;
}
