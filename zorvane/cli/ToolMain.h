#pragma once
// The whole zorvane command, for main and for tests that run it in their own process (on a
// simulated bus they installed): the arguments after the program name; the exit status.
#include <string>
#include <vector>

int ZorvaneMain(const std::vector<std::string>& args);
