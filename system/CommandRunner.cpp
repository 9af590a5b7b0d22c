#include "system/CommandRunner.h"

#include <QByteArray>
#include <QtGlobal>
#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

QByteArray readToEnd(int fd) {
    QByteArray output;
    char buffer[16384];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count > 0)
            output.append(buffer, count);
        else if (count == 0 || errno != EINTR)
            return output;
    }
}

} // namespace

QString runShellCommand(const QString &commandLine, const QString &shell) {
    int pipeFds[2];
    // Close-on-exec, so children spawned meanwhile by other threads cannot hold the pipe open.
#ifdef Q_OS_MACOS
    // No pipe2 there: a child spawned between the two calls may inherit the pipe, and then only
    // holds the runner until it ends.
    if (::pipe(pipeFds) != 0)
        return {};
    for (const int fd : pipeFds)
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
#else
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return {};
#endif
    const int readEnd = pipeFds[0], writeEnd = pipeFds[1];

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writeEnd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, writeEnd, STDERR_FILENO);

    const QByteArray shellPath = shell.toLocal8Bit();
    const QByteArray command = commandLine.toUtf8();
    char *const argv[] = {const_cast<char *>(shellPath.constData()), const_cast<char *>("-c"),
                          const_cast<char *>(command.constData()), nullptr};
    pid_t child = 0;
    const int spawned =
        ::posix_spawn(&child, shellPath.constData(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    // Our copy of the writing end must not keep the pipe open.
    ::close(writeEnd);
    if (spawned != 0) {
        ::close(readEnd);
        return {};
    }

    const QByteArray output = readToEnd(readEnd);
    ::close(readEnd);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return QString::fromUtf8(output);
}
