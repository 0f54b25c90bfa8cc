#include "zorvane/cli/Board.h"

#include "zorvane.h"
#include "zorvane/serial/ComPortName.h"

#include <algorithm>
#include <cctype>
#include <unistd.h>

namespace
{
using ReadExport = int32_t (*)(const char*, uint8_t*);
using WriteExport = int32_t (*)(const char*, int32_t);

constexpr ReadExport READS[PORT_COUNT] = {ReadBytePortA, ReadBytePortB, ReadBytePortC,
                                          ReadBytePortD, ReadBytePortE};
constexpr WriteExport WRITES[PORT_COUNT] = {WriteBytePortA, WriteBytePortB, WriteBytePortC,
                                            WriteBytePortD, WriteBytePortE};
} // namespace

CBoard::CBoard(std::string strName) : m_strName(std::move(strName))
{
    if (IsNetworkName(m_strName))
        m_pNetwork = std::make_unique<COpenBoard>(m_strName);
}

bool CBoard::Network(int nResult) const
{
    m_nNetworkResult = nResult;
    return nResult == KELVARD_OK;
}

bool CBoard::IsUsb() const
{
    if (m_pNetwork)
        return false;
    CStringArray names;
    ListUsbDevices(&names);
    for (int i = 0; i < names.GetSize(); ++i)
        if (names[i] == m_strName)
            return true;
    return false;
}

bool CBoard::ReadPort(int nPort, std::uint8_t& byValue) const
{
    if (m_pNetwork)
    {
        std::array<std::uint8_t, PORT_COUNT> byValues{};
        if (!ReadPorts(byValues, nPort + 1))
            return false;
        byValue = byValues[static_cast<std::size_t>(nPort)];
        return true;
    }
    return READS[nPort](Name(), &byValue) != 0;
}

bool CBoard::WritePort(int nPort, std::uint8_t byValue) const
{
    if (m_pNetwork)
        return Network(m_pNetwork->Open()) &&
               Network(kelvard_board_write_port(m_pNetwork->Get(),
                                                static_cast<kelvard_port>(nPort), byValue));
    return WRITES[nPort](Name(), byValue) != 0;
}

bool CBoard::ReadPorts(std::array<std::uint8_t, PORT_COUNT>& byValues, int nCount) const
{
    if (m_pNetwork)
        return Network(m_pNetwork->Open()) &&
               Network(kelvard_board_read_ports(m_pNetwork->Get(), byValues.data(),
                                                static_cast<std::size_t>(nCount)));
    // A COM-port board answers ports A to C in one exchange.
    if (nCount == 3)
        return ReadBytePorts(Name(), &byValues[0], &byValues[1], &byValues[2]) != 0;
    for (int nPort = 0; nPort < nCount; ++nPort)
        if (!ReadPort(nPort, byValues[static_cast<std::size_t>(nPort)]))
            return false;
    return true;
}

std::string CBoard::UsbBoardsText()
{
    CStringArray names;
    ListUsbDevices(&names);
    std::string strText;
    for (int i = 0; i < names.GetSize(); ++i)
        strText += (i == 0 ? "" : i + 1 == names.GetSize() ? " and " : ", ") + names[i];
    return strText + (names.GetSize() == 0 ? "none is" : names.GetSize() == 1 ? " is" : " are");
}

std::string CBoard::WhyNoAnswer() const
{
    if (m_pNetwork)
        return kelvard_result_text(m_nNetworkResult);
    CStringArray names;
    ListUsbDevices(&names);
    for (int i = 0; i < names.GetSize(); ++i)
        if (names[i] == m_strName)
            return "USB board " + m_strName + " did not answer";

    std::string strWhy;
    const bool bNumber =
        !m_strName.empty() && std::all_of(m_strName.begin(), m_strName.end(),
                                          [](unsigned char c) { return std::isdigit(c); });
    if (bNumber)
        strWhy = "no USB board " + m_strName + " is attached (" + UsbBoardsText() + "), and ";
    const std::int32_t nPort = ComPortNumber(m_strName.c_str());
    std::string strPath;
    if (!FormatComPath(ComPattern(), nPort, strPath))
        return strWhy + "'" + m_strName + "' names no COM port";
    const std::string strPort = "COM port " + std::to_string(nPort) + " (" + strPath + ")";
    if (access(strPath.c_str(), F_OK) != 0)
        return strWhy + strPort + " does not exist";
    if (access(strPath.c_str(), R_OK | W_OK) != 0)
        return strWhy + strPort + " cannot be opened: permission denied (join the dialout group)";
    return strWhy + strPort + " did not answer";
}
