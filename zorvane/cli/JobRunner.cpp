#include "zorvane/cli/JobRunner.h"

#include "zorvane/cli/StopSignal.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <unistd.h>

namespace
{
constexpr int REDRAW_MS = 100;
// How often the end of the jobs is looked for: soon after they end, the command ends too.
constexpr int LOOK_MS = 5;
constexpr int BAR_WIDTH = 24;

std::string BarLine(const std::string& strLabel, std::size_t nLabelWidth,
                    const CFirmwareJob::SStatus& status)
{
    const int nPercent = status.bEnded && status.bOk ? 100 : status.prgLoader.Percent();
    const int nFilled = nPercent * BAR_WIDTH / 100;
    std::string strLine = strLabel;
    strLine.resize(std::max(nLabelWidth, strLabel.size()), ' ');
    strLine += "  [" + std::string(static_cast<std::size_t>(nFilled), '#') +
               std::string(static_cast<std::size_t>(BAR_WIDTH - nFilled), '.') + "] ";
    char szPercent[8];
    std::snprintf(szPercent, sizeof szPercent, "%3d%%", nPercent);
    strLine += szPercent;
    strLine += "  " + status.strStage;
    if (status.prgLoader.nTotal > 0 && !status.bEnded)
        strLine += " " + std::to_string(status.prgLoader.nDone) + "/" +
                   std::to_string(status.prgLoader.nTotal) + " bytes";
    return strLine;
}

class CJobView
{
public:
    CJobView(const std::vector<std::unique_ptr<CFirmwareJob>>& vecJobs, bool bQuiet)
        : m_vecJobs(vecJobs), m_bQuiet(bQuiet), m_bTerminal(isatty(STDOUT_FILENO) == 1),
          m_vecPrinted(vecJobs.size())
    {
        for (const auto& pJob : vecJobs)
        {
            m_vecLabels.push_back(BoardLabel(pJob->Board()));
            m_nLabelWidth = std::max(m_nLabelWidth, m_vecLabels.back().size());
        }
    }

    void Show()
    {
        if (m_bQuiet)
            return;
        if (m_bTerminal)
            Redraw();
        else
            PrintStages();
        std::fflush(stdout);
    }

private:
    // Every line again, over the ones drawn before.
    void Redraw()
    {
        if (m_bDrawn)
            std::printf("\033[%zuA", m_vecJobs.size());
        for (std::size_t i = 0; i < m_vecJobs.size(); ++i)
            std::printf("\r\033[K%s\n",
                        BarLine(m_vecLabels[i], m_nLabelWidth, m_vecJobs[i]->Status()).c_str());
        m_bDrawn = true;
    }

    // A line for each stage a job entered since the last look; the end is the command's.
    void PrintStages()
    {
        for (std::size_t i = 0; i < m_vecJobs.size(); ++i)
        {
            const CFirmwareJob::SStatus status = m_vecJobs[i]->Status();
            for (; m_vecPrinted[i] < status.vecStages.size(); ++m_vecPrinted[i])
            {
                const auto& [strStage, nTotal] = status.vecStages[m_vecPrinted[i]];
                std::string strLine = m_vecLabels[i] + ": " + strStage;
                if (nTotal > 0)
                    strLine += " " + std::to_string(nTotal) + " bytes";
                std::printf("%s\n", strLine.c_str());
            }
        }
    }

    const std::vector<std::unique_ptr<CFirmwareJob>>& m_vecJobs;
    bool m_bQuiet;
    bool m_bTerminal;
    bool m_bDrawn = false;
    std::vector<std::string> m_vecLabels;
    std::size_t m_nLabelWidth = 0;
    std::vector<std::size_t> m_vecPrinted; // stages printed so far, per job
};
} // namespace

int RunJobs(const std::vector<std::unique_ptr<CFirmwareJob>>& vecJobs, bool bQuiet)
{
    CStopSignal stop;
    CJobView view(vecJobs, bQuiet);
    std::vector<std::thread> vecThreads;
    for (const auto& pJob : vecJobs)
        vecThreads.emplace_back([&job = *pJob] { job.Run(); });

    bool bStopped = false;
    for (int nLook = 0;; ++nLook)
    {
        const bool bAllEnded = std::all_of(vecJobs.begin(), vecJobs.end(),
                                           [](const auto& pJob) { return pJob->Status().bEnded; });
        if (bAllEnded || nLook % (REDRAW_MS / LOOK_MS) == 0)
            view.Show();
        if (bAllEnded)
            break;
        // Once stopped the signal stays readable: sleep instead, while the requests in flight end.
        if (bStopped)
            std::this_thread::sleep_for(std::chrono::milliseconds(LOOK_MS));
        else if (stop.WaitFor(LOOK_MS))
        {
            bStopped = true;
            for (const auto& pJob : vecJobs)
                pJob->Stop();
        }
    }
    for (std::thread& thread : vecThreads)
        thread.join();
    return bStopped ? stop.Signal() : 0;
}

int ReportJobs(const std::vector<std::unique_ptr<CFirmwareJob>>& vecJobs, int nSignal, bool bQuiet)
{
    bool bAllOk = true;
    for (const auto& pJob : vecJobs)
    {
        const CFirmwareJob::SStatus status = pJob->Status();
        bAllOk = bAllOk && status.bOk;
        if (!status.bOk)
            std::fprintf(stderr, "zorvane: %s\n", status.strMessage.c_str());
        else if (!bQuiet)
            std::printf("%s\n", status.strMessage.c_str());
    }
    if (nSignal != 0)
        return 128 + nSignal;
    return bAllOk ? 0 : 1;
}
