#include "fuzz/Check.h"

#include <cstdlib>
#include <unistd.h>

void failCheck(const QString &failure) {
    // Straight to the descriptor: a target may have pointed `stderr` elsewhere.
    const QByteArray line = "Check failed: " + failure.toUtf8() + '\n';
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line.constData(), line.size());
    std::abort();
}
