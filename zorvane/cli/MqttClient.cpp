#include "zorvane/cli/MqttClient.h"

#include "protocol/DebugOutput.h"

#include <mosquitto.h>

#include <cstdio>
#include <mutex>

namespace
{
constexpr int QOS = 1;
constexpr unsigned RECONNECT_FIRST_S = 1;
constexpr unsigned RECONNECT_MAX_S = 30;
constexpr char OFFLINE[] = "offline";

// The library is set up once per process and never cleaned up: other threads may still be in
// it when a gateway ends.
void InitLibrary()
{
    static std::once_flag s_once;
    std::call_once(s_once, [] { mosquitto_lib_init(); });
}

void Log(const std::string& strLine)
{
    std::fprintf(stderr, "zorvane: mqtt: %s\n", strLine.c_str());
    DebugOutput(("mqtt: " + strLine).c_str());
}
} // namespace

CMqttClient::CMqttClient(ConnectHandler onConnect, MessageHandler onMessage)
    : m_fnConnect(std::move(onConnect)), m_fnMessage(std::move(onMessage))
{
    InitLibrary();
}

CMqttClient::~CMqttClient()
{
    Stop();
    if (m_pClient)
        mosquitto_destroy(m_pClient);
}

bool CMqttClient::Start(const SMqttConnection& connection, std::string& strError)
{
    m_conBroker = connection;
    m_pClient = mosquitto_new(connection.strClientId.empty() ? nullptr : connection.strClientId.c_str(),
                              true, this);
    if (!m_pClient)
    {
        strError = "cannot make an MQTT client";
        return false;
    }
    mosquitto_int_option(m_pClient, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_int_option(m_pClient, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_callback_set(m_pClient, OnConnect);
    mosquitto_disconnect_callback_set(m_pClient, OnDisconnect);
    mosquitto_subscribe_callback_set(m_pClient, OnSubscribe);
    mosquitto_message_callback_set(m_pClient, OnMessage);
    mosquitto_reconnect_delay_set(m_pClient, RECONNECT_FIRST_S, RECONNECT_MAX_S, true);
    // Unlimited: a burst of commands and the states they publish are never dropped.
    mosquitto_max_inflight_messages_set(m_pClient, 0);
    int nResult = MOSQ_ERR_SUCCESS;
    if (!connection.strWillTopic.empty())
        nResult = mosquitto_will_set(m_pClient, connection.strWillTopic.c_str(),
                                     sizeof OFFLINE - 1, OFFLINE, QOS, true);
    if (nResult == MOSQ_ERR_SUCCESS && !connection.strUsername.empty())
        nResult = mosquitto_username_pw_set(
            m_pClient, connection.strUsername.c_str(),
            connection.strPassword.empty() ? nullptr : connection.strPassword.c_str());
    if (nResult == MOSQ_ERR_SUCCESS && !connection.strTlsCa.empty())
        nResult = mosquitto_tls_set(
            m_pClient, connection.strTlsCa.c_str(), nullptr,
            connection.strTlsCert.empty() ? nullptr : connection.strTlsCert.c_str(),
            connection.strTlsKey.empty() ? nullptr : connection.strTlsKey.c_str(), nullptr);
    if (nResult != MOSQ_ERR_SUCCESS)
    {
        strError = mosquitto_strerror(nResult);
        return false;
    }
    // A broker that is not there yet is tried again by the loop, as after any lost connection.
    nResult = mosquitto_connect_async(m_pClient, connection.strHost.c_str(), connection.nPort,
                                      connection.nKeepalive);
    if (nResult != MOSQ_ERR_SUCCESS)
        Log("cannot connect to " + connection.strHost + ":" + std::to_string(connection.nPort) +
            " yet: " + mosquitto_strerror(nResult) + "; trying again");
    nResult = mosquitto_loop_start(m_pClient);
    if (nResult != MOSQ_ERR_SUCCESS)
    {
        strError = mosquitto_strerror(nResult);
        return false;
    }
    m_bLooping = true;
    return true;
}

bool CMqttClient::Publish(const std::string& strTopic, const std::string& strPayload, bool bRetain)
{
    const int nResult =
        mosquitto_publish(m_pClient, nullptr, strTopic.c_str(), static_cast<int>(strPayload.size()),
                          strPayload.data(), QOS, bRetain);
    // Queued while the broker is away: the loop sends it once connected.
    return nResult == MOSQ_ERR_SUCCESS || nResult == MOSQ_ERR_NO_CONN;
}

void CMqttClient::Stop()
{
    if (!m_bLooping)
        return;
    m_bLooping = false;
    if (!m_conBroker.strWillTopic.empty())
        Publish(m_conBroker.strWillTopic, OFFLINE, true);
    mosquitto_disconnect(m_pClient);
    mosquitto_loop_stop(m_pClient, false);
}

void CMqttClient::OnConnect(mosquitto*, void* pSelf, int nResult)
{
    auto* pClient = static_cast<CMqttClient*>(pSelf);
    const std::string strBroker =
        pClient->m_conBroker.strHost + ":" + std::to_string(pClient->m_conBroker.nPort);
    if (nResult != 0)
    {
        Log("the broker at " + strBroker + " refused the connection: " +
            mosquitto_connack_string(nResult));
        return;
    }
    Log("connected to " + strBroker);
    std::vector<char*> vecPatterns;
    for (std::string& strPattern : pClient->m_conBroker.vecSubscriptions)
        vecPatterns.push_back(strPattern.data());
    if (vecPatterns.empty() ||
        mosquitto_subscribe_multiple(pClient->m_pClient, &pClient->m_nSubscribeMid,
                                     static_cast<int>(vecPatterns.size()), vecPatterns.data(), QOS,
                                     0, nullptr) != MOSQ_ERR_SUCCESS)
        pClient->m_fnConnect();
}

void CMqttClient::OnSubscribe(mosquitto*, void* pSelf, int nMid, int, const int*)
{
    auto* pClient = static_cast<CMqttClient*>(pSelf);
    if (nMid == pClient->m_nSubscribeMid)
        pClient->m_fnConnect();
}

void CMqttClient::OnDisconnect(mosquitto*, void* pSelf, int nResult)
{
    auto* pClient = static_cast<CMqttClient*>(pSelf);
    if (nResult != 0)
        Log("lost the connection to " + pClient->m_conBroker.strHost + ":" +
            std::to_string(pClient->m_conBroker.nPort) + "; reconnecting");
}

void CMqttClient::OnMessage(mosquitto*, void* pSelf, const mosquitto_message* pMessage)
{
    auto* pClient = static_cast<CMqttClient*>(pSelf);
    pClient->m_fnMessage(pMessage->topic,
                         std::string(static_cast<const char*>(pMessage->payload),
                                     static_cast<std::size_t>(pMessage->payloadlen)));
}
