// zorvane vport DEVICE START:WIDTH=VALUE...: output fields across port boundaries.
#include "zorvane/cli/Board.h"
#include "zorvane/cli/Commands.h"

#include "zorvane.h"

#include <cstdint>
#include <string>
#include <vector>

namespace
{
// AddVirtualPort's results.
constexpr int32_t FIELD_ADDED = 0;
constexpr int32_t FIELD_OVERLAPS = 1;
constexpr int32_t FIELD_OUT_OF_RANGE = 3;

struct Field
{
    std::string strText; // as given, for messages
    std::uint32_t nStart;
    std::uint32_t nWidth;
    std::uint32_t nValue;
};

Field ParseField(const std::string& strText)
{
    const std::size_t nColon = strText.find(':');
    const std::size_t nEquals = strText.find('=');
    if (nColon == std::string::npos || nEquals == std::string::npos || nEquals < nColon)
        throw CUsageError("'" + strText + "' is no START:WIDTH=VALUE");
    Field field{strText, ParseNumber(strText.substr(0, nColon), 255, "start pin"),
                ParseNumber(strText.substr(nColon + 1, nEquals - nColon - 1), 255, "width"),
                ParseNumber(strText.substr(nEquals + 1), 0x7FFFFFFF, "value")};
    if (field.nWidth == 0)
        throw CUsageError("'" + strText + "': a field has at least one pin");
    if (field.nWidth < 31 && field.nValue >> field.nWidth)
        throw CUsageError("'" + strText + "': the value does not fit " +
                          std::to_string(field.nWidth) + " pins");
    return field;
}
} // namespace

int RunVport(const CToolArgs& args)
{
    args.ExpectOperands(2, SIZE_MAX, "DEVICE and START:WIDTH=VALUE");
    const std::vector<std::string>& operands = args.Operands();
    const auto nDevice = static_cast<int32_t>(ParseNumber(operands[0], 255, "device ID"));
    std::vector<Field> fields;
    for (std::size_t i = 1; i < operands.size(); ++i)
        fields.push_back(ParseField(operands[i]));

    Initialize();
    const CBoard board(std::to_string(nDevice));
    if (!board.IsUsb())
        return Fail("no USB board %s is attached (%s)", board.Name(),
                    CBoard::UsbBoardsText().c_str());
    // A field write sends ports A to D from the library's memory: fill it from the board first,
    // so that the pins outside the fields keep what they show.
    std::uint8_t byIgnored = 0;
    board.ReadPort(0, byIgnored);
    int nStatus = 0;
    for (std::size_t i = 0; i < fields.size(); ++i)
    {
        const Field& field = fields[i];
        const std::string strName = "field" + std::to_string(i + 1);
        const int32_t nResult =
            AddVirtualPort(nDevice, strName.c_str(), static_cast<int32_t>(field.nStart),
                           static_cast<int32_t>(field.nWidth), 0);
        if (nResult == FIELD_ADDED)
            WriteVirtualPort(nDevice, strName.c_str(), static_cast<int32_t>(field.nValue));
        else if (nResult == FIELD_OVERLAPS)
            nStatus = Fail("%s: overlaps an earlier field", field.strText.c_str());
        else if (nResult == FIELD_OUT_OF_RANGE)
            nStatus = Fail("%s: pins %u to %u go beyond pin 26", field.strText.c_str(),
                           field.nStart, field.nStart + field.nWidth - 1);
        else
            nStatus = Fail("%s: cannot define the field (%d)", field.strText.c_str(),
                           static_cast<int>(nResult));
    }
    return nStatus;
}
