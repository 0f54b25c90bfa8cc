#pragma once
// The port-device interface through which every export reaches a board, and at the same time
// a complete COM-port board: its own operations speak the serial text protocol over the
// CSerial it owns. CUsbDev overrides nearly every operation for USB boards.
//
// Results are nonzero for success and 0 for failure or for an operation the device kind does
// not support; port values and masks are passed as integers of which the low byte is used.
#include <chrono>
#include <cstdint>
#include <string>

class CSerial;

class CBitIO
{
public:
    // No COM port: the base of CUsbDev.
    CBitIO();
    // A COM-port board on the port that the name gives (9600 baud, 8N1). Open opens it.
    explicit CBitIO(const char* pszName);
    CBitIO(const CBitIO&) = delete;
    CBitIO& operator=(const CBitIO&) = delete;

    // Slots 0 to 26, in this order.
    virtual std::int32_t ConfigurePortsEx(std::int32_t nDirA, std::int32_t nDirB,
                                          std::int32_t nDirC, std::int32_t nDirD,
                                          std::int32_t nDirE, std::int32_t nUnused);
    virtual std::int32_t ConfigurePorts(std::int32_t nDirA, std::int32_t nDirB, std::int32_t nDirC,
                                        std::int32_t nUnused);
    virtual std::int32_t WriteBytePortA(std::int32_t nValue);
    virtual std::int32_t WriteBytePortB(std::int32_t nValue);
    virtual std::int32_t WriteBytePortC(std::int32_t nValue);
    virtual std::int32_t WriteBytePortD(std::int32_t nValue);
    virtual std::int32_t WriteBytePortE(std::int32_t nValue);
    virtual std::int32_t WriteBitPortA(std::int32_t nBit, std::int32_t nValue);
    virtual std::int32_t WriteBitPortB(std::int32_t nBit, std::int32_t nValue);
    virtual std::int32_t WriteBitPortC(std::int32_t nBit, std::int32_t nValue);
    virtual std::int32_t ReadAllPorts(std::uint8_t* pbyA, std::uint8_t* pbyB, std::uint8_t* pbyC,
                                      std::uint8_t* pbyD, std::uint8_t* pbyE);
    virtual std::int32_t ReadBytePorts(std::uint8_t* pbyA, std::uint8_t* pbyB, std::uint8_t* pbyC);
    virtual std::int32_t ReadBytePortA(std::uint8_t* pbyValue);
    virtual std::int32_t ReadBytePortB(std::uint8_t* pbyValue);
    virtual std::int32_t ReadBytePortC(std::uint8_t* pbyValue);
    virtual std::int32_t ReadBytePortD(std::uint8_t* pbyValue);
    virtual std::int32_t ReadBytePortE(std::uint8_t* pbyValue);
    virtual std::int32_t ReadBitPortA(std::int32_t nBit, std::int32_t* pnValue);
    virtual std::int32_t ReadBitPortB(std::int32_t nBit, std::int32_t* pnValue);
    virtual std::int32_t ReadBitPortC(std::int32_t nBit, std::int32_t* pnValue);
    virtual std::int32_t Open(); // 1 when the COM port opened without error
    virtual ~CBitIO();
    virtual std::int32_t AddVirtualPort(const char* pszName, std::int32_t nStart,
                                        std::int32_t nWidth, std::int32_t nInput);
    virtual std::int32_t RemoveVirtualPort(const char* pszName);
    virtual std::int32_t RemoveAllVirtualPorts();
    virtual std::int32_t WriteVirtualPort(const char* pszName, std::int32_t nValue);
    virtual std::int32_t ReadVirtualPort(const char* pszName, std::int32_t* pnValue);

    // The input exchange waits this long in all for the reply line.
    static constexpr int REPLY_WAIT_MS = 500;
    // A reply with all its fields but no line end is complete once the line has been quiet
    // this long: longer than the 16 ms latency timer of common USB-serial adapters, which may
    // hand over one line in two pieces.
    static constexpr std::chrono::microseconds REPLY_QUIET{25000};
    // A bit read waits this long for its reply: at 9600 baud none is there at once.
    static constexpr int BIT_REPLY_WAIT_MS = 30;

    // The caches: what the object last wrote to or read from its board.
    std::uint8_t m_byPortC;
    std::uint8_t m_byPortB;
    std::uint8_t m_byPortA;
    std::uint8_t m_byDirC;
    std::uint8_t m_byDirB;
    std::uint8_t m_byDirA;
    std::uint8_t m_byInvA;
    std::uint8_t m_byInvB;
    std::uint8_t m_byInvC;
    CSerial* m_pSerial; // owned; null for a device without a COM port

    // Whether the last output line (a port or a bit write) went out whole. Their results count
    // the reply characters that were waiting, so they cannot tell.
    bool LastLineSent() const { return m_bLineSent; }

private:
    bool m_bLineSent = false;
    // Serial protocol steps. Each answers 0 at once without a COM port.
    std::int32_t SendConfiguration(std::int32_t nDirA, std::int32_t nDirB, std::int32_t nDirC);
    std::int32_t SendOutputs(); // the Output line, then the waiting reply count
    std::int32_t SendBit(char cPort, std::uint8_t& byPort, std::int32_t nBit, std::int32_t nValue);
    std::int32_t TakeWaitingReply(); // characters already waiting, up to 64, dropped
    bool ExchangeInputs();           // "I\n", then its reply into the caches
    std::int32_t AskBit(char cPort, std::int32_t nBit, std::int32_t* pnValue);
    std::int32_t ReadOnePort(const std::uint8_t& byPort, std::uint8_t* pbyValue);
};
