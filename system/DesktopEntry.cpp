#include "system/DesktopEntry.h"

#include "system/Launch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

// A value of the string type: backslash and control characters escaped.
QString escapedValue(QString text) {
    text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    text.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    text.replace(QLatin1Char('\t'), QStringLiteral("\\t"));
    text.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
    return text;
}

// One Exec argument: in double quotes, with ", `, $ and \ escaped inside them, and % doubled as
// field codes require.
QString execArgument(const QString &argument) {
    QString quoted;
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += QLatin1Char('\\');
        quoted += c;
        if (c == u'%')
            quoted += c;
    }
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString writeWhole(const QString &path, const QByteArray &content) {
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return path + QStringLiteral(": the folder cannot be made");
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit())
        return path + QStringLiteral(": ") + file.errorString();
    return {};
}

} // namespace

QByteArray desktopEntry(const QString &installPath) {
    const QString program = bundleProgram(installPath);
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Plimbo\n"
                          "Comment=Explore spaces in Plimbo\n"
                          "Icon=plimbo\n"
                          "TryExec=%1\n"
                          "Exec=%2\n"
                          "Terminal=false\n"
                          "Categories=Graphics;\n")
        .arg(escapedValue(program), escapedValue(execArgument(program)))
        .toUtf8();
}

QString addToApplicationMenu(const QString &installPath, const QString &dataHome) {
    QFile logo(QStringLiteral(":/plimbo.svg"));
    if (!logo.open(QIODevice::ReadOnly))
        return logo.fileName() + QStringLiteral(": ") + logo.errorString();
    const QString icon = writeWhole(
        dataHome + QStringLiteral("/icons/hicolor/scalable/apps/plimbo.svg"), logo.readAll());
    if (!icon.isEmpty())
        return icon;
    return writeWhole(dataHome + QStringLiteral("/applications/plimbo.desktop"),
                      desktopEntry(installPath));
}
