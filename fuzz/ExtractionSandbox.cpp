#include "fuzz/ExtractionSandbox.h"

#include "fuzz/Check.h"

#include <QCryptographicHash>
#include <QFile>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace fs = std::filesystem;

namespace {

void writeFile(const fs::path &path, const QByteArray &contents) {
    QFile file(QString::fromStdString(path.string()));
    check(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size(),
          [&] { return QStringLiteral("cannot write ") + file.fileName(); });
}

QString timeOf(const timespec &time) {
    return QStringLiteral("%1.%2").arg(time.tv_sec).arg(time.tv_nsec, 9, 10, QLatin1Char('0'));
}

QString describe(const fs::path &path, bool withTimes) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return QStringLiteral("unreadable");
    QString line = QStringLiteral("mode %1").arg(info.st_mode, 0, 8);
    if (S_ISDIR(info.st_mode))
        return withTimes ? line + QStringLiteral(" mtime ") + timeOf(info.st_mtim) : line;
    line += QStringLiteral(" links %1 size %2 mtime %3 ctime %4")
                .arg(info.st_nlink)
                .arg(info.st_size)
                .arg(timeOf(info.st_mtim), timeOf(info.st_ctim));
    if (S_ISLNK(info.st_mode))
        return line + QStringLiteral(" to ") +
               QString::fromStdString(fs::read_symlink(path).string());
    QFile file(QString::fromStdString(path.string()));
    if (S_ISREG(info.st_mode) && file.open(QIODevice::ReadOnly))
        line += QStringLiteral(" md5 ") +
                QString::fromLatin1(
                    QCryptographicHash::hash(file.readAll(), QCryptographicHash::Md5).toHex());
    return line;
}

// Folders an archive left without permissions for their owner are opened up first.
bool removeTree(const fs::path &root) {
    std::error_code error;
    fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, error);
    for (auto it = fs::recursive_directory_iterator(root, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (it->symlink_status().type() == fs::file_type::directory)
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
    }
    fs::remove_all(root, error);
    return !error;
}

} // namespace

ExtractionSandbox::ExtractionSandbox(fs::path root)
    : root_(std::move(root)), bundle_(root_ / "outside/Applications/Plimbo.app") {
    std::error_code error;
    fs::create_directories(root_ / "outside/Applications", error);
    fs::create_directory(root_ / "outside/dir", error);
    check(!error, [&] {
        return QStringLiteral("cannot lay out ") + QString::fromStdString(root_.string());
    });
    writeFile(root_ / "outside/Applications/sentinel", "beside the bundle\n");
    writeFile(root_ / "outside/sentinel", "beside Applications\n");
}

ExtractionSandbox::~ExtractionSandbox() {
    check(removeTree(root_), [&] {
        return QStringLiteral("cannot remove ") + QString::fromStdString(root_.string());
    });
}

QString ExtractionSandbox::installPath() const {
    return QString::fromStdString(bundle_.string());
}

QStringList ExtractionSandbox::outsideState() const {
    QStringList lines{QStringLiteral(". ") + describe(root_, true)};
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root_, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (it->path() == bundle_) {
            it.disable_recursion_pending();
            continue;
        }
        lines << QString::fromStdString(it->path().lexically_relative(root_).string()) + u' ' +
                     describe(it->path(), it->path() != bundle_.parent_path());
    }
    if (error)
        lines << QStringLiteral("walk failed: ") + QString::fromStdString(error.message());
    lines.sort();
    return lines;
}
