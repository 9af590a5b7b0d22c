#include "ChildProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

double nowSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double seconds(const timeval &time) {
    return double(time.tv_sec) + double(time.tv_usec) / 1e6;
}

} // namespace

ChildProcess::ChildProcess(const QStringList &command) {
    std::vector<QByteArray> arguments;
    for (const QString &argument : command)
        arguments.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        std::perror("pipe");
        std::exit(2);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
    startSeconds_ = nowSeconds();
    const int failed = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    output_ = pipeEnds[0];
    if (failed) {
        std::fprintf(stderr, "cannot start %s\n", argv[0]);
        std::exit(2);
    }
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    if (output_ >= 0)
        close(output_);
}

QByteArray ChildProcess::readLine() {
    for (;;) {
        const qsizetype end = pending_.indexOf('\n');
        if (end >= 0) {
            const QByteArray line = pending_.left(end);
            pending_.remove(0, end + 1);
            return line;
        }
        char chunk[4096];
        const ssize_t size = read(output_, chunk, sizeof chunk);
        if (size < 0 && errno == EINTR)
            continue;
        if (size <= 0)
            return std::exchange(pending_, {});
        pending_.append(chunk, size);
    }
}

ChildCost ChildProcess::wait() {
    ChildCost cost;
    char chunk[4096];
    for (ssize_t size; (size = read(output_, chunk, sizeof chunk)) != 0;) {
        if (size > 0)
            pending_.append(chunk, size);
        else if (errno != EINTR)
            break;
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid_, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    cost.wallSeconds = nowSeconds() - startSeconds_;
    pid_ = -1;
    cost.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    cost.peakRssMiB = double(usage.ru_maxrss) / 1024; // KiB on Linux
    cost.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    cost.output = std::exchange(pending_, {});
    return cost;
}
