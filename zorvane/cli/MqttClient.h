#pragma once
// The gateway's connection to the broker, over the Eclipse Mosquitto client library: one client
// whose network loop runs on a thread of the library's own and reconnects by itself with backoff
// (1 s doubling up to 30 s), whether the broker was down at start or went away later. Every
// connection subscribes to the connection's patterns; once the broker has acknowledged them the
// connection is ready, and only then do publications of other threads reach it (before, the
// library may drop them). Publishing is allowed from any thread. The callbacks run on the loop's
// thread.
#include <functional>
#include <string>
#include <vector>

struct mosquitto;
struct mosquitto_message;

struct SMqttConnection
{
    std::string strHost = "localhost";
    int nPort = 1883;
    std::string strClientId; // "" : the library makes one
    int nKeepalive = 60;     // seconds
    std::string strUsername;
    std::string strPassword;
    std::string strTlsCa; // "" : no TLS
    std::string strTlsCert;
    std::string strTlsKey;
    std::string strWillTopic; // published "offline", retained, when the connection is lost
    std::vector<std::string> vecSubscriptions;
};

class CMqttClient
{
public:
    // The connection is ready: subscribed, and publishing reaches the broker.
    using ConnectHandler = std::function<void()>;
    using MessageHandler = std::function<void(const std::string& strTopic, const std::string& strPayload)>;

    CMqttClient(ConnectHandler onConnect, MessageHandler onMessage);
    ~CMqttClient();
    CMqttClient(const CMqttClient&) = delete;
    CMqttClient& operator=(const CMqttClient&) = delete;

    // Sets the client up and starts connecting; false, with strError saying why, for settings
    // the library refuses (a TLS file it cannot read). A broker that does not answer is no error.
    bool Start(const SMqttConnection& connection, std::string& strError);
    // QoS 1. False when the message could not even be queued (out of memory, too long).
    bool Publish(const std::string& strTopic, const std::string& strPayload, bool bRetain);
    // Publishes "offline" on the will's topic, disconnects and stops the loop.
    void Stop();

private:
    static void OnConnect(mosquitto* pClient, void* pSelf, int nResult);
    static void OnDisconnect(mosquitto* pClient, void* pSelf, int nResult);
    static void OnSubscribe(mosquitto* pClient, void* pSelf, int nMid, int nCount,
                            const int* pnGranted);
    static void OnMessage(mosquitto* pClient, void* pSelf, const mosquitto_message* pMessage);

    ConnectHandler m_fnConnect;
    MessageHandler m_fnMessage;
    SMqttConnection m_conBroker;
    mosquitto* m_pClient = nullptr;
    bool m_bLooping = false;
    int m_nSubscribeMid = -1; // of the subscription this connection made
};
