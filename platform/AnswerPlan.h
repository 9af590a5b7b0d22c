#pragma once

#include "platform/ResponseHead.h"

#include <QString>

// What a transfer does with an answer's body, decided from its head before the first body byte.
struct AnswerPlan {
    // Refuse: the answer can never continue the file. Fail: an error answer, which leaves the
    // file as it was, to be continued later.
    enum class Action { Append, StartOver, Refuse, Fail };
    Action action = Action::Refuse;
    qint64 expectedSize = -1; // of the whole file once the body is in; -1 when unknown
    QString reason;           // why the body is of no use
};

// `onDisk` is what the request asked the server to continue: the bytes of the partial file, 0
// for a fresh transfer. A partial answer must carry on exactly there, to the end of the file; a
// whole answer (the file changed, or the server ignored the range) replaces what is on disk; any
// other status is an error page, never the file.
AnswerPlan planForAnswer(const ResponseHead &head, qint64 onDisk);

// Whether what the answer brings can be continued later: the server takes byte ranges and a
// validator ties them to this version of the file.
bool canContinueLater(const ResponseHead &head);
