#pragma once

#include "analytics/GaEvent.h"

#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

// Runs of the installer's analytics sender with scripted sources: user defaults in a temporary
// ini file that outlives the runs, and random draws and clock readings taken from the lists in
// order (the last value repeats), starting over with each run.
class ScriptedEnvironment {
  public:
    QList<quint64> randomDraws{0x0000000500000000};
    QList<double> clockReadings{1700000000.5};
    QStringList languages{QStringLiteral("en-GB")};
    QString endpoint = QStringLiteral("http://127.0.0.1:9");
    QString extraCaFile;

    QString settingsFile() const { return dir_.filePath(QStringLiteral("defaults.ini")); }
    void writeSettingsFile(const QByteArray &content) const;
    QByteArray readSettingsFile() const;

    // One run: the settings opened anew, as a new process would.
    std::unique_ptr<GaEvent> run();

  private:
    QTemporaryDir dir_;
    int randomDrawsTaken_ = 0;
    int clockReads_ = 0;
};

// The values the installer constructs its sender with.
namespace installerValues {
inline const QString measurementId = QStringLiteral("G-TEST000001");
inline const QString tagBuild = QStringLiteral("2oe4k0");
inline const QString marker = QStringLiteral("ccd.NbB");
inline const QString documentTitle = QStringLiteral("Plimbo Mac Installer");
inline const QString origin = QStringLiteral("https://plimbo.invalid");
inline const QString appVersion = QStringLiteral("1.0.0");
} // namespace installerValues
