#include "platform/AnswerPlan.h"

AnswerPlan planForAnswer(const ResponseHead &head, qint64 onDisk) {
    if (head.status() == 416 && onDisk > 0)
        return {AnswerPlan::Action::Refuse, -1,
                QStringLiteral("the server cannot continue the partial download")};
    if (head.status() == 200)
        return {AnswerPlan::Action::StartOver, head.contentLength(), {}};
    if (head.status() != 206)
        return {AnswerPlan::Action::Fail, -1,
                QStringLiteral("the server answered with status %1").arg(head.status())};
    const std::optional<ResponseHead::ContentRange> range = head.contentRange();
    const qint64 length = head.contentLength();
    if (!range || range->first != onDisk ||
        (range->completeLength >= 0 && range->last + 1 != range->completeLength) ||
        (length >= 0 && length != range->last - range->first + 1))
        return {AnswerPlan::Action::Refuse, -1,
                QStringLiteral("the server's partial answer does not continue the file")};
    return {AnswerPlan::Action::Append, range->last + 1, {}};
}

bool canContinueLater(const ResponseHead &head) {
    const bool ranges = head.acceptsByteRanges() || head.status() == 206;
    return ranges && !head.validator().isEmpty();
}
