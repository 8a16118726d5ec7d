// The one number parser and formatter of the library and its programs,
// which callers outside it reach through ToText and ConvertTo (value.h).
#ifndef PELLAR_BASE_NUMBER_H_
#define PELLAR_BASE_NUMBER_H_

#include <cstdint>
#include <string_view>

#include <pellar/base/text.h>
#include <pellar/base/value.h>

namespace pellar {

// As ToText, but Booleans become "-1"/"0" (conversion without the
// alphabetic Boolean flag).
Text ToTextNumericBoolean(const Value& value);
// Text form of a double as VBScript writes it: whole numbers below 1E+15 as
// integers, others with 15 significant digits ("1.5", "0.333333333333333",
// "1E+20"). The same under every process locale.
Text DoubleText(double d);
// The same for a Single, with 7 significant digits ("0.3333333",
// "1.234568E+07").
Text SingleText(float f);

// Reads a number from text by the automation rules: blanks around, an
// optional sign, digits with an optional decimal point, an optional
// exponent; "." is the decimal point under every locale. Fails with 13 for
// anything else, with 6 beyond the range of a double.
double ParseNumber(TextView text);
// The same for UTF-8 text.
double ParseNumber(std::string_view text);

// Reads a byte count given on a command line: digits with an optional K, M
// or G (powers of 1024); false for anything else, for 0 and beyond uint64.
[[nodiscard]] bool ParseByteCount(std::string_view text, uint64_t* bytes);

// Rounds half to even and range-checks into int64 (failure 6 when not finite
// or beyond +-2^63).
int64_t RoundHalfEven(double d);

}  // namespace pellar

#endif  // PELLAR_BASE_NUMBER_H_
