// "HOST", "HOST:PORT" and "[V6ADDRESS][:PORT]": the address of a network board (tcp:) and of an
// MQTT broker.
#pragma once

#include <string>

struct SHostPort
{
    std::string strHost;
    int nPort = 0; // 0 when the text names none
};

// False for an empty host, a port that is not a decimal 1 to 65535, or anything after "]" other
// than ":PORT".
bool ParseHostPort(const std::string& strText, SHostPort& address);
