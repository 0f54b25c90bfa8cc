#include "tarvel/res/StringTable.h"

#include "tarvel/res/ControlIds.h"

namespace
{
struct StringEntry
{
    int nId;
    const char* pszText;
};

constexpr StringEntry STRINGS[] = {
    {IDS_ABOUTBOX, "&About Tarvel..."},
    // Kept with its number: Qt's sockets need no start-up, so nothing shows it.
    {IDP_SOCKETS_INIT_FAILED, "Windows sockets initialization failed."},
};
} // namespace

const char* LoadResString(int nId)
{
    for (const StringEntry& entry : STRINGS)
    {
        if (entry.nId == nId)
            return entry.pszText;
    }
    return "";
}
