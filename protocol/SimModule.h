#pragma once
// How the driver layer reaches the simulated bus: a module of its own, libkelvard-sim.so.1,
// loaded only when a context on the simulated bus is asked for. The module links nothing of the
// driver layer; it exports one C entry point that makes a backend on the bus the environment
// describes (KELVARD_SIM_BOARDS, KELVARD_SIM_TRACE).
#include "protocol/UsbBackend.h"

inline constexpr char SIM_MODULE_FILE[] = "libkelvard-sim.so.1";
inline constexpr char SIM_MODULE_ENTRY[] = "KelvardSimCreateBackend";

// Inputs and analog readings of the boards drift slowly, so that polling shows movement (demos).
inline constexpr unsigned SIM_MODULE_DRIFT = 0x1;

// A new backend, to be deleted with delete; null when the module cannot make one.
using SimModuleEntry = CUsbBackend* (*)(unsigned nFlags);
