#include "score/duration.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <system_error>

namespace {

constexpr int significantDigitLimit = 15;
// An exponent beyond this already puts any 15-digit value outside a double.
constexpr std::int64_t exponentClamp = 100000;

// The number grammar knows only ASCII digits and these six spaces.
bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isLeadingSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The digits that count, as an integer string, and the power of ten that
// scales them to the value written.
struct DecimalDigits {
  char kept[significantDigitLimit];
  int keptCount = 0;
  std::int64_t scale = 0;
  bool sawDigit = false;
};

// Reads digits before (inFraction false) or after the point from text[i..),
// returns the index after them.
std::size_t readDigits(const char* text, std::size_t length, std::size_t i, bool inFraction,
                       DecimalDigits& digits) {
  for (; i < length && isDigit(text[i]); ++i) {
    digits.sawDigit = true;
    bool leadingZero = digits.keptCount == 0 && text[i] == '0';
    if (!leadingZero && digits.keptCount < significantDigitLimit) {
      digits.kept[digits.keptCount++] = text[i];
      if (inFraction) --digits.scale;
    } else if (leadingZero && inFraction) {
      --digits.scale;
    } else if (!leadingZero && !inFraction) {
      ++digits.scale;  // a digit beyond the 15th before the point
    }
  }
  return i;
}

// Reads an exponent at text[i..) if it has digits; returns its value, clamped,
// or 0 when there is none.
std::int64_t readExponent(const char* text, std::size_t length, std::size_t i) {
  if (i >= length || (text[i] != 'e' && text[i] != 'E')) return 0;
  ++i;
  bool negative = false;
  if (i < length && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t value = 0;
  for (; i < length && isDigit(text[i]); ++i) {
    if (value < exponentClamp) value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

// Converts kept digits times ten to the scale, correctly rounded.
double toDouble(const DecimalDigits& digits, std::int64_t exponent) {
  char text[64];
  int used = std::snprintf(text, sizeof text, "%.*se%lld", digits.keptCount, digits.kept,
                           static_cast<long long>(exponent));
  double value = 0.0;
#if defined(__cpp_lib_to_chars)
  std::from_chars_result result = std::from_chars(text, text + used, value);
  if (result.ec == std::errc::result_out_of_range) {
    // Too large or too small for a double: decide by the decimal magnitude.
    bool overflow = exponent + digits.keptCount > 0;
    value = overflow ? std::numeric_limits<double>::infinity() : 0.0;
  }
#else
  // This C++ library has no floating-point from_chars (libc++ before 17,
  // as in the page's build). The text holds only digits, "e" and a sign, no
  // decimal point, so strtod reads it alike in every locale, and musl's
  // strtod rounds correctly; beyond a double it gives infinity, below, 0.
  static_cast<void>(used);  // strtod reads up to the terminator snprintf wrote
  value = std::strtod(text, nullptr);
#endif
  return value;
}

}  // namespace

double parseDuration(const char* text, std::size_t length) {
  std::size_t i = 0;
  while (i < length && isLeadingSpace(text[i])) ++i;
  bool negative = false;
  if (i < length && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';

  DecimalDigits digits;
  i = readDigits(text, length, i, false, digits);
  if (i < length && text[i] == '.') i = readDigits(text, length, i + 1, true, digits);
  if (!digits.sawDigit) return 0.0;

  double value = 0.0;
  if (digits.keptCount > 0) {
    value = toDouble(digits, digits.scale + readExponent(text, length, i));
  }
  return negative ? -value : value;
}
