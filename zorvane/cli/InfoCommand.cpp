// zorvane info TARGET [--json]: what the board tells about itself and the configuration it holds,
// through libkelvard.
#include "zorvane/cli/Commands.h"
#include "zorvane/cli/JsonLine.h"
#include "zorvane/cli/OpenBoard.h"
#include "zorvane/cli/PortText.h"

#include <cstdio>

namespace
{
const char* KindText(kelvard_kind eKind)
{
    return eKind == KELVARD_KIND_USB ? "usb" : eKind == KELVARD_KIND_COM ? "com" : "tcp";
}

CJsonLine::Numbers Masks(const std::uint8_t* pbyMasks, int nPorts)
{
    CJsonLine::Numbers masks;
    for (int nPort = 0; nPort < nPorts; ++nPort)
        masks.emplace_back(std::string(1, PortLetter(nPort)), pbyMasks[nPort]);
    return masks;
}

std::string MaskText(const CJsonLine::Numbers& masks)
{
    std::string strText;
    for (const auto& [strPort, nMask] : masks)
        strText += (strText.empty() ? "" : " ") +
                   FormatPortValue(strPort[0] - 'A', static_cast<std::uint8_t>(nMask));
    return strText;
}
} // namespace

int RunInfo(const CToolArgs& args)
{
    args.ExpectOperands(1, 1, "TARGET");
    const bool bJson = args.Has("json");
    COpenBoard board(args.Operands()[0]);
    int nResult = board.Open();
    if (nResult != KELVARD_OK)
        return board.Fail("open", nResult);

    // Label, JSON key, value: one line each.
    std::vector<std::pair<std::string, std::string>> lines;
    CJsonLine json;
    json.Add("name", board.Name()).Add("kind", KindText(kelvard_board_kind(board.Get())));
    lines.emplace_back("kind", KindText(kelvard_board_kind(board.Get())));
    const kelvard_identity* pIdentity = nullptr;
    if (kelvard_board_identity(board.Get(), &pIdentity) == KELVARD_OK)
    {
        const int nId = kelvard_identity_device_id(pIdentity);
        const std::string strSerial = kelvard_identity_serial(pIdentity);
        const std::string strVersion =
            FormatVersion(static_cast<std::uint16_t>(kelvard_identity_version(pIdentity)));
        const std::string strLocation = kelvard_identity_location(pIdentity);
        json.Add("device_id", nId).Add("serial", strSerial).Add("version", strVersion);
        json.Add("mode", "application").Add("location", strLocation);
        lines.insert(lines.end(), {{"device ID", std::to_string(nId)},
                                   {"serial number", strSerial.empty() ? "none" : strSerial},
                                   {"firmware", strVersion},
                                   {"mode", "application"},
                                   {"location", strLocation}});
    }
    kelvard_config config{};
    nResult = kelvard_board_read_config(board.Get(), &config);
    if (nResult != KELVARD_OK)
        return board.Fail("read the configuration of", nResult);
    const auto directions = Masks(config.direction, KELVARD_PORTS);
    const auto polarity = Masks(config.polarity, KELVARD_POLARITY_PORTS);
    json.Add("directions", directions).Add("polarity", polarity);
    json.Add("analog_count", config.analog_count);
    lines.insert(lines.end(), {{"directions", MaskText(directions)},
                               {"polarity", MaskText(polarity)},
                               {"analog inputs", std::to_string(config.analog_count)}});

    if (bJson)
        std::printf("%s\n", json.Text().c_str());
    else
        for (const auto& [strLabel, strValue] : lines)
            std::printf("%s: %s\n", strLabel.c_str(), strValue.c_str());
    return 0;
}
