#include "zorvane/cli/ToolArgs.h"

#include <algorithm>

namespace
{
const ToolOption* FindOption(const std::vector<ToolOption>& options, const std::string& strName)
{
    static const ToolOption COMMON[] = {{"help", false}, {"simulate", false}};
    for (const ToolOption& option : COMMON)
        if (strName == option.pszName)
            return &option;
    auto it = std::find_if(options.begin(), options.end(),
                           [&](const ToolOption& option) { return strName == option.pszName; });
    return it == options.end() ? nullptr : &*it;
}
} // namespace

CToolArgs::CToolArgs(std::vector<std::string> args, const std::vector<ToolOption>& options)
{
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        const std::string& strArg = args[i];
        if (strArg == "--")
        {
            m_vecOperands.insert(m_vecOperands.end(),
                                 args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            break;
        }
        if (strArg == "-h")
        {
            m_vecGiven.emplace_back("help", "");
            continue;
        }
        if (strArg.size() < 2 || strArg[0] != '-')
        {
            m_vecOperands.push_back(strArg);
            continue;
        }
        if (strArg[1] != '-')
        {
            const auto itShort = std::find_if(options.begin(), options.end(),
                                              [&](const ToolOption& option)
                                              {
                                                  return option.cShort != '\0' &&
                                                         !option.bTakesValue &&
                                                         strArg == std::string{'-', option.cShort};
                                              });
            if (itShort == options.end())
                throw CUsageError("unknown option '" + strArg + "'");
            m_vecGiven.emplace_back(itShort->pszName, "");
            continue;
        }
        const std::size_t nEquals = strArg.find('=');
        const std::string strName =
            strArg.substr(2, nEquals == std::string::npos ? std::string::npos : nEquals - 2);
        const ToolOption* pOption = FindOption(options, strName);
        if (!pOption)
            throw CUsageError("unknown option '--" + strName + "'");
        if (!pOption->bTakesValue)
        {
            if (nEquals != std::string::npos)
                throw CUsageError("option '--" + strName + "' takes no value");
            m_vecGiven.emplace_back(strName, "");
        }
        else if (nEquals != std::string::npos)
            m_vecGiven.emplace_back(strName, strArg.substr(nEquals + 1));
        else if (i + 1 < args.size())
            m_vecGiven.emplace_back(strName, args[++i]);
        else
            throw CUsageError("option '--" + strName + "' needs a value");
    }
}

bool CToolArgs::Has(const std::string& strOption) const
{
    return std::any_of(m_vecGiven.begin(), m_vecGiven.end(),
                       [&](const auto& given) { return given.first == strOption; });
}

std::string CToolArgs::Value(const std::string& strOption, const std::string& strDefault) const
{
    // The last one given wins, as usual for command-line options.
    for (auto it = m_vecGiven.rbegin(); it != m_vecGiven.rend(); ++it)
        if (it->first == strOption)
            return it->second;
    return strDefault;
}

std::vector<std::string> CToolArgs::Values(const std::string& strOption) const
{
    std::vector<std::string> values;
    for (const auto& given : m_vecGiven)
        if (given.first == strOption)
            values.push_back(given.second);
    return values;
}

void CToolArgs::ExpectOperands(std::size_t nMin, std::size_t nMax, const char* pszWhat) const
{
    if (m_vecOperands.size() < nMin)
        throw CUsageError(std::string("missing ") + pszWhat);
    if (m_vecOperands.size() > nMax)
        throw CUsageError("unexpected argument '" + m_vecOperands[nMax] + "'");
}
