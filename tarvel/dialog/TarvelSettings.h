#pragma once
// The tool's one setting: the last network address, "IPAddress" in section "Settings" of
// "Tarvel.ini" in the user's configuration folder ($XDG_CONFIG_HOME, else ~/.config). The
// address is stored as signed decimal text of the 32-bit number whose most significant byte is
// the first field: 10.0.0.1 is 167772161, 192.168.1.10 is -1062731510.
#include <QString>

#include <cstdint>

QString SettingsFilePath();

// The stored address; 0 (0.0.0.0) when the file or the key is missing.
std::uint32_t ReadAddressSetting();
void WriteAddressSetting(std::uint32_t dwAddress);

// The integer at the start of a profile value ("-12abc" gives -12, "abc" gives 0).
std::int32_t ParseProfileInt(const QString& strValue);
