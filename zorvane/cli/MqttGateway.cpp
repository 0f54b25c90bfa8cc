#include "zorvane/cli/MqttGateway.h"

#include "zorvane/cli/MqttDiscovery.h"

#include "protocol/DebugOutput.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace
{
using Clock = std::chrono::steady_clock;

// The configuration is read every this many polls: directions set by another program show.
constexpr std::uint64_t CONFIG_EVERY = 10;
// Boards named but absent (COM ports and tcp: boards have no plug events) are tried this often.
constexpr auto RETRY_ABSENT = std::chrono::seconds(5);

void Log(const std::string& strLine)
{
    std::fprintf(stderr, "zorvane: mqtt: %s\n", strLine.c_str());
}

void Drain(int hFd)
{
    std::uint64_t nCount = 0;
    [[maybe_unused]] const ssize_t nRead = ::read(hFd, &nCount, sizeof nCount);
}
} // namespace

std::string DefaultMqttBase()
{
    char szHost[256] = "";
    ::gethostname(szHost, sizeof szHost - 1);
    std::string strHost = *szHost ? szHost : "localhost";
    std::replace_if(strHost.begin(), strHost.end(),
                    [](unsigned char c) { return !std::isalnum(c) && c != '-' && c != '_' && c != '.'; },
                    '_');
    return "kelvard/" + strHost;
}

CMqttGateway::CMqttGateway(SMqttOptions options)
    : m_optGateway(std::move(options)),
      m_cliBroker([this] { OnConnect(); },
                  [this](const std::string& strTopic, const std::string& strPayload) {
                      OnMessage(strTopic, strPayload);
                  })
{
    m_optGateway.conBroker.strWillTopic = m_optGateway.strBase + "/status";
    m_optGateway.conBroker.vecSubscriptions = {m_optGateway.strBase + "/+/+/set",
                                               m_optGateway.strBase + "/+/+/direction/set"};
    m_hWake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

CMqttGateway::~CMqttGateway()
{
    m_cliBroker.Stop();
    if (m_hWake >= 0)
        ::close(m_hWake);
}

void CMqttGateway::Wake()
{
    const std::uint64_t nOne = 1;
    [[maybe_unused]] const ssize_t nWritten = ::write(m_hWake, &nOne, sizeof nOne);
}

void CMqttGateway::OnConnect()
{
    m_bRepublish = true;
    Wake();
}

void CMqttGateway::OnMessage(const std::string& strTopic, const std::string& strPayload)
{
    const std::string strPrefix = m_optGateway.strBase + "/";
    if (strTopic.rfind(strPrefix, 0) != 0)
        return;
    const std::string strRest = strTopic.substr(strPrefix.size());
    const std::size_t nSlash = strRest.find('/');
    {
        std::lock_guard lock(m_mtxCommands);
        m_dqCommands.push_back({strRest.substr(0, nSlash), strRest.substr(nSlash + 1), strPayload});
    }
    Wake();
}

bool CMqttGateway::Run(int hStop)
{
    if (m_hWake < 0)
    {
        m_strError = "cannot make an eventfd";
        return false;
    }
    kelvard_watch* pWatch = nullptr;
    if (kelvard_watch_new(&pWatch) != KELVARD_OK)
        pWatch = nullptr;
    std::unique_ptr<kelvard_watch, void (*)(kelvard_watch*)> pOwnedWatch(pWatch, kelvard_watch_free);
    for (const std::string& strTarget : m_optGateway.vecTargets)
        m_vecBoards.push_back(std::make_unique<CMqttBoard>(strTarget));
    FindBoards();
    if (!m_cliBroker.Start(m_optGateway.conBroker, m_strError))
        return false;

    auto due = Clock::now();
    auto retry = Clock::now() + RETRY_ABSENT;
    while (true)
    {
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now());
        pollfd fds[] = {{hStop, POLLIN, 0}, {m_hWake, POLLIN, 0},
                        {pWatch ? kelvard_watch_fd(pWatch) : -1, POLLIN, 0}};
        ::poll(fds, 3, static_cast<int>(std::max<long long>(wait.count(), 0)));
        if (fds[0].revents)
            break;
        if (fds[2].revents & POLLIN)
        {
            kelvard_event eEvent{};
            while (kelvard_watch_read(pWatch, &eEvent) == KELVARD_OK)
            {
            }
            FindBoards();
        }
        if (fds[1].revents & POLLIN)
        {
            Drain(m_hWake);
            if (m_bRepublish.exchange(false))
                Republish();
            TakeCommands();
        }
        const auto now = Clock::now();
        // Named boards, and every board where plugging cannot be watched, are looked for now
        // and then; otherwise a plug event says when.
        if (now >= retry && (!m_optGateway.vecTargets.empty() || !pWatch))
        {
            FindBoards();
            retry = now + RETRY_ABSENT;
        }
        if (now >= due)
        {
            PollBoards(++m_nPolls % CONFIG_EVERY == 0);
            // A late round moves the schedule on instead of catching up in a burst.
            due = std::max(due + m_optGateway.tInterval, now);
        }
    }
    m_cliBroker.Stop();
    return true;
}

CMqttBoard* CMqttGateway::FindBoard(const std::string& strName)
{
    for (const auto& pBoard : m_vecBoards)
        if (!pBoard->Name().empty() && pBoard->Name() == strName)
            return pBoard.get();
    return nullptr;
}

