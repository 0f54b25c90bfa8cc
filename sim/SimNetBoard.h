#pragma once
// A network-attached board: a TCP server that speaks the 12-byte frames of the command set
// (code, length byte, then the USB request's bytes 1 to 10 one place further on). It answers
// read-ports (0x36) and read-configuration (0x38) with reply frames of the same layout and
// applies write-ports (0x37) and write-configuration (0x39); other codes are ignored. One
// client at a time; a frame whose length byte is below 2 cannot be read on, so that client is
// dropped. A worker thread serves; every method is thread-safe; the destructor stops it.
#include "sim/SimApi.h"
#include "sim/SimFirmware.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class KELVARD_SIM_API CSimNetBoard
{
public:
    // Listens on strAddress:nPort (port 0 picks a free one, see Port()).
    CSimNetBoard(const std::string& strAddress, std::uint16_t nPort);
    ~CSimNetBoard();
    CSimNetBoard(const CSimNetBoard&) = delete;
    CSimNetBoard& operator=(const CSimNetBoard&) = delete;

    bool IsListening() const { return m_hListen >= 0; }
    const std::string& Error() const { return m_strError; } // why it does not listen
    std::uint16_t Port() const { return m_nPort; }

    void SetInputs(EPort port, std::uint8_t byLevels);
    SimPins Pins() const;
    // Every frame received, in order, while recording (the default). A board that serves for
    // hours (kelvard-sim) records nothing, or its memory would grow with every frame.
    std::vector<std::vector<std::uint8_t>> Frames() const;
    void SetRecording(bool bRecording);
    // Called on the board's thread for each frame received.
    void SetFrameListener(std::function<void(const std::vector<std::uint8_t>&)> listener);

private:
    void Serve();
    void ServeClient(int hClient);
    // The reply frame for one received frame, or nothing.
    std::vector<std::uint8_t> Handle(const std::vector<std::uint8_t>& frame);

    int m_hListen = -1;
    int m_hWake[2] = {-1, -1}; // a pipe that ends the worker's waits
    std::uint16_t m_nPort = 0;
    std::string m_strError;
    mutable std::mutex m_mtxLock;
    SimPins m_pinsBoard;
    CSimMemory m_memBoard{SimBoardConfig()};
    std::vector<std::vector<std::uint8_t>> m_vecFrames;
    bool m_bRecording = true;
    std::function<void(const std::vector<std::uint8_t>&)> m_fnListener;
    std::thread m_thrBoard;
};
