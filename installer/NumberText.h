#pragma once

#include <QString>

// Number texts the installer sends and shows; a full stop whatever the user's locale.

// As printf's "%.Nf" in the C locale.
QString fixedText(double value, int decimals);

// The shortest text that reads back as `value`, in fixed notation and always with a fractional
// part: 90000.0, 90000.25.
QString shortestDecimalText(double value);
