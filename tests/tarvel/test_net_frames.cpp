// The network link's frames without a socket: the exact bytes of every frame the tool sends,
// what a received frame draws, and the receiver's reassembly of frames from a stream cut
// anywhere, with malformed headers and short replies.
#include "HexText.h"

#include "net/FrameReceiver.h"
#include "net/Frames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace
{
using Bytes = std::vector<std::uint8_t>;

std::string Hex(const Bytes& bytes)
{
    return HexText(bytes.data(), bytes.size());
}

std::string Hex(const NetFrame& frame)
{
    return HexText(frame.data(), frame.size());
}

// Feeds the stream in pieces of the given sizes (the last one takes the rest) and returns the
// frames handed over, as hex text.
std::vector<std::string> FeedInPieces(CFrameReceiver& receiver, const Bytes& stream,
                                      const std::vector<std::size_t>& pieces)
{
    std::vector<std::string> frames;
    std::size_t nAt = 0;
    for (std::size_t i = 0; nAt < stream.size(); ++i)
    {
        const std::size_t nPiece = i < pieces.size() ? pieces[i] : stream.size() - nAt;
        const std::size_t nLength = std::min(nPiece, stream.size() - nAt);
        const std::size_t nTaken = receiver.Feed(
            stream.data() + nAt, nLength,
            [&](const std::uint8_t* pFrame, int nFrameLength)
            {
                frames.push_back(HexText(pFrame, static_cast<std::size_t>(nFrameLength)));
                return true;
            });
        EXPECT_EQ(nTaken, nLength);
        nAt += nLength;
    }
    return frames;
}

std::vector<std::string> FeedAll(CFrameReceiver& receiver, const Bytes& stream)
{
    return FeedInPieces(receiver, stream, {stream.size()});
}

// A frame of the given code and total length whose payload counts up from bFirst.
Bytes MakeFrame(std::uint8_t byCode, std::size_t nLength, std::uint8_t byFirst = 1)
{
    Bytes frame(nLength);
    frame[0] = byCode;
    frame[1] = static_cast<std::uint8_t>(nLength);
    for (std::size_t i = 2; i < nLength; ++i)
        frame[i] = static_cast<std::uint8_t>(byFirst + i - 2);
    return frame;
}

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}
} // namespace

// --- Frames the tool sends -------------------------------------------------------------

TEST(NetFrames, EveryFrameTheToolSendsHasItsExactBytes)
{
    EXPECT_EQ(Hex(BuildFrame(0x36)), "36 0c 00 00 00 00 00 00 00 00 00 00");
    EXPECT_EQ(Hex(BuildFrame(0x38)), "38 0c 00 00 00 00 00 00 00 00 00 00");
    const PortBytes byPorts{0xA1, 0xB2, 0xC3, 0xD4, 0xE5};
    EXPECT_EQ(Hex(BuildWritePortsFrame(byPorts)), "37 0c a1 b2 c3 d4 e5 00 00 00 00 00");
    EXPECT_EQ(Hex(BuildWriteDirectionsFrame(byPorts)), "39 0c a1 00 b2 00 c3 00 d4 00 e5 00");
    EXPECT_EQ(Hex(BuildWriteInversionsFrame(byPorts)), "39 0c 00 a1 00 b2 00 c3 00 d4 00 e5");
}

// --- Frames the tool draws --------------------------------------------------------------

TEST(NetFrames, ReadPortsAndReadConfigurationRepliesGiveTheGridBytes)
{
    PortBytes byPorts{};
    const Bytes ports{0x36, 0x0C, 0x01, 0x02, 0x03, 0x04, 0x05, 0x66, 0x77, 0x88, 0x99, 0xAA};
    ASSERT_TRUE(DecodeGridFrame(ports.data(), ports.size(), byPorts));
    EXPECT_EQ(byPorts, (PortBytes{0x01, 0x02, 0x03, 0x04, 0x05}));

    // The direction mask of each port's pair; the inversion masks between them are not used.
    const Bytes config{0x38, 0x0C, 0x10, 0xE1, 0x20, 0xE2, 0x30, 0xE3, 0x40, 0xE4, 0x50, 0x04};
    ASSERT_TRUE(DecodeGridFrame(config.data(), config.size(), byPorts));
    EXPECT_EQ(byPorts, (PortBytes{0x10, 0x20, 0x30, 0x40, 0x50}));

    // The positions are what count, not the length byte: a reply that says 2 but is 7 long
    // is still read.
    const Bytes oddLength{0x36, 0x02, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E};
    ASSERT_TRUE(DecodeGridFrame(oddLength.data(), oddLength.size(), byPorts));
    EXPECT_EQ(byPorts, (PortBytes{0x0A, 0x0B, 0x0C, 0x0D, 0x0E}));
}

