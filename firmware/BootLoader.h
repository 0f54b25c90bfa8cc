#pragma once
// The bootloader client: reads the firmware image from its Intel HEX file and updates one board
// that waits in its bootloader; also reads a board's memory back and rewrites its serial number.
// One object lives for one job; it owns the board's link.
#include "firmware/BootProgress.h"
#include "firmware/HexImage.h"
#include "protocol/BoardLink.h"
#include "protocol/Status.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CHexFile;

// What a backup reads back from a board: the application area of the chip table's range, the
// data EEPROM and the ID locations.
struct SFirmwareMemory
{
    std::int32_t nProgramStart = 0;       // first address of vecProgram (the application start)
    std::vector<std::uint8_t> vecProgram; // up to the chip's last program address
    std::vector<std::uint8_t> vecEeprom;  // from EEPROM address 0
    std::array<std::uint8_t, 16> arrId{};
};

class CBootLoader
{
public:
    // Takes over the board link (one that is not open when only the image is wanted) and copies
    // the path.
    CBootLoader(CBoardLink link, const std::string& strHexPath);
    // Closes the link and frees the images.
    virtual ~CBootLoader();

    CBootLoader(const CBootLoader&) = delete;
    CBootLoader& operator=(const CBootLoader&) = delete;

    // --- Intel HEX image (kept in m_hexImage) ----------------------------------------------

    // Both passes over the file at m_strHexPath: CHexImage::LoadFile.
    EStatus LoadHexFile() { return m_hexImage.LoadFile(m_strHexPath); }
    // The first pass alone: CHexImage::ScanFile.
    EStatus ScanHexFile() { return m_hexImage.ScanFile(m_strHexPath); }
    // The same load over HEX text already in memory, for callers without a file.
    EStatus LoadHexText(std::string_view strText) { return m_hexImage.LoadText(strText); }
    static EStatus ReadHexRecord(CHexFile& file, int& nCount, int& nAddress, int& nType,
                                 std::uint8_t* pData, int& nChecksum)
    {
        return CHexImage::ReadHexRecord(file, nCount, nAddress, nType, pData, nChecksum);
    }

    // --- Bootloader protocol (BootLoader.cpp) --------------------------------------------
    //
    // Every exchange is one write and, where there is one, one read on m_lnkBoard with the 500 ms
    // time-out; none is ever retried. Replies land in the buffer that held the request.

    // One write of nLength bytes; the bytes moved, or -1 after "Failed write\n".
    int SendPacket(std::uint8_t* pBuffer, int nLength);
    // One read of up to nLength bytes into pBuffer (a shorter reply is a completed read); the
    // bytes moved, or -1 after "Failed read\n".
    int GetPacket(std::uint8_t* pBuffer, int nLength);
    // SendPacket, then GetPacket into the same buffer; negative when either failed.
    int SendGetPacket(std::uint8_t* pBuffer, int nSendLength, int nReplyLength);

    // Reads the chip ID word at 0x3FFFFE: returns the 11-bit device code and keeps the
    // revision in m_nRevision; -1 when the exchange failed (there is then no code to use).
    int ReadDeviceId();
    // Applies the chip table: every default first, then the row of a known code.
    void SetDeviceType(int nDeviceCode);

    // One erase-memory request every m_nEraseBlock bytes from nFirst while not above nLast
    // (inclusive). EStatus::Ok, or EStatus::Usb at the first failed exchange (EStatus::Stopped once
    // Stop was asked for).
    EStatus EraseRange(int nFirst, int nLast);
    // Writes [nFirst, nEnd) with nCommand (write-memory 0x02 or write-eeprom 0x05) in requests
    // of nBlock bytes (the last may carry fewer; its count byte still says nBlock), each read
    // back with nCommand - 1 and compared. Source byte of an address is
    // pSource[address & 0xFFFF]. EStatus::Ok, EStatus::Usb, EStatus::Verify or EStatus::Stopped;
    // stops at the first failure. nBlock must fit a packet behind the 5-byte header (1 to 59).
    EStatus WriteRangeMem(int nCommand, int nBlock, int nFirst, int nEnd,
                          const std::uint8_t* pSource);

    // The whole update: identify, load the HEX file, check that it fits the chip, erase the
    // application (and the ID locations when the image has ID data), write and verify program
    // memory, EEPROM and ID locations, restart. EStatus::Ok, or the first step's negative status,
    // after which nothing more is sent (in particular no restart): the board stays in its
    // bootloader. A failed identification (no reply, or one too short to hold the ID word) is
    // EStatus::Usb: without the chip its memory map is unknown. An image that does not fit the
    // chip (CHexImage::FitProblem) is EStatus::NoFit before anything is erased, and an unknown chip
    // EStatus::UnknownChip when m_bKnownChipsOnly is set. Program memory below m_nAppStart is never
    // erased or written.
    EStatus UpdateFirmware();
    // The same update over HEX text already in memory instead of the file at m_strHexPath.
    EStatus UpdateFirmware(std::string_view strHexText);
    // Compares the board with the image as an update would leave it, writing nothing: identify
    // (as the update does), load and fit the text, then read back the program from the
    // application start to the image's end, the EEPROM the image has and, when it has ID data,
    // the ID locations an update writes. EStatus::Ok when all equal; EStatus::Verify with the first
    // differing address in m_nFailedAddress; or the status that stopped it.
    EStatus VerifyFirmware(std::string_view strHexText);
    // Sends restart: the board leaves its bootloader for its application. No reply is read.
    // EStatus::Ok, or EStatus::Usb when the request could not be written.
    EStatus Restart();

