#pragma once

#include <QString>
#include <QUrl>
#include <curl/curl.h>

// What every transfer of the installer shares, as the platform's default session would do it:
// verified TLS against the system's CAs (plus one extra PEM file when the deployment names one),
// the system's proxy for the URL, redirects followed, http and https only.
void applyTransportOptions(CURL *easy, const QUrl &url, const QString &extraCaFile);

// Whether the same request may well work a little later: the network or the server was down,
// slow or cut the answer (also an HTTP status of 408, 429 or 5xx). A refused certificate, an
// address that is not there, a 404 stay as they are.
bool isTransientFailure(CURLcode result, long httpStatus);
