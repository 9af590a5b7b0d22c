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
    QString archivePath;
    QString installPath;
    QString launchCommand;
    QString extraCaFile;        // empty: the system's CAs only
    QByteArray updatePublicKey; // base64 Ed25519 keys, comma-separated, releases are signed with
};

// The values compiled into this executable (defined by the deployment library it links).
const Deployment &compiledDeployment();
