#include "kelvard/TcpBoard.h"

#include "protocol/BoardLink.h"
#include "protocol/DebugOutput.h"
#include "protocol/net/HostPort.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{
using Clock = std::chrono::steady_clock;

// Giving up on a host that does not answer the connection.
constexpr int CONNECT_WAIT_MS = 2000;

// Waits for the socket's events until the deadline: 1 ready, 0 time-out, -1 failure.
int WaitFor(int hSocket, short nEvents, Clock::time_point deadline)
{
    while (true)
    {
        const auto nLeft =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd fd{hSocket, nEvents, 0};
        const int nReady = ::poll(&fd, 1, static_cast<int>(std::max<long long>(nLeft, 0)));
        if (nReady < 0 && errno == EINTR)
            continue;
        return nReady < 0 ? -1 : nReady;
    }
}

// Connects to one address without blocking for longer than the connection wait; the socket or
// -1 with errno set.
int Connect(const addrinfo& address)
{
    const int hSocket =
        ::socket(address.ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
    if (hSocket < 0)
        return -1;
    int nError = 0;
    if (::connect(hSocket, address.ai_addr, address.ai_addrlen) != 0)
    {
        nError = errno;
        if (nError == EINPROGRESS)
        {
            const auto deadline = Clock::now() + std::chrono::milliseconds(CONNECT_WAIT_MS);
            socklen_t nSize = sizeof nError;
            nError = ETIMEDOUT;
            if (WaitFor(hSocket, POLLOUT, deadline) > 0)
                ::getsockopt(hSocket, SOL_SOCKET, SO_ERROR, &nError, &nSize);
        }
    }
    if (nError != 0)
    {
        ::close(hSocket);
        errno = nError;
        return -1;
    }
    // A request is one small frame: send it at once.
    const int nYes = 1;
    ::setsockopt(hSocket, IPPROTO_TCP, TCP_NODELAY, &nYes, sizeof nYes);
    return hSocket;
}
} // namespace

int CKelvardTcpBoard::Open(const std::string& strAddress, std::unique_ptr<CKelvardBoard>& pBoard)
{
    SHostPort address;
    if (!ParseHostPort(strAddress, address))
        return KELVARD_ERR_ARGUMENT;
    const std::string strPort = std::to_string(address.nPort ? address.nPort : NET_PORT);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* pAddresses = nullptr;
    const int nLookup = ::getaddrinfo(address.strHost.c_str(), strPort.c_str(), &hints, &pAddresses);
    if (nLookup != 0)
    {
        DebugOutput(("tcp:" + strAddress + ": " + ::gai_strerror(nLookup)).c_str());
        return nLookup == EAI_MEMORY ? KELVARD_ERR_NO_MEMORY : KELVARD_ERR_NOT_FOUND;
    }
    int hSocket = -1;
    int nError = 0;
    for (const addrinfo* pAddress = pAddresses; pAddress && hSocket < 0;
         pAddress = pAddress->ai_next)
    {
        hSocket = Connect(*pAddress);
        nError = errno;
    }
    ::freeaddrinfo(pAddresses);
    if (hSocket < 0)
    {
        DebugOutput(("tcp:" + strAddress + ": " + std::strerror(nError)).c_str());
        return nError == ECONNREFUSED ? KELVARD_ERR_NOT_FOUND : KELVARD_ERR_IO;
    }
    pBoard = std::make_unique<CKelvardTcpBoard>(hSocket);
    return KELVARD_OK;
}

CKelvardTcpBoard::~CKelvardTcpBoard()
{
    ::close(m_hSocket);
}

int CKelvardTcpBoard::ExchangeReadPorts(PortBytes& ports)
{
    NetFrame reply{};
    const int nResult = Exchange(BuildFrame(CMD_READ_PORTS), CMD_READ_PORTS, reply);
    if (nResult == KELVARD_OK)
        DecodeGridFrame(reply.data(), reply.size(), ports);
    return nResult;
}

int CKelvardTcpBoard::ExchangeWritePorts(const PortBytes& ports)
{
    // The board answers no write: the reply to the read that follows it on the connection tells
    // that it was handled, since frames are handled in order.
    NetFrame reply{};
    const int nResult = Exchange(BuildWritePortsFrame(ports), 0, reply);
    PortBytes levels{};
    return nResult == KELVARD_OK ? ExchangeReadPorts(levels) : nResult;
}

