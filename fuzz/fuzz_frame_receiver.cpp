// libFuzzer target: arbitrary bytes from a network peer, in arbitrary pieces, through the
// frame receiver of the tool's network link. Every frame handed over is at least a header long
// and exactly as long as its length byte says, no more than one frame of at most 255 bytes is
// ever held, every byte given is taken, and how the stream is cut changes nothing: the same
// bytes in one piece give the same frames.
#include "protocol/net/FrameReceiver.h"
#include "protocol/net/Frames.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace
{
using Frames = std::vector<std::vector<std::uint8_t>>;

void Require(bool bHolds, const char* pszWhat)
{
    if (!bHolds)
    {
        std::fprintf(stderr, "fuzz_frame_receiver: %s\n", pszWhat);
        std::abort();
    }
}

// Feeds one piece, checking each frame as it is handed over.
void FeedPiece(CFrameReceiver& receiver, const std::uint8_t* pData, std::size_t nLength,
               Frames& frames)
{
    const std::size_t nTaken = receiver.Feed(
        pData, nLength,
        [&](const std::uint8_t* pFrame, int nFrameLength)
        {
            Require(pFrame != nullptr, "frame without bytes");
            Require(nFrameLength >= NET_HEADER_SIZE, "frame shorter than its header");
            Require(nFrameLength == pFrame[1], "frame length differs from its length byte");
            // Every byte is read, so a short buffer shows under AddressSanitizer.
            frames.emplace_back(pFrame, pFrame + nFrameLength);
            PortBytes byPorts{};
            DecodeGridFrame(pFrame, static_cast<std::size_t>(nFrameLength), byPorts);
            return true;
        });
    Require(nTaken == nLength, "bytes left untaken");
    Require(receiver.Capacity() <= NET_FRAME_MAX, "more held than one frame");
    Require(receiver.Received() >= 0 && receiver.Wanted() >= 0, "negative counts");
    Require(receiver.Received() + receiver.Wanted() <= receiver.Capacity(),
            "counts beyond the buffer");
    Require(!receiver.HasFrame(), "a complete frame kept");
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize)
{
    FuzzedDataProvider provider(pData, nSize);
    CFrameReceiver cut;
    Frames cutFrames;
    std::vector<std::uint8_t> stream;
    while (provider.remaining_bytes() > 0)
    {
        const std::size_t nPiece = provider.ConsumeIntegralInRange<std::size_t>(0, 600);
        const std::vector<std::uint8_t> piece = provider.ConsumeBytes<std::uint8_t>(nPiece);
        FeedPiece(cut, piece.data(), piece.size(), cutFrames);
        stream.insert(stream.end(), piece.begin(), piece.end());
    }

    CFrameReceiver whole;
    Frames wholeFrames;
    FeedPiece(whole, stream.data(), stream.size(), wholeFrames);
    Require(wholeFrames == cutFrames, "the cuts changed the frames");
    Require(whole.Received() == cut.Received() &&
                whole.DiscardedHeaders() == cut.DiscardedHeaders(),
            "the cuts changed the state");
    return 0;
}
