// The number at the start of a score's header line: the length of every
// chord in seconds.
#pragma once

#include <cstddef>

// Returns the decimal number at the start of text[0..length): leading white
// space, an optional sign, digits with an optional "." and fraction, and an
// optional exponent (ignored when it has no digits). At most 15 significant
// digits count; the rest only scale the value (before the point) or are dropped
// (after it). The result is correctly rounded; it is +-infinity when the value
// lies beyond the range of a double, and 0 when the text holds no number.
// Hexadecimal, infinity and not-a-number forms are not numbers here.
double parseDuration(const char* text, std::size_t length);
