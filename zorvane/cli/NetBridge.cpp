#include "zorvane/cli/NetBridge.h"

#include "zorvane/cli/BoardTarget.h"
#include "zorvane/cli/ToolArgs.h"

#include "protocol/net/Frames.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{
using Clock = std::chrono::steady_clock;

// Replies a client may leave untaken before it is no longer read.
constexpr std::size_t REPLY_BACKLOG_MAX = 64 * 1024;
constexpr auto LOOK_INTERVAL = std::chrono::milliseconds(100);

std::uint32_t ParseAddress(const std::string& strText, const char* pszOption)
{
    in_addr address{};
    if (inet_pton(AF_INET, strText.c_str(), &address) != 1)
        throw CUsageError(std::string(pszOption) + ": '" + strText + "' is not an IPv4 address");
    return ntohl(address.s_addr);
}

unsigned long ParseDecimal(const std::string& strText, unsigned long nMax, const char* pszWhat)
{
    char* pEnd = nullptr;
    const unsigned long nValue = std::strtoul(strText.c_str(), &pEnd, 10);
    if (strText.empty() || strText[0] < '0' || strText[0] > '9' || *pEnd != '\0' || nValue > nMax)
        throw CUsageError(std::string(pszWhat) + ": '" + strText + "' is not a number from 0 to " +
                          std::to_string(nMax));
    return nValue;
}

std::string ErrnoText()
{
    return std::strerror(errno);
}
} // namespace

bool SNetRange::Contains(std::uint32_t nPeer) const
{
    const std::uint32_t nMask = nPrefix == 0 ? 0 : ~std::uint32_t(0) << (32 - nPrefix);
    return ((nPeer ^ nAddress) & nMask) == 0;
}

SBridgeOptions SBridgeOptions::Parse(const std::string& strListen,
                                     const std::vector<std::string>& vecAllow)
{
    SBridgeOptions options;
    options.nPort = NET_PORT;
    if (!strListen.empty())
    {
        const std::size_t nColon = strListen.rfind(':');
        if (nColon == std::string::npos)
            throw CUsageError("--listen takes ADDR:PORT, e.g. 0.0.0.0:9764");
        options.nAddress = ParseAddress(strListen.substr(0, nColon), "--listen");
        options.nPort = static_cast<std::uint16_t>(
            ParseDecimal(strListen.substr(nColon + 1), 65535, "--listen port"));
    }
    for (const std::string& strRange : vecAllow)
    {
        const std::size_t nSlash = strRange.find('/');
        SNetRange range;
        range.nAddress = ParseAddress(strRange.substr(0, nSlash), "--allow");
        if (nSlash != std::string::npos)
            range.nPrefix =
                static_cast<int>(ParseDecimal(strRange.substr(nSlash + 1), 32, "--allow prefix"));
        options.vecAllow.push_back(range);
    }
    return options;
}

bool SBridgeOptions::Allows(std::uint32_t nPeer) const
{
    return vecAllow.empty() ||
           std::any_of(vecAllow.begin(), vecAllow.end(),
                       [nPeer](const SNetRange& range) { return range.Contains(nPeer); });
}

std::string EndpointText(std::uint32_t nAddress, std::uint16_t nPort)
{
    return std::to_string(nAddress >> 24) + "." + std::to_string((nAddress >> 16) & 0xFF) + "." +
           std::to_string((nAddress >> 8) & 0xFF) + "." + std::to_string(nAddress & 0xFF) + ":" +
           std::to_string(nPort);
}

CNetBridge::CNetBridge(const CDriverContext& context, SBoardInfo board, LogSink log)
    : m_ctxDriver(context), m_infoBoard(std::move(board)), m_fnLog(std::move(log))
{
}

CNetBridge::~CNetBridge()
{
    Close();
}

