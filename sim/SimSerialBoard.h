#pragma once
// A COM-port board on a pseudo-terminal: the host opens SlavePath() (through a symlink named
// as KELVARD_COM_PATTERN expects) and speaks the serial text protocol; the board keeps three
// 8-bit ports A to C, records every line it receives, and answers the input request "I" with
// "I,<A>,<B>,<C>" and its line end from its pin model. Faults and timing for tests:
//
//     CSimSerialBoard board;
//     board.SetReplyDelay(200ms).SetReplyPieces(4, 30ms);
//     ... host sends "I\n" ...
//     EXPECT_EQ(board.Lines(), (std::vector<std::string>{"I\n"}));
//
// A worker thread serves the line; every method is thread-safe; the destructor stops it.
#include "sim/SimApi.h"
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <termios.h>

class KELVARD_SIM_API CSimSerialBoard
{
public:
    // Opens the pseudo-terminal pair (master raw) and starts serving. bCookedLine leaves the
    // line in a terminal's usual cooked state (echo, line editing, \n sent as \r\n, XON/XOFF,
    // 38400 baud), so a host that does not set the line up itself is caught.
    explicit CSimSerialBoard(bool bCookedLine = false);
    ~CSimSerialBoard();
    CSimSerialBoard(const CSimSerialBoard&) = delete;
    CSimSerialBoard& operator=(const CSimSerialBoard&) = delete;

    bool IsReady() const { return m_hMaster >= 0; } // the pseudo-terminal was made
    const std::string& SlavePath() const { return m_strSlavePath; }

    // Pin model: outputs read back their latch, inputs the level set here. Directions start
    // as inputs (0xFF), latches and levels at 0.
    CSimSerialBoard& SetInputs(char cPort, std::uint8_t byLevels);
    std::array<std::uint8_t, 3> Latches() const;    // A, B, C as the host last set them
    std::array<std::uint8_t, 3> Directions() const; // bit set = input
    std::array<std::uint8_t, 3> Levels() const;     // what an input reply reports

    // Answering the input request.
    CSimSerialBoard& SetReplyDelay(std::chrono::milliseconds delay);
    // The reply goes out in nPieces parts of about equal length, with a pause between them.
    CSimSerialBoard& SetReplyPieces(std::size_t nPieces, std::chrono::milliseconds pause);
    CSimSerialBoard& SetSilent(bool bSilent);                       // answers nothing at all
    CSimSerialBoard& SetReplyText(std::optional<std::string> text); // sent instead of the state
    // Answer to "PI,<port>,<bit>": "PI,<port>,<bit>,<level>" and the line end unless set
    // otherwise.
    CSimSerialBoard& SetBitReplyText(std::optional<std::string> text);
    // What ends the board's own replies: "\n" (the default), "\r\n" or nothing at all.
    CSimSerialBoard& SetReplyEnd(std::string strEnd);
    // A board that stops reading its line: what the host sends piles up in the terminal until
    // it reads again.
    CSimSerialBoard& SetReading(bool bReading);

    // Sends text to the host now, unasked.
    void Send(const std::string& strText);
    // Waits until the host's receive queue holds at least nBytes; false on time-out.
    bool WaitHostPending(int nBytes, std::chrono::milliseconds timeout) const;
    // The host's receive queue: bytes sent by the board and not yet read.
    int HostPending() const;

    // Every line received, in order, each with its '\n', while recording (the default); bytes
    // after the last '\n' are not a line yet. A board that serves for hours (kelvard-sim)
    // records nothing, or its memory would grow with every line.
    std::vector<std::string> Lines() const;
    CSimSerialBoard& SetRecording(bool bRecording);
    std::vector<std::string> TakeLines();
    bool WaitLines(std::size_t nCount, std::chrono::milliseconds timeout) const;
    // Called on the board's thread for each line received (stand-alone programs print them).
    void SetLineListener(std::function<void(const std::string&)> listener);

    // The line settings as the host left them (the slave side of the pair).
    bool LineSettings(termios& tio) const;

private:
    struct Outgoing
    {
        std::chrono::steady_clock::time_point tDue;
        std::string strText;
    };

    void Serve();
    void HandleLine(const std::string& strLine); // called with m_mtxLock held
    void Schedule(std::string strText, std::chrono::milliseconds delay, std::size_t nPieces,
                  std::chrono::milliseconds pause);    // with m_mtxLock held
    std::string StateReply() const;                    // with m_mtxLock held
    std::uint8_t LevelLocked(std::size_t nPort) const; // with m_mtxLock held
    void WriteAll(const std::string& strText);
    void Wake();

    int m_hMaster = -1;
    int m_hSlave = -1; // kept open so the line never hangs up between host opens
    int m_hWake[2] = {-1, -1};
    std::string m_strSlavePath;

    mutable std::mutex m_mtxLock;
    mutable std::condition_variable m_cvWake;
    std::array<std::uint8_t, 3> m_byLatch{};
    std::array<std::uint8_t, 3> m_byInput{};
    std::array<std::uint8_t, 3> m_byDir{0xFF, 0xFF, 0xFF};
    std::chrono::milliseconds m_replyDelay{0};
    std::size_t m_nReplyPieces = 1;
    std::chrono::milliseconds m_piecePause{0};
    bool m_bSilent = false;
    std::optional<std::string> m_replyText;
    std::optional<std::string> m_bitReplyText;
    std::string m_strReplyEnd = "\n";
    bool m_bReading = true;
    bool m_bRecording = true;
    std::vector<Outgoing> m_vecOutgoing;
    std::vector<std::string> m_vecLines;
    std::string m_strPartial;
    std::function<void(const std::string&)> m_lineListener;
    std::atomic<bool> m_bStop{false};
    std::thread m_thrBoard;
};
