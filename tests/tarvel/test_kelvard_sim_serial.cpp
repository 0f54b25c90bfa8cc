// End to end: the stand-alone COM-port board `kelvard-sim serial` in its own process, linked
// where KELVARD_COM_PATTERN makes COM1, driven by libzorvane.so loaded as an application loads
// it. The board's --verbose lines show every line it receives.
#include "LoadedZorvane.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#ifndef KELVARD_SIM_PROGRAM
#error "KELVARD_SIM_PROGRAM must name the built kelvard-sim"
#endif

extern char** environ;

namespace
{
// A program running for the length of a test, its standard output read line by line.
class CChildProgram
{
public:
    explicit CChildProgram(std::vector<std::string> args)
    {
        int hPipe[2];
        if (::pipe(hPipe) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, hPipe[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, hPipe[0]);
        posix_spawn_file_actions_addclose(&actions, hPipe[1]);
        std::vector<char*> argv;
        for (std::string& strArg : args)
            argv.push_back(strArg.data());
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(hPipe[1]);
        m_hOutput = hPipe[0];
    }
    ~CChildProgram()
    {
        Stop();
        if (m_hOutput >= 0)
            ::close(m_hOutput);
    }
    CChildProgram(const CChildProgram&) = delete;
    CChildProgram& operator=(const CChildProgram&) = delete;

    bool IsRunning() const { return m_pid > 0; }

    // Ends it as Ctrl-C would; returns its exit status.
    int Stop()
    {
        if (m_pid <= 0)
            return m_nStatus;
        ::kill(m_pid, SIGTERM);
        int nStatus = 0;
        while (::waitpid(m_pid, &nStatus, 0) < 0 && errno == EINTR)
        {
        }
        m_pid = -1;
        m_nStatus = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
        return m_nStatus;
    }

    // Waits until the program has printed at least nCount lines; false when it stops first or
    // after a bound that only keeps a broken build from hanging.
    bool WaitLines(std::size_t nCount)
    {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (m_lines.size() < nCount)
        {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                giveUp - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            pollfd fd{m_hOutput, POLLIN, 0};
            if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0)
                continue;
            char szChunk[256];
            const ssize_t nRead = ::read(m_hOutput, szChunk, sizeof szChunk);
            if (nRead <= 0)
                return false;
            m_strPartial.append(szChunk, static_cast<std::size_t>(nRead));
            for (std::size_t nEnd; (nEnd = m_strPartial.find('\n')) != std::string::npos;)
            {
                m_lines.push_back(m_strPartial.substr(0, nEnd));
                m_strPartial.erase(0, nEnd + 1);
            }
        }
        return true;
    }

    const std::vector<std::string>& Lines() const { return m_lines; }

private:
    pid_t m_pid = -1;
    int m_hOutput = -1;
    int m_nStatus = -1;
    std::string m_strPartial;
    std::vector<std::string> m_lines;
};
} // namespace

TEST(KelvardSimSerial, TheLibraryWritesAndReadsTheComPortBoard)
{
    CLoadedZorvane lib(""); // no USB board; COM n is <its folder>/ttyKV(n-1)
    ASSERT_TRUE(lib.IsLoaded());
    const std::string strLink = lib.Dir().File("ttyKV0");
    CChildProgram board({KELVARD_SIM_PROGRAM, "serial", "--link", strLink, "--verbose"});
    ASSERT_TRUE(board.IsRunning());
    ASSERT_TRUE(board.WaitLines(1));
    const std::string& strReady = board.Lines()[0];
    EXPECT_EQ(strReady.rfind("kelvard-sim: COM-port board on /dev/pts/", 0), 0u) << strReady;
    EXPECT_NE(strReady.find(" linked as " + strLink), std::string::npos) << strReady;

    // Port B output, A and C inputs; then 0x5A on B, with A and C as the library last knew them.
    const std::string strConfigure = "C,255,0,255,0\n";
    EXPECT_EQ(lib.ConfigurePorts("COM1", 0xFF, 0x00, 0xFF, 0),
              static_cast<int32_t>(strConfigure.size()));
    lib.WriteBytePortB("COM1", 0x5A); // counts reply characters already waiting: none
    std::uint8_t byA = 0xEE;
    EXPECT_EQ(lib.ReadBytePortA("COM1", &byA), 1);
    EXPECT_EQ(byA, 0x00); // inputs at rest
    std::uint8_t byB = 0xEE;
    EXPECT_EQ(lib.ReadBytePortB("COM1", &byB), 1);
    EXPECT_EQ(byB, 0x5A); // an output reads back its latch

    ASSERT_TRUE(board.WaitLines(5));
    EXPECT_EQ(std::vector<std::string>(board.Lines().begin() + 1, board.Lines().end()),
              (std::vector<std::string>{"serial < C,255,0,255,0", "serial < O,0,90,0", "serial < I",
                                        "serial < I"}));
    EXPECT_TRUE(lib.Trace().empty()) << "no USB traffic";

    EXPECT_EQ(board.Stop(), 0);
    EXPECT_EQ(::access(strLink.c_str(), F_OK), -1) << "the link goes with the board";
}