    // Reads [nFirst, nEnd) with nCommand (read-memory 0x01 or read-eeprom 0x04) in requests of
    // m_nWriteBlock bytes into pDest[address - nFirst]. EStatus::Ok, EStatus::Usb or
    // EStatus::Stopped; stops at the first failure.
    EStatus ReadRangeMem(int nCommand, int nFirst, int nEnd, std::uint8_t* pDest);
    // Identifies the chip, then reads its application area (m_nAppStart to m_nProgramEnd), its
    // EEPROM (m_nEepromSize bytes) and its ID locations. Writes nothing.
    EStatus ReadFirmware(SFirmwareMemory& memory);

    // Asks a job running on another thread to stop: the request in flight completes, nothing
    // further is sent, and the job returns EStatus::Stopped.
    void Stop() { m_bStop = true; }

    // The serial number in the boot block (character i at 0x7F0 + 2i): the 8 characters, or ""
    // when the read fails or any character lies outside 0x20-0x7A.
    std::string ReadSerNo();
    // Identifies the chip, then rewrites the erase block 0x7C0-0x7FF with the text's characters
    // at 0x7F0 + 2i and every other byte as read before. The block is written back whenever the
    // erase request went out, even when its reply was lost, and erased and written again (up
    // to three more times) while its read-back differs. EStatus::Ok; EStatus::Usb,
    // EStatus::UnknownChip or EStatus::Argument (the text is not 1 to 8 characters) with nothing
    // written; or EStatus::BootBlock when no try succeeded: the block may be damaged.
    EStatus WriteSerialNumber(const std::string& strSerial);
    // WriteSerialNumber as the dialog's prompt uses it: false when nothing was written, true
    // once the erase went out, whatever the write then gave.
    bool WriteSerNo(const std::string& strSerial);

    // --- State ---------------------------------------------------------------------------

    CBoardLink m_lnkBoard;

    // Chip values; until SetDeviceType runs they hold the chip table's defaults.
    std::string m_strChipName = "PICUNKNOWN";
    std::int32_t m_nWriteBlock = 16;
    std::int32_t m_nEraseBlock = 64;
    std::int32_t m_nAppStart = 0x200;
    std::int32_t m_nProgramEnd = 0xFFF;
    std::int32_t m_nEepromStart = 0;
    std::int32_t m_nIdStart = 0x200000;
    std::int32_t m_nIdEnd = 0x20000F;
    std::int32_t m_nRevision = 0; // silicon revision from the last identification
    std::int32_t m_nEepromSize = 256;
    std::int32_t m_nDeviceCode = -1; // from the last identification
    bool m_bKnownChip = false;       // the code is in the chip table

    // Set by callers that work on known chips only (zorvane): an unknown code ends the job
    // with EStatus::UnknownChip after the identification. The dialog keeps the unknown-chip row.
    bool m_bKnownChipsOnly = false;
    // Why the last job refused to run (EStatus::NoFit, EStatus::UnknownChip), for messages.
    std::string m_strRefusal;

    // Told of the job's progress on the job's thread (may be empty).
    BootProgressHook m_fnProgress;
    // Address of the request that failed last (an erase, a block written, verified or read);
    // -1 when none has failed.
    std::int32_t m_nFailedAddress = -1;

    std::string m_strHexPath;

    // The image the update writes, and its parts under their own names (see CHexImage).
    CHexImage m_hexImage;
    std::unique_ptr<std::uint8_t[]>& m_pProgramImage = m_hexImage.m_pProgramImage;
    std::int32_t& m_nProgramExtent = m_hexImage.m_nProgramExtent;
    std::unique_ptr<std::uint8_t[]>& m_pEepromImage = m_hexImage.m_pEepromImage;
    std::int32_t& m_nEepromExtent = m_hexImage.m_nEepromExtent;
    std::array<std::uint8_t, 16>& m_idImage = m_hexImage.m_idImage;
    std::int32_t& m_nIdExtent = m_hexImage.m_nIdExtent;

private:
    // ReadDeviceId, SetDeviceType and the "Device type is ..." line; EStatus::Ok, EStatus::Usb or
    // EStatus::UnknownChip.
    EStatus IdentifyChip();
    // The image from the file (pText null) or the text, checked against the identified chip.
    EStatus LoadAndFit(const std::string_view* pText);
    // The update over the file (pText null) or over the text.
    EStatus Update(const std::string_view* pText);
    // Exchanges the update will make once the chip and the image are known, for the progress.
    std::int64_t PlannedSteps() const;
    void BeginPhase(EBootPhase ePhase, std::int64_t nTotal);
    void Advance(std::int64_t nBytes, std::int64_t nSteps);
    // Sets m_nFailedAddress and returns nStatus.
    EStatus Failed(EStatus eStatus, std::int64_t nAddress);

    std::atomic<bool> m_bStop{false};
    SBootProgress m_prgCurrent;
};
