#pragma once
// The whole zorvane command, for main and for tests that run it in their own process on a driver
// context of their own (pContext; null: the default one, or the simulated bus of --simulate): the
// arguments after the program name; the exit status.
#include <memory>
#include <string>
#include <vector>

class CDriverContext;

int ZorvaneMain(const std::vector<std::string>& args,
                std::shared_ptr<CDriverContext> pContext = nullptr);
