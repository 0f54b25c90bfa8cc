#pragma once
// The bridge behind 'zorvane serve': one USB board put on TCP for the dialog's network link.
// Each complete frame a client sends becomes the USB request it carries; a command's reply goes
// back as a frame of the same layout. Only what the dialog sends is served (read-ports,
// write-ports, read-configuration, write-configuration); a frame with any other code is ignored
// and logged, so a peer cannot, say, send the board into its bootloader.
//
// One loop on the calling thread serves the listening socket, the client and the board through
// poll. The USB exchange is synchronous (at most a second), and the loop takes one frame per turn,
// so a stop or a new client is seen between frames. One client at a time: a new connection takes
// the link over and the old one is closed, so a desktop that reconnects after a crash never finds
// the board held by a dead link. A peer outside the allowed ranges is closed at once. Bounded
// whatever a peer sends: one frame of at most 255 bytes, one chunk of input, and replies up to a
// limit, beyond which the client is not read until it takes them.
//
// A board that stops answering (unplugged) is closed; frames then get no reply, and the board is
// looked for every 100 ms, at its location and after a second also by its serial number, and
// opened again when it is back. Each of these events is logged once, not per frame.
//
// Through the driver layer only: no export of the library is called.
#include "firmware/BoardScan.h"
#include "protocol/net/FrameReceiver.h"

#include <array>
#include <bitset>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// An IPv4 range: the peers whose first nPrefix bits equal the address's.
struct SNetRange
{
    std::uint32_t nAddress = 0; // host byte order
    int nPrefix = 32;
    bool Contains(std::uint32_t nPeer) const;
};

struct SBridgeOptions
{
    std::uint32_t nAddress = 0x7F000001; // where to listen (host byte order): loopback
    std::uint16_t nPort = 0;             // 0: any free port
    std::vector<SNetRange> vecAllow;     // empty: every peer that reaches the port

    // From "ADDR:PORT" ("" for loopback and the dialog's port) and "ADDR[/PREFIX]" each;
    // CUsageError when one is malformed.
    static SBridgeOptions Parse(const std::string& strListen,
                                const std::vector<std::string>& vecAllow);
    bool Allows(std::uint32_t nPeer) const;
};

// "192.168.1.10:9764"
std::string EndpointText(std::uint32_t nAddress, std::uint16_t nPort);

class CNetBridge
{
public:
    // One line per event, without an ending line feed.
    using LogSink = std::function<void(const std::string&)>;

    // The board as a scan of context found it: its location and serial number say where to look
    // when it comes back. The context must outlive the bridge.
    CNetBridge(const CDriverContext& context, SBoardInfo board, LogSink log);
    // Closes the client, the listening socket and the board's pipes.
    ~CNetBridge();
    CNetBridge(const CNetBridge&) = delete;
    CNetBridge& operator=(const CNetBridge&) = delete;

    // Opens the board and listens; false, with Error() saying why, when either fails.
    bool Start(const SBridgeOptions& options);
    const std::string& Error() const { return m_strError; }
    std::uint16_t Port() const { return m_nPort; } // the one listened on, once started
    const SBoardInfo& Board() const { return m_infoBoard; }

    // Serves until hStop becomes readable, then closes what Start opened. False when it
    // stopped on a failure instead (poll failed; logged).
    bool Run(int hStop);

private:
    bool HasInput() const { return m_nInputAt < m_nInputEnd; }
    short ClientEvents() const;
    void Accept();
    void Receive();
    void Flush();
    // Hands the next complete frame in the input to Serve, if the input holds one.
    void ServeNext();
    void Serve(const std::uint8_t* pFrame, int nLength);
    void DropClient(const std::string& strWhy);
    void LoseBoard();
    void LookForBoard();
    // Where to look for the board again: its location, and its serial number, which a board
    // found there must report.
    SBoardKey BoardKey() const;
    int LookTimeoutMs() const;
    void Close();

    const CDriverContext& m_ctxDriver;
    SBoardInfo m_infoBoard;
    LogSink m_fnLog;
    std::string m_strError;
    SBridgeOptions m_optsServe;

    CBoardLink m_lnkBoard;                   // not open while the board is away
    std::unique_ptr<CBoardFinder> m_pFinder; // while the board is away
    std::chrono::steady_clock::time_point m_tNextLook;
    std::uint64_t m_nUnanswered = 0; // frames that found the board away

    int m_hListen = -1;
    std::uint16_t m_nPort = 0;

    int m_hClient = -1;
    std::string m_strPeer;
    CFrameReceiver m_rcvFrames;
    std::array<std::uint8_t, 4096> m_byInput{};
    std::size_t m_nInputAt = 0;
    std::size_t m_nInputEnd = 0;
    std::vector<std::uint8_t> m_vecReplies; // not yet taken by the client
    std::bitset<256> m_bsIgnored;           // codes already logged as ignored, per client
};
