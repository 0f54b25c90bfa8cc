#include "sim/SimSerialBoard.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace
{
int PortIndex(char cPort)
{
    return cPort >= 'A' && cPort <= 'C' ? cPort - 'A' : -1;
}

// Splits "PO,A,3,1" into its fields.
std::vector<std::string> Fields(const std::string& strLine)
{
    std::vector<std::string> fields;
    std::size_t nStart = 0;
    while (true)
    {
        const std::size_t nComma = strLine.find(',', nStart);
        fields.push_back(strLine.substr(nStart, nComma - nStart));
        if (nComma == std::string::npos)
            return fields;
        nStart = nComma + 1;
    }
}

int Number(const std::vector<std::string>& fields, std::size_t nIndex)
{
    return nIndex < fields.size() ? std::atoi(fields[nIndex].c_str()) : 0;
}
} // namespace

CSimSerialBoard::CSimSerialBoard(bool bCookedLine)
{
    char szName[256] = {};
    if (openpty(&m_hMaster, &m_hSlave, szName, nullptr, nullptr) != 0)
    {
        std::perror("kelvard-sim: openpty");
        m_hMaster = m_hSlave = -1;
        return;
    }
    m_strSlavePath = szName;
    fcntl(m_hMaster, F_SETFD, FD_CLOEXEC);
    fcntl(m_hSlave, F_SETFD, FD_CLOEXEC);
    fcntl(m_hMaster, F_SETFL, fcntl(m_hMaster, F_GETFL) | O_NONBLOCK);
    termios tio{};
    tcgetattr(m_hMaster, &tio);
    cfmakeraw(&tio);
    tcsetattr(m_hMaster, TCSANOW, &tio);
    if (bCookedLine)
    {
        tcgetattr(m_hSlave, &tio);
        tio.c_iflag = ICRNL | IXON | IXOFF | BRKINT;
        tio.c_oflag = OPOST | ONLCR;
        tio.c_cflag = CS7 | CREAD | PARENB | CRTSCTS | HUPCL;
        tio.c_lflag = ICANON | ECHO | ECHOE | ECHOK | ISIG | IEXTEN;
        cfsetispeed(&tio, B38400);
        cfsetospeed(&tio, B38400);
        tcsetattr(m_hSlave, TCSANOW, &tio);
    }
    if (pipe2(m_hWake, O_CLOEXEC | O_NONBLOCK) != 0)
        m_hWake[0] = m_hWake[1] = -1;
    m_thrBoard = std::thread([this] { Serve(); });
}

CSimSerialBoard::~CSimSerialBoard()
{
    {
        std::lock_guard lock(m_mtxLock);
        m_bStop = true;
    }
    Wake();
    if (m_thrBoard.joinable())
        m_thrBoard.join();
    for (int hFile : {m_hMaster, m_hSlave, m_hWake[0], m_hWake[1]})
        if (hFile >= 0)
            close(hFile);
}

CSimSerialBoard& CSimSerialBoard::SetInputs(char cPort, std::uint8_t byLevels)
{
    std::lock_guard lock(m_mtxLock);
    if (const int nPort = PortIndex(cPort); nPort >= 0)
        m_byInput[static_cast<std::size_t>(nPort)] = byLevels;
    return *this;
}

std::array<std::uint8_t, 3> CSimSerialBoard::Latches() const
{
    std::lock_guard lock(m_mtxLock);
    return m_byLatch;
}

std::array<std::uint8_t, 3> CSimSerialBoard::Directions() const
{
    std::lock_guard lock(m_mtxLock);
    return m_byDir;
}

std::array<std::uint8_t, 3> CSimSerialBoard::Levels() const
{
    std::lock_guard lock(m_mtxLock);
    return {LevelLocked(0), LevelLocked(1), LevelLocked(2)};
}

CSimSerialBoard& CSimSerialBoard::SetReplyDelay(std::chrono::milliseconds delay)
{
    std::lock_guard lock(m_mtxLock);
    m_replyDelay = delay;
    return *this;
}

CSimSerialBoard& CSimSerialBoard::SetReplyPieces(std::size_t nPieces,
                                                 std::chrono::milliseconds pause)
{
    std::lock_guard lock(m_mtxLock);
    m_nReplyPieces = std::max<std::size_t>(nPieces, 1);
    m_piecePause = pause;
    return *this;
}

CSimSerialBoard& CSimSerialBoard::SetSilent(bool bSilent)
{
    std::lock_guard lock(m_mtxLock);
    m_bSilent = bSilent;
    return *this;
}

CSimSerialBoard& CSimSerialBoard::SetReplyText(std::optional<std::string> text)
{
    std::lock_guard lock(m_mtxLock);
    m_replyText = std::move(text);
    return *this;
}

