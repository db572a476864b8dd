#pragma once

#include <chrono>

namespace engine {

using Clock = std::chrono::steady_clock;

// How one transfer over an engine's link to a device ended.
enum class IoStatus {
    Ok,
    Timeout,   // nothing moved before the deadline
    Closed,    // the other side went away (connection lost, device gone)
    TooLarge,  // a received packet did not fit the buffer
    Error,     // any other failure of the link
    FileError, // the file being sent could not be read, or ended early
};

} // namespace engine
