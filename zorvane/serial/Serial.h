#pragma once
// One COM port of the host on POSIX termios: raw 9600 8N1 (or as constructed), DTR and RTS on,
// no flow control, opened exclusively and without becoming the controlling terminal. Reads
// take only what has already arrived. The board only ever sees whole lines: a write waits, at
// most WRITE_WAIT, for room in a 256-byte transmit queue and then until every byte is queued;
// one that runs out of time reports 0, and should part of its line have been queued by then,
// the rest goes out first thing at the next write (or at closing), before any other line. One
// thread at a time: the owner serialises every call.
#include <chrono>
#include <cstdint>
#include <vector>

class CSerial
{
public:
    static constexpr int INVALID_PORT_HANDLE = -1;
    static constexpr std::int32_t QUEUE_SIZE = 256; // receive and transmit queue, in bytes
    // The longest a write waits for room and for its last byte to be queued.
    static constexpr std::chrono::milliseconds WRITE_WAIT{1000};

    // The transmit-room rule: a write of nLength bytes goes out only whole, and only while
    // nLength < 256 - the bytes still queued.
    static constexpr bool FitsTransmitQueue(std::int32_t nLength, std::int32_t nQueued)
    {
        return nLength < QUEUE_SIZE - nQueued;
    }

    // The port number comes from the name ("COM3", "com3" and "3" are port 3; see ComPortName.h).
    // byParity 0 = none, 1 = odd, 2 = even; byStopBits 0 = one, 1 = one and a half (sent as
    // two), 2 = two; byByteSize = data bits (5 to 8). The port is not touched here.
    CSerial(const char* pszPort, std::int32_t nBaudRate, std::uint8_t byParity,
            std::uint8_t byByteSize, std::uint8_t byStopBits);
    CSerial(const CSerial&) = delete;
    CSerial& operator=(const CSerial&) = delete;

    // Slots in this order.
    virtual ~CSerial();
    virtual std::int32_t OpenPort();                           // Open, through the table
    virtual std::uint32_t GetTickStamp(const char* pszUnused); // monotonic milliseconds
    virtual std::int32_t WriteString(const char* pszText);     // all characters written, or 0
    virtual std::int32_t Write(const std::uint8_t* pData, std::int32_t nLength); // nLength or 0
    virtual std::int32_t Read(std::uint8_t* pBuffer,
                              std::int32_t nLength); // bytes taken, never waits
    virtual std::int32_t IsStopping();
    virtual std::int32_t Open();                            // 0 = ready, else an errno code
    virtual std::int32_t GetInQueue(std::int32_t* pnCount); // nonzero when bytes wait
    virtual std::int32_t CanWrite(std::int32_t nLength);    // nLength < 256 - still queued
    virtual std::int32_t ReadPending();                     // drains into m_rxBuffer; 1

    // Waits at most this long for received bytes without using the processor. False on
    // time-out, on a closed port and on a line that hung up (nothing will ever arrive).
    // Virtual, after the slots above, so that a test's port can hand out replies in pieces.
    virtual bool WaitForInput(std::chrono::microseconds timeout);
    // Drops every byte received and not yet read, also those still on their way in the driver.
    virtual void DiscardInput();

    bool IsOpen() const { return m_hComm != INVALID_PORT_HANDLE; }
    std::int32_t GetPort() const { return m_nPort; }

private:
    // Applies the line settings; 0 or the errno of the step that failed.
    std::int32_t SetUpLine();
    // Lets the transmit queue drain a little; false once the deadline has passed.
    static bool WaitForRoom(std::chrono::steady_clock::time_point deadline);
    // Writes "COMn: cannot <what>: <errno text>" to the debug output; returns nError.
    std::int32_t Failed(const char* pszWhat, int nError) const;
    // Queues the bytes, waiting for room until the deadline; true when all went, nDone the
    // count that did.
    bool SendAll(const std::uint8_t* pData, std::int32_t nLength,
                 std::chrono::steady_clock::time_point deadline, std::int32_t& nDone);
    // Sends what is left of a line cut short; true when nothing is left.
    bool SendUnsent(std::chrono::steady_clock::time_point deadline);

    std::int32_t m_nPort;
    std::int32_t m_nBaudRate;
    std::uint8_t m_byParity;
    std::uint8_t m_byStopBits;
    std::uint8_t m_byByteSize;
    std::int32_t m_nTimeout;
    int m_hComm;
    std::uint8_t m_rxBuffer[QUEUE_SIZE];
    bool m_bStop;
    std::vector<std::uint8_t> m_vecUnsent; // the end of a line that went out only in part
};
