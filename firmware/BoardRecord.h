#pragma once
// What the dialog knows of one listed board: its link and the identity discovery read from it.
#include "protocol/BoardLink.h"

#include <cstdint>
#include <string>

class CBoardRecord
{
public:
    // Takes the link over; discovery fills in the identity right after.
    explicit CBoardRecord(CBoardLink link) : m_lnkBoard(std::move(link)) {}
    virtual ~CBoardRecord() = default;
    CBoardRecord(const CBoardRecord&) = delete;
    CBoardRecord& operator=(const CBoardRecord&) = delete;

    std::string GetSerial() const { return m_strSerial; }
    // "%d.%02d" of major (high byte) and minor (low byte): 0x0103 reads 1.03.
    std::string GetVersionText() const;

    CBoardLink m_lnkBoard;
    int m_nDeviceId = 0;          // from read-device-id, 0 when that exchange failed
    std::string m_strSerial;      // "" when the board reports none
    std::uint16_t m_wVersion = 0; // high byte major, low byte minor
};
