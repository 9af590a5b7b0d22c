#include "platform/ResumeData.h"

#include <QDataStream>
#include <QIODevice>

namespace {

constexpr quint32 magic = 0x504c4452; // "PLDR"
constexpr quint16 version = 2;
constexpr QDataStream::Version streamVersion = QDataStream::Qt_6_4;

} // namespace

QByteArray ResumeData::serialise() const {
    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out.setVersion(streamVersion);
    out << magic << version << url << partialFile << bytesWritten << validator << knownLength;
    return data;
}

std::optional<ResumeData> ResumeData::parse(const QByteArray &data) {
    QDataStream in(data);
    in.setVersion(streamVersion);
    quint32 readMagic = 0;
    quint16 readVersion = 0;
    in >> readMagic >> readVersion;
    if (in.status() != QDataStream::Ok || readMagic != magic || readVersion != version)
        return std::nullopt;
    ResumeData resume;
    in >> resume.url >> resume.partialFile >> resume.bytesWritten >> resume.validator >>
        resume.knownLength;
    if (in.status() != QDataStream::Ok || !in.atEnd() || !resume.url.isValid() ||
        resume.partialFile.isEmpty() || resume.bytesWritten <= 0 || resume.validator.isEmpty() ||
        resume.validator.contains('\r') || resume.validator.contains('\n'))
        return std::nullopt;
    return resume;
}
