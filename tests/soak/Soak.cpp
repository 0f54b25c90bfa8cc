// The soak: everything a long-running application and the tool do at once, for a set time.
//   - threads calling the library's exports on two USB boards that stay and two that the
//     simulated bus unplugs and plugs again, over and over;
//   - a thread working a COM-port board on a pseudo-terminal (writes, bit reads, input reads);
//   - the tool's network link to `kelvard-sim net` (kelvard_soak_link, a process of its own).
// After the warm-up, resident memory and open file descriptors of this process, the link's and
// kelvard-sim net's are sampled every second and must stay within RSS_TOLERANCE_MIB and
// FD_TOLERANCE of the first sample; no call may fail except on a USB board that is absent (or
// coming or going) at that moment, and every value read back from a board that stays must be the
// one last written. Prints a summary; exit status 0 when all held.
//
//     kelvard_soak [--seconds N]        (default: SOAK_SECONDS, else 600)
#include "sim/SimSerialBoard.h"
#include "tests/support/SimFixture.h"
#include "tests/support/TempDir.h"
#define ZORVANE_TOOL KELVARD_SIM_PROGRAM
#include "tests/zorvane/ToolProcess.h"

#include "zorvane.h"
#include "zorvane/exports/TheApp.h"
#include "zorvane/exports/ZorvaneApp.h"

