// Automation values and the conversion rules applied to method arguments.
#ifndef PELLAR_FRAME_VALUE_H_
#define PELLAR_FRAME_VALUE_H_

#include <cstdint>
#include <variant>

#include "frame/text.h"

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
Value ConvertTo(const Value& value, Type type);
int32_t ToInt32(const Value& value);
int16_t ToInt16(const Value& value);
bool ToBoolean(const Value& value);
// Booleans become "True"/"False"; doubles use the shortest form that reads
// back, written as the automation layer writes them ("1.5", "1E+20").
Text ToText(const Value& value);
// As ToText, but Booleans become "-1"/"0" (conversion without the
// alphabetic Boolean flag).
Text ToTextNumericBoolean(const Value& value);
// Text form of a double as the automation layer writes it.
Text DoubleText(double d);

// Rounds half to even and range-checks into int64 (failure 6 when not finite
// or beyond +-2^63).
int64_t RoundHalfEven(double d);

}  // namespace pellar

#endif  // PELLAR_FRAME_VALUE_H_
