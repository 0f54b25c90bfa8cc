#pragma once
// The built zorvane tool run as a child process with the test's environment: its exit status,
// standard output and standard error, and for long runs its output line by line and a signal.
//
//     EXPECT_EQ(CToolProcess({"get", "7", "A"}).Finish(), (ToolResult{0, "A=0x00\n", ""}));
#include <csignal>
#include <ostream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

struct ToolResult
{
    int nStatus = -1; // exit status; -1 when it did not exit normally
    std::string strOut;
    std::string strErr;
    bool operator==(const ToolResult&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const ToolResult& result)
    {
        return out << "status " << result.nStatus << ", out \"" << result.strOut << "\", err \""
                   << result.strErr << "\"";
    }
};

class CToolProcess
{
public:
    explicit CToolProcess(const std::vector<std::string>& args) : CToolProcess(ZORVANE_TOOL, args)
    {
    }
    CToolProcess(const char* pszProgram, const std::vector<std::string>& args)
    {
        int hOut[2], hErr[2];
        if (pipe2(hOut, O_CLOEXEC) != 0 || pipe2(hErr, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, hOut[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, hErr[1], STDERR_FILENO);
        std::vector<char*> argv{const_cast<char*>(pszProgram)};
        for (const std::string& strArg : args)
            argv.push_back(const_cast<char*>(strArg.c_str()));
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, pszProgram, &actions, nullptr, argv.data(), environ) != 0)
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
        close(m_hOut);
        close(m_hErr);
    }
    CToolProcess(const CToolProcess&) = delete;
    CToolProcess& operator=(const CToolProcess&) = delete;

    // The next line of standard output without its '\n'; "" when none came in 10 s.
    std::string ReadLine()
    {
        std::size_t nEnd;
        while ((nEnd = m_result.strOut.find('\n', m_nLineStart)) == std::string::npos)
        {
            pollfd pfd{m_hOut, POLLIN, 0};
            if (poll(&pfd, 1, 10000) != 1 || !Append(m_hOut, m_result.strOut))
                return "";
        }
        std::string strLine = m_result.strOut.substr(m_nLineStart, nEnd - m_nLineStart);
        m_nLineStart = nEnd + 1;
        return strLine;
    }

    void Signal(int nSignal) const { kill(m_pid, nSignal); }
    pid_t Pid() const { return m_pid; }

    // All output (ReadLine's lines too) once the tool closed it, and the exit status. The
    // tool's messages are far below a pipe's capacity, so standard error can wait till last.
    ToolResult Finish()
    {
        while (Append(m_hOut, m_result.strOut) || Append(m_hErr, m_result.strErr))
            continue;
        int nWait = 0;
        if (m_pid > 0 && waitpid(m_pid, &nWait, 0) == m_pid && WIFEXITED(nWait))
            m_result.nStatus = WEXITSTATUS(nWait);
        m_pid = -1;
        return m_result;
    }

private:
    static bool Append(int hPipe, std::string& strText)
    {
        char szBuffer[4096];
        const ssize_t nRead = read(hPipe, szBuffer, sizeof szBuffer);
        if (nRead > 0)
            strText.append(szBuffer, static_cast<std::size_t>(nRead));
        return nRead > 0;
    }

    pid_t m_pid = -1;
    int m_hOut = -1;
    int m_hErr = -1;
    ToolResult m_result;
    std::size_t m_nLineStart = 0;
};
