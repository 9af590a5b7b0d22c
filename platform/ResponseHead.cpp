#include "platform/ResponseHead.h"

namespace {

// A non-negative decimal number with nothing else around it.
std::optional<qint64> parseCount(QByteArrayView text) {
    if (text.isEmpty() ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    bool valid = false;
    const qint64 count = text.toLongLong(&valid);
    return valid ? std::optional(count) : std::nullopt;
}

} // namespace

void ResponseHead::addLine(QByteArrayView line) {
    line = line.trimmed();
    if (line.startsWith("HTTP/")) {
        fields_.clear();
        const QList<QByteArray> parts = line.toByteArray().split(' ');
        status_ = parts.size() > 1 ? parts[1].toInt() : 0;
        return;
    }
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0)
        return;
    fields_.append({line.first(colon).trimmed().toByteArray(),
                    line.sliced(colon + 1).trimmed().toByteArray()});
}

QByteArray ResponseHead::value(QByteArrayView name) const {
    for (const auto &[field, value] : fields_) {
        if (QByteArrayView(field).compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

qint64 ResponseHead::contentLength() const {
    if (!value("Transfer-Encoding").isEmpty())
        return -1;
    return parseCount(value("Content-Length")).value_or(-1);
}

std::optional<ResponseHead::ContentRange> ResponseHead::contentRange() const {
    const QByteArray text = value("Content-Range");
    if (!text.startsWith("bytes "))
        return std::nullopt;
    const QByteArrayView bounds = QByteArrayView(text).sliced(6).trimmed();
    const qsizetype dash = bounds.indexOf('-');
    const qsizetype slash = bounds.indexOf('/');
    if (dash < 0 || slash < dash)
        return std::nullopt;
    const std::optional<qint64> first = parseCount(bounds.first(dash));
    const std::optional<qint64> last = parseCount(bounds.sliced(dash + 1, slash - dash - 1));
    const QByteArrayView length = bounds.sliced(slash + 1);
    const std::optional<qint64> completeLength =
        length == "*" ? std::optional<qint64>(-1) : parseCount(length);
    if (!first || !last || !completeLength || *last < *first ||
        (*completeLength >= 0 && *last >= *completeLength))
        return std::nullopt;
    return ContentRange{*first, *last, *completeLength};
}

bool ResponseHead::acceptsByteRanges() const {
    const QList<QByteArray> units = value("Accept-Ranges").split(',');
    return std::any_of(units.begin(), units.end(), [](const QByteArray &unit) {
        return unit.trimmed().compare("bytes", Qt::CaseInsensitive) == 0;
    });
}

QByteArray ResponseHead::validator() const {
    // A weak tag never validates a partial answer, so it is no use for If-Range.
    const QByteArray etag = value("ETag");
    const QByteArray validator =
        !etag.isEmpty() && !etag.startsWith("W/") ? etag : value("Last-Modified");
    // It goes back to the server in a header line of its own.
    return validator.contains('\r') ? QByteArray() : validator;
}
