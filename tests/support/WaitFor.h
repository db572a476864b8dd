#pragma once

#include <functional>

// Waits for a condition while the event loop runs; false at the deadline.
bool waitFor(const std::function<bool()>& condition, int timeoutMs = 10000);
