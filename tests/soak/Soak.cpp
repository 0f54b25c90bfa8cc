// The soak: everything a long-running application and the tool do at once, for a set time.
//   - threads calling the library's exports on two USB boards that stay and two that the
//     simulated bus unplugs and plugs again, over and over;
//   - a thread working a COM-port board on a pseudo-terminal (writes, bit reads, input reads);
//   - the tool's network link, on a thread with its own event loop, to a network board.
// After the warm-up, resident memory and open file descriptors are sampled every second and
// must stay within RSS_TOLERANCE_MIB and FD_TOLERANCE of the first sample; no call may fail
// except on a USB board that is absent (or coming or going) at that moment, and every value read
// back must be the one last written. Prints a summary; exit status 0 when all held.
//
//     kelvard_soak [--seconds N]        (default: SOAK_SECONDS, else 600)
#include "sim/SimNetBoard.h"
#include "sim/SimSerialBoard.h"
#include "tests/support/SimFixture.h"
#include "tests/support/TempDir.h"

#include "zorvane.h"
#include "zorvane/exports/TheApp.h"
#include "zorvane/exports/ZorvaneApp.h"

#include "tarvel/net/ClientSocket.h"
#include "tarvel/net/LinkOwner.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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
constexpr auto RECONNECT_EVERY = 5s; // of the network link

std::atomic<bool> g_bStop{false};
std::atomic<long> g_nComLate{0}; // rounds whose bit read was answered too late to judge
std::atomic<long> g_nAbsent{0};  // failures on a USB board that was absent or changing
std::atomic<long> g_nFailures{0};
std::atomic<long> g_nReplies{0}; // over the network link
// Odd while a plug change and the library's enumeration after it are under way.
std::atomic<long> g_nEpoch{0};
std::array<std::atomic<bool>, 2> g_bPresent{true, true}; // boards "3" and "4"

void Failure(const char* pszFormat, const std::string& strWhat = "")
{
    if (g_nFailures++ < 10)
        std::fprintf(stderr, pszFormat, strWhat.c_str());
}

// One worker: its own port of the boards that stay, written and read back, with a virtual
// port; then the boards that come and go (a new board after each plug, so no value is checked
// there), whose failures count only while they are settled and present.
void UsbWorker(std::size_t k)
{
    constexpr std::array WRITES{WriteBytePortA, WriteBytePortB, WriteBytePortC};
    constexpr std::array READS{ReadBytePortA, ReadBytePortB, ReadBytePortC};
    const std::string strField = "w" + std::to_string(k);
    for (int i = 1; !g_bStop; ++i)
    {
        const auto byValue = static_cast<std::uint8_t>(i * 7 + int(k));
        std::uint8_t byRead = 0;
        for (const char* pszName : {"1", "2"})
        {
            const int32_t nDevice = pszName[0] - '0';
            if (WRITES[k](pszName, byValue) != 1 || READS[k](pszName, &byRead) != 1 ||
                byRead != byValue ||
                AddVirtualPort(nDevice, strField.c_str(), 24 + int(k), 1, 0) != 0 ||
                RemoveVirtualPort(nDevice, strField.c_str()) != 1)
                Failure("soak: a call on USB board %s failed\n", pszName);
        }
        for (std::size_t b = 0; b < g_bPresent.size(); ++b)
        {
            const std::string strName = std::to_string(3 + b);
            const long nEpoch = g_nEpoch;
            const bool bPresent = g_bPresent[b];
            if (WRITES[k](strName.c_str(), byValue) == 1 && READS[k](strName.c_str(), &byRead) == 1)
                continue;
            if (bPresent && nEpoch % 2 == 0 && nEpoch == g_nEpoch)
                Failure("soak: a call on USB board %s failed while it was attached\n", strName);
            else
                ++g_nAbsent;
        }
        CStringArray names;
        ListUsbDevices(&names);
        // Busy, not flat out: the boards' own threads and the kernel's terminal work must
        // keep their pace on two cores.
        std::this_thread::sleep_for(100us);
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
        bPlug ? sim.Bus().Replug(boards[b]) : sim.Bus().Unplug(boards[b]);
        sim.Context()->Watch().Flush();
        g_bPresent[b] = bPlug;
        ++g_nEpoch;
        std::this_thread::sleep_for(20ms); // between two plug changes
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
        std::uint8_t byA = 0, byB = 0, byC = 0;
        int32_t nBit = 0;
        WriteBytePortB(NAME, i & 0xFF);
        ReadBitPortA(NAME, i % 8, &nBit);
        // Unless the bit read took its reply itself, the reply waits when the input read
        // starts. One that comes later still cannot be told from the input reply: such a round
        // is not judged (a board starved that long is not what the soak is after).
        if (nBit != '1' && !board.WaitHostPending(9, 2s)) // "PI,A,<bit>,<level>\n"
            ++g_nComLate;
        else if (ReadBytePorts(NAME, &byA, &byB, &byC) != 1 || byA != 0x5A || byB != (i & 0xFF) ||
                 byC != 0xC3)
            Failure("soak: %s read wrong or failed\n", NAME);
    }
}

