#pragma once
// A USB board in its application, through the library's own device object: the same exchanges,
// and for fields the same code, as libzorvane's exports, plus the configuration as the board
// holds it and the analog readings. While it is open, listings of this process take its identity
// from here instead of asking the board.
#include "kelvard/KelvardBoard.h"

#include "firmware/BoardScan.h"
#include "zorvane/devices/UsbDev.h"

#include <memory>
#include <vector>

class CDriverContext;

class CKelvardUsbBoard : public CKelvardBlockBoard
{
public:
    // Finds the board the target names among the attached ones and opens it.
    static int Open(const CDriverContext& context, const SBoardTarget& target,
                    std::unique_ptr<CKelvardBoard>& pBoard);
    // Every attached board with its identity, those open here told from here.
    static std::vector<SBoardInfo> List(const CDriverContext& context);

    CKelvardUsbBoard(CBoardLink link, SBoardInfo info);
    ~CKelvardUsbBoard() override;

    kelvard_kind Kind() const override { return KELVARD_KIND_USB; }
    const SBoardInfo* Identity() const override { return &m_infoBoard; }
    int ReadAnalog(std::array<std::uint16_t, ANALOG_CHANNELS>& wReadings,
                   unsigned& nCount) override;
    int AddField(const std::string& strName, unsigned nStart, unsigned nWidth,
                 bool bInput) override;
    int WriteField(const std::string& strName, std::uint32_t dwValue) override;
    int RemoveField(const std::string& strName) override;

protected:
    int ExchangeReadPorts(PortBytes& ports) override;
    int ExchangeWritePorts(const PortBytes& ports) override;
    int ExchangeReadConfig(ConfigBlock& config) override;
    int ExchangeWriteConfig(const ConfigBlock& config) override;

private:
    // The device object works on its own caches: they take the latches (and for a new field the
    // configuration as the board holds it) before a field operation, and give the latches back
    // after it.
    int LoadDevice(bool bConfig);
    void TakeLatches();

    SBoardInfo m_infoBoard;
    CUsbDev m_devBoard;
};
