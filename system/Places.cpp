#include "system/Places.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>
#include <filesystem>
#include <system_error>

namespace {

// The XDG rules: the variable when it holds an absolute path, else the folder in the home.
QString userFolder(QStringView name) {
    const QString home = QDir::homePath();
    if (name == u"HOME")
        return home;
    const QString set = qEnvironmentVariable(name.toLatin1().constData());
    if (QDir::isAbsolutePath(set))
        return QDir::cleanPath(set);
    return home +
           (name == u"XDG_DATA_HOME" ? QStringLiteral("/.local/share") : QStringLiteral("/.cache"));
}

} // namespace

QString resolvePlace(const QString &path) {
    for (const QStringView name : {u"XDG_DATA_HOME", u"XDG_CACHE_HOME", u"HOME"}) {
        const QString placeholder = QLatin1Char('$') + name.toString();
        if (path == placeholder || path.startsWith(placeholder + QLatin1Char('/')))
            return userFolder(name) + path.mid(placeholder.size());
    }
    return path;
}

QString prepareInstallFolders(const QString &installPath, const QString &archivePath) {
    // Without its folder the download is extracted where it lies: no reason to stop.
    QDir().mkpath(QFileInfo(archivePath).absolutePath());
    const QString folder = QFileInfo(installPath).absolutePath();
    std::error_code error;
    std::filesystem::create_directories(QFile::encodeName(folder).toStdString(), error);
    if (error)
        return folder + QStringLiteral(": ") + QString::fromStdString(error.message());
    QTemporaryFile probe(folder + QStringLiteral("/.plimbo-probe-XXXXXX"));
    if (!probe.open())
        return folder + QStringLiteral(": ") + probe.errorString();
    return {};
}
