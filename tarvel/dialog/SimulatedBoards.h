#pragma once
// "tarvel --simulate": the simulated bus described by the environment (KELVARD_SIM_BOARDS,
// KELVARD_SIM_TRACE), from the simulated bus module, with boards whose input pins and analog
// channels drift slowly so that polling visibly works.
#include "protocol/DriverContext.h"

#include <memory>
#include <string>

// A driver context on the simulated bus, its first board in application mode given a
// demonstration set-up through the ordinary commands: a mix of inputs and outputs, some outputs
// high, two analog inputs. Null, with strError saying why, when the module is missing.
std::shared_ptr<CDriverContext> CreateSimulatedBoards(std::string& strError);
