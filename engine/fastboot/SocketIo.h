#pragma once

#include "Transport.h"

#include <string>

#include <sys/types.h>

namespace fastboot {

class HostResolver;

// Socket calls with deadlines, shared by the engine's TCP transport and the
// emulated devices. Sockets are non-blocking; every call waits with poll().
namespace SocketIo {

// A connected, non-blocking TCP socket to host:port, or -1 with *error set.
int connectTcp(HostResolver& resolver, const std::string& host, const std::string& port, Clock::time_point deadline,
               std::string* error);
// A listening, non-blocking socket on the loopback address; port 0 picks one.
int listenLoopback(int port, std::string* error);
// The port a socket is bound to.
int localPort(int fd);

// more: more data follows at once (MSG_MORE), so a small piece need not go
// out as a packet of its own.
IoStatus sendAll(int fd, const void* data, size_t size, Clock::time_point deadline, int* err, bool more = false);
// The system's sendfile(2), or a stand-in in tests.
using SendFile = ssize_t (*)(int socket, int file, off_t* offset, size_t count);
// Sends size bytes of file from offset without copying them through this
// process. FileError when the file cannot be read or ends first (*err 0).
IoStatus sendFileAll(int fd, int file, uint64_t offset, size_t size, Clock::time_point deadline, int* err,
                     SendFile sendFile = nullptr);
IoStatus receiveAll(int fd, void* data, size_t size, Clock::time_point deadline, int* err);
// Waits until fd is readable (or has hung up); false on timeout.
bool waitReadable(int fd, Clock::time_point deadline);

void putBigEndian64(unsigned char* out, unsigned long long value);
unsigned long long bigEndian64(const unsigned char* in);

} // namespace SocketIo
} // namespace fastboot
