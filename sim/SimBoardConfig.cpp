#include "sim/SimBoardConfig.h"

#include <cerrno>
#include <cstdlib>
#include <string_view>

namespace
{
constexpr char DEFAULT_BOARDS[] = "id=1,serial=SIM00001,version=0x0103;id=2,version=0x0102";

std::vector<std::string_view> Split(std::string_view text, char cSeparator)
{
    std::vector<std::string_view> parts;
    std::size_t nStart = 0;
    while (true)
    {
        const std::size_t nEnd = text.find(cSeparator, nStart);
        parts.push_back(text.substr(nStart, nEnd - nStart));
        if (nEnd == std::string_view::npos)
            return parts;
        nStart = nEnd + 1;
    }
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// Decimal, or hexadecimal with 0x; false unless the whole text is a number up to nMax.
bool ParseNumber(std::string_view text, unsigned long nMax, unsigned long& nValue)
{
    const std::string strText(text);
    if (strText.empty() || strText[0] == '-' || strText[0] == '+')
        return false;
    const bool bHex =
        strText.size() > 2 && strText[0] == '0' && (strText[1] == 'x' || strText[1] == 'X');
    char* pEnd = nullptr;
    errno = 0;
    nValue = std::strtoul(strText.c_str(), &pEnd, bHex ? 16 : 10);
    return errno == 0 && *pEnd == '\0' && nValue <= nMax;
}
bool ApplyKey(SimBoardConfig& config, std::string_view key, std::string_view value)
{
    unsigned long nValue = 0;
    if (key == "id" && ParseNumber(value, 0xFF, nValue))
        config.byId = static_cast<std::uint8_t>(nValue);
    else if (key == "serial")
        config.strSerial = std::string(value.substr(0, 8)); // the boot block holds 8 characters
    else if (key == "version" && ParseNumber(value, 0xFFFF, nValue))
        config.wVersion = static_cast<std::uint16_t>(nValue);
    else if (key == "mode" && (value == "app" || value == "boot"))
        config.bBootMode = value == "boot";
    else if (key == "chip" && ParseNumber(value, 0x7FF, nValue))
        config.wChip = static_cast<std::uint16_t>(nValue);
    else if (key == "latency" && ParseNumber(value, 10'000'000, nValue))
        config.usLatency = std::chrono::microseconds(nValue);
    else if (key == "open" && (value == "denied" || value == "busy"))
        config.eAccess = value == "denied" ? ESimAccess::Denied : ESimAccess::Busy;
    else
        return false;
    return true;
}
} // namespace

std::vector<SimBoardConfig> ParseSimBoards(const char* pszText, std::vector<std::string>& warnings)
{
    std::vector<SimBoardConfig> boards;
    const std::string_view text = pszText ? pszText : DEFAULT_BOARDS;
    if (Trim(text).empty())
        return boards;
    for (std::string_view board : Split(text, ';'))
    {
        board = Trim(board);
        if (board.empty())
            continue;
        SimBoardConfig config;
        for (std::string_view pair : Split(board, ','))
        {
            pair = Trim(pair);
            if (pair.empty())
                continue;
            const std::size_t nEquals = pair.find('=');
            const std::string_view key = Trim(pair.substr(0, nEquals));
            const std::string_view value = nEquals == std::string_view::npos
                                               ? std::string_view()
                                               : Trim(pair.substr(nEquals + 1));
            const bool bGood = nEquals != std::string_view::npos && ApplyKey(config, key, value);
            if (!bGood)
                warnings.push_back("ignoring '" + std::string(pair) + "'");
        }
        boards.push_back(config);
    }
    return boards;
}