#include "protocol/DeviceWatch.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace
{
#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's allocator still settles for a while after the warm-up; its leak check at the
// end finds what is really lost.
constexpr double RSS_TOLERANCE_MIB = 16.0;
#else
constexpr double RSS_TOLERANCE_MIB = 8.0; // growth allowed after the warm-up
#endif
constexpr int FD_TOLERANCE = 2;      // a link being re-connected at the moment of a sample
constexpr auto PLUG_PAUSE = 20ms;    // between two plug changes
constexpr auto WORKER_PAUSE = 100us; // between two rounds of a USB worker

std::atomic<bool> g_bStop{false};
std::atomic<long> g_nCalls{0}; // on USB boards
std::atomic<long> g_nComCalls{0};
std::atomic<long> g_nComLate{0}; // rounds whose bit read was answered too late to judge
std::atomic<long> g_nAbsent{0};  // failures on a USB board that was absent or changing
std::atomic<long> g_nFailures{0};
std::atomic<long> g_nChanges{0};
// Odd while a plug change and the library's enumeration after it are under way.
std::atomic<long> g_nEpoch{0};
std::array<std::atomic<bool>, 2> g_bPresent{true, true}; // boards "3" and "4"

void Failure(const char* pszFormat, const std::string& strWhat)
{
    if (g_nFailures++ < 10)
        std::fprintf(stderr, pszFormat, strWhat.c_str());
}

// Of a process: "self" or its number.
double ResidentMiB(const std::string& strProcess)
{
    long nSize = 0, nResident = 0;
    if (FILE* pFile = std::fopen(("/proc/" + strProcess + "/statm").c_str(), "r"))
    {
        if (std::fscanf(pFile, "%ld %ld", &nSize, &nResident) != 2)
            nResident = 0;
        std::fclose(pFile);
    }
    return static_cast<double>(nResident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

int OpenFiles(const std::string& strProcess)
{
    std::error_code error;
    int nCount = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/" + strProcess + "/fd", error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error))
        ++nCount;
    return nCount;
}

// One worker: its own port of the boards that stay, written and read back, with a virtual
// port; then the boards that come and go (a new board after each plug, so no value is checked
// there), whose failures count only while they are settled and present.
void UsbWorker(int nWorker)
{
    using Write = int32_t (*)(const char*, int32_t);
    using Read = int32_t (*)(const char*, uint8_t*);
    constexpr std::array<Write, 3> WRITES = {WriteBytePortA, WriteBytePortB, WriteBytePortC};
    constexpr std::array<Read, 3> READS = {ReadBytePortA, ReadBytePortB, ReadBytePortC};
    const auto k = static_cast<std::size_t>(nWorker);
    const std::string strField = "w" + std::to_string(nWorker);
    for (int i = 1; !g_bStop; ++i)
    {
        const auto byValue = static_cast<std::uint8_t>(i * 7 + nWorker);
        for (const char* pszName : {"1", "2"})
        {
            std::uint8_t byRead = 0;
            const int32_t nDevice = pszName[0] - '0';
            g_nCalls += 5;
            if (WRITES[k](pszName, byValue) != 1 || READS[k](pszName, &byRead) != 1 ||
                byRead != byValue ||
                AddVirtualPort(nDevice, strField.c_str(), 24 + nWorker, 1, 0) != 0 ||
                RemoveVirtualPort(nDevice, strField.c_str()) != 1)
                Failure("soak: a call on USB board %s failed\n", pszName);
        }
        for (std::size_t b = 0; b < g_bPresent.size(); ++b)
        {
            const std::string strName = std::to_string(3 + b);
            const long nEpoch = g_nEpoch;
            const bool bPresent = g_bPresent[b];
            std::uint8_t byRead = 0;
            g_nCalls += 2;
            const bool bDone =
                WRITES[k](strName.c_str(), byValue) == 1 && READS[k](strName.c_str(), &byRead) == 1;
            if (bDone)
                continue;
            if (bPresent && nEpoch % 2 == 0 && nEpoch == g_nEpoch)
                Failure("soak: a call on USB board %s failed while it was attached\n", strName);
            else
                ++g_nAbsent;
        }
        CStringArray names;
        ListUsbDevices(&names);
        ++g_nCalls;
        // Busy, not flat out: the boards' own threads and the kernel's terminal work must
        // keep their pace on two cores.
        std::this_thread::sleep_for(WORKER_PAUSE);
    }
}

// Unplugs and plugs boards 3 and 4 in turn; each change is settled (the library's enumeration
// after it done) before the next.
void Plugger(CSimFixture& sim, const std::array<std::shared_ptr<CSimBoard>, 2>& boards)
{
    for (std::size_t i = 0; !g_bStop; ++i)
    {
        const std::size_t b = i / 2 % boards.size();
        const bool bPlug = !g_bPresent[b];
        ++g_nEpoch;
        g_bPresent[b] = false;
        if (bPlug)
            sim.Bus().Replug(boards[b]);
        else
            sim.Bus().Unplug(boards[b]);
        sim.Context()->Watch().Flush();
        g_bPresent[b] = bPlug;
        ++g_nEpoch;
        ++g_nChanges;
        std::this_thread::sleep_for(PLUG_PAUSE);
    }
}

// COM1: B outputs, A and C inputs at fixed levels. The board answers a moment late, so a bit
// read's reply is there only after its call; the next input read must not take it for the pins.
void ComWorker(CSimSerialBoard& board)
{
    constexpr char NAME[] = "COM1";
    board.SetInputs('A', 0x5A).SetInputs('C', 0xC3).SetReplyDelay(2ms);
    if (ConfigurePorts(NAME, 0xFF, 0x00, 0xFF, 0) != 14) // "C,255,0,255,0\n"
        Failure("soak: %s did not take its configuration\n", NAME);
    for (int i = 0; !g_bStop; ++i)
    {
        board.TakeLines(); // the board keeps every line it got otherwise
        const auto byValue = static_cast<std::uint8_t>(i);
        std::uint8_t byA = 0, byB = 0, byC = 0;
        int32_t nBit = 0;
        WriteBytePortB(NAME, byValue);
        ReadBitPortA(NAME, i % 8, &nBit);
        g_nComCalls += 3;
        // Unless the bit read took its reply itself, the reply waits when the input read
        // starts. One that comes later still cannot be told from the input reply: such a round
        // is not judged (a board starved that long is not what the soak is after).
        if (nBit != '1' && !board.WaitHostPending(9, 2s)) // "PI,A,<bit>,<level>\n"
        {
            ++g_nComLate;
            continue;
        }
        if (ReadBytePorts(NAME, &byA, &byB, &byC) != 1 || byA != 0x5A || byB != byValue ||
            byC != 0xC3)
            Failure("soak: %s read wrong or failed\n", NAME);
    }
}

long Seconds(int argc, char** argv)
{
    const char* pszSeconds = std::getenv("SOAK_SECONDS");
    if (argc == 3 && std::strcmp(argv[1], "--seconds") == 0)
        pszSeconds = argv[2];
    else if (argc != 1)
        return -1;
    const long nSeconds = pszSeconds && *pszSeconds ? std::strtol(pszSeconds, nullptr, 10) : 600;
    return nSeconds > 0 ? nSeconds : -1;
}

// Resident memory and open files of one process, the first sample after the warm-up and the
// largest since.
struct Probe
{
    std::string strProcess;
    double dRssBase = 0, dRssMax = 0;
    int nFdBase = 0, nFdMax = 0;

    void Sample()
    {
        const double dRss = ResidentMiB(strProcess);
        const int nFds = OpenFiles(strProcess);
        if (nFdBase == 0)
            dRssBase = dRss, nFdBase = nFds;
        dRssMax = std::max(dRssMax, dRss);
        nFdMax = std::max(nFdMax, nFds);
    }
    bool IsFlat() const
    {
        return dRssMax - dRssBase <= RSS_TOLERANCE_MIB && nFdMax - nFdBase <= FD_TOLERANCE;
    }
    void Print(const char* pszWho) const
    {
        std::printf(
            "soak: %s: resident %.1f MiB after warm-up, at most %.1f (+%.1f, allowed +%.1f); "
            "open files %d, at most %d (allowed +%d)\n",
            pszWho, dRssBase, dRssMax, dRssMax - dRssBase, RSS_TOLERANCE_MIB, nFdBase, nFdMax,
            FD_TOLERANCE);
    }
};
} // namespace

int main(int argc, char** argv)
{
    const long nSeconds = Seconds(argc, argv);
    if (nSeconds < 0)
    {
        std::fputs("usage: kelvard_soak [--seconds N] (default: SOAK_SECONDS, else 600)\n", stderr);
        return 2;
    }
    const auto warmUp = std::chrono::seconds(std::clamp(nSeconds / 3, 5L, 60L));

    // USB boards on the simulated bus; the library follows their changes from Initialize on.
    CSimFixture sim;
    sim.Bus().CaptureTrace(false);
    TheZorvaneApp().InitInstance(sim.Context()); // the library's own object, on this bus
    sim.Plug(SimBoardConfig().Id(1));
    sim.Plug(SimBoardConfig().Id(2));
    const std::array<std::shared_ptr<CSimBoard>, 2> comingAndGoing = {
        sim.Plug(SimBoardConfig().Id(3)), sim.Plug(SimBoardConfig().Id(4))};
    if (Initialize() != 4 || ConfigurePortsEx("1", 0, 0, 0, 0, 0, 0) != 1 ||
        ConfigurePortsEx("2", 0, 0, 0, 0, 0, 0) != 1)
    {
        std::fputs("soak: the USB boards are not there\n", stderr);
        return 1;
    }

    // COM1 is the pseudo-terminal's link in a folder of our own.
    CTempDir dir;
    CSimSerialBoard comBoard;
    setenv("KELVARD_COM_PATTERN", dir.ComPattern().c_str(), 1);
    if (!comBoard.IsReady() || !dir.ComLink(1, comBoard.SlavePath()))
    {
        std::fputs("soak: no pseudo-terminal for the COM-port board\n", stderr);
        return 1;
    }

    CToolProcess netBoard({"net", "--listen", "127.0.0.1:0"});
    const std::string strListening = netBoard.ReadLine();
    const std::string strPort = strListening.substr(strListening.rfind(':') + 1);
    if (strListening.empty() || std::atoi(strPort.c_str()) <= 0)
    {
        std::fputs("soak: kelvard-sim net did not start\n", stderr);
        return 1;
    }
    CToolProcess link(KELVARD_SOAK_LINK_PROGRAM, {strPort, std::to_string(nSeconds)});

    std::vector<std::thread> threads;
    for (int k = 0; k < 3; ++k)
        threads.emplace_back(UsbWorker, k);
    threads.emplace_back(Plugger, std::ref(sim), std::cref(comingAndGoing));
    threads.emplace_back(ComWorker, std::ref(comBoard));

    Probe self{"self"};
    Probe linkProcess{std::to_string(link.Pid())};
    Probe netProcess{std::to_string(netBoard.Pid())};
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_until(start + warmUp);
    for (auto next = start + warmUp; next < start + std::chrono::seconds(nSeconds); next += 1s)
    {
        std::this_thread::sleep_until(next);
        self.Sample();
        linkProcess.Sample();
        netProcess.Sample();
    }

    g_bStop = true;
    for (std::thread& thread : threads)
        thread.join();
    TheZorvaneApp().ExitInstance(); // its boards close their pipes while the bus is still there
    const ToolResult linkResult = link.Finish();

    const bool bPassed = self.IsFlat() && linkProcess.IsFlat() && netProcess.IsFlat() &&
                         g_nFailures == 0 && linkResult.nStatus == 0;
    std::fputs(linkResult.strErr.c_str(), stderr);
    std::printf(
        "soak: %ld s (warm-up %ld s): %ld export calls on USB boards (%ld failed on absent "
        "boards), %ld plug changes, %ld calls on the COM-port board (%ld rounds not judged), "
        "%ld failures; %s",
        nSeconds, static_cast<long>(warmUp.count()), g_nCalls.load(), g_nAbsent.load(),
        g_nChanges.load(), g_nComCalls.load(), g_nComLate.load(), g_nFailures.load(),
        linkResult.strOut.c_str());
    self.Print("library");
    linkProcess.Print("network link");
    netProcess.Print("kelvard-sim net");
    std::printf("soak: %s\n", bPassed ? "passed" : "FAILED");
    return bPassed ? 0 : 1;
}
