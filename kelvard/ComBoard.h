#pragma once
// A COM-port board, through the library's own device object and its serial text protocol: ports
// A to C, single pins, and the directions of A to C set together. The board tells no
// configuration and has no analog inputs or fields.
#include "kelvard/KelvardBoard.h"

#include "zorvane/devices/BitIO.h"

#include <memory>

class CKelvardComBoard : public CKelvardBoard
{
public:
    static constexpr unsigned COM_PORTS = 3;

    // Opens the COM port the name gives (see ComPortName.h); the board is asked nothing.
    static int Open(const std::string& strName, std::unique_ptr<CKelvardBoard>& pBoard);

    explicit CKelvardComBoard(const std::string& strName) : m_bitBoard(strName.c_str()) {}

    kelvard_kind Kind() const override { return KELVARD_KIND_COM; }
    unsigned PortCount() const override { return COM_PORTS; }
    int ReadPorts(std::uint8_t* pValues, std::size_t nCount) override;
    int WritePort(int nPort, std::uint8_t byValue) override;
    int WriteBit(int nPort, unsigned nBit, bool bValue) override;
    int ChangeConfig(const ConfigBlock& config, unsigned nMask) override;

private:
    CBitIO m_bitBoard;
};
