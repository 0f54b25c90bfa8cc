#pragma once
// From a COM port name to the host's device node: "COM3" is port 3, and port n is the node the
// printf pattern in KELVARD_COM_PATTERN gives for n - 1 (default /dev/ttyS%d, so COM1 is
// /dev/ttyS0). Nothing here touches a port.
#include <cstdint>
#include <string>

inline constexpr char COM_PATTERN_VARIABLE[] = "KELVARD_COM_PATTERN";
inline constexpr char COM_PATTERN_DEFAULT[] = "/dev/ttyS%d";

// The name lower-cased, every "com" removed, the rest read as a decimal number (leading white
// space, optional sign, digits up to the first other character). No number gives 0.
std::int32_t ComPortNumber(const char* pszName);

// The pattern with its one "%d" replaced by nPort - 1 ("%%" stands for '%'). False, and no
// path, for a port below 1 or a pattern with any other conversion or none.
bool FormatComPath(const std::string& strPattern, std::int32_t nPort, std::string& strPath);

// KELVARD_COM_PATTERN, or the default when unset or empty.
std::string ComPattern();
