#pragma once
// The application firmware: answers the ten commands of the command set from the pin model.
#include "sim/SimMemory.h"

#include "protocol/CommandSet.h"
#include "protocol/PortTypes.h"

#include <optional>
#include <vector>

// What leaving a request behind asks of the bus.
enum class ESimAction
{
    None,
    EnterBootloader, // detach, re-attach in bootloader mode
    Restart,         // detach, re-attach in application mode
};

// A microcontroller after reset: every pin an input, no inversion, no analog input.
struct SimPins
{
    PortBytes byLatch{};                           // output latches
    PortBytes byInput{};                           // external levels on the pins
    PortBytes byDir{0xFF, 0xFF, 0xFF, 0xFF, 0xFF}; // bit set = input
    std::array<std::uint8_t, 4> byInv{};           // ports A to D
    std::uint8_t byAnalogCount = 0;
    std::array<std::uint16_t, ANALOG_CHANNELS> wAnalog{}; // 10-bit readings

    // What read-ports answers: inputs read their (possibly inverted) level, outputs their latch.
    PortBytes Levels() const;
};

class CSimFirmware
{
public:
    // Handles one request (the bytes sent, zero-extended to a packet). Returns the reply, or
    // nothing for a command without one (and for codes the firmware does not know).
    static std::optional<std::vector<std::uint8_t>> Handle(SimPins& pins, const CSimMemory& memory,
                                                           std::uint8_t byId, const Packet& request,
                                                           ESimAction& action);
};
