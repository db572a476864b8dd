#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

// Debian's qdl command run as a child of a process that holds an emulated
// USB hub (umockdev): the child gets the testbed through umockdev's preload
// library and UMOCKDEV_DIR, and its usbfs ioctls come back to the handlers
// of this process. Its output goes to a file; its CPU time is taken when it
// ends.
class QdlProcess final
{
public:
    // The qdl program on PATH, or "" when it is not installed.
    static std::string executable();

    QdlProcess() = default;
    ~QdlProcess();
    QdlProcess(const QdlProcess&) = delete;
    QdlProcess& operator=(const QdlProcess&) = delete;

    // Starts qdl with the arguments after the program name, in the testbed
    // whose root is umockdevDir; false with *why when it cannot start.
    bool start(const std::vector<std::string>& arguments, const std::string& umockdevDir,
               const std::string& outputFile, std::string* why);
    // True once the child has ended (does not wait).
    bool finished();
    // Waits for the end.
    void wait();
    // Ends a child that is still running.
    void kill();

    // The exit code, or 128 + the signal that ended it.
    int exitCode() const { return m_exitCode; }
    // User and system CPU seconds of the child.
    double cpuSeconds() const { return m_cpuSeconds; }

private:
    bool reap(int options);

    pid_t m_pid = -1;
    int m_exitCode = -1;
    double m_cpuSeconds = 0;
};
