#pragma once
// A board opened through libkelvard, for what the exports cannot reach: its identity, the
// configuration as the board holds it, the analog inputs, and boards on TCP. Names are
// libkelvard's: a device ID ("7"), serial=TEXT, path=LOCATION, a COM port ("COM3") or
// tcp:HOST[:PORT].
#include "kelvard.h"

#include <memory>
#include <optional>
#include <string>

class COpenBoard
{
public:
    explicit COpenBoard(std::string strName) : m_strName(std::move(strName)) {}

    // Opens the board once; later calls give the first result again.
    int Open();
    kelvard_board* Get() const { return m_pBoard.get(); }
    const std::string& Name() const { return m_strName; }
    // "zorvane: cannot <what> <name>: <result text>" on stderr ("read the analog inputs of");
    // exit status 1.
    int Fail(const char* pszWhat, int nResult) const;

private:
    std::string m_strName;
    std::optional<int> m_nOpened; // the result of the one try
    std::unique_ptr<kelvard_board, void (*)(kelvard_board*)> m_pBoard{nullptr,
                                                                       kelvard_board_close};
};

// True for a name that only libkelvard reaches: a board on TCP.
bool IsNetworkName(const std::string& strName);
