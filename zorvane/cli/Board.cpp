#include "Board.h"

#include "zorvane.h"

namespace
{
using ReadExport = int32_t (*)(const char*, uint8_t*);
using WriteExport = int32_t (*)(const char*, int32_t);

constexpr ReadExport READS[PORT_COUNT] = {ReadBytePortA, ReadBytePortB, ReadBytePortC,
                                          ReadBytePortD, ReadBytePortE};
constexpr WriteExport WRITES[PORT_COUNT] = {WriteBytePortA, WriteBytePortB, WriteBytePortC,
                                            WriteBytePortD, WriteBytePortE};
} // namespace

bool CBoard::IsUsb() const
{
    CStringArray names;
    ListUsbDevices(&names);
    for (int i = 0; i < names.GetSize(); ++i)
        if (names[i] == m_strName)
            return true;
    return false;
}

bool CBoard::ReadPort(int nPort, std::uint8_t& byValue) const
{
    return READS[nPort](Name(), &byValue) != 0;
}

bool CBoard::WritePort(int nPort, std::uint8_t byValue) const
{
    return WRITES[nPort](Name(), byValue) != 0;
}

bool CBoard::ReadPorts(std::array<std::uint8_t, PORT_COUNT>& byValues, int nCount) const
{
    // A COM-port board answers ports A to C in one exchange.
    if (nCount == 3)
        return ReadBytePorts(Name(), &byValues[0], &byValues[1], &byValues[2]) != 0;
    for (int nPort = 0; nPort < nCount; ++nPort)
        if (!ReadPort(nPort, byValues[static_cast<std::size_t>(nPort)]))
            return false;
    return true;
}
