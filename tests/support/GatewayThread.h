#pragma once
// The MQTT gateway on a thread of its own, on the process's default context, polling every
// 100 ms, stopped as by Ctrl-C when the object goes.
#include "zorvane/cli/MqttGateway.h"

#include <thread>
#include <unistd.h>

class CGatewayThread
{
public:
    CGatewayThread(int nBrokerPort, const std::string& strBase)
        : m_gateway([&] {
              SMqttOptions options;
              options.conBroker.strHost = "127.0.0.1";
              options.conBroker.nPort = nBrokerPort;
              options.strBase = strBase;
              return options;
          }())
    {
        if (pipe(m_hStop) == 0)
            m_thread = std::thread([this] { m_gateway.Run(m_hStop[0]); });
    }
    ~CGatewayThread()
    {
        [[maybe_unused]] const ssize_t nWritten = write(m_hStop[1], "x", 1);
        m_thread.join();
        close(m_hStop[0]);
        close(m_hStop[1]);
    }
    CGatewayThread(const CGatewayThread&) = delete;
    CGatewayThread& operator=(const CGatewayThread&) = delete;

private:
    CMqttGateway m_gateway;
    int m_hStop[2] = {-1, -1};
    std::thread m_thread;
};
