// zorvane verify TARGET FILE: compares what the board holds with a firmware image, through its
// bootloader, writing nothing.
#include "zorvane/cli/BoardTarget.h"
#include "zorvane/cli/Commands.h"
#include "zorvane/cli/FirmwareJob.h"
#include "zorvane/cli/JobRunner.h"

#include "protocol/Status.h"

#include <cstdio>

namespace
{
class CVerifyJob final : public CFirmwareJob
{
public:
    CVerifyJob(const CDriverContext& context, SBoardInfo board, std::string strImage,
               std::string strFile)
        : CFirmwareJob(context, std::move(board)), m_strImage(std::move(strImage)),
          m_strFile(std::move(strFile))
    {
    }

protected:
    EStatus Work(CBootLoader& loader) override
    {
        loader.m_bKnownChipsOnly = true;
        return loader.VerifyFirmware(m_strImage);
    }
    std::string DoneText(std::uint16_t) const override { return "holds " + m_strFile; }
    std::string FailureText(EStatus eStatus, const CBootLoader& loader) const override
    {
        if (eStatus != EStatus::Verify)
            return {};
        char szAt[16];
        std::snprintf(szAt, sizeof szAt, "0x%04x", static_cast<unsigned>(loader.m_nFailedAddress));
        return std::string("differs from ") + m_strFile + " at " + szAt;
    }
    std::string ResumeCommand() const override
    {
        return "zorvane verify " + ResumeTarget(Board()) + " " + m_strFile;
    }

private:
    std::string m_strImage;
    std::string m_strFile;
};
} // namespace

int RunVerify(const CToolArgs& args)
{
    args.ExpectOperands(2, 2, "TARGET and FILE");
    const SBoardTarget target = ParseTarget(args.Operands()[0]);
    const std::string& strFile = args.Operands()[1];
    const bool bQuiet = args.Has("quiet");

    std::string strImage = ImageText(strFile);
    std::vector<std::unique_ptr<CFirmwareJob>> vecJobs;
    vecJobs.push_back(std::make_unique<CVerifyJob>(
        args.Context(), ResolveTarget(target, ScanBoards(args.Context())), std::move(strImage),
        strFile));
    const int nSignal = RunJobs(vecJobs, bQuiet);
    return ReportJobs(vecJobs, nSignal, bQuiet);
}
