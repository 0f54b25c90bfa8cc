#pragma once
// The board a port command names, reached through the library's exports as an application
// reaches it; a board on TCP ("tcp:HOST[:PORT]"), which the exports do not know, through
// libkelvard. Call Initialize before asking IsUsb: a name is a USB board only while it is in the
// library's USB table; any other name but a tcp: one is a COM-port board (ports A to C).
#include "zorvane/cli/OpenBoard.h"
#include "zorvane/cli/PortText.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

class CBoard
{
public:
    explicit CBoard(std::string strName);

    const char* Name() const { return m_strName.c_str(); }
    bool IsUsb() const;
    bool IsNetwork() const { return m_pNetwork != nullptr; }
    // The ports the board has: 5 for a USB or network board, 3 for a COM-port board.
    int PortCount() const { return m_pNetwork || IsUsb() ? PORT_COUNT : 3; }

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
    // Through libkelvard: a result kept for WhyNoAnswer.
    bool Network(int nResult) const;

    std::string m_strName;
    std::unique_ptr<COpenBoard> m_pNetwork; // a tcp: board; null for the others
    mutable int m_nNetworkResult = KELVARD_OK;
};
