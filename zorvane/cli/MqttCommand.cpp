// zorvane mqtt [OPTIONS] [TARGET...]: the boards on an MQTT broker, until Ctrl-C or SIGTERM.
#include "zorvane/cli/Commands.h"
#include "zorvane/cli/MqttGateway.h"
#include "zorvane/cli/PortText.h"
#include "zorvane/cli/StopSignal.h"

#include "protocol/net/HostPort.h"

#include <cstdio>
#include <fstream>
#include <sys/stat.h>

namespace
{
void ParseBroker(const std::string& strText, SMqttConnection& connection)
{
    SHostPort address;
    if (!ParseHostPort(strText, address))
        throw CUsageError("'" + strText + "' is no HOST[:PORT] (PORT 1 to 65535)");
    connection.strHost = address.strHost;
    if (address.nPort != 0)
        connection.nPort = address.nPort;
}

// The first line of a file that only its owner and group may read.
std::string ReadPassword(const std::string& strPath)
{
    struct stat info{};
    if (::stat(strPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        throw std::runtime_error("cannot read the password file " + strPath);
    if (info.st_mode & (S_IROTH | S_IWOTH))
        throw std::runtime_error("the password file " + strPath +
                                 " may be read by others: make it chmod 600 (or 640)");
    std::ifstream file(strPath);
    std::string strPassword;
    if (!file || !std::getline(file, strPassword))
        throw std::runtime_error("cannot read the password file " + strPath);
    if (!strPassword.empty() && strPassword.back() == '\r')
        strPassword.pop_back();
    return strPassword;
}

std::string TopicBase(const std::string& strText)
{
    if (strText.empty() || strText.front() == '/' || strText.back() == '/' ||
        strText.find_first_of("+#") != std::string::npos)
        throw CUsageError("'" + strText + "' is no topic base (no wildcards, no '/' at its ends)");
    return strText;
}
} // namespace

int RunMqtt(const CToolArgs& args)
{
    SMqttOptions options;
    ParseBroker(args.Value("broker", "localhost:1883"), options.conBroker);
    options.conBroker.strClientId = args.Value("client-id", "");
    options.conBroker.nKeepalive =
        static_cast<int>(ParseNumber(args.Value("keepalive", "60"), 65535, "keepalive"));
    if (options.conBroker.nKeepalive < 5)
        throw CUsageError("the keepalive must be at least 5 seconds");
    options.conBroker.strUsername = args.Value("username", "");
    options.conBroker.strTlsCa = args.Value("tls-ca", "");
    options.conBroker.strTlsCert = args.Value("tls-cert", "");
    options.conBroker.strTlsKey = args.Value("tls-key", "");
    if (options.conBroker.strTlsCert.empty() != options.conBroker.strTlsKey.empty() ||
        (!options.conBroker.strTlsCert.empty() && options.conBroker.strTlsCa.empty()))
        throw CUsageError("--tls-cert and --tls-key go together, and with --tls-ca");
    if (args.Has("password-file") && options.conBroker.strUsername.empty())
        throw CUsageError("--password-file needs --username");
    options.strBase = TopicBase(args.Value("topic", DefaultMqttBase()));
    options.strDiscoveryPrefix =
        args.Has("no-discovery") ? "" : TopicBase(args.Value("discovery-prefix", "homeassistant"));
    options.tInterval =
        std::chrono::milliseconds(ParseNumber(args.Value("interval", "100"), 3600000, "interval"));
    if (options.tInterval.count() < 10)
        throw CUsageError("the interval must be at least 10 ms");
    options.vecTargets = args.Operands();

    try
    {
        if (args.Has("password-file"))
            options.conBroker.strPassword = ReadPassword(args.Value("password-file", ""));
    }
    catch (const std::runtime_error& error)
    {
        return Fail("%s", error.what());
    }

    CStopSignal stop;
    CMqttGateway gateway(options);
    std::printf("publishing under %s on %s:%d\n", options.strBase.c_str(),
                options.conBroker.strHost.c_str(), options.conBroker.nPort);
    std::fflush(stdout);
    if (!gateway.Run(stop.Handle()))
        return Fail("mqtt: %s", gateway.Error().c_str());
    return 0;
}
