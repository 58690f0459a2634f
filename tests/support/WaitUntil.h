#pragma once
#include <functional>

// Blocks in the event loop (no spinning) until cond holds or ms have passed.
bool WaitUntil(const std::function<bool()> &cond, int ms);
