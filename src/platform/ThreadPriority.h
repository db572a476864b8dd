#pragma once

// Scheduling of the calling thread.
namespace ThreadPriority {

// Runs the calling thread below the process's normal priority: on Linux a
// nice value increment for this thread alone. Failure leaves it unchanged.
void lowerCurrentThread(int niceIncrement);

} // namespace ThreadPriority
