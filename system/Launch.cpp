#include "system/Launch.h"

#include "system/CommandRunner.h"

#include <QByteArrayList>
#include <QFile>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace {

[[maybe_unused]] QString shellQuoted(const QString &text) {
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

#ifndef Q_OS_MACOS
// Starts `argv` in a session of its own, with standard input, output and error on /dev/null and
// default signal handling, so nothing ties it to the installer. The child's id, or -1 with errno
// set.
pid_t spawnDetached(const QByteArrayList &argv) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char *> arguments;
    for (const QByteArray &argument : argv)
        arguments.push_back(const_cast<char *>(argument.constData()));
    arguments.push_back(nullptr);
    pid_t child = -1;
    const int spawned =
        ::posix_spawn(&child, arguments[0], &actions, &attributes, arguments.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) {
        errno = spawned;
        return -1;
    }
    return child;
}

int waitForStatus(pid_t child) {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}
#endif

} // namespace

QString bundleProgram(const QString &installPath) {
    return installPath + QStringLiteral("/Contents/MacOS/Plimbo");
}

QString launchApplication(const QString &installPath, const QString &launchCommand) {
#ifdef Q_OS_MACOS
    runShellCommand(launchCommand.isEmpty() ? QStringLiteral("open ") + shellQuoted(installPath)
                                            : launchCommand);
    return {};
#else
    if (launchCommand.isEmpty()) {
        const QByteArray program = QFile::encodeName(bundleProgram(installPath));
        const pid_t child = spawnDetached({program});
        if (child < 0)
            return QString::fromLocal8Bit(program) + QStringLiteral(": ") +
                   QString::fromLocal8Bit(std::strerror(errno));
        // Reaped whenever it ends, should the installer still be there.
        std::thread([child] { waitForStatus(child); }).detach();
        return {};
    }
    const pid_t shell = spawnDetached({"/bin/sh", "-c", launchCommand.toUtf8()});
    if (shell < 0)
        return QStringLiteral("/bin/sh: ") + QString::fromLocal8Bit(std::strerror(errno));
    const int status = waitForStatus(shell);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return {};
    return QStringLiteral("\"") + launchCommand + QStringLiteral("\" ended with status ") +
           QString::number(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
#endif
}