TEST(NetFrames, ShortRepliesAndOtherCodesDrawNothing)
{
    const PortBytes kUntouched{0x5A, 0x5A, 0x5A, 0x5A, 0x5A};
    // One byte short of the last position read, and every shorter length.
    for (std::size_t nLength = 0; nLength < 7; ++nLength)
    {
        const Bytes reply = MakeFrame(0x36, 12);
        PortBytes byPorts = kUntouched;
        EXPECT_FALSE(DecodeGridFrame(reply.data(), nLength, byPorts)) << "0x36 of " << nLength;
        EXPECT_EQ(byPorts, kUntouched);
    }
    for (std::size_t nLength = 0; nLength < 11; ++nLength)
    {
        const Bytes reply = MakeFrame(0x38, 12);
        PortBytes byPorts = kUntouched;
        EXPECT_FALSE(DecodeGridFrame(reply.data(), nLength, byPorts)) << "0x38 of " << nLength;
        EXPECT_EQ(byPorts, kUntouched);
    }
    PortBytes byPorts = kUntouched;
    const Bytes exactPorts = MakeFrame(0x36, 7);
    EXPECT_TRUE(DecodeGridFrame(exactPorts.data(), exactPorts.size(), byPorts));
    const Bytes exactConfig = MakeFrame(0x38, 11);
    EXPECT_TRUE(DecodeGridFrame(exactConfig.data(), exactConfig.size(), byPorts));

    // Requests, the other replies and unknown codes are not drawn.
    for (std::uint8_t byCode : {0x00, 0x37, 0x39, 0x3C, 0x3D, 0xFF})
    {
        const Bytes frame = MakeFrame(byCode, 12);
        byPorts = kUntouched;
        EXPECT_FALSE(DecodeGridFrame(frame.data(), frame.size(), byPorts)) << int(byCode);
        EXPECT_EQ(byPorts, kUntouched);
    }
    EXPECT_FALSE(DecodeGridFrame(nullptr, 12, byPorts));
}

// --- Reassembly -------------------------------------------------------------------------

TEST(FrameReceiver, AFrameInPiecesOf1And5And6IsHandedOverOnceComplete)
{
    CFrameReceiver receiver;
    EXPECT_TRUE(receiver.IsBetweenFrames());
    const Bytes frame = MakeFrame(0x36, 12);

    EXPECT_TRUE(FeedInPieces(receiver, Bytes(frame.begin(), frame.begin() + 1), {1}).empty());
    EXPECT_EQ(receiver.Received(), 1);
    EXPECT_EQ(receiver.Wanted(), 1); // of the header
    EXPECT_EQ(receiver.Capacity(), 2);

    EXPECT_TRUE(FeedInPieces(receiver, Bytes(frame.begin() + 1, frame.begin() + 6), {5}).empty());
    EXPECT_EQ(receiver.Received(), 6);
    EXPECT_EQ(receiver.Wanted(), 6); // of the whole frame
    EXPECT_EQ(receiver.Capacity(), 12);

    EXPECT_EQ(FeedInPieces(receiver, Bytes(frame.begin() + 6, frame.end()), {6}),
              (std::vector<std::string>{Hex(frame)}));
    EXPECT_TRUE(receiver.IsBetweenFrames());
    EXPECT_EQ(receiver.Received(), 0);
    EXPECT_EQ(receiver.Capacity(), 0);
}

TEST(FrameReceiver, SeveralFramesInOnePieceComeInOrder)
{
    CFrameReceiver receiver;
    const Bytes first = MakeFrame(0x36, 12, 0x10);
    const Bytes second = MakeFrame(0x38, 12, 0x20);
    const Bytes third = MakeFrame(0x3C, 3, 0x30);
    EXPECT_EQ(FeedAll(receiver, Join({first, second, third})),
              (std::vector<std::string>{Hex(first), Hex(second), Hex(third)}));
    EXPECT_TRUE(receiver.IsBetweenFrames());

    // And the start of a fourth stays for the next piece.
    const Bytes fourth = MakeFrame(0x36, 12, 0x40);
    EXPECT_EQ(FeedAll(receiver, Join({first, Bytes(fourth.begin(), fourth.begin() + 4)})),
              (std::vector<std::string>{Hex(first)}));
    EXPECT_EQ(receiver.Received(), 4);
    EXPECT_EQ(FeedAll(receiver, Bytes(fourth.begin() + 4, fourth.end())),
              (std::vector<std::string>{Hex(fourth)}));
}

TEST(FrameReceiver, ATwoByteFrameIsHandedOverAsSoonAsItsHeaderIsIn)
{
    CFrameReceiver receiver;
    EXPECT_EQ(FeedAll(receiver, Bytes{0x36, 0x02}), (std::vector<std::string>{"36 02"}));
    EXPECT_TRUE(receiver.IsBetweenFrames());
    // Between other frames, and cut between its two bytes.
    const Bytes frame = MakeFrame(0x38, 12);
    EXPECT_EQ(
        FeedInPieces(receiver, Join({Bytes{0x41, 0x02}, frame, Bytes{0x42, 0x02}}), {1, 1, 13}),
        (std::vector<std::string>{"41 02", Hex(frame), "42 02"}));
}

