#include "QdlProcess.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

std::string QdlProcess::executable()
{
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t from = 0;
    while (from <= dirs.size()) {
        const size_t to = std::min(dirs.find(':', from), dirs.size());
        const std::string candidate = dirs.substr(from, to - from) + "/qdl";
        if (to > from && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        from = to + 1;
    }
    return {};
}

QdlProcess::~QdlProcess()
{
    kill();
}

bool QdlProcess::start(const std::vector<std::string>& arguments, const std::string& umockdevDir,
                       const std::string& outputFile, std::string* why)
{
    const std::string program = executable();
    if (program.empty()) {
        *why = "qdl is not installed";
        return false;
    }
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    // The parent's environment, but the testbed's umockdev: this process
    // links the preload library, the child needs it preloaded.
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        if (std::strncmp(*e, "UMOCKDEV_DIR=", 13) != 0 && std::strncmp(*e, "LD_PRELOAD=", 11) != 0)
            env.emplace_back(*e);
    }
    env.push_back("UMOCKDEV_DIR=" + umockdevDir);
    env.push_back("LD_PRELOAD=libumockdev-preload.so.0");

    std::vector<char*> argp;
    for (std::string& a : argv)
        argp.push_back(a.data());
    argp.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    const int error = ::posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        m_pid = -1;
        *why = "cannot start " + program + ": " + std::strerror(error);
        return false;
    }
    return true;
}

bool QdlProcess::reap(int options)
{
    if (m_pid < 0)
        return true;
    int status = 0;
    rusage usage{};
    pid_t got;
    do {
        got = ::wait4(m_pid, &status, options, &usage);
    } while (got < 0 && errno == EINTR);
    if (got == 0)
        return false;
    m_pid = -1;
    if (got < 0)
        return true;
    m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    m_cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return true;
}

bool QdlProcess::finished()
{
    return reap(WNOHANG);
}

void QdlProcess::wait()
{
    reap(0);
}

void QdlProcess::kill()
{
    if (m_pid < 0)
        return;
    ::kill(m_pid, SIGKILL);
    reap(0);
}
