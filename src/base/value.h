// Automation values and the conversion rules applied to method arguments.
#ifndef PELLAR_BASE_VALUE_H_
#define PELLAR_BASE_VALUE_H_

#include <cstdint>
#include <string_view>
#include <variant>

#include <pellar/base/export.h>
#include <pellar/base/text.h>

namespace pellar {

// An automation value: Empty, 16-bit and 32-bit integers, double, Boolean,
// text. Empty is std::monostate.
using Value = std::variant<std::monostate, int16_t, int32_t, double, bool, Text>;

// The declared types of parameters and results.
enum class Type { kText, kInt32, kInt16, kBoolean };

// Converts by the automation rules. Numbers from text accept blanks around,
// a sign, decimals and an exponent ("12" -> 12); anything else fails with 13
// "Type mismatch". A double is rounded half to even; a value outside the
// target range fails with 6 "Overflow". Boolean True is -1 as a number;
// Empty is 0, "" or False.
PELLAR_EXPORT Value ConvertTo(const Value& value, Type type);
PELLAR_EXPORT int32_t ToInt32(const Value& value);
PELLAR_EXPORT int16_t ToInt16(const Value& value);
PELLAR_EXPORT bool ToBoolean(const Value& value);
// Booleans become "True"/"False"; doubles as DoubleText writes them.
PELLAR_EXPORT Text ToText(const Value& value);
// As ToText, but Booleans become "-1"/"0" (conversion without the
// alphabetic Boolean flag).
Text ToTextNumericBoolean(const Value& value);
// Text form of a double as VBScript writes it: whole numbers below 1E+15 as
// integers, others with 15 significant digits ("1.5", "0.333333333333333",
// "1E+20"). The same under every process locale.
Text DoubleText(double d);

// Reads a number from text by the automation rules: blanks around, an
// optional sign, digits with an optional decimal point, an optional
// exponent; "." is the decimal point under every locale. Fails with 13 for
// anything else, with 6 beyond the range of a double.
double ParseNumber(TextView text);

// Reads a byte count given on a command line: digits with an optional K, M
// or G (powers of 1024); false for anything else, for 0 and beyond uint64.
bool ParseByteCount(std::string_view text, uint64_t* bytes);

// Rounds half to even and range-checks into int64 (failure 6 when not finite
// or beyond +-2^63).
int64_t RoundHalfEven(double d);

}  // namespace pellar

#endif  // PELLAR_BASE_VALUE_H_