CSimSerialBoard& CSimSerialBoard::SetBitReplyText(std::optional<std::string> text)
{
    std::lock_guard lock(m_mtxLock);
    m_bitReplyText = std::move(text);
    return *this;
}

CSimSerialBoard& CSimSerialBoard::SetReplyEnd(std::string strEnd)
{
    std::lock_guard lock(m_mtxLock);
    m_strReplyEnd = std::move(strEnd);
    return *this;
}

CSimSerialBoard& CSimSerialBoard::SetReading(bool bReading)
{
    {
        std::lock_guard lock(m_mtxLock);
        m_bReading = bReading;
    }
    Wake();
    return *this;
}

void CSimSerialBoard::Send(const std::string& strText)
{
    std::lock_guard lock(m_mtxLock);
    Schedule(strText, std::chrono::milliseconds(0), 1, std::chrono::milliseconds(0));
}

int CSimSerialBoard::HostPending() const
{
    int nPending = 0;
    if (m_hSlave < 0 || ioctl(m_hSlave, FIONREAD, &nPending) != 0)
        return 0;
    return nPending;
}

bool CSimSerialBoard::WaitHostPending(int nBytes, std::chrono::milliseconds timeout) const
{
    // The line discipline delivers what the board wrote a moment later, on a kernel worker.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (HostPending() < nBytes)
    {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::vector<std::string> CSimSerialBoard::Lines() const
{
    std::lock_guard lock(m_mtxLock);
    return m_vecLines;
}

CSimSerialBoard& CSimSerialBoard::SetRecording(bool bRecording)
{
    std::lock_guard lock(m_mtxLock);
    m_bRecording = bRecording;
    return *this;
}

std::vector<std::string> CSimSerialBoard::TakeLines()
{
    std::lock_guard lock(m_mtxLock);
    return std::exchange(m_vecLines, {});
}

bool CSimSerialBoard::WaitLines(std::size_t nCount, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mtxLock);
    return m_cvWake.wait_for(lock, timeout, [&] { return m_vecLines.size() >= nCount; });
}

void CSimSerialBoard::SetLineListener(std::function<void(const std::string&)> listener)
{
    std::lock_guard lock(m_mtxLock);
    m_lineListener = std::move(listener);
}

bool CSimSerialBoard::LineSettings(termios& tio) const
{
    return m_hSlave >= 0 && tcgetattr(m_hSlave, &tio) == 0;
}

void CSimSerialBoard::Serve()
{
    std::unique_lock lock(m_mtxLock);
    while (!m_bStop)
    {
        // Send what is due, then sleep until the next part is due or the host writes.
        const auto now = std::chrono::steady_clock::now();
        std::vector<std::string> due;
        std::erase_if(m_vecOutgoing,
                      [&](Outgoing& out)
                      {
                          if (out.tDue > now)
                              return false;
                          due.push_back(std::move(out.strText));
                          return true;
                      });
        if (!due.empty())
        {
            lock.unlock();
            for (const std::string& strText : due)
                WriteAll(strText);
            lock.lock();
            m_cvWake.notify_all();
            continue;
        }
        int nTimeout = -1;
        if (!m_vecOutgoing.empty())
        {
            const auto next = std::min_element(m_vecOutgoing.begin(), m_vecOutgoing.end(),
                                               [](const Outgoing& a, const Outgoing& b)
                                               { return a.tDue < b.tDue; });
            nTimeout = static_cast<int>(
                std::chrono::ceil<std::chrono::milliseconds>(next->tDue - now).count());
        }
        const short nMasterEvents = m_bReading ? POLLIN : 0;
        lock.unlock();
        pollfd pfds[2] = {{m_hMaster, nMasterEvents, 0}, {m_hWake[0], POLLIN, 0}};
        poll(pfds, m_hWake[0] >= 0 ? 2 : 1, nTimeout);
        char szDrain[64];
        while (m_hWake[0] >= 0 && read(m_hWake[0], szDrain, sizeof szDrain) > 0)
        {
        }
        char szInput[256];
        const ssize_t nRead =
            (pfds[0].revents & POLLIN) ? read(m_hMaster, szInput, sizeof szInput) : 0;
        lock.lock();
        if (nRead <= 0)
            continue;
        m_strPartial.append(szInput, static_cast<std::size_t>(nRead));
        std::vector<std::string> received;
        for (std::size_t nEnd; (nEnd = m_strPartial.find('\n')) != std::string::npos;)
        {
            received.push_back(m_strPartial.substr(0, nEnd + 1));
            m_strPartial.erase(0, nEnd + 1);
            if (m_bRecording)
                m_vecLines.push_back(received.back());
            HandleLine(received.back());
        }
        m_cvWake.notify_all();
        if (m_lineListener && !received.empty())
        {
            const auto listener = m_lineListener;
            lock.unlock();
            for (const std::string& strLine : received)
                listener(strLine);
            lock.lock();
        }
    }
}

void CSimSerialBoard::HandleLine(const std::string& strLine)
{
    std::string strBody = strLine.substr(0, strLine.find_first_of("\r\n"));
    const std::vector<std::string> fields = Fields(strBody);
    const std::string& strCommand = fields[0];
    const auto Byte = [&](std::size_t nIndex)
    { return static_cast<std::uint8_t>(Number(fields, nIndex)); };
    if (strCommand == "C" && fields.size() >= 4)
    {
        m_byDir = {Byte(1), Byte(2), Byte(3)};
    }
    else if (strCommand == "O" && fields.size() >= 4)
    {
        m_byLatch = {Byte(1), Byte(2), Byte(3)};
    }
    else if (strCommand == "PO" && fields.size() >= 4 && fields[1].size() == 1 &&
             PortIndex(fields[1][0]) >= 0)
    {
        const int nBit = Number(fields, 2);
        if (nBit >= 0 && nBit < 8)
        {
            std::uint8_t& byLatch = m_byLatch[static_cast<std::size_t>(PortIndex(fields[1][0]))];
            const auto byMask = static_cast<std::uint8_t>(1u << nBit);
            byLatch = Number(fields, 3) ? byLatch | byMask : byLatch & ~byMask;
        }
    }
    if (m_bSilent)
        return;
    if (strCommand == "I")
        Schedule(m_replyText ? *m_replyText : StateReply(), m_replyDelay, m_nReplyPieces,
                 m_piecePause);
    else if (strCommand == "PI" && fields.size() >= 3 && fields[1].size() == 1 &&
             PortIndex(fields[1][0]) >= 0)
    {
        const int nBit = Number(fields, 2);
        const std::uint8_t byLevel = LevelLocked(static_cast<std::size_t>(PortIndex(fields[1][0])));
        const int nValue = nBit >= 0 && nBit < 8 ? (byLevel >> nBit) & 1 : 0;
        Schedule(m_bitReplyText ? *m_bitReplyText
                                : strBody + "," + std::to_string(nValue) + m_strReplyEnd,
                 m_replyDelay, 1, std::chrono::milliseconds(0));
    }
}

void CSimSerialBoard::Schedule(std::string strText, std::chrono::milliseconds delay,
                               std::size_t nPieces, std::chrono::milliseconds pause)
{
    if (strText.empty())
        return;
    // Parts queued later never overtake earlier ones.
    auto due = std::chrono::steady_clock::now() + delay;
    for (const Outgoing& out : m_vecOutgoing)
        due = std::max(due, out.tDue);
    nPieces = std::min(nPieces, strText.size());
    const std::size_t nSize = strText.size() / nPieces;
    for (std::size_t i = 0; i < nPieces; ++i)
    {
        const std::size_t nStart = i * nSize;
        const std::size_t nLength = i + 1 == nPieces ? std::string::npos : nSize;
        m_vecOutgoing.push_back({due, strText.substr(nStart, nLength)});
        due += pause;
    }
    Wake();
}

std::string CSimSerialBoard::StateReply() const
{
    std::string strReply = "I";
    for (std::size_t i = 0; i < 3; ++i)
        strReply += "," + std::to_string(LevelLocked(i));
    return strReply + m_strReplyEnd;
}

std::uint8_t CSimSerialBoard::LevelLocked(std::size_t nPort) const
{
    return static_cast<std::uint8_t>((m_byLatch[nPort] & ~m_byDir[nPort]) |
                                     (m_byInput[nPort] & m_byDir[nPort]));
}

void CSimSerialBoard::WriteAll(const std::string& strText)
{
    std::size_t nDone = 0;
    while (nDone < strText.size() && m_hMaster >= 0 && !m_bStop)
    {
        const ssize_t nWritten = write(m_hMaster, strText.data() + nDone, strText.size() - nDone);
        if (nWritten > 0)
            nDone += static_cast<std::size_t>(nWritten);
        else if (nWritten < 0 && errno != EAGAIN && errno != EINTR)
            return;
        else
        {
            pollfd pfd{m_hMaster, POLLOUT, 0};
            poll(&pfd, 1, 100);
        }
    }
}

void CSimSerialBoard::Wake()
{
    if (m_hWake[1] >= 0)
    {
        const char c = 1;
        [[maybe_unused]] const ssize_t n = write(m_hWake[1], &c, 1);
    }
}
