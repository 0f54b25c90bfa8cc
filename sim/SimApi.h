#pragma once
// What the simulated bus's module, libkelvard-sim.so.1, shows to the programs that link it
// (tests, kelvard-sim): the classes and functions marked KELVARD_SIM_API. Everything else, its
// own copy of the command set included, stays inside, so the module never binds to the driver
// layer that loads it.
#define KELVARD_SIM_API __attribute__((visibility("default")))
