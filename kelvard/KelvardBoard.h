#pragma once
// One open board behind the C API, whatever reaches it. Every operation returns a kelvard_result;
// what a kind of board cannot do answers KELVARD_ERR_NOT_SUPPORTED and sends nothing. The C
// functions check their arguments and serialise the calls, so a board object is used by one
// thread at a time.
#include "kelvard/kelvard.h"

#include "protocol/PortTypes.h"
#include "protocol/Status.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

struct SBoardInfo;

class CKelvardBoard
{
public:
    virtual ~CKelvardBoard() = default;

    virtual kelvard_kind Kind() const = 0;
    virtual unsigned PortCount() const { return PORT_COUNT; }
    // What the board told about itself when it opened; null for a kind that tells nothing.
    virtual const SBoardInfo* Identity() const { return nullptr; }

    // Ports A up to A + nCount - 1 (1 <= nCount <= PortCount()).
    virtual int ReadPorts(std::uint8_t* pValues, std::size_t nCount) = 0;
    virtual int WritePort(int nPort, std::uint8_t byValue) = 0;
    virtual int WriteBit(int nPort, unsigned nBit, bool bValue) = 0;

    virtual int ReadConfig(ConfigBlock& /*config*/) { return KELVARD_ERR_NOT_SUPPORTED; }
    // The parts nMask names (valid and not 0) take their values from config.
    virtual int ChangeConfig(const ConfigBlock& /*config*/, unsigned /*nMask*/)
    {
        return KELVARD_ERR_NOT_SUPPORTED;
    }
    virtual int ReadAnalog(std::array<std::uint16_t, ANALOG_CHANNELS>& /*wReadings*/,
                           unsigned& /*nCount*/)
    {
        return KELVARD_ERR_NOT_SUPPORTED;
    }

    // Fields: a name that is not empty; start and width checked against the pin word.
    virtual int AddField(const std::string& /*strName*/, unsigned /*nStart*/, unsigned /*nWidth*/,
                         bool /*bInput*/)
    {
        return KELVARD_ERR_NOT_SUPPORTED;
    }
    virtual int WriteField(const std::string& /*strName*/, std::uint32_t /*dwValue*/)
    {
        return KELVARD_ERR_NOT_SUPPORTED;
    }
    virtual int RemoveField(const std::string& /*strName*/) { return KELVARD_ERR_NOT_SUPPORTED; }
};

// The C API's result for a driver-layer status.
int ResultOf(EStatus eStatus);

// base with the parts of change that nMask names.
ConfigBlock MergeConfig(ConfigBlock base, const ConfigBlock& change, unsigned nMask);

// A board that carries all five ports and the whole configuration block in each exchange (USB and
// TCP): single-port and single-pin writes, and configuration changes, are read-modify-write over
// the four exchanges that the kind provides.
class CKelvardBlockBoard : public CKelvardBoard
{
public:
    int ReadPorts(std::uint8_t* pValues, std::size_t nCount) override;
    int WritePort(int nPort, std::uint8_t byValue) override;
    int WriteBit(int nPort, unsigned nBit, bool bValue) override;
    int ReadConfig(ConfigBlock& config) override;
    int ChangeConfig(const ConfigBlock& config, unsigned nMask) override;

protected:
    virtual int ExchangeReadPorts(PortBytes& ports) = 0;
    virtual int ExchangeWritePorts(const PortBytes& ports) = 0;
    virtual int ExchangeReadConfig(ConfigBlock& config) = 0;
    virtual int ExchangeWriteConfig(const ConfigBlock& config) = 0;

    // The latches as last read or written; read from the board the first time they are needed.
    int SeedPorts();
    PortBytes m_byPorts{};
    bool m_bPortsKnown = false;

private:
    int StorePorts(const PortBytes& ports);
};
