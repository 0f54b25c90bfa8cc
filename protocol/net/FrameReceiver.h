#pragma once
// Reassembles the frames of the network link from a byte stream that arrives in pieces of any
// size: a frame may span any number of pieces, and one piece may hold several frames. The
// header (code and length byte) comes first; the length byte then says how many bytes the
// whole frame has, so a frame is never more than 255 bytes and nothing else is kept.
//
// A length byte below 2 cannot describe a frame. Its two header bytes are discarded and the
// next byte starts a new header: a peer that sends such a header can go on sending good
// frames, and a stream of garbage costs nothing but the bytes read.
//
//     CFrameReceiver receiver;
//     receiver.Feed(pData, nLength, [](const std::uint8_t* pFrame, int nLength) {
//         ...;          // one call per complete frame, in arrival order
//         return true;  // false stops before the next frame
//     });
#include <cstddef>
#include <cstdint>
#include <memory>

class CFrameReceiver
{
public:
    CFrameReceiver() = default;
    CFrameReceiver(const CFrameReceiver&) = delete;
    CFrameReceiver& operator=(const CFrameReceiver&) = delete;

    // Takes bytes up to the end of the frame under way and returns how many it took; with
    // nLength above 0 that is at least one, unless a complete frame waits to be released.
    std::size_t Take(const std::uint8_t* pData, std::size_t nLength);
    bool HasFrame() const { return m_bComplete; }
    // The complete frame; valid until ReleaseFrame.
    const std::uint8_t* Frame() const { return m_bComplete ? m_pFrame.get() : nullptr; }
    int FrameLength() const { return m_bComplete ? m_nReceived : 0; }
    // Frees the complete frame: the next byte starts a new one.
    void ReleaseFrame() { Reset(); }
    // Forgets the frame under way, complete or not.
    void Reset();

    // Hands every complete frame in the bytes to onFrame(frame, length), in order, each one
    // released when the call returns; stops early when onFrame returns false. Returns how
    // many bytes it took.
    template <typename F>
    std::size_t Feed(const std::uint8_t* pData, std::size_t nLength, F&& onFrame)
    {
        std::size_t nTaken = 0;
        while (nTaken < nLength)
        {
            nTaken += Take(pData + nTaken, nLength - nTaken);
            if (!m_bComplete)
                continue;
            const bool bGoOn =
                onFrame(static_cast<const std::uint8_t*>(m_pFrame.get()), m_nReceived);
            ReleaseFrame();
            if (!bGoOn)
                break;
        }
        return nTaken;
    }

    // The frame's state: bytes received so far, bytes still missing (of the header while
    // fewer than 2 are in, else of the whole frame), and whether a buffer is held at all.
    int Received() const { return m_nReceived; }
    int Wanted() const { return m_nWanted; }
    bool IsBetweenFrames() const { return !m_pFrame; }
    // Bytes held for the frame under way: never more than 255.
    int Capacity() const { return m_nCapacity; }
    // Headers whose length byte was below 2, discarded so far.
    std::uint64_t DiscardedHeaders() const { return m_nDiscarded; }

private:
    // Copies up to m_nWanted bytes after those received; returns how many.
    std::size_t Receive(const std::uint8_t* pData, std::size_t nLength);

    std::unique_ptr<std::uint8_t[]> m_pFrame; // the frame being received; none between frames
    int m_nReceived = 0;
    int m_nWanted = 0;
    int m_nCapacity = 0;
    bool m_bComplete = false;
    std::uint64_t m_nDiscarded = 0;
};
