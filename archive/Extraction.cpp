#include "archive/Extraction.h"

#include "platform/Log.h"

#include <archive.h>
#include <cstring>

void printArchiveError(archive *a) {
    if (const char *text = archive_error_string(a))
        printErrorLine(QString::fromLocal8Bit(text));
    else if (const int code = archive_errno(a))
        printErrorLine(QString::fromLocal8Bit(std::strerror(code)));
    else
        printErrorLine(QStringLiteral("Archive operation failed without a description"));
}

bool reportFatal(archive *a, int result) {
    printArchiveError(a);
    return result < ARCHIVE_WARN;
}
