#include "zorvane/cli/OpenBoard.h"

#include "zorvane/cli/Commands.h"

int COpenBoard::Open()
{
    if (!m_nOpened)
    {
        kelvard_board* pBoard = nullptr;
        m_nOpened = kelvard_board_open(m_strName.c_str(), &pBoard);
        m_pBoard.reset(pBoard);
    }
    return *m_nOpened;
}

int COpenBoard::Fail(const char* pszWhat, int nResult) const
{
    return ::Fail("cannot %s %s: %s", pszWhat, m_strName.c_str(), kelvard_result_text(nResult));
}

bool IsNetworkName(const std::string& strName)
{
    return strName.rfind("tcp:", 0) == 0;
}
