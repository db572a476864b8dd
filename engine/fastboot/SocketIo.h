#pragma once

#include "Transport.h"

#include <string>

namespace fastboot {

// Socket calls with deadlines, shared by the engine's TCP transport and the
// emulated devices. Sockets are non-blocking; every call waits with poll().
namespace SocketIo {

// A connected, non-blocking TCP socket to host:port, or -1 with *error set.
int connectTcp(const std::string& host, const std::string& port, Clock::time_point deadline,
               std::string* error);
// A listening, non-blocking socket on the loopback address; port 0 picks one.
int listenLoopback(int port, std::string* error);
// The port a socket is bound to.
int localPort(int fd);

IoStatus sendAll(int fd, const void* data, size_t size, Clock::time_point deadline, int* err);
IoStatus receiveAll(int fd, void* data, size_t size, Clock::time_point deadline, int* err);
// Waits until fd is readable (or has hung up); false on timeout.
bool waitReadable(int fd, Clock::time_point deadline);

void putBigEndian64(unsigned char* out, unsigned long long value);
unsigned long long bigEndian64(const unsigned char* in);

} // namespace SocketIo
} // namespace fastboot