int CKelvardTcpBoard::ExchangeReadConfig(ConfigBlock& config)
{
    NetFrame reply{};
    const int nResult = Exchange(BuildFrame(CMD_READ_CONFIGURATION), CMD_READ_CONFIGURATION, reply);
    if (nResult == KELVARD_OK)
        config = DecodeConfiguration(reply.data() + NET_HEADER_SIZE);
    return nResult;
}

int CKelvardTcpBoard::ExchangeWriteConfig(const ConfigBlock& config)
{
    // The whole block, as the board holds it but for what the caller changed: the frame's
    // byte 11 carries the analog input count.
    NetFrame frame = BuildFrame(CMD_WRITE_CONFIGURATION);
    EncodeConfiguration(config, frame.data() + NET_HEADER_SIZE);
    NetFrame reply{};
    int nResult = Exchange(frame, 0, reply);
    // Read back, as for the ports; a board that kept something else did not take it.
    ConfigBlock held;
    if (nResult == KELVARD_OK)
        nResult = ExchangeReadConfig(held);
    return nResult == KELVARD_OK && !(held == config) ? KELVARD_ERR_IO : nResult;
}

int CKelvardTcpBoard::Exchange(const NetFrame& frame, std::uint8_t byReply, NetFrame& reply)
{
    int nResult = DropStale();
    if (nResult == KELVARD_OK)
        nResult = Send(frame);
    if (nResult == KELVARD_OK && byReply != 0)
        nResult = Receive(byReply, reply);
    return nResult;
}

int CKelvardTcpBoard::Send(const NetFrame& frame)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(LINK_TIMEOUT_MS);
    std::size_t nSent = 0;
    while (nSent < frame.size())
    {
        const ssize_t nDone =
            ::send(m_hSocket, frame.data() + nSent, frame.size() - nSent, MSG_NOSIGNAL);
        if (nDone >= 0)
        {
            nSent += static_cast<std::size_t>(nDone);
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno == EPIPE || errno == ECONNRESET)
            return KELVARD_ERR_GONE;
        if (errno != EAGAIN || WaitFor(m_hSocket, POLLOUT, deadline) <= 0)
            return KELVARD_ERR_IO;
    }
    return KELVARD_OK;
}

int CKelvardTcpBoard::Receive(std::uint8_t byReply, NetFrame& reply)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(LINK_TIMEOUT_MS);
    bool bFound = false;
    bool bWhole = false;
    while (!bFound)
    {
        std::uint8_t byBuffer[NET_FRAME_MAX];
        const ssize_t nRead = ::recv(m_hSocket, byBuffer, sizeof byBuffer, 0);
        if (nRead == 0)
            return KELVARD_ERR_GONE;
        if (nRead < 0)
        {
            if (errno == EINTR)
                continue;
            if (errno == ECONNRESET)
                return KELVARD_ERR_GONE;
            if (errno != EAGAIN || WaitFor(m_hSocket, POLLIN, deadline) <= 0)
                return KELVARD_ERR_IO;
            continue;
        }
        // Bytes after the reply belong to nobody: they are dropped with the next request.
        m_rcvFrames.Feed(byBuffer, static_cast<std::size_t>(nRead),
                         [&](const std::uint8_t* pFrame, int nLength) {
                             if (bFound || pFrame[0] != byReply)
                                 return true;
                             bFound = true;
                             bWhole = nLength >= NET_FRAME_SIZE;
                             std::copy_n(pFrame, std::min(nLength, NET_FRAME_SIZE), reply.begin());
                             return true;
                         });
    }
    // A reply that does not hold the whole block cannot be read.
    return bWhole ? KELVARD_OK : KELVARD_ERR_IO;
}

int CKelvardTcpBoard::DropStale()
{
    while (true)
    {
        std::uint8_t byBuffer[NET_FRAME_MAX];
        const ssize_t nRead = ::recv(m_hSocket, byBuffer, sizeof byBuffer, 0);
        if (nRead == 0)
            return KELVARD_ERR_GONE;
        if (nRead > 0)
            continue;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN)
        {
            m_rcvFrames.Reset();
            return KELVARD_OK;
        }
        return errno == ECONNRESET ? KELVARD_ERR_GONE : KELVARD_ERR_IO;
    }
}
