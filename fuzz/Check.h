#pragma once

#include <QString>

// Ends the run with `failure` on standard error; libFuzzer then saves the input that did it.
[[noreturn]] void failCheck(const QString &failure);

// A property of the code under test; `describe` builds the failure's text only when it is needed.
template <typename Describe> void check(bool holds, Describe &&describe) {
    if (!holds)
        failCheck(describe());
}
