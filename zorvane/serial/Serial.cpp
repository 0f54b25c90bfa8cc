#include "zorvane/serial/Serial.h"

#include "zorvane/serial/ComPortName.h"

#include "protocol/DebugOutput.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace
{
constexpr std::chrono::milliseconds ROOM_STEP{1};

speed_t BaudCode(std::int32_t nBaudRate)
{
    switch (nBaudRate)
    {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return B0;
    }
}

tcflag_t ByteSizeFlag(std::uint8_t byByteSize)
{
    switch (byByteSize)
    {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}
} // namespace

CSerial::CSerial(const char* pszPort, std::int32_t nBaudRate, std::uint8_t byParity,
                 std::uint8_t byByteSize, std::uint8_t byStopBits)
    : m_nPort(ComPortNumber(pszPort)), m_nBaudRate(nBaudRate), m_byParity(byParity),
      m_byStopBits(byStopBits), m_byByteSize(byByteSize), m_nTimeout(100),
      m_hComm(INVALID_PORT_HANDLE), m_rxBuffer{}, m_bStop(false)
{
}

CSerial::~CSerial()
{
    m_bStop = true;
    if (IsOpen())
    {
        SendUnsent(std::chrono::steady_clock::now() + WRITE_WAIT);
        // Exclusive use ends with us, even while the other end keeps the line open.
        ioctl(m_hComm, TIOCNXCL);
        close(m_hComm);
    }
}

std::int32_t CSerial::OpenPort()
{
    return Open();
}

std::uint32_t CSerial::GetTickStamp(const char* /*pszUnused*/)
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

// Where an errno becomes a plain failure: the one debug line that says why.
std::int32_t CSerial::Failed(const char* pszWhat, int nError) const
{
    DebugOutputFormat("COM%d: cannot %s: %s\n", m_nPort, pszWhat, std::strerror(nError));
    return nError;
}

std::int32_t CSerial::WriteString(const char* pszText)
{
    if (!pszText)
        return 0;
    return Write(reinterpret_cast<const std::uint8_t*>(pszText),
                 static_cast<std::int32_t>(std::min<std::size_t>(std::strlen(pszText), INT32_MAX)));
}

std::int32_t CSerial::Write(const std::uint8_t* pData, std::int32_t nLength)
{
    if (!IsOpen() || !pData || nLength <= 0 || !FitsTransmitQueue(nLength, 0))
        return 0;
    const auto deadline = std::chrono::steady_clock::now() + WRITE_WAIT;
    if (!SendUnsent(deadline))
        return 0; // nothing of this line went out
    while (!CanWrite(nLength))
        if (!WaitForRoom(deadline))
            return 0; // nothing of the line went out
    std::int32_t nDone = 0;
    if (SendAll(pData, nLength, deadline, nDone))
        return nLength;
    // Cut short: the line counts as not written, and its end goes before any later line. A
    // flush of the queue instead would cut the tail off a line the board is already reading.
    m_vecUnsent.assign(pData + nDone, pData + nLength);
    if (nDone == 0)
        m_vecUnsent.clear();
    return 0;
}

bool CSerial::SendUnsent(std::chrono::steady_clock::time_point deadline)
{
    std::int32_t nDone = 0;
    const bool bAll =
        SendAll(m_vecUnsent.data(), static_cast<std::int32_t>(m_vecUnsent.size()), deadline, nDone);
    m_vecUnsent.erase(m_vecUnsent.begin(), m_vecUnsent.begin() + nDone);
    return bAll;
}

bool CSerial::SendAll(const std::uint8_t* pData, std::int32_t nLength,
                      std::chrono::steady_clock::time_point deadline, std::int32_t& nDone)
{
    nDone = 0;
    while (nDone < nLength)
    {
        const ssize_t nWritten =
            write(m_hComm, pData + nDone, static_cast<std::size_t>(nLength - nDone));
        if (nWritten > 0)
            nDone += static_cast<std::int32_t>(nWritten);
        else if (nWritten < 0 && errno == EINTR)
            continue;
        else if ((nWritten == 0 || errno == EAGAIN) && WaitForRoom(deadline))
            continue;
        else
        {
            if (nWritten < 0 && errno != EAGAIN)
                Failed("write", errno); // not for a board that stopped reading: that times out
            return false;
        }
    }
    return true;
}

std::int32_t CSerial::Read(std::uint8_t* pBuffer, std::int32_t nLength)
{
    std::int32_t nWaiting = 0;
    if (!pBuffer || nLength <= 0 || !GetInQueue(&nWaiting))
        return 0;
    ssize_t nRead;
    do
        nRead = read(m_hComm, pBuffer, static_cast<std::size_t>(std::min(nWaiting, nLength)));
    while (nRead < 0 && errno == EINTR);
    if (nRead < 0 && errno != EAGAIN)
        Failed("read", errno);
    return nRead > 0 ? static_cast<std::int32_t>(nRead) : 0;
}

std::int32_t CSerial::IsStopping()
{
    return m_bStop ? 1 : 0;
}

std::int32_t CSerial::Open()
{
    if (IsOpen())
        return 0;
    std::string strPath;
    if (!FormatComPath(ComPattern(), m_nPort, strPath))
        return Failed("open: no device node for that number", ENOENT); // never opens
    const int hComm = open(strPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (hComm < 0)
        return Failed(("open " + strPath).c_str(), errno);
    // Not shared: a second opener fails. TIOCEXCL stops other openers except privileged ones;
    // the lock stops every other wrapper, whoever runs it.
    if (flock(hComm, LOCK_EX | LOCK_NB) != 0 || ioctl(hComm, TIOCEXCL) != 0)
    {
        const int nError = errno == EWOULDBLOCK ? EBUSY : errno;
        close(hComm);
        return Failed(("open " + strPath + " for itself alone").c_str(), nError);
    }
    m_hComm = hComm;
    // From here on the port stays open whatever fails, and is used with the settings it has.
    return SetUpLine();
}

std::int32_t CSerial::SetUpLine()
{
    termios tio{};
    if (tcgetattr(m_hComm, &tio) != 0)
        return Failed("read the line settings", errno);
    const speed_t speed = BaudCode(m_nBaudRate);
    if (speed == B0)
        return EINVAL;
    cfmakeraw(&tio); // no echo, no line editing, no \n to \r\n: the protocol's bytes as they are
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= ByteSizeFlag(m_byByteSize) | CREAD | CLOCAL;
    if (m_byParity == 1)
        tio.c_cflag |= PARENB | PARODD;
    else if (m_byParity == 2)
        tio.c_cflag |= PARENB;
    if (m_byStopBits != 0)
        tio.c_cflag |= CSTOPB;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = static_cast<cc_t>(m_nTimeout / 100);
    if (tcsetattr(m_hComm, TCSANOW, &tio) != 0)
        return Failed("set the line to its baud rate and 8N1", errno);
    // DTR and RTS held on. A line without modem signals (a pseudo-terminal) refuses; the
    // board then simply does not see them.
    int nLines = TIOCM_DTR | TIOCM_RTS;
    ioctl(m_hComm, TIOCMBIS, &nLines);
    tcflush(m_hComm, TCIOFLUSH);
    return 0;
}

std::int32_t CSerial::GetInQueue(std::int32_t* pnCount)
{
    int nWaiting = 0;
    if (IsOpen() && ioctl(m_hComm, FIONREAD, &nWaiting) != 0)
        nWaiting = 0;
    if (pnCount)
        *pnCount = nWaiting;
    return nWaiting > 0 ? 1 : 0;
}

std::int32_t CSerial::CanWrite(std::int32_t nLength)
{
    if (!IsOpen())
        return 0;
    int nQueued = 0;
    if (ioctl(m_hComm, TIOCOUTQ, &nQueued) != 0)
        nQueued = 0;
    return FitsTransmitQueue(nLength, nQueued) ? 1 : 0;
}

std::int32_t CSerial::ReadPending()
{
    std::int32_t nWaiting = 0;
    while (!m_bStop && GetInQueue(&nWaiting))
        if (Read(m_rxBuffer, QUEUE_SIZE) == 0)
            break;
    return 1;
}

bool CSerial::WaitForInput(std::chrono::microseconds timeout)
{
    if (!IsOpen())
        return false;
    const auto nMicroseconds = std::max<std::int64_t>(timeout.count(), 0);
    const timespec wait{static_cast<time_t>(nMicroseconds / 1000000),
                        static_cast<long>(nMicroseconds % 1000000 * 1000)};
    pollfd pfd{m_hComm, POLLIN, 0};
    int nReady;
    do
        nReady = ppoll(&pfd, 1, &wait, nullptr);
    while (nReady < 0 && errno == EINTR);
    if (nReady <= 0)
        return false;
    // Readiness without bytes is a hang-up: waiting again would return at once, forever.
    std::int32_t nWaiting = 0;
    return GetInQueue(&nWaiting) != 0;
}

void CSerial::DiscardInput()
{
    if (!IsOpen() || tcflush(m_hComm, TCIFLUSH) == 0)
        return;
    std::uint8_t byDropped[QUEUE_SIZE];
    while (read(m_hComm, byDropped, sizeof byDropped) > 0)
    {
    }
}

bool CSerial::WaitForRoom(std::chrono::steady_clock::time_point deadline)
{
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline)
        return false;
    // A terminal's write readiness does not say how much room it has (and the queue rule is
    // stricter than the driver's), so poll the room in steps of about a character time.
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(deadline - now, ROOM_STEP));
    return true;
}
