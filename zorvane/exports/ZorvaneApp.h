#pragma once
// The library's application object: the device table (USB boards by device-ID text, COM-port
// boards by upper-cased name), the last error text, the device-change window, and the one
// library lock. The library makes one, at load (TheApp.h); tests make their own.
//
// Locking: every export and the device-change enumeration hold Mutex() for their whole call.
// Methods marked "locked" expect the caller to hold it; they never take it themselves.
#include "protocol/DriverContext.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class CBitIO;
class CUsbDev;
class CHiddenWnd;

class CZorvaneApp
{
public:
    // The boards of pContext; without one, of the default driver context, taken at the first
    // enumeration (so a program may choose the default before its first call).
    explicit CZorvaneApp(std::shared_ptr<CDriverContext> pContext = nullptr);
    virtual ~CZorvaneApp();
    CZorvaneApp(const CZorvaneApp&) = delete;
    CZorvaneApp& operator=(const CZorvaneApp&) = delete;

    // Start of the library's life: device count 0, the device-change window made (unarmed).
    // No board is enumerated here. pContext, when given, replaces the context the object was
    // made with (tests restart the library's own object on a bus of theirs).
    virtual bool InitInstance(std::shared_ptr<CDriverContext> pContext = nullptr);
    // End of its life: the window (first disconnected from the device-change watch, without
    // the lock), every COM-port board, then every USB board (closing its link) go. Takes the
    // lock itself; no export may run at the same time.
    virtual int ExitInstance();

    std::mutex& Mutex() { return m_mtxLock; }

    // Locked. Arms the device-change window (the first time, its watch thread starts),
    // enumerates, returns the USB board count.
    std::int32_t Initialize();
    // Locked. The board a name stands for: the USB table first, then the COM-port table, else a
    // new COM-port board (kept whether or not its port opens). Null only for an empty or null
    // name, which sets the error text "No Port defined".
    CBitIO* FindDevice(const char* pszName);
    // Locked. The USB board with this device number (decimal text), or null; creates nothing.
    CUsbDev* FindUsbDevice(std::int32_t nDevice);
    // Locked. Refreshes the USB table: drops boards that no longer answer, then enters every
    // board in application firmware that told its device ID and whose ID text is not taken.
    virtual void EnumerateDevices();
    // Locked. Drops and deletes every USB board that fails a read-device-id exchange.
    void PurgeAbsentDevices();
    // Locked. Deletes every USB board and empties the USB table.
    void DeleteUsbDevices();

    // Locked. The USB board names in table order (device ID order).
    std::vector<std::string> GetUsbDeviceNames() const;
    // Locked. The name at nPosition in table order, or "" (never null). The text belongs to the
    // table and stays valid while that board stays in it.
    const char* GetUsbDeviceID(std::int32_t nPosition) const;

    // Locked. A copy of the last error text, and its replacement.
    std::string GetLastErrorText() const { return m_strLastError; }
    void SetLastErrorText(std::string strText) { m_strLastError = std::move(strText); }
    // Locked. Copies at most nSize - 1 characters of the error text and a terminating zero
    // into the buffer and clears the text; the count copied. Nothing for a null buffer or a
    // size below 1 (the text stays).
    std::int32_t GetBitIOError(char* pszBuffer, std::int32_t nSize);

    CHiddenWnd* GetHiddenWnd() const { return m_pHiddenWnd.get(); }

    // Orders device-ID texts as numbers: "2" before "10". Looks up plain text without a copy.
    struct CNumericOrder
    {
        using is_transparent = void;
        bool operator()(std::string_view strLeft, std::string_view strRight) const
        {
            return strLeft.size() != strRight.size() ? strLeft.size() < strRight.size()
                                                     : strLeft < strRight;
        }
    };

    std::int32_t m_nDeviceCount;
    std::unordered_map<std::string, std::unique_ptr<CBitIO>> m_mapSerialDevices;
    std::map<std::string, std::unique_ptr<CUsbDev>, CNumericOrder> m_mapUsbDevices;
    std::unique_ptr<CHiddenWnd> m_pHiddenWnd;
    std::string m_strLastError;

private:
    // Offers one opened link to the table; takes it over.
    void EnterDevice(CBoardLink link);
    // Locked. The driver context, taken now if not yet.
    CDriverContext& Context();

    std::mutex m_mtxLock;
    std::shared_ptr<CDriverContext> m_pContext;
};

// ASCII upper case, whatever the locale: the form names are stored and looked up in.
std::string UpperCaseName(const char* pszName);
