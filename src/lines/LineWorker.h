#pragma once

#include <functional>

// The parameter of a line's worker thread.
struct LineJob
{
    int port = 0;
    int line = 0;
};

// Starts each line's worker: a detached thread of its own at below-normal
// priority (a higher nice value for that thread) that runs the job's body
// (verification, then the engine's download) and ends with it.
class LineWorker final
{
public:
    using Body = std::function<void(const LineJob&)>;

    // False when the thread could not be created; the body then never runs.
    static bool Start(const LineJob& job, Body body);

    // Tests make the next Start fail as if the system had no thread left.
    static void FailNextStartForTest();

    // The nice value a worker thread adds to the process's own.
    static constexpr int kNiceIncrement = 5;
};
