// The soak's network part, a process of its own (the tool's classes and the library's share
// names, so one program cannot hold both): the tool's link to `kelvard-sim net` on the port
// given, for the seconds given. After each connection all pins become outputs, then the ports
// are written and read in turn, and every read's reply must carry the values written before it;
// every RECONNECT_EVERY the link waits for its last reply and starts over. Prints one line;
// exit status 0 when every frame was answered as it should be.
//
//     kelvard_soak_link PORT SECONDS

#include "protocol/net/Frames.h"
#include "tarvel/dialog/TarvelDlg.h"
#include "tarvel/net/ClientSocket.h"

#include "protocol/CommandSet.h"

#include <QApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace
{
constexpr auto RECONNECT_EVERY = 5s;
constexpr auto LINK_WAIT = 5s; // the longest a connection or its last replies may take

// A dialog that is never shown: only its link and the frames that come back.
class CSoakLink : public CTarvelDlg
{
public:
    explicit CSoakLink(quint16 nPort) : m_nPort(nPort) { Connect(); }

    void Tick()
    {
        const auto now = Clock::now();
        if (!m_pLink)
        {
            Fail("the network board closed the link");
            Connect();
        }
        else if (m_eState == Connecting && m_pLink->State() == QAbstractSocket::ConnectedState)
        {
            m_eState = Running;
            m_since = now;
            ++m_nExpected; // the link's own read-configuration once connected
            Send(BuildWriteDirectionsFrame({}), false);
        }
        else if (m_eState == Running && now - m_since >= RECONNECT_EVERY)
        {
            m_eState = Draining;
            m_since = now;
        }
        else if (m_eState == Running && m_nExpected - m_nReplies < 2)
        {
            ++m_byValue;
            Send(BuildWritePortsFrame({m_byValue, m_byValue, m_byValue, m_byValue, m_byValue}),
                 false);
            Send(BuildFrame(CMD_READ_PORTS), true);
            m_byAwaited.push_back(m_byValue);
        }
        else if (m_eState == Draining && m_nReplies == m_nExpected)
        {
            DropConnection();
            Connect();
        }
        else if (m_eState != Running && now - m_since > LINK_WAIT)
        {
            Fail(m_eState == Connecting ? "the link did not connect" : "replies went missing");
            DropConnection();
            Connect();
        }
    }

    void OnSocketFrame(const std::uint8_t* pFrame, int nLength, CClientSocket* /*pLink*/) override
    {
        ++m_nReplies;
        if (pFrame[0] != CMD_READ_PORTS)
            return;
        PortBytes byPorts{};
        if (m_byAwaited.empty() ||
            !DecodeGridFrame(pFrame, static_cast<std::size_t>(nLength), byPorts) ||
            byPorts != PortBytes{m_byAwaited.front(), m_byAwaited.front(), m_byAwaited.front(),
                                 m_byAwaited.front(), m_byAwaited.front()})
            Fail("a read-ports reply did not carry the values written");
        if (!m_byAwaited.empty())
            m_byAwaited.pop_front();
    }

    long Frames() const { return m_nFrames; }
    long Connections() const { return m_nConnections; }
    long Failures() const { return m_nFailures; }

private:
    enum EState
    {
        Connecting,
        Running,
        Draining
    };

    void Connect()
    {
        m_nExpected = m_nReplies = 0;
        m_byAwaited.clear();
        m_eState = Connecting;
        m_since = Clock::now();
        ++m_nConnections;
        m_pLink = new CClientSocket(this, this);
        m_pLink->Connect(QStringLiteral("127.0.0.1"), m_nPort);
    }

    void Send(NetFrame frame, bool bAnswered)
    {
        if (m_pLink->SendFrame(frame.data(), NET_FRAME_SIZE) != SOCKET_NO_ERROR)
            Fail("the link refused a frame");
        m_nExpected += bAnswered ? 1 : 0;
        ++m_nFrames;
    }

    void Fail(const char* pszWhat)
    {
        if (m_nFailures++ < 10)
            std::fprintf(stderr, "soak: network: %s\n", pszWhat);
    }

    quint16 m_nPort;
    EState m_eState = Connecting;
    Clock::time_point m_since;
    long m_nExpected = 0;
    long m_nReplies = 0;
    long m_nFrames = 0;
    long m_nConnections = 0;
    long m_nFailures = 0;
    std::uint8_t m_byValue = 0;
    std::deque<std::uint8_t> m_byAwaited; // what each read sent and not yet answered must show
};
} // namespace

int main(int argc, char** argv)
{
    const long nPort = argc == 3 ? std::strtol(argv[1], nullptr, 10) : 0;
    const long nSeconds = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 0;
    if (nPort < 1 || nPort > 65535 || nSeconds < 1)
    {
        std::fputs("usage: kelvard_soak_link PORT SECONDS\n", stderr);
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    CSoakLink link(static_cast<quint16>(nPort));
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &link, [&] { link.Tick(); });
    tick.start(1);
    QTimer::singleShot(std::chrono::seconds(nSeconds), &app, &QApplication::quit);
    app.exec();
    link.DropConnection();
    std::printf("%ld network frames over %ld connections, %ld failures\n", link.Frames(),
                link.Connections(), link.Failures());
    return link.Failures() == 0 ? 0 : 1;
}