// The tool's link to the network board: levels written and read back in turn, a millisecond
// apart, each reply carrying the value written before it; every RECONNECT_EVERY, after a reply,
// it starts over on a new connection.
class CSoakLink : public QObject, public CLinkOwner
{
public:
    explicit CSoakLink(quint16 nPort) : m_nPort(nPort) { Reconnect(); }

    // Once a second: a link that brought no reply since the last look has failed.
    void Look()
    {
        if (std::exchange(m_nLastLook, g_nReplies.load()) == g_nReplies)
            DropConnection();
    }

    void RequestConfiguration(int nErrorCode) override
    {
        m_since = Clock::now();
        if (nErrorCode == 0) // else the next look finds no reply
            WriteAndRead();
    }

    void OnSocketFrame(const std::uint8_t* pFrame, int nLength, CClientSocket* /*pLink*/) override
    {
        ++g_nReplies;
        PortBytes byPorts{};
        if (pFrame[0] != CMD_READ_PORTS ||
            !DecodeGridFrame(pFrame, static_cast<std::size_t>(nLength), byPorts) ||
            byPorts != PortBytes{m_byValue, m_byValue, m_byValue, m_byValue, m_byValue})
            Failure("soak: network: a reply did not carry the values written\n");
        if (Clock::now() - m_since < RECONNECT_EVERY)
            QTimer::singleShot(1ms, this, [this] { WriteAndRead(); });
        else
            Reconnect();
    }

    // The board closed the link, or it brought no reply.
    void DropConnection() override
    {
        Failure("soak: network: the link to the board failed\n");
        Reconnect();
    }

private:
    void Reconnect()
    {
        if (m_pLink)
            std::exchange(m_pLink, nullptr)->Delete(); // once its socket is done with it
        m_pLink = new CClientSocket(this, this);
        m_pLink->Connect(QStringLiteral("127.0.0.1"), m_nPort);
    }

    // All pins outputs, the next level on each, and the read that must show it.
    void WriteAndRead()
    {
        const std::uint8_t by = ++m_byValue;
        for (NetFrame frame :
             {BuildWriteDirectionsFrame({}), BuildWritePortsFrame({by, by, by, by, by}),
              BuildFrame(CMD_READ_PORTS)})
            if (m_pLink->SendFrame(frame.data(), NET_FRAME_SIZE) != SOCKET_NO_ERROR)
                Failure("soak: network: the link refused a frame\n");
    }

    quint16 m_nPort;
    CClientSocket* m_pLink = nullptr; // a child
    Clock::time_point m_since;
    long m_nLastLook = -1;
    std::uint8_t m_byValue = 0;
};
} // namespace

