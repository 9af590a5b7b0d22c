#include "support/HttpRequestParser.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace {

constexpr qsizetype maxHeadSize = 64 * 1024;
constexpr int maxChunkSizeDigits = 15; // keeps the size within qint64

bool isDigits(const QByteArray &text) {
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool isHexDigits(const QByteArray &text) {
    return !text.isEmpty() && text.size() <= maxChunkSizeDigits &&
           std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(uchar(c)); });
}

bool isToken(const QByteArray &text) {
    return !text.isEmpty() && std::none_of(text.begin(), text.end(), [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ':';
    });
}

} // namespace

void HttpRequestParser::append(const QByteArray &bytes) {
    if (position_ > 0) {
        buffer_.remove(0, position_);
        position_ = 0;
    }
    buffer_.append(bytes);
}

HttpRequestParser::Result HttpRequestParser::next(RecordedRequest &request) {
    Result result = Result::Incomplete;
    switch (stage_) {
    case Stage::Head:
        result = parseHead();
        break;
    case Stage::Body:
        result = readBody();
        break;
    case Stage::ChunkSize:
    case Stage::ChunkData:
    case Stage::Trailers:
        result = readChunks();
        break;
    case Stage::Broken:
        return Result::Malformed;
    }
    if (result != Result::Complete)
        return result;
    request = std::move(current_);
    current_ = RecordedRequest();
    stage_ = Stage::Head;
    continuePending_ = false;
    return Result::Complete;
}

bool HttpRequestParser::takeContinueRequest() {
    return std::exchange(continuePending_, false);
}

HttpRequestParser::Result HttpRequestParser::parseHead() {
    QList<QByteArray> lines;
    qsizetype cursor = position_;
    for (;;) {
        QByteArray line;
        cursor = readLine(cursor, line);
        if (cursor < 0)
            return buffer_.size() - position_ > maxHeadSize ? fail() : Result::Incomplete;
        if (cursor - position_ > maxHeadSize)
            return fail();
        if (!line.isEmpty())
            lines.append(line);
        else if (!lines.isEmpty())
            break; // blank lines before the request line are tolerated
    }
    position_ = cursor;

    const QList<QByteArray> parts = lines.takeFirst().split(' ');
    if (parts.size() != 3 || !isToken(parts[0]) || parts[1].isEmpty() ||
        !parts[2].startsWith("HTTP/1."))
        return fail();
    current_.method = parts[0];
    current_.version = parts[2];
    const qsizetype question = parts[1].indexOf('?');
    current_.path = question < 0 ? parts[1] : parts[1].left(question);
    current_.query = question < 0 ? QByteArray() : parts[1].mid(question + 1);

    for (const QByteArray &line : std::as_const(lines)) {
        const qsizetype colon = line.indexOf(':');
        const QByteArray name = line.left(colon);
        if (colon < 0 || !isToken(name))
            return fail(); // also rejects folded continuation lines
        current_.headers.append({name, line.mid(colon + 1).trimmed()});
    }

    QByteArray length;
    bool chunked = false;
    for (const auto &[name, value] : std::as_const(current_.headers)) {
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
            if (!isDigits(value) || (!length.isNull() && value != length))
                return fail();
            length = value;
        } else if (name.compare("Transfer-Encoding", Qt::CaseInsensitive) == 0) {
            if (value.compare("chunked", Qt::CaseInsensitive) != 0 || chunked)
                return fail();
            chunked = true;
        }
    }
    if (chunked && !length.isNull())
        return fail(); // ambiguous framing
    bool inRange = true;
    remaining_ = length.isNull() ? 0 : length.toLongLong(&inRange);
    if (!inRange)
        return fail();

    const bool hasBody = chunked || remaining_ > 0;
    continuePending_ =
        hasBody && current_.header("Expect").compare("100-continue", Qt::CaseInsensitive) == 0;
    if (chunked) {
        stage_ = Stage::ChunkSize;
        return readChunks();
    }
    stage_ = Stage::Body;
    return readBody();
}

HttpRequestParser::Result HttpRequestParser::readBody() {
    takeBodyBytes();
    return remaining_ == 0 ? Result::Complete : Result::Incomplete;
}

void HttpRequestParser::takeBodyBytes() {
    const qint64 take = std::min<qint64>(remaining_, buffer_.size() - position_);
    current_.body.append(buffer_.constData() + position_, take);
    position_ += take;
    remaining_ -= take;
}

HttpRequestParser::Result HttpRequestParser::readChunks() {
    for (;;) {
        if (stage_ == Stage::ChunkData) {
            takeBodyBytes();
            if (remaining_ > 0)
                return Result::Incomplete;
        }
        QByteArray line;
        const qsizetype after = readLine(position_, line);
        if (after < 0)
            return buffer_.size() - position_ > maxHeadSize ? fail() : Result::Incomplete;
        position_ = after;

        switch (stage_) {
        case Stage::ChunkSize: {
            const qsizetype extensions = line.indexOf(';');
            const QByteArray digits = (extensions < 0 ? line : line.left(extensions)).trimmed();
            if (!isHexDigits(digits))
                return fail();
            remaining_ = digits.toLongLong(nullptr, 16);
            stage_ = remaining_ == 0 ? Stage::Trailers : Stage::ChunkData;
            break;
        }
        case Stage::ChunkData: // the line break that ends a chunk's data
            if (!line.isEmpty())
                return fail();
            stage_ = Stage::ChunkSize;
            break;
        default: // trailer fields are read and dropped; a blank line ends the request
            if (line.isEmpty())
                return Result::Complete;
            break;
        }
    }
}

qsizetype HttpRequestParser::readLine(qsizetype from, QByteArray &line) const {
    const qsizetype end = buffer_.indexOf('\n', from);
    if (end < 0)
        return -1;
    line = buffer_.mid(from, end - from);
    if (line.endsWith('\r'))
        line.chop(1);
    return end + 1;
}

HttpRequestParser::Result HttpRequestParser::fail() {
    stage_ = Stage::Broken;
    continuePending_ = false;
    return Result::Malformed;
}
