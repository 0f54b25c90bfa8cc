#pragma once
// "tarvel --simulate": the simulated bus described by the environment (KELVARD_SIM_BOARDS,
// KELVARD_SIM_TRACE), installed as the driver's backend for the life of this object, with
// boards whose input pins and analog channels drift slowly so that polling visibly works.
#include <QObject>
#include <QTimer>

#include <memory>

class CSimBus;

class CSimulatedBoards : public QObject
{
    Q_OBJECT
public:
    explicit CSimulatedBoards(QObject* pParent = nullptr);
    ~CSimulatedBoards() override;

    CSimBus& Bus() { return *m_pBus; }
    // One step of the drift: new input levels and analog readings on every attached board.
    void Step();

private:
    // Gives the first board in application mode a demonstration set-up through the ordinary
    // commands: a mix of inputs and outputs, some outputs high, two analog inputs.
    void ConfigureDemoBoard();

    std::shared_ptr<CSimBus> m_pBus;
    QTimer m_tmrDrift;
    unsigned m_nStep = 0;
};
