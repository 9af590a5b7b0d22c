// PlArchive's extraction of any archive: nothing is created or changed outside the bundle's
// folder, whatever the entries' names, links and types. Most seeds are plain tar, which the
// reader takes as well, so that mutations land in the headers; two gzip seeds keep the filter in.

#include "archive/PlArchive.h"
#include "archive/RemoveTree.h"

#include <QStringList>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Every path below `root` but the bundle's folder and what it holds: mode, link count, times and
// a hash of a file's contents. The bundle's parent holds the staging folder for a while, so its own
// times change by design.
QStringList outsideState(const fs::path &root, const fs::path &bundle) {
    QStringList lines;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::end(it); ++it) {
        struct stat info {};
        if (it->path() == bundle || ::lstat(it->path().c_str(), &info) != 0) {
            it.disable_recursion_pending();
            continue;
        }
        if (it->path() == bundle.parent_path())
            info.st_mtim = info.st_ctim = {};
        std::ifstream file(S_ISREG(info.st_mode) ? it->path() : fs::path());
        const std::string contents{std::istreambuf_iterator<char>(file), {}};
        lines << QString::asprintf("%s %o %lu %ld.%ld %ld.%ld %zx", it->path().c_str(),
                                   info.st_mode, info.st_nlink, info.st_mtim.tv_sec,
                                   info.st_mtim.tv_nsec, info.st_ctim.tv_sec, info.st_ctim.tv_nsec,
                                   std::hash<std::string>{}(contents));
    }
    lines.sort();
    return lines;
}

} // namespace

// The installer runs as the desktop user: without capabilities even root cannot make device
// nodes, set immutable flags or ignore permissions.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capset, &header, none) != 0)
        qFatal("capabilities cannot be dropped");
    return 0;
}

// The archive and the empty bundle, with a file beside the bundle and another one level up.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const fs::path root = fs::temp_directory_path() / ("plimbo-fuzz-" + std::to_string(::getpid()));
    const fs::path bundle = root / "outside/Applications/Plimbo.app";
    fs::create_directories(bundle);
    std::ofstream(root / "outside/sentinel") << "beside Applications\n";
    std::ofstream(root / "outside/Applications/sentinel") << "beside the bundle\n";
    std::ofstream(root / "Plimbo.tar.gz").write(reinterpret_cast<const char *>(data), long(size));

    const QStringList before = outsideState(root, bundle);
    PlArchive(QString::fromStdString(root / "Plimbo.tar.gz"), QString::fromStdString(bundle))
        .extract();
    const QStringList after = outsideState(root, bundle);
    if (after != before)
        qFatal("outside the bundle, before:\n  %s\nafter:\n  %s",
               qPrintable(before.join(QStringLiteral("\n  "))),
               qPrintable(after.join(QStringLiteral("\n  "))));
    if (!removeTree(root))
        qFatal("cannot remove %s", root.c_str());
    return 0;
}
