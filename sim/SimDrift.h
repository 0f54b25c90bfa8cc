#pragma once
// Boards whose input pins and analog channels drift slowly, so that polling visibly works
// (tarvel --simulate): every attached board of the bus gets new levels a few times a second, on
// a thread of its own, until the object goes.
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

class CSimBus;

class CSimDrift
{
public:
    explicit CSimDrift(std::shared_ptr<CSimBus> pBus);
    ~CSimDrift();
    CSimDrift(const CSimDrift&) = delete;
    CSimDrift& operator=(const CSimDrift&) = delete;

    // One step: new input levels and analog readings on every attached board.
    void Step();

private:
    void Run();

    std::shared_ptr<CSimBus> m_pBus;
    unsigned m_nStep = 0;
    std::mutex m_mtxLock;
    std::condition_variable m_cvStop;
    bool m_bStop = false;
    std::thread m_thrDrift;
};
