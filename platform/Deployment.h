#pragma once

#include <QByteArray>
#include <QString>

// What one deployment of the installer fixes when it is built. Classes take it as a value so
// that a test can point one object at a temporary folder or a local server.
struct Deployment {
    QString releaseService;    // scheme + host[:port]
    QString analyticsEndpoint; // scheme + host[:port]
    QString measurementId;
    QString siteOrigin;
    // Either absolute, or starting with $XDG_DATA_HOME, $XDG_CACHE_HOME or $HOME, which
    // compiledDeployment() resolves for the user running the installer.
    QString archivePath;
    QString installPath;
    QString launchCommand;      // empty: the platform's own way to start the installed application
    QString extraCaFile;        // empty: the system's CAs only
    QByteArray updatePublicKey; // base64 Ed25519 keys, comma-separated, releases are signed with
    QString releasePlatform;    // which build the release service is asked for
};

// The values compiled into this executable (defined by the deployment library it links).
const Deployment &compiledDeployment();
