#include "kelvard/ComBoard.h"

#include "zorvane/serial/ComPortName.h"
#include "zorvane/serial/Serial.h"

#include <algorithm>
#include <cerrno>

namespace
{
int Result(std::int32_t nDone)
{
    return nDone ? KELVARD_OK : KELVARD_ERR_IO;
}

// An output line is done once it went out: the board confirms nothing.
int LineResult(const CBitIO& board)
{
    return board.LastLineSent() ? KELVARD_OK : KELVARD_ERR_IO;
}

// The directions of A, B and C: all that the board's configuration line carries, and so the
// only change that loses nothing the board holds.
constexpr unsigned COM_DIRECTIONS =
    KELVARD_CONFIG_DIRECTION(0) | KELVARD_CONFIG_DIRECTION(1) | KELVARD_CONFIG_DIRECTION(2);
} // namespace

int CKelvardComBoard::Open(const std::string& strName, std::unique_ptr<CKelvardBoard>& pBoard)
{
    std::string strPath;
    if (!FormatComPath(ComPattern(), ComPortNumber(strName.c_str()), strPath))
        return KELVARD_ERR_ARGUMENT;
    auto pCom = std::make_unique<CKelvardComBoard>(strName);
    switch (pCom->m_bitBoard.m_pSerial->Open())
    {
    case 0:
        pBoard = std::move(pCom);
        return KELVARD_OK;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return KELVARD_ERR_NOT_FOUND;
    case EACCES:
    case EPERM:
        return KELVARD_ERR_ACCESS;
    case EBUSY:
        return KELVARD_ERR_BUSY;
    default:
        return KELVARD_ERR_SYSTEM;
    }
}

int CKelvardComBoard::ReadPorts(std::uint8_t* pValues, std::size_t nCount)
{
    std::uint8_t byPorts[COM_PORTS] = {};
    if (!m_bitBoard.ReadBytePorts(&byPorts[0], &byPorts[1], &byPorts[2]))
        return KELVARD_ERR_IO;
    std::copy_n(byPorts, nCount, pValues);
    return KELVARD_OK;
}

int CKelvardComBoard::WritePort(int nPort, std::uint8_t byValue)
{
    switch (nPort)
    {
    case PORT_A:
        m_bitBoard.WriteBytePortA(byValue);
        break;
    case PORT_B:
        m_bitBoard.WriteBytePortB(byValue);
        break;
    case PORT_C:
        m_bitBoard.WriteBytePortC(byValue);
        break;
    default:
        return KELVARD_ERR_NOT_SUPPORTED;
    }
    return LineResult(m_bitBoard);
}

int CKelvardComBoard::WriteBit(int nPort, unsigned nBit, bool bValue)
{
    const auto nArgBit = static_cast<std::int32_t>(nBit);
    switch (nPort)
    {
    case PORT_A:
        m_bitBoard.WriteBitPortA(nArgBit, bValue);
        break;
    case PORT_B:
        m_bitBoard.WriteBitPortB(nArgBit, bValue);
        break;
    case PORT_C:
        m_bitBoard.WriteBitPortC(nArgBit, bValue);
        break;
    default:
        return KELVARD_ERR_NOT_SUPPORTED;
    }
    return LineResult(m_bitBoard);
}

int CKelvardComBoard::ChangeConfig(const ConfigBlock& config, unsigned nMask)
{
    if (nMask != COM_DIRECTIONS)
        return KELVARD_ERR_NOT_SUPPORTED;
    return Result(m_bitBoard.ConfigurePorts(config.byDir[PORT_A], config.byDir[PORT_B],
                                            config.byDir[PORT_C], 0));
}
