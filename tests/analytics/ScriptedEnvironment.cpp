#include "analytics/ScriptedEnvironment.h"

#include <QFile>
#include <QSettings>
#include <algorithm>

void ScriptedEnvironment::writeSettingsFile(const QByteArray &content) const {
    QFile file(settingsFile());
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(settingsFile()));
}

QByteArray ScriptedEnvironment::readSettingsFile() const {
    QFile file(settingsFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::unique_ptr<GaEvent> ScriptedEnvironment::run() {
    randomDrawsTaken_ = 0;
    clockReads_ = 0;
    QSettings settings(settingsFile(), QSettings::IniFormat);
    GaEvent::Environment environment;
    environment.settings = &settings;
    environment.preferredLanguages = [this] { return languages; };
    environment.random64 = [this] {
        return randomDraws.at(std::min<qsizetype>(randomDrawsTaken_++, randomDraws.size() - 1));
    };
    environment.secondsSince1970 = [this] {
        return clockReadings.at(std::min<qsizetype>(clockReads_++, clockReadings.size() - 1));
    };
    environment.analyticsEndpoint = endpoint;
    environment.extraCaFile = extraCaFile;
    using namespace installerValues;
    return std::make_unique<GaEvent>(measurementId, tagBuild, marker, documentTitle, origin,
                                     appVersion, environment);
}
