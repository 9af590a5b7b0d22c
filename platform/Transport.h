#pragma once

#include <QString>
#include <QUrl>
#include <curl/curl.h>

// What every transfer of the installer shares, as the platform's default session would do it:
// verified TLS against the system's CAs (plus one extra PEM file when the deployment names one),
// the system's proxy for the URL, redirects followed, http and https only.
void applyTransportOptions(CURL *easy, const QUrl &url, const QString &extraCaFile);
