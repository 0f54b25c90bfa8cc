#include "zorvane/cli/JsonLine.h"

#include <cstdio>

std::string JsonString(const std::string& strText)
{
    std::string strJson = "\"";
    for (const char c : strText)
    {
        if (c == '"' || c == '\\')
            strJson += {'\\', c};
        else if (static_cast<unsigned char>(c) < 0x20)
        {
            char szEscape[8];
            std::snprintf(szEscape, sizeof szEscape, "\\u%04x", static_cast<unsigned>(c));
            strJson += szEscape;
        }
        else
            strJson += c;
    }
    return strJson + "\"";
}

std::string CJsonLine::Object(const Numbers& numbers)
{
    CJsonLine object;
    for (const auto& [strKey, nValue] : numbers)
        object.Add(strKey, nValue);
    return object.Text();
}

CJsonLine& CJsonLine::AddJson(const std::string& strKey, const std::string& strJson)
{
    m_strMembers += (m_strMembers.empty() ? "" : ",") + JsonString(strKey) + ":" + strJson;
    return *this;
}

CJsonLine& CJsonLine::Add(const std::string& strKey, const std::string& strValue)
{
    return AddJson(strKey, JsonString(strValue));
}

CJsonLine& CJsonLine::Add(const std::string& strKey, long long nValue)
{
    return AddJson(strKey, std::to_string(nValue));
}

CJsonLine& CJsonLine::Add(const std::string& strKey, const Numbers& numbers)
{
    return AddJson(strKey, Object(numbers));
}
