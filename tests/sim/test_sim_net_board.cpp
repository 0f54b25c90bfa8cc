// The network board: frames in any fragments, replies of the request's layout, a frame it
// cannot read on drops the client, the next client is served.
#include "sim/SimNetBoard.h"
#include "tests/support/HexText.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{
class CClient
{
public:
    explicit CClient(std::uint16_t nPort) : m_hSocket(::socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(nPort);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_bConnected =
            ::connect(m_hSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~CClient() { ::close(m_hSocket); }
    bool Connected() const { return m_bConnected; }
    void Send(std::vector<std::uint8_t> bytes)
    {
        ASSERT_EQ(::send(m_hSocket, bytes.data(), bytes.size(), 0), ssize_t(bytes.size()));
    }
    // Up to nLength bytes within a second, as trace text; "closed" when the board hung up.
    std::string Receive(std::size_t nLength)
    {
        std::vector<std::uint8_t> bytes;
        while (bytes.size() < nLength)
        {
            pollfd fd{m_hSocket, POLLIN, 0};
            if (::poll(&fd, 1, 1000) <= 0)
                break;
            std::uint8_t by[64];
            const ssize_t n = ::recv(m_hSocket, by, std::min(sizeof by, nLength - bytes.size()), 0);
            if (n <= 0)
                return "closed";
            bytes.insert(bytes.end(), by, by + n);
        }
        return HexText(bytes.data(), bytes.size());
    }

private:
    int m_hSocket;
    bool m_bConnected = false;
};
} // namespace

TEST(SimNetBoard, AnswersReadsAndAppliesWritesInFrames)
{
    CSimNetBoard board("127.0.0.1", 0);
    ASSERT_TRUE(board.IsListening()) << board.Error();
    board.SetInputs(PORT_A, 0x0A);
    CClient client(board.Port());
    ASSERT_TRUE(client.Connected());
    // Directions of A at byte 2 (low nibble inputs), inversion of A at byte 3, analog count 2.
    client.Send({0x39, 0x0C, 0x0F, 0x01, 0, 0, 0, 0, 0, 0, 0xFF, 0x02});
    // write-ports in three fragments
    client.Send({0x37});
    client.Send({0x0C, 0x50, 0x02});
    client.Send({0x03, 0x04, 0x05, 0, 0, 0, 0, 0});
    client.Send({0x36, 0x0C, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(client.Receive(12), "36 0c 5b 02 03 04 00 00 00 00 00 00");
    client.Send({0x38, 0x0C, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(client.Receive(12), "38 0c 0f 01 00 00 00 00 00 00 ff 02");
    // A code it does not handle is taken and left unanswered.
    client.Send({0x3C, 0x0C, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(client.Receive(12), "");
    EXPECT_EQ(board.Frames().size(), 5u);
}

TEST(SimNetBoard, AFrameShorterThanItsHeaderDropsTheClientOnly)
{
    CSimNetBoard board("127.0.0.1", 0);
    ASSERT_TRUE(board.IsListening());
    {
        CClient bad(board.Port());
        bad.Send({0x36, 0x01, 0x36, 0x0C});
        EXPECT_EQ(bad.Receive(12), "closed");
    }
    CClient good(board.Port());
    good.Send({0x36, 0x02});
    EXPECT_EQ(good.Receive(12), "36 0c 00 00 00 00 00 00 00 00 00 00")
        << "a 2-byte frame is a whole frame";
}
