#pragma once

#include <QString>

#include <chrono>

// Waits for a socket that a network library owns (libpq's connection).
namespace SocketWait {

enum class Result { Ready, TimedOut, Failed };

// Waits at most timeout until fd can be read, or also written when
// forWrite; an interrupted wait counts as timed out. On Failed, error says why.
Result wait(int fd, bool forWrite, std::chrono::milliseconds timeout, QString* error);

} // namespace SocketWait
