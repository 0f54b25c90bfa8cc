#pragma once
// A plain TCP client on loopback for tests and benchmarks of the network link: each call's bytes
// go as one segment; bytes are hex text as the bus trace writes them.
#include "tests/support/HexText.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

class CLoopbackClient
{
public:
    explicit CLoopbackClient(std::uint16_t nPort)
    {
        const int nYes = 1;
        setsockopt(m_hSocket, IPPROTO_TCP, TCP_NODELAY, &nYes, sizeof nYes);
        sockaddr_in address{AF_INET, htons(nPort), {htonl(INADDR_LOOPBACK)}, {}};
        connect(m_hSocket, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        socklen_t nSize = sizeof address;
        getsockname(m_hSocket, reinterpret_cast<sockaddr*>(&address), &nSize);
        m_strName = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    }
    ~CLoopbackClient() { close(m_hSocket); }
    CLoopbackClient(const CLoopbackClient&) = delete;
    CLoopbackClient& operator=(const CLoopbackClient&) = delete;

    // "127.0.0.1:40312", as the server sees it.
    const std::string& Name() const { return m_strName; }
    // The bytes written as hex ("36 0c 00"), as one segment.
    bool Send(const std::string& strHex)
    {
        std::vector<std::uint8_t> bytes;
        for (std::size_t i = 0; i + 1 < strHex.size(); i += 3)
            bytes.push_back(
                static_cast<std::uint8_t>(std::stoul(strHex.substr(i, 2), nullptr, 16)));
        return send(m_hSocket, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    // Up to nLength bytes as hex: those that came before nothing more did for nTimeoutMs, or
    // "closed" when the server closed the connection before any came.
    std::string Receive(std::size_t nLength, int nTimeoutMs = 10000)
    {
        std::vector<std::uint8_t> bytes(nLength);
        std::size_t nDone = 0;
        pollfd pfd{m_hSocket, POLLIN, 0};
        while (nDone < nLength && poll(&pfd, 1, nTimeoutMs) == 1)
        {
            const ssize_t nRead = recv(m_hSocket, bytes.data() + nDone, nLength - nDone, 0);
            if (nRead <= 0)
                return nDone == 0 ? "closed" : HexText(bytes.data(), nDone);
            nDone += static_cast<std::size_t>(nRead);
        }
        return HexText(bytes.data(), nDone);
    }

private:
    int m_hSocket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::string m_strName;
};