int main(int argc, char** argv)
{
    const bool bArgs = argc == 1 || (argc == 3 && std::string(argv[1]) == "--seconds");
    const char* pszSeconds = argc == 3 ? argv[2] : std::getenv("SOAK_SECONDS");
    const long nSeconds = pszSeconds && *pszSeconds ? std::strtol(pszSeconds, nullptr, 10) : 600;
    if (!bArgs || nSeconds <= 0)
        return std::fputs("usage: kelvard_soak [--seconds N]\n", stderr), 2;
    const auto warmUp = std::chrono::seconds(std::clamp(nSeconds / 3, 5L, 60L));
    QCoreApplication app(argc, argv); // for the link's event loop; this thread runs none

    // USB boards on the simulated bus; the library follows their changes from Initialize on.
    CSimFixture sim;
    sim.Bus().CaptureTrace(false);
    TheZorvaneApp().InitInstance(sim.Context()); // the library's own object, on this bus
    sim.Plug(SimBoardConfig().Id(1));
    sim.Plug(SimBoardConfig().Id(2));
    const std::array<std::shared_ptr<CSimBoard>, 2> comingAndGoing = {
        sim.Plug(SimBoardConfig().Id(3)), sim.Plug(SimBoardConfig().Id(4))};
    // COM1 is the pseudo-terminal's link in a folder of our own. The network board keeps no
    // frames, or its memory would grow with every one.
    CTempDir dir;
    CSimSerialBoard comBoard;
    setenv("KELVARD_COM_PATTERN", dir.ComPattern().c_str(), 1);
    CSimNetBoard netBoard("127.0.0.1", 0);
    netBoard.SetRecording(false);
    if (Initialize() != 4 || ConfigurePortsEx("1", 0, 0, 0, 0, 0, 0) != 1 ||
        ConfigurePortsEx("2", 0, 0, 0, 0, 0, 0) != 1 || !comBoard.IsReady() ||
        !dir.ComLink(1, comBoard.SlavePath()) || !netBoard.IsListening())
        return std::fputs("soak: the boards are not all there\n", stderr), 1;

    std::vector<std::thread> threads;
    for (std::size_t k = 0; k < 3; ++k)
        threads.emplace_back(UsbWorker, k);
    threads.emplace_back(Plugger, std::ref(sim), std::cref(comingAndGoing));
    threads.emplace_back(ComWorker, std::ref(comBoard));
    // The link's thread runs an event loop of its own (Qt adopts the thread).
    threads.emplace_back(
        [nPort = netBoard.Port()]
        {
            QEventLoop loop;
            CSoakLink link(nPort);
            QTimer look;
            QObject::connect(&look, &QTimer::timeout, &link,
                             [&] { g_bStop ? loop.quit() : link.Look(); });
            look.start(1s);
            loop.exec();
        });

    // Resident memory in MiB and open files: the first sample after the warm-up, and the
    // largest since.
    std::pair<double, int> base{}, most{};
    const auto start = Clock::now();
    for (auto next = start + warmUp; next < start + std::chrono::seconds(nSeconds); next += 1s)
    {
        std::this_thread::sleep_until(next);
        long nSize = 0, nResident = 0;
        std::ifstream("/proc/self/statm") >> nSize >> nResident;
        const std::filesystem::directory_iterator files("/proc/self/fd");
        const std::pair usage{double(nResident) * double(sysconf(_SC_PAGESIZE)) / 1048576.0,
                              int(std::distance(begin(files), end(files)))};
        base = base.second == 0 ? usage : base;
        most = {std::max(most.first, usage.first), std::max(most.second, usage.second)};
    }

    g_bStop = true;
    for (std::thread& thread : threads)
        thread.join();
    TheZorvaneApp().ExitInstance(); // its boards close their pipes while the bus is still there

    const bool bPassed = g_nFailures == 0 && most.first - base.first <= RSS_TOLERANCE_MIB &&
                         most.second - base.second <= FD_TOLERANCE;
    std::printf("soak: %ld s: %ld plug changes (%ld calls failed on absent boards), %ld COM rounds "
                "not judged, %ld network replies, %ld failures; resident %.1f MiB after the warm-up, "
                "at most %.1f, open files %d, at most %d: %s\n",
                nSeconds, g_nEpoch / 2, g_nAbsent.load(), g_nComLate.load(), g_nReplies.load(),
                g_nFailures.load(), base.first, most.first, base.second, most.second,
                bPassed ? "passed" : "FAILED");
    return bPassed ? 0 : 1;
}
