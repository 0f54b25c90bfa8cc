#pragma once
// The board a command names, reached through the library's exports only. Call Initialize
// before asking IsUsb: a name is a USB board only while it is in the library's USB table;
// any other name is a COM-port board (ports A to C).
#include "zorvane/cli/PortText.h"

#include <array>
#include <cstdint>
#include <string>

class CBoard
{
public:
    explicit CBoard(std::string strName) : m_strName(std::move(strName)) {}

    const char* Name() const { return m_strName.c_str(); }
    bool IsUsb() const;
    // The ports the board has: 5 for a USB board, 3 for a COM-port board.
    int PortCount() const { return IsUsb() ? PORT_COUNT : 3; }

    // One export call each; true when it returned nonzero.
    bool ReadPort(int nPort, std::uint8_t& byValue) const;
    bool WritePort(int nPort, std::uint8_t byValue) const;
    // Ports A up to PortCount() in as few exchanges as the board allows.
    bool ReadPorts(std::array<std::uint8_t, PORT_COUNT>& byValues, int nCount) const;

    // Why a call on this name failed, for the message after "cannot read port A of 7: ":
    // which USB boards are attached instead, and what became of the COM port of that name.
    std::string WhyNoAnswer() const;
    // The USB boards attached instead: "1 and 2 are", "7 is", "none is".
    static std::string UsbBoardsText();

private:
    std::string m_strName;
};
