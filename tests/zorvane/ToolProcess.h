#pragma once
// The built zorvane tool run as a child process with the test's environment: its exit status,
// standard output and standard error, and for long runs its output line by line and a signal.
//
//     const CToolProcess::Result result = CToolProcess({"get", "7", "A"}).Finish();
//     EXPECT_EQ(result.strOut, "A=0x00\n");
#include <chrono>
#include <csignal>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef ZORVANE_TOOL
#error "ZORVANE_TOOL must name the built zorvane program"
#endif

extern char** environ;

class CToolProcess
{
public:
    struct Result
    {
        int nStatus = -1; // exit status; -1 when it did not exit normally
        std::string strOut;
        std::string strErr;
    };

    explicit CToolProcess(const std::vector<std::string>& args)
    {
        int hOut[2];
        int hErr[2];
        if (pipe2(hOut, O_CLOEXEC) != 0 || pipe2(hErr, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, hOut[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, hErr[1], STDERR_FILENO);
        std::vector<char*> argv{const_cast<char*>(ZORVANE_TOOL)};
        for (const std::string& strArg : args)
            argv.push_back(const_cast<char*>(strArg.c_str()));
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, ZORVANE_TOOL, &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(hOut[1]);
        close(hErr[1]);
        m_hOut = hOut[0];
        m_hErr = hErr[0];
    }
    ~CToolProcess()
    {
        if (m_pid > 0)
        {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        for (int hPipe : {m_hOut, m_hErr})
            if (hPipe >= 0)
                close(hPipe);
    }
    CToolProcess(const CToolProcess&) = delete;
    CToolProcess& operator=(const CToolProcess&) = delete;

    // The next line of standard output without its '\n'; "" when none came in time.
    std::string ReadLine(std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        std::size_t nEnd;
        while ((nEnd = m_result.strOut.find('\n', m_nLineStart)) == std::string::npos)
        {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !Pump(static_cast<int>(left.count())))
                return "";
        }
        std::string strLine = m_result.strOut.substr(m_nLineStart, nEnd - m_nLineStart);
        m_nLineStart = nEnd + 1;
        return strLine;
    }

    void Signal(int nSignal) const { kill(m_pid, nSignal); }

    // Reads both outputs to their end, then waits for the exit (all output, not only the
    // lines ReadLine has not given yet).
    Result Finish()
    {
        while (Pump(-1))
        {
        }
        int nWait = 0;
        if (m_pid > 0 && waitpid(m_pid, &nWait, 0) == m_pid && WIFEXITED(nWait))
            m_result.nStatus = WEXITSTATUS(nWait);
        m_pid = -1;
        return m_result;
    }

private:
    // Takes what either pipe has; false once both are at their end or the time ran out.
    bool Pump(int nTimeoutMs)
    {
        pollfd pfds[2] = {{m_hOut, POLLIN, 0}, {m_hErr, POLLIN, 0}};
        if (m_hOut < 0 && m_hErr < 0)
            return false;
        if (poll(pfds, 2, nTimeoutMs) <= 0)
            return false;
        std::string* pTexts[2] = {&m_result.strOut, &m_result.strErr};
        int* pHandles[2] = {&m_hOut, &m_hErr};
        for (int i = 0; i < 2; ++i)
        {
            if (*pHandles[i] < 0 || !(pfds[i].revents & (POLLIN | POLLHUP)))
                continue;
            char szBuffer[4096];
            const ssize_t nRead = read(*pHandles[i], szBuffer, sizeof szBuffer);
            if (nRead > 0)
                pTexts[i]->append(szBuffer, static_cast<std::size_t>(nRead));
            else
            {
                close(*pHandles[i]);
                *pHandles[i] = -1;
            }
        }
        return true;
    }

    pid_t m_pid = -1;
    int m_hOut = -1;
    int m_hErr = -1;
    Result m_result;
    std::size_t m_nLineStart = 0;
};
