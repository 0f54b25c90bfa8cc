#pragma once
// Runs firmware jobs, one thread each, all at once, and shows how they go until every one has
// ended. On a terminal each job has a line with a bar (stage, percent, bytes) redrawn about ten
// times a second; otherwise each job prints one plain line per stage it enters; quiet shows
// nothing. Ctrl-C or SIGTERM stops every job: the request in flight completes and nothing more
// is sent.
#include "zorvane/cli/FirmwareJob.h"

#include <memory>
#include <vector>

// The signal that stopped the jobs, 0 when none came. The jobs' own results are in their
// statuses.
int RunJobs(const std::vector<std::unique_ptr<CFirmwareJob>>& vecJobs, bool bQuiet);

// Prints each job's closing message: those done on stdout (unless quiet), the others on stderr
// as "zorvane: ...". Returns the exit status: 0 when all succeeded, 128 + the signal when one
// stopped them, else 1.
int ReportJobs(const std::vector<std::unique_ptr<CFirmwareJob>>& vecJobs, int nSignal, bool bQuiet);
