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
// Booleans become "True"/"False"; doubles as VBScript writes them: whole
// numbers below 1E+15 as integers, others with 15 significant digits, the
// same under every process locale.
PELLAR_EXPORT Text ToText(const Value& value);

}  // namespace pellar

#endif  // PELLAR_BASE_VALUE_H_
