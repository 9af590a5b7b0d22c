#include "archive/ArchiveInput.h"

#include <cerrno>
#include <unistd.h>

ssize_t FileInput::readAt(void *buffer, size_t size, int64_t offset) {
    ssize_t read = 0;
    do
        read = ::pread(descriptor_, buffer, size, offset);
    while (read < 0 && errno == EINTR);
    return read;
}
