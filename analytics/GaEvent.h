#pragma once

#include "platform/Deployment.h"

#include <QByteArray>
#include <QMap>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

class QSettings;

// The installer's analytics sender: every field a hit carries besides the event itself, and
// `send`, which turns one event into one fire-and-forget request to the collection endpoint.
class GaEvent {
  public:
    // What construction and `send` take from the world; the defaults are the real sources.
    struct Environment {
        static QStringList systemLanguages(); // the user's UI languages, most preferred first
        static quint64 systemRandom();        // 64 bits from the cryptographic source
        static double systemClock();          // seconds since 1970, UTC

        QSettings *settings = nullptr; // null: the application's own settings
        std::function<QStringList()> preferredLanguages = systemLanguages;
        std::function<quint64()> random64 = systemRandom;
        std::function<double()> secondsSince1970 = systemClock;
        QString analyticsEndpoint = compiledDeployment().analyticsEndpoint; // scheme + host[:port]
        QString extraCaFile = compiledDeployment().extraCaFile;
    };

    GaEvent(const QString &measurementId, const QString &tagBuild, const QString &marker,
            const QString &documentTitle, const QString &origin, const QString &appVersion);
    GaEvent(const QString &measurementId, const QString &tagBuild, const QString &marker,
            const QString &documentTitle, const QString &origin, const QString &appVersion,
            const Environment &environment);
    GaEvent(const GaEvent &) = delete;
    GaEvent &operator=(const GaEvent &) = delete;

    // Starts one hit for the event "installer_" + `name` and returns without waiting for it.
    // Thread-safe. The answer's body, when one arrives, is printed on standard output.
    void send(const QString &name, const QMap<QString, QString> &parameters = {});

    // Declaration order is construction order: `_p` draws before `cid`, and `cid` reads the
    // clock before `sid` does.
    const QString host;
    const int64_t v = 2;
    const QString _tid;
    const QString gtm;
    const int64_t _p;
    const QString _z;
    const QString cid;
    const QString ul;
    const QSizeF sr{1920, 1080};
    std::atomic<int64_t> _sessionHitsCount{0};
    const int64_t sid;
    const int64_t sessionCount = 1;
    const bool seg = true;
    const std::optional<QString> dl;
    const std::optional<QString> dt;
    const QString av;

  private:
    const QByteArray collectUrl_; // endpoint + "/g/collect?"
    const QString extraCaFile_;
};
