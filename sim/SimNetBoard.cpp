#include "sim/SimNetBoard.h"

#include "protocol/net/Frames.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{
// Waits for hSocket to be readable; false when the wake pipe fired instead.
bool WaitReadable(int hSocket, int hWake)
{
    pollfd fds[2] = {{hSocket, POLLIN, 0}, {hWake, POLLIN, 0}};
    while (true)
    {
        const int nReady = ::poll(fds, 2, -1);
        if (nReady < 0 && errno == EINTR)
            continue;
        if (nReady < 0 || (fds[1].revents & POLLIN))
            return false;
        if (fds[0].revents)
            return true;
    }
}

// Reads exactly nLength bytes; false when the peer closed, failed or the board stops.
bool ReadExact(int hSocket, int hWake, std::uint8_t* pData, std::size_t nLength)
{
    std::size_t nDone = 0;
    while (nDone < nLength)
    {
        if (!WaitReadable(hSocket, hWake))
            return false;
        const ssize_t nRead = ::recv(hSocket, pData + nDone, nLength - nDone, 0);
        if (nRead < 0 && errno == EINTR)
            continue;
        if (nRead <= 0)
            return false;
        nDone += static_cast<std::size_t>(nRead);
    }
    return true;
}
} // namespace

CSimNetBoard::CSimNetBoard(const std::string& strAddress, std::uint16_t nPort)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(nPort);
    if (::inet_pton(AF_INET, strAddress.c_str(), &address.sin_addr) != 1)
    {
        m_strError = "not an IPv4 address: " + strAddress;
        return;
    }
    if (::pipe(m_hWake) != 0)
    {
        m_strError = std::strerror(errno);
        return;
    }
    m_hListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int nYes = 1;
    if (m_hListen < 0 ||
        ::setsockopt(m_hListen, SOL_SOCKET, SO_REUSEADDR, &nYes, sizeof nYes) != 0 ||
        ::bind(m_hListen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_hListen, 4) != 0)
    {
        m_strError = std::strerror(errno);
        if (m_hListen >= 0)
            ::close(m_hListen);
        m_hListen = -1;
        return;
    }
    socklen_t nSize = sizeof address;
    ::getsockname(m_hListen, reinterpret_cast<sockaddr*>(&address), &nSize);
    m_nPort = ntohs(address.sin_port);
    m_thrBoard = std::thread([this] { Serve(); });
}

CSimNetBoard::~CSimNetBoard()
{
    if (m_hWake[1] >= 0)
    {
        const char cStop = 0;
        [[maybe_unused]] const ssize_t n = ::write(m_hWake[1], &cStop, 1);
    }
    if (m_thrBoard.joinable())
        m_thrBoard.join();
    if (m_hListen >= 0)
        ::close(m_hListen);
    for (int h : m_hWake)
        if (h >= 0)
            ::close(h);
}

void CSimNetBoard::SetInputs(EPort port, std::uint8_t byLevels)
{
    std::lock_guard lock(m_mtxLock);
    m_pinsBoard.byInput[port] = byLevels;
}

SimPins CSimNetBoard::Pins() const
{
    std::lock_guard lock(m_mtxLock);
    return m_pinsBoard;
}

std::vector<std::vector<std::uint8_t>> CSimNetBoard::Frames() const
{
    std::lock_guard lock(m_mtxLock);
    return m_vecFrames;
}

void CSimNetBoard::SetRecording(bool bRecording)
{
    std::lock_guard lock(m_mtxLock);
    m_bRecording = bRecording;
}

void CSimNetBoard::SetFrameListener(std::function<void(const std::vector<std::uint8_t>&)> listener)
{
    std::lock_guard lock(m_mtxLock);
    m_fnListener = std::move(listener);
}

void CSimNetBoard::Serve()
{
    while (WaitReadable(m_hListen, m_hWake[0]))
    {
        const int hClient = ::accept4(m_hListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (hClient < 0)
            continue;
        ServeClient(hClient);
        ::close(hClient);
    }
}

void CSimNetBoard::ServeClient(int hClient)
{
    while (true)
    {
        std::vector<std::uint8_t> frame(2);
        if (!ReadExact(hClient, m_hWake[0], frame.data(), 2) || frame[1] < 2)
            return;
        frame.resize(frame[1]);
        if (!ReadExact(hClient, m_hWake[0], frame.data() + 2, frame.size() - 2))
            return;
        const std::vector<std::uint8_t> reply = Handle(frame);
        if (!reply.empty() && ::send(hClient, reply.data(), reply.size(), MSG_NOSIGNAL) < 0)
            return;
    }
}

std::vector<std::uint8_t> CSimNetBoard::Handle(const std::vector<std::uint8_t>& frame)
{
    std::function<void(const std::vector<std::uint8_t>&)> listener;
    std::vector<std::uint8_t> reply;
    {
        std::lock_guard lock(m_mtxLock);
        if (m_bRecording)
            m_vecFrames.push_back(frame);
        listener = m_fnListener;
        const std::uint8_t byCode = frame[0];
        if (IsLinkCommand(byCode))
        {
            Packet request;
            FrameRequest(frame.data(), frame.size(), request);
            ESimAction action = ESimAction::None;
            const auto usbReply = CSimFirmware::Handle(m_pinsBoard, m_memBoard, 0, request, action);
            if (usbReply)
            {
                Packet replyPacket{};
                std::copy(usbReply->begin(), usbReply->end(), replyPacket.begin());
                const NetFrame replyFrame = ReplyFrame(byCode, replyPacket, usbReply->size());
                reply.assign(replyFrame.begin(), replyFrame.end());
            }
        }
    }
    if (listener)
        listener(frame);
    return reply;
}