TEST(FrameReceiver, LengthBytesBelowTwoAreDiscardedAndTheStreamGoesOn)
{
    CFrameReceiver receiver;
    const Bytes good = MakeFrame(0x36, 12);
    // Headers 36 00 and 38 01 describe no frame: both bytes of each go, the next byte starts
    // a new header.
    EXPECT_EQ(FeedAll(receiver, Join({Bytes{0x36, 0x00}, Bytes{0x38, 0x01}, good})),
              (std::vector<std::string>{Hex(good)}));
    EXPECT_EQ(receiver.DiscardedHeaders(), 2u);
    EXPECT_TRUE(receiver.IsBetweenFrames());

    // Also when the bad header is cut in two, and when it comes right after a good frame.
    EXPECT_EQ(FeedInPieces(receiver, Join({good, Bytes{0x36, 0x01}, good}), {13, 2}),
              (std::vector<std::string>{Hex(good), Hex(good)}));
    EXPECT_EQ(receiver.DiscardedHeaders(), 3u);

    // A run of zeros is a run of discarded headers, and holds nothing.
    EXPECT_TRUE(FeedAll(receiver, Bytes(1000, 0x00)).empty());
    EXPECT_EQ(receiver.DiscardedHeaders(), 503u);
    EXPECT_TRUE(receiver.IsBetweenFrames());
}

TEST(FrameReceiver, TheLongestFrameIs255BytesAndIsHeldAsLongAsItIs)
{
    CFrameReceiver receiver;
    const Bytes longest = MakeFrame(0x3C, 255);
    EXPECT_TRUE(FeedAll(receiver, Bytes(longest.begin(), longest.end() - 1)).empty());
    EXPECT_EQ(receiver.Capacity(), 255);
    EXPECT_EQ(FeedAll(receiver, Bytes{longest.back()}), (std::vector<std::string>{Hex(longest)}));
}

TEST(FrameReceiver, AFrameHandlerCanStopTheFeedAndItGoesOnLater)
{
    CFrameReceiver receiver;
    const Bytes first = MakeFrame(0x36, 12, 0x10);
    const Bytes second = MakeFrame(0x36, 12, 0x20);
    const Bytes stream = Join({first, second});
    int nCalls = 0;
    const std::size_t nTaken = receiver.Feed(stream.data(), stream.size(),
                                             [&](const std::uint8_t*, int)
                                             {
                                                 ++nCalls;
                                                 return false;
                                             });
    EXPECT_EQ(nCalls, 1);
    EXPECT_EQ(nTaken, first.size());
    EXPECT_TRUE(receiver.IsBetweenFrames()); // the frame was released all the same
    EXPECT_EQ(FeedAll(receiver,
                      Bytes(stream.begin() + static_cast<std::ptrdiff_t>(nTaken), stream.end())),
              (std::vector<std::string>{Hex(second)}));
}

TEST(FrameReceiver, HowTheStreamIsCutChangesNothing)
{
    // A stream of good frames of every length, bad headers, short replies and unknown codes,
    // with the frames it holds listed as it is built.
    std::mt19937 random(7);
    Bytes stream;
    std::vector<std::string> expected;
    for (int i = 0; i < 400; ++i)
    {
        const unsigned nKind = random() % 4;
        if (nKind == 0)
        {
            const Bytes bad{static_cast<std::uint8_t>(random()),
                            static_cast<std::uint8_t>(random() % 2)};
            stream.insert(stream.end(), bad.begin(), bad.end());
            continue;
        }
        const std::size_t nLength = nKind == 1 ? 12 : 2 + random() % 254;
        const std::uint8_t byCode = nKind == 3 ? static_cast<std::uint8_t>(random()) : 0x36;
        const Bytes frame = MakeFrame(byCode, nLength, static_cast<std::uint8_t>(random()));
        stream.insert(stream.end(), frame.begin(), frame.end());
        expected.push_back(Hex(frame));
    }

    CFrameReceiver whole;
    EXPECT_EQ(FeedAll(whole, stream), expected);

    CFrameReceiver byteByByte;
    EXPECT_EQ(FeedInPieces(byteByByte, stream, std::vector<std::size_t>(stream.size(), 1)),
              expected);

    for (int nRound = 0; nRound < 20; ++nRound)
    {
        std::vector<std::size_t> pieces;
        for (std::size_t nCut = 0; nCut < stream.size();)
        {
            pieces.push_back(1 + random() % 300);
            nCut += pieces.back();
        }
        CFrameReceiver cut;
        EXPECT_EQ(FeedInPieces(cut, stream, pieces), expected) << "round " << nRound;
        EXPECT_TRUE(cut.IsBetweenFrames());
    }
}
