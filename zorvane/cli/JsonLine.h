#pragma once
// One JSON object on one line, for --json: keys in the order added, texts escaped, numbers as
// decimal, objects of numbers for port masks and readings.
//
//     CJsonLine line;
//     line.Add("name", "7").Add("analog_count", 2);
//     std::puts(line.Text().c_str()); // {"name":"7","analog_count":2}
#include <string>
#include <utility>
#include <vector>

class CJsonLine
{
public:
    using Numbers = std::vector<std::pair<std::string, long long>>;

    CJsonLine& Add(const std::string& strKey, const std::string& strValue);
    CJsonLine& Add(const std::string& strKey, long long nValue);
    CJsonLine& Add(const std::string& strKey, const Numbers& numbers);
    // A value that is JSON already: an object, an array.
    CJsonLine& AddJson(const std::string& strKey, const std::string& strJson);
    // {"A":255,"B":0}: an object of numbers alone.
    static std::string Object(const Numbers& numbers);
    std::string Text() const { return "{" + m_strMembers + "}"; }

private:
    std::string m_strMembers;
};

// The text as a JSON string, quotes included.
std::string JsonString(const std::string& strText);
