// The MQTT gateway on a broker of its own on loopback, with boards on the simulated bus (zero
// latency): the processor time of 32 boards polled at the default interval (target: at most 5 %
// of one core), the time from a pin's change to a subscriber (interval + 5 ms, median and 99th
// percentile), from a set command's publication to the board (5 ms, median), and 10,000 set
// commands in a burst, applied in order with the last state published equal to the last command.
#include "tests/support/GatewayThread.h"
#include "tests/support/MqttBroker.h"
#include "tests/support/SimFixture.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace
{
const std::string BASE = "kelvard/bench";

double CpuSeconds()
{
    timespec time{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &time);
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) * 1e-9;
}

double Ms(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

double Percentile(std::vector<double> values, double dShare)
{
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(dShare * static_cast<double>(values.size() - 1))];
}

} // namespace

int main()
{
    CSimFixture sim;
    sim.Bus().CaptureTrace(false);
    CDriverContext::SetDefault(sim.Context());
    std::vector<std::shared_ptr<CSimBoard>> boards;
    for (int i = 0; i < 32; ++i)
        boards.push_back(sim.Plug(SimBoardConfig().Id(static_cast<std::uint8_t>(i + 1))));
    CMqttBroker broker;
    CMqttRecorder recorder(broker.Port(), BASE + "/#");
    CGatewayThread gateway(broker.Port(), BASE);
    if (!recorder.WaitFor(BASE + "/id32/E/direction", "255", 30s))
    {
        std::fprintf(stderr, "bench_mqtt: the gateway did not publish the boards\n");
        return 1;
    }

    // Processor time of the whole process (gateway, client, simulated bus) while idle.
    std::this_thread::sleep_for(1s);
    const double dCpu = CpuSeconds();
    const auto tStart = Clock::now();
    std::this_thread::sleep_for(5s);
    const double dShare =
        (CpuSeconds() - dCpu) / std::chrono::duration<double>(Clock::now() - tStart).count();
    std::printf("32 boards, 100 ms interval      %6.2f %% of one core   (target <= 5 %%)\n",
                dShare * 100);

    // A pin's change, at any moment of the interval, to the subscriber.
    std::vector<double> vecChange;
    for (int i = 1; i <= 60; ++i)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(37 * i % 100));
        const std::string strLevel = i % 2 ? "1" : "0";
        recorder.Clear();
        const auto tChange = Clock::now();
        boards[0]->SetInputs(PORT_A, i % 2 ? 0x01 : 0x00);
        if (!recorder.WaitFor(BASE + "/id1/A0", strLevel, 2s))
            return 1;
        vecChange.push_back(Ms(recorder.Messages().back().tArrived - tChange));
    }
    std::printf(
        "pin change to a subscriber      median %6.2f ms, 99th %6.2f ms   (target <= 105 ms)\n",
        Percentile(vecChange, 0.5), Percentile(vecChange, 0.99));

    // A set command from a client to the board's latch.
    recorder.Publish(BASE + "/id2/B/direction/set", "0");
    recorder.WaitFor(BASE + "/id2/B/direction", "0", 5s);
    std::vector<double> vecSet;
    for (int i = 1; i <= 100; ++i)
    {
        const auto byValue = static_cast<std::uint8_t>(i);
        const auto tSent = Clock::now();
        recorder.Publish(BASE + "/id2/B/set", std::to_string(byValue));
        while (boards[1]->Pins().byLatch[PORT_B] != byValue && Clock::now() - tSent < 2s)
            std::this_thread::yield();
        vecSet.push_back(Ms(Clock::now() - tSent));
    }
    std::printf(
        "set command to the board        median %6.2f ms, 99th %6.2f ms   (target <= 5 ms)\n",
        Percentile(vecSet, 0.5), Percentile(vecSet, 0.99));

    // 10,000 set commands in a burst: each reaches the board in order. The last one writes 255,
    // which no other does, so that its state tells the end.
    std::vector<std::uint8_t> vecSeen;
    std::mutex mtxSeen;
    sim.Bus().CaptureTrace(true);
    sim.Trace();
    recorder.Clear();
    const auto tBurst = Clock::now();
    auto valueOf = [](int i) { return i == 9999 ? 255 : i % 251; };
    for (int i = 0; i < 10000; ++i)
        recorder.Publish(BASE + "/id2/B/set", std::to_string(valueOf(i)));
    const std::string strLast = "255";
    const bool bDone = recorder.WaitUntil(
        [&](const CMqttRecorder::Payloads& latest)
        {
            auto it = latest.find(BASE + "/id2/B");
            return it != latest.end() && it->second == strLast;
        },
        120s);
    const double dBurst = Ms(Clock::now() - tBurst);
    std::this_thread::sleep_for(300ms);
    int nWrites = 0;
    bool bInOrder = true;
    for (const std::string& strLine : sim.Trace())
        if (strLine.rfind("1 > 37", 0) == 0)
            bInOrder = bInOrder && std::stoul(strLine.substr(10, 2), nullptr, 16) ==
                                       static_cast<unsigned long>(valueOf(nWrites++));
    const auto latest = recorder.Latest();
    std::printf("10000 set commands in a burst   %6.0f ms; %d writes %s; last state published %s\n",
                dBurst, nWrites, bInOrder && nWrites == 10000 ? "in order" : "NOT in order",
                bDone && latest.at(BASE + "/id2/B") == strLast ? "= the last command" : "WRONG");
    return bDone && bInOrder && nWrites == 10000 ? 0 : 1;
}
