#pragma once

#include <QByteArray>
#include <QUrl>
#include <optional>

// The archive address in a release service's answer: the text under "updateUrl" of a JSON object,
// if it is well-formed Unicode and an absolute address. A body that is not JSON prints "Failed to
// load: " and the parser's reason on standard output; anything else unusable prints nothing.
std::optional<QUrl> archiveUrlFromAnswer(const QByteArray &body);
