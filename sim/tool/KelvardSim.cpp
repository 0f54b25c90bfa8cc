// kelvard-sim: stand-alone simulated boards for people and tests.
//   kelvard-sim net [--listen ADDR:PORT] [--verbose]   a network board (default 127.0.0.1:9764)
//   kelvard-sim serial [--link PATH] [--line-end lf|crlf|none] [--reply-delay MS] [--verbose]
//                                                      a COM-port board on a pseudo-terminal
// Both run until interrupted (Ctrl-C or SIGTERM).
#include "sim/SimNetBoard.h"
#include "sim/SimSerialBoard.h"

#include "protocol/HexText.h"
#include "protocol/net/Frames.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace
{
constexpr char USAGE[] = "usage: kelvard-sim net [--listen ADDR:PORT] [--verbose]\n"
                         "       kelvard-sim serial [--link PATH] [--line-end lf|crlf|none]\n"
                         "                          [--reply-delay MS] [--verbose]\n";

int UsageError(const char* pszWhat)
{
    std::fprintf(stderr, "kelvard-sim: %s\n%s", pszWhat, USAGE);
    return 2;
}

// Blocks the stop signals in every thread, so the main thread can wait for them.
sigset_t BlockStopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    return set;
}

void WaitForStop(const sigset_t& set)
{
    int nSignal = 0;
    sigwait(&set, &nSignal);
}

std::string Hex(const std::vector<std::uint8_t>& bytes)
{
    return HexText(bytes.data(), bytes.size());
}

int RunNet(int argc, char** argv)
{
    std::string strAddress = "127.0.0.1";
    unsigned long nPort = NET_PORT;
    bool bVerbose = false;
    for (int i = 0; i < argc; ++i)
    {
        if (std::strcmp(argv[i], "--verbose") == 0)
        {
            bVerbose = true;
        }
        else if (std::strcmp(argv[i], "--listen") == 0 && i + 1 < argc)
        {
            const std::string strListen = argv[++i];
            const std::size_t nColon = strListen.rfind(':');
            char* pEnd = nullptr;
            if (nColon == std::string::npos)
                return UsageError("--listen takes ADDR:PORT");
            strAddress = strListen.substr(0, nColon);
            nPort = std::strtoul(strListen.c_str() + nColon + 1, &pEnd, 10);
            if (*pEnd != '\0' || nPort > 65535)
                return UsageError("--listen takes ADDR:PORT");
        }
        else
        {
            return UsageError("unknown argument for net");
        }
    }
    const sigset_t stop = BlockStopSignals();
    CSimNetBoard board(strAddress, static_cast<std::uint16_t>(nPort));
    if (!board.IsListening())
    {
        std::fprintf(stderr, "kelvard-sim: cannot listen on %s:%lu: %s\n", strAddress.c_str(),
                     nPort, board.Error().c_str());
        return 1;
    }
    board.SetRecording(false);
    if (bVerbose)
        board.SetFrameListener(
            [](const std::vector<std::uint8_t>& frame)
            {
                std::printf("net < %s\n", Hex(frame).c_str());
                std::fflush(stdout);
            });
    std::printf("kelvard-sim: network board listening on %s:%u\n", strAddress.c_str(),
                board.Port());
    std::fflush(stdout);
    WaitForStop(stop);
    return 0;
}

int RunSerial(int argc, char** argv)
{
    std::string strLink;
    std::string strLineEnd = "\n";
    unsigned long nDelayMs = 0;
    bool bVerbose = false;
    for (int i = 0; i < argc; ++i)
    {
        if (std::strcmp(argv[i], "--verbose") == 0)
        {
            bVerbose = true;
        }
        else if (std::strcmp(argv[i], "--link") == 0 && i + 1 < argc)
        {
            strLink = argv[++i];
        }
        else if (std::strcmp(argv[i], "--line-end") == 0 && i + 1 < argc)
        {
            const std::string strName = argv[++i];
            if (strName == "lf")
                strLineEnd = "\n";
            else if (strName == "crlf")
                strLineEnd = "\r\n";
            else if (strName == "none")
                strLineEnd.clear();
            else
                return UsageError("--line-end takes lf, crlf or none");
        }
        else if (std::strcmp(argv[i], "--reply-delay") == 0 && i + 1 < argc)
        {
            char* pEnd = nullptr;
            nDelayMs = std::strtoul(argv[++i], &pEnd, 10);
            if (*argv[i] == '\0' || *argv[i] == '-' || *pEnd != '\0' || nDelayMs > 60000)
                return UsageError("--reply-delay takes milliseconds, 0 to 60000");
        }
        else
        {
            return UsageError("unknown argument for serial");
        }
    }
    const sigset_t stop = BlockStopSignals();
    CSimSerialBoard board;
    if (!board.IsReady())
    {
        std::fprintf(stderr, "kelvard-sim: cannot make a pseudo-terminal\n");
        return 1;
    }
    board.SetRecording(false)
        .SetReplyEnd(strLineEnd)
        .SetReplyDelay(std::chrono::milliseconds(nDelayMs));
    if (!strLink.empty())
    {
        ::unlink(strLink.c_str());
        if (::symlink(board.SlavePath().c_str(), strLink.c_str()) != 0)
        {
            std::fprintf(stderr, "kelvard-sim: cannot link %s: %s\n", strLink.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }
    if (bVerbose)
        board.SetLineListener(
            [](const std::string& strLine)
            {
                std::printf("serial < %s", strLine.c_str());
                std::fflush(stdout);
            });
    std::printf("kelvard-sim: COM-port board on %s%s%s\n", board.SlavePath().c_str(),
                strLink.empty() ? "" : " linked as ", strLink.c_str());
    std::fflush(stdout);
    WaitForStop(stop);
    if (!strLink.empty())
        ::unlink(strLink.c_str());
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "net") == 0)
        return RunNet(argc - 2, argv + 2);
    if (argc >= 2 && std::strcmp(argv[1], "serial") == 0)
        return RunSerial(argc - 2, argv + 2);
    if (argc >= 2 && std::strcmp(argv[1], "--version") == 0)
    {
        std::printf("kelvard-sim %s\n", KELVARD_VERSION);
        return 0;
    }
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0))
    {
        std::fputs(USAGE, stdout);
        return 0;
    }
    return UsageError("name a board: net or serial");
}
