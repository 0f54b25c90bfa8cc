#pragma once
// The library's object for one USB board: the port-device interface over the board's command
// set. It owns the board's link, caches all five ports (a write-ports packet always carries all
// five) and keeps the board's virtual ports.
#include "zorvane/devices/BitIO.h"
#include "zorvane/devices/VirtualPort.h"

#include "protocol/BoardLink.h"

#include <cstdint>
#include <string>
#include <unordered_map>

class CUsbDev : public CBitIO
{
public:
    // Takes the link over and asks the board, in this order, for its device ID, serial number
    // and firmware version. Never fails: a board that does not answer gets ID 0, an empty
    // serial number and version 0, and m_bIdentified stays false.
    explicit CUsbDev(CBoardLink link);
    // Takes the link over with the identity the caller has read already; asks the board nothing.
    CUsbDev(CBoardLink link, std::uint8_t byDeviceId, std::string strSerial, std::uint16_t wVersion);

    // query-mode: true when the board runs its bootloader; false when the request could not be
    // sent. A lost reply counts as application firmware.
    bool IsInBootloader();
    // The device ID as decimal text: the board's name and its key in the USB table.
    std::string GetName() const;
    // The board's link, for the exchanges that the port-device interface has no operation for
    // (the configuration as the board holds it, the analog readings).
    CBoardLink& Link() { return m_lnkBoard; }

    std::int32_t ConfigurePortsEx(std::int32_t nDirA, std::int32_t nDirB, std::int32_t nDirC,
                                  std::int32_t nDirD, std::int32_t nDirE,
                                  std::int32_t nUnused) override;
    std::int32_t ConfigurePorts(std::int32_t nDirA, std::int32_t nDirB, std::int32_t nDirC,
                                std::int32_t nUnused) override;
    std::int32_t WriteBytePortA(std::int32_t nValue) override;
    std::int32_t WriteBytePortB(std::int32_t nValue) override;
    std::int32_t WriteBytePortC(std::int32_t nValue) override;
    std::int32_t WriteBytePortD(std::int32_t nValue) override;
    std::int32_t WriteBytePortE(std::int32_t nValue) override;
    std::int32_t WriteBitPortA(std::int32_t nBit, std::int32_t nValue) override;
    std::int32_t WriteBitPortB(std::int32_t nBit, std::int32_t nValue) override;
    std::int32_t WriteBitPortC(std::int32_t nBit, std::int32_t nValue) override;
    std::int32_t ReadAllPorts(std::uint8_t* pbyA, std::uint8_t* pbyB, std::uint8_t* pbyC,
                              std::uint8_t* pbyD, std::uint8_t* pbyE) override;
    std::int32_t ReadBytePorts(std::uint8_t* pbyA, std::uint8_t* pbyB, std::uint8_t* pbyC) override;
    std::int32_t ReadBytePortA(std::uint8_t* pbyValue) override;
    std::int32_t ReadBytePortB(std::uint8_t* pbyValue) override;
    std::int32_t ReadBytePortC(std::uint8_t* pbyValue) override;
    std::int32_t ReadBytePortD(std::uint8_t* pbyValue) override;
    std::int32_t ReadBytePortE(std::uint8_t* pbyValue) override;
    std::int32_t ReadBitPortA(std::int32_t nBit, std::int32_t* pnValue) override;
    std::int32_t ReadBitPortB(std::int32_t nBit, std::int32_t* pnValue) override;
    std::int32_t ReadBitPortC(std::int32_t nBit, std::int32_t* pnValue) override;
    // Closes the link first; the zero writes of removing the virtual ports then reach nothing.
    ~CUsbDev() override;
    std::int32_t AddVirtualPort(const char* pszName, std::int32_t nStart, std::int32_t nWidth,
                                std::int32_t nInput) override;
    std::int32_t RemoveVirtualPort(const char* pszName) override;
    std::int32_t RemoveAllVirtualPorts() override;
    std::int32_t WriteVirtualPort(const char* pszName, std::int32_t nValue) override;
    std::int32_t ReadVirtualPort(const char* pszName, std::int32_t* pnValue) override;

    // Slots 27 to 36, in this order.
    virtual std::int32_t SpareOperation1(std::int32_t n1, std::int32_t n2);
    virtual std::int32_t SpareOperation2(std::int32_t n1, std::int32_t n2);
    virtual std::int32_t SpareOperation3(std::int32_t n1, std::int32_t n2);
    virtual std::int32_t SpareOperation4(std::int32_t n1, std::int32_t n2);
    virtual std::int32_t IsPresent();      // 1 when read-device-id went both ways
    virtual void ClosePipes();             // closes the link: read pipe, then write pipe
    virtual void SetLink(CBoardLink link); // the old link is closed
    virtual VirtualPortInfo* FindVirtualPort(const char* pszName); // null when not defined
    virtual std::int32_t SendPorts();  // write-ports with the five cached values
    virtual std::int32_t FetchPorts(); // read-ports into the five caches; unchanged on failure

    std::int32_t m_nDeviceId;
    bool m_bIdentified; // the board answered read-device-id at construction
    std::string m_strSerialNumber;
    std::uint16_t m_wVersion;
    std::uint8_t m_byPortD;
    std::uint8_t m_byPortE;
    std::uint8_t m_byDirD;
    std::uint8_t m_byDirE;
    std::uint8_t m_byInvD;
    std::uint8_t m_byAnalogCount;
    std::unordered_map<std::string, VirtualPortInfo> m_mapVirtualPorts; // name, case kept

private:
    CBoardLink m_lnkBoard;
    // Writes the four port bytes that hold a field, with the field's pins set to nValue.
    void WriteField(const VirtualPortInfo& info, std::int32_t nValue);
    std::int32_t StorePort(std::uint8_t& byPort, std::int32_t nValue);
    std::int32_t FetchOnePort(const std::uint8_t& byPort, std::uint8_t* pbyValue);
};
