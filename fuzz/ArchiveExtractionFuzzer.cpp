// PlArchive's extraction of any archive: nothing is created or changed outside the bundle's
// folder, whatever the entries' names, links and types. The input is the archive file, gzip
// compressed or not; mutations go to the tar inside the gzip stream, where they mean something.

#include "archive/PlArchive.h"
#include "fuzz/Check.h"
#include "fuzz/ExtractionSandbox.h"
#include "fuzz/Gzip.h"

#include <QFile>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <linux/capability.h>
#include <optional>
#include <sys/syscall.h>
#include <unistd.h>

extern "C" size_t LLVMFuzzerMutate(std::uint8_t *data, size_t size, size_t maxSize);

namespace {

namespace fs = std::filesystem;

constexpr qsizetype kTarLimit = 1 << 20;

fs::path &workFolder() {
    static fs::path folder;
    return folder;
}

// The installer runs as the desktop user: without capabilities even root cannot make device
// nodes, set immutable flags or ignore permissions.
void dropCapabilities() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capset, &header, data) != 0)
        failCheck(QStringLiteral("capabilities cannot be dropped"));
}

void removeWorkFolder() {
    std::error_code error;
    fs::remove_all(workFolder(), error);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    dropCapabilities();
    // Every run logs "Decompress finished." or the refused entries; libFuzzer's own output and
    // the sanitizers' reports do not go through `stderr`.
    stderr = std::fopen("/dev/null", "w");
    std::string pattern = (fs::temp_directory_path() / "plimbo-fuzz-XXXXXX").string();
    if (!stderr || !::mkdtemp(pattern.data()))
        failCheck(QStringLiteral("no work folder"));
    workFolder() = pattern;
    std::atexit(removeWorkFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QString archivePath = QString::fromStdString((workFolder() / "Plimbo.tar.gz").string());
    QFile archive(archivePath);
    check(archive.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
              archive.write(reinterpret_cast<const char *>(data), qint64(size)) == qint64(size),
          [] { return QStringLiteral("cannot write the archive"); });
    archive.close();

    const ExtractionSandbox sandbox(workFolder() / "tree");
    const QStringList before = sandbox.outsideState();
    PlArchive(archivePath, sandbox.installPath()).extract(); // finished or not, the same holds
    const QStringList after = sandbox.outsideState();
    check(after == before, [&] {
        return QStringLiteral("outside the bundle, before:\n  %1\nafter:\n  %2")
            .arg(before.join(QStringLiteral("\n  ")), after.join(QStringLiteral("\n  ")));
    });
    return 0;
}

// One mutation in eight still goes to the compressed bytes, for the reader's own failures.
extern "C" size_t LLVMFuzzerCustomMutator(std::uint8_t *data, size_t size, size_t maxSize,
                                          unsigned int seed) {
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    std::optional<QByteArray> tar = seed % 8 == 0 ? std::nullopt : gunzip(input, kTarLimit);
    if (!tar)
        return LLVMFuzzerMutate(data, size, maxSize);
    const qsizetype tarSize = tar->size();
    tar->resize(std::clamp<qsizetype>(2 * tarSize, 16384, kTarLimit));
    tar->truncate(qsizetype(LLVMFuzzerMutate(reinterpret_cast<std::uint8_t *>(tar->data()),
                                             size_t(tarSize), size_t(tar->size()))));
    const QByteArray stream = gzip(*tar);
    if (stream.isEmpty() || size_t(stream.size()) > maxSize)
        return LLVMFuzzerMutate(data, size, maxSize);
    std::memcpy(data, stream.constData(), size_t(stream.size()));
    return size_t(stream.size());
}