bool CNetBridge::Start(const SBridgeOptions& options)
{
    m_optsServe = options;
    m_lnkBoard = CBoardFinder(m_ctxDriver, BoardKey(), false).TryOpen();
    if (!m_lnkBoard.IsOpen())
    {
        m_strError =
            BoardLabel(m_infoBoard) + " cannot be opened: it left, or another program holds it";
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(options.nAddress);
    address.sin_port = htons(options.nPort);
    m_hListen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int nYes = 1;
    if (m_hListen < 0 || setsockopt(m_hListen, SOL_SOCKET, SO_REUSEADDR, &nYes, sizeof nYes) != 0 ||
        bind(m_hListen, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(m_hListen, 8) != 0)
    {
        m_strError = "cannot listen on " + EndpointText(options.nAddress, options.nPort) + ": " +
                     ErrnoText();
        Close();
        return false;
    }
    socklen_t nSize = sizeof address;
    getsockname(m_hListen, reinterpret_cast<sockaddr*>(&address), &nSize);
    m_nPort = ntohs(address.sin_port);
    return true;
}

bool CNetBridge::Run(int hStop)
{
    bool bOk = true;
    for (;;)
    {
        // Input that waits is served one frame per turn, without waiting for anything else.
        const bool bWork = HasInput() && m_vecReplies.size() < REPLY_BACKLOG_MAX;
        pollfd fds[3] = {
            {hStop, POLLIN, 0}, {m_hListen, POLLIN, 0}, {m_hClient, ClientEvents(), 0}};
        const nfds_t nCount = m_hClient >= 0 ? 3 : 2;
        const int nReady = poll(fds, nCount, bWork ? 0 : LookTimeoutMs());
        if (nReady < 0 && errno != EINTR)
        {
            m_fnLog("stopped: " + ErrnoText());
            bOk = false;
            break;
        }
        if (nReady > 0 && fds[0].revents != 0)
            break;
        // The client first: Accept may put another in its place.
        if (nReady > 0 && nCount == 3)
        {
            if (fds[2].revents & POLLOUT)
                Flush();
            if (m_hClient >= 0 && (fds[2].revents & (POLLIN | POLLHUP | POLLERR)))
            {
                if (fds[2].events & POLLIN)
                    Receive();
                else
                    DropClient("lost");
            }
        }
        if (nReady > 0 && (fds[1].revents & POLLIN))
            Accept();
        if (m_pFinder && Clock::now() >= m_tNextLook)
            LookForBoard();
        if (m_hClient >= 0 && HasInput() && m_vecReplies.size() < REPLY_BACKLOG_MAX)
            ServeNext();
    }
    Close();
    return bOk;
}

short CNetBridge::ClientEvents() const
{
    short nEvents = 0;
    if (!HasInput() && m_vecReplies.size() < REPLY_BACKLOG_MAX)
        nEvents |= POLLIN;
    if (!m_vecReplies.empty())
        nEvents |= POLLOUT;
    return nEvents;
}

void CNetBridge::Accept()
{
    sockaddr_in peer{};
    socklen_t nSize = sizeof peer;
    const int hPeer = accept4(m_hListen, reinterpret_cast<sockaddr*>(&peer), &nSize,
                              SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (hPeer < 0)
        return; // it left before it was taken, or no descriptor is free: poll says so again
    const std::uint32_t nPeer = ntohl(peer.sin_addr.s_addr);
    const std::string strPeer = EndpointText(nPeer, ntohs(peer.sin_port));
    if (!m_optsServe.Allows(nPeer))
    {
        close(hPeer);
        m_fnLog(strPeer + " refused: outside --allow");
        return;
    }
    if (m_hClient >= 0)
        DropClient("closed: " + strPeer + " takes over");
    // Replies are single small frames that the dialog waits for: no coalescing delay.
    const int nYes = 1;
    setsockopt(hPeer, IPPROTO_TCP, TCP_NODELAY, &nYes, sizeof nYes);
    m_hClient = hPeer;
    m_strPeer = strPeer;
    m_fnLog(m_strPeer + " connected");
}

void CNetBridge::Receive()
{
    const ssize_t nRead = recv(m_hClient, m_byInput.data(), m_byInput.size(), 0);
    if (nRead > 0)
    {
        m_nInputAt = 0;
        m_nInputEnd = static_cast<std::size_t>(nRead);
    }
    else if (nRead == 0)
        DropClient("disconnected");
    else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        DropClient("lost: " + ErrnoText());
}

void CNetBridge::Flush()
{
    std::size_t nSent = 0;
    while (nSent < m_vecReplies.size())
    {
        const ssize_t n =
            send(m_hClient, m_vecReplies.data() + nSent, m_vecReplies.size() - nSent, MSG_NOSIGNAL);
        if (n > 0)
            nSent += static_cast<std::size_t>(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        else
        {
            DropClient("lost: " + ErrnoText());
            return;
        }
    }
    m_vecReplies.erase(m_vecReplies.begin(),
                       m_vecReplies.begin() + static_cast<std::ptrdiff_t>(nSent));
}

void CNetBridge::ServeNext()
{
    m_nInputAt += m_rcvFrames.Feed(m_byInput.data() + m_nInputAt, m_nInputEnd - m_nInputAt,
                                   [this](const std::uint8_t* pFrame, int nLength)
                                   {
                                       Serve(pFrame, nLength);
                                       return false;
                                   });
    Flush();
}

void CNetBridge::Serve(const std::uint8_t* pFrame, int nLength)
{
    const std::uint8_t byCode = pFrame[0];
    // What the dialog sends, and nothing else, reaches the board.
    if (!IsLinkCommand(byCode))
    {
        if (!m_bsIgnored.test(byCode))
        {
            m_bsIgnored.set(byCode);
            char szCode[8];
            std::snprintf(szCode, sizeof szCode, "0x%02x", byCode);
            m_fnLog(m_strPeer + ": frames with code " + szCode + " are ignored (not served)");
        }
        return;
    }
    if (!m_lnkBoard.IsOpen())
    {
        ++m_nUnanswered;
        return;
    }
    Packet packet;
    FrameRequest(pFrame, static_cast<std::size_t>(nLength), packet);
    const std::size_t nReplyLength = FindCommand(byCode)->byReplyLength;
    if (m_lnkBoard.Exchange(packet) != EStatus::Ok)
    {
        ++m_nUnanswered;
        LoseBoard();
        return;
    }
    if (nReplyLength > 0)
    {
        const NetFrame reply = ReplyFrame(byCode, packet, nReplyLength);
        m_vecReplies.insert(m_vecReplies.end(), reply.begin(), reply.end());
    }
}

void CNetBridge::DropClient(const std::string& strWhy)
{
    close(m_hClient);
    m_hClient = -1;
    m_fnLog(m_strPeer + " " + strWhy);
    m_rcvFrames.Reset();
    m_nInputAt = m_nInputEnd = 0;
    m_vecReplies.clear();
    m_bsIgnored.reset();
}

void CNetBridge::LoseBoard()
{
    m_lnkBoard.Close();
    m_pFinder = std::make_unique<CBoardFinder>(m_ctxDriver, BoardKey(), false);
    m_tNextLook = Clock::now() + LOOK_INTERVAL;
    m_fnLog(BoardLabel(m_infoBoard) +
            " does not answer (unplugged?): frames get no reply until it is back");
}

SBoardKey CNetBridge::BoardKey() const
{
    // Only the board that was served: one plugged in where it sat is someone else's.
    return {m_infoBoard.strLocation, m_infoBoard.strSerial, true};
}

void CNetBridge::LookForBoard()
{
    m_lnkBoard = m_pFinder->TryOpen();
    if (!m_lnkBoard.IsOpen())
    {
        m_tNextLook = Clock::now() + LOOK_INTERVAL;
        return;
    }
    m_pFinder.reset();
    m_infoBoard.strLocation = m_lnkBoard.Location();
    m_fnLog(BoardLabel(m_infoBoard) + " is back (" + std::to_string(m_nUnanswered) +
            " frames went unanswered)");
    m_nUnanswered = 0;
}

int CNetBridge::LookTimeoutMs() const
{
    if (!m_pFinder)
        return -1;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(m_tNextLook - Clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(wait.count(), 0));
}

void CNetBridge::Close()
{
    if (m_hClient >= 0)
        DropClient("closed: the bridge stops");
    if (m_hListen >= 0)
        close(m_hListen);
    m_hListen = -1;
    m_lnkBoard.Close();
    m_pFinder.reset();
}