void CMqttGateway::FindBoards()
{
    if (!m_optGateway.vecTargets.empty())
    {
        for (const auto& pBoard : m_vecBoards)
            if (!pBoard->IsOpen() && pBoard->Open() == KELVARD_OK)
                Online(*pBoard);
        return;
    }
    // Every USB board in its application that none of ours holds.
    kelvard_list* pList = nullptr;
    if (kelvard_list_boards(&pList) != KELVARD_OK)
        return;
    for (std::size_t i = 0; i < kelvard_list_count(pList); ++i)
    {
        const kelvard_identity* pIdentity = kelvard_list_get(pList, i);
        const std::string strLocation = kelvard_identity_location(pIdentity);
        const bool bHeld = std::any_of(m_vecBoards.begin(), m_vecBoards.end(), [&](const auto& p) {
            return p->IsOpen() && p->Location() == strLocation;
        });
        if (!bHeld && kelvard_identity_open_result(pIdentity) == KELVARD_OK &&
            kelvard_identity_mode(pIdentity) == KELVARD_MODE_APPLICATION)
        {
            auto pBoard = std::make_unique<CMqttBoard>("path=" + strLocation);
            if (pBoard->Open() == KELVARD_OK)
                OpenBoard(std::move(pBoard));
        }
    }
    kelvard_list_free(pList);
}

void CMqttGateway::OpenBoard(std::unique_ptr<CMqttBoard> pBoard)
{
    CMqttBoard* pSame = FindBoard(pBoard->Name());
    if (pSame && pSame->IsOpen())
    {
        Log("board " + pBoard->Name() + " at " + pBoard->Location() +
            " has the name of another: left out");
        return;
    }
    CMqttBoard& board = *pBoard;
    // A board that comes back, wherever it was plugged in, takes its place again.
    const auto itPlace = std::find_if(m_vecBoards.begin(), m_vecBoards.end(),
                                      [&](const auto& p) { return p.get() == pSame; });
    if (pSame)
        *itPlace = std::move(pBoard);
    else
        m_vecBoards.push_back(std::move(pBoard));
    Online(board);
}

void CMqttGateway::Online(CMqttBoard& board)
{
    Log("board " + board.Name() + (board.Location().empty() ? "" : " at " + board.Location()) +
        " is online");
    Poll(board, true, true);
    PublishStatus(board);
    PublishDiscovery(board);
}

void CMqttGateway::PollBoards(bool bConfig)
{
    for (const auto& pBoard : m_vecBoards)
        if (pBoard->IsOpen())
            Poll(*pBoard, false, bConfig);
}

void CMqttGateway::Poll(CMqttBoard& board, bool bAll, bool bConfig)
{
    MqttMessages messages;
    bool bDirections = false;
    const int nResult = board.Poll(bAll, bConfig, 0, messages, bDirections);
    Publish(board, messages);
    if (bDirections)
        PublishDiscovery(board);
    if (nResult == KELVARD_ERR_GONE)
    {
        Log("board " + board.Name() + " is offline");
        PublishStatus(board);
    }
}

void CMqttGateway::Republish()
{
    m_cliBroker.Publish(m_optGateway.strBase + "/status", "online", true);
    for (const auto& pBoard : m_vecBoards)
    {
        if (pBoard->Name().empty())
            continue;
        PublishStatus(*pBoard);
        if (pBoard->IsOpen())
        {
            Poll(*pBoard, true, true);
            PublishDiscovery(*pBoard);
        }
    }
}

void CMqttGateway::TakeCommands()
{
    while (true)
    {
        SCommand command;
        {
            std::lock_guard lock(m_mtxCommands);
            if (m_dqCommands.empty())
                return;
            command = std::move(m_dqCommands.front());
            m_dqCommands.pop_front();
        }
        CMqttBoard* pBoard = FindBoard(command.strBoard);
        MqttMessages messages;
        bool bDirections = false;
        const std::string strWhy =
            pBoard ? pBoard->Apply(command.strCommand, command.strPayload, messages, bDirections)
                   : "no such board";
        const std::string strBoard = m_optGateway.strBase + "/" + command.strBoard;
        if (pBoard)
            Publish(*pBoard, messages);
        if (!strWhy.empty())
        {
            const std::string strLine = strBoard + "/" + command.strCommand + ": " + strWhy;
            DebugOutput(("mqtt: rejected " + strLine).c_str());
            m_cliBroker.Publish(strBoard + "/error", strLine, false);
        }
        if (pBoard && bDirections)
            PublishDiscovery(*pBoard);
        if (pBoard && !pBoard->IsOpen())
            PublishStatus(*pBoard);
    }
}

void CMqttGateway::Publish(const CMqttBoard& board, const MqttMessages& messages)
{
    const std::string strBoard = m_optGateway.strBase + "/" + board.Name() + "/";
    for (const SMqttMessage& message : messages)
        m_cliBroker.Publish(strBoard + message.strTopic, message.strPayload, message.bRetain);
}

void CMqttGateway::PublishStatus(const CMqttBoard& board)
{
    m_cliBroker.Publish(m_optGateway.strBase + "/" + board.Name() + "/status",
                        board.IsOpen() ? "online" : "offline", true);
}

void CMqttGateway::PublishDiscovery(const CMqttBoard& board)
{
    if (m_optGateway.strDiscoveryPrefix.empty())
        return;
    for (const SMqttMessage& message :
         DiscoveryMessages(board, m_optGateway.strBase, m_optGateway.strDiscoveryPrefix))
        m_cliBroker.Publish(message.strTopic, message.strPayload, true);
}
