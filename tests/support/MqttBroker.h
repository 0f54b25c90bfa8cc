#pragma once
// A Mosquitto broker of the test's own on a free loopback port, without persistence, and a
// client that records every message it receives. Start and Stop may be repeated; the port
// stays the same.
//
//     CMqttBroker broker;
//     CMqttRecorder recorder(broker.Port(), "kelvard/#");
//     ASSERT_TRUE(recorder.WaitFor("kelvard/t/status", "online"));
#include "tests/support/TempDir.h"

#include <mosquitto.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <fstream>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

class CMqttBroker
{
public:
    CMqttBroker()
    {
        // A port nobody listens on now: bind to 0 and give it back.
        const int hSocket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = Address();
        socklen_t nSize = sizeof address;
        bind(hSocket, reinterpret_cast<sockaddr*>(&address), nSize);
        getsockname(hSocket, reinterpret_cast<sockaddr*>(&address), &nSize);
        m_nPort = ntohs(address.sin_port);
        close(hSocket);
        std::ofstream(m_strConfig)
            << "listener " << m_nPort << " 127.0.0.1\nallow_anonymous true\npersistence false\n"
            << "log_dest none\nset_tcp_nodelay true\n";
        Start();
    }
    ~CMqttBroker() { Stop(); }
    CMqttBroker(const CMqttBroker&) = delete;
    CMqttBroker& operator=(const CMqttBroker&) = delete;

    int Port() const { return m_nPort; }
    // Starts the broker and waits until it accepts connections; false when it did not.
    bool Start()
    {
        char* argv[] = {const_cast<char*>("mosquitto"), const_cast<char*>("-c"),
                        m_strConfig.data(), nullptr};
        if (posix_spawnp(&m_pid, "mosquitto", nullptr, nullptr, argv, environ) != 0)
            return false;
        for (int i = 0; i < 500; ++i)
        {
            const int hSocket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const sockaddr_in address = Address(m_nPort);
            const int nError = connect(hSocket, reinterpret_cast<const sockaddr*>(&address),
                                       sizeof address);
            close(hSocket);
            if (nError == 0)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    void Stop()
    {
        if (m_pid > 0 && kill(m_pid, SIGTERM) == 0)
            waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    static sockaddr_in Address(int nPort = 0)
    {
        return {AF_INET, htons(std::uint16_t(nPort)), {htonl(INADDR_LOOPBACK)}, {}};
    }

    CTempDir m_dir;
    std::string m_strConfig = m_dir.File("mosquitto.conf");
    int m_nPort = 0;
    pid_t m_pid = -1;
};

class CMqttRecorder
{
public:
    struct SMessage
    {
        std::string strTopic;
        std::string strPayload;
        bool bRetained;
        std::chrono::steady_clock::time_point tArrived;
    };
    using Payloads = std::map<std::string, std::string>;

    CMqttRecorder(int nPort, const std::string& strPattern)
    {
        mosquitto_lib_init();
        m_pClient = mosquitto_new(nullptr, true, this);
        mosquitto_message_callback_set(m_pClient, [](mosquitto*, void* pSelf,
                                                     const mosquitto_message* pMessage) {
            auto* pRecorder = static_cast<CMqttRecorder*>(pSelf);
            std::lock_guard lock(pRecorder->m_mtxMessages);
            pRecorder->m_vecMessages.push_back(
                {pMessage->topic,
                 std::string(static_cast<const char*>(pMessage->payload),
                             static_cast<std::size_t>(pMessage->payloadlen)),
                 pMessage->retain, std::chrono::steady_clock::now()});
            pRecorder->m_cvMessage.notify_all();
        });
        mosquitto_int_option(m_pClient, MOSQ_OPT_TCP_NODELAY, 1);
        mosquitto_connect(m_pClient, "127.0.0.1", nPort, 60);
        mosquitto_subscribe(m_pClient, nullptr, strPattern.c_str(), 1);
        mosquitto_loop_start(m_pClient);
    }
    ~CMqttRecorder()
    {
        // The loop ends on its own after the disconnect: a cancelled loop thread would leak the
        // message it was reading.
        mosquitto_disconnect(m_pClient);
        mosquitto_loop_stop(m_pClient, false);
        mosquitto_destroy(m_pClient);
    }
    CMqttRecorder(const CMqttRecorder&) = delete;
    CMqttRecorder& operator=(const CMqttRecorder&) = delete;

    void Publish(const std::string& strTopic, const std::string& strPayload)
    {
        mosquitto_publish(m_pClient, nullptr, strTopic.c_str(), static_cast<int>(strPayload.size()),
                          strPayload.data(), 1, false);
    }
    // Waits (up to 10 s) until a message with this topic and payload has arrived since the last
    // Clear; true when one did.
    bool WaitFor(const std::string& strTopic, const std::string& strPayload,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        auto fnSought = [&](const SMessage& message)
        { return message.strTopic == strTopic && message.strPayload == strPayload; };
        return Wait(timeout, [&](const std::vector<SMessage>& messages)
                    { return std::any_of(messages.begin(), messages.end(), fnSought); });
    }
    // Waits until the last payload of each topic satisfy fnDone; false when they did not in time.
    template <typename F>
    bool WaitUntil(F&& fnDone, std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        return Wait(timeout, [&](const std::vector<SMessage>& messages)
                    { return fnDone(Latest(messages)); });
    }
    // The last payload of each topic received so far.
    Payloads Latest() { return Latest(Messages()); }
    std::vector<SMessage> Messages()
    {
        std::lock_guard lock(m_mtxMessages);
        return m_vecMessages;
    }
    void Clear()
    {
        std::lock_guard lock(m_mtxMessages);
        m_vecMessages.clear();
    }

private:
    template <typename F>
    bool Wait(std::chrono::milliseconds timeout, F&& fnDone)
    {
        std::unique_lock lock(m_mtxMessages);
        return m_cvMessage.wait_for(lock, timeout, [&] { return fnDone(m_vecMessages); });
    }
    static Payloads Latest(const std::vector<SMessage>& messages)
    {
        Payloads latest;
        for (const SMessage& message : messages)
            latest[message.strTopic] = message.strPayload;
        return latest;
    }

    mosquitto* m_pClient = nullptr;
    std::mutex m_mtxMessages;
    std::condition_variable m_cvMessage;
    std::vector<SMessage> m_vecMessages;
};
