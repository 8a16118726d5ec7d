#include <pellar/base/value.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include <pellar/base/chars.h>
#include <pellar/base/failure.h>
#include <pellar/base/number.h>
#include <pellar/base/text_internal.h>

namespace pellar {
namespace {

// The value as a double for numeric targets, or an exact integer.
struct Numeric {
  bool is_integer;
  int64_t integer;
  double real;
};

Numeric ToNumeric(const Value& value) {
  switch (value.index()) {
    case 0: return {true, 0, 0};
    case 1: return {true, std::get<int16_t>(value), 0};
    case 2: return {true, std::get<int32_t>(value), 0};
    case 3: return {false, 0, std::get<double>(value)};
    case 4: return {true, std::get<bool>(value) ? -1 : 0, 0};
    default: return {false, 0, ParseNumber(std::get<Text>(value))};
  }
}

int64_t ToRangedInteger(const Value& value, int64_t lo, int64_t hi) {
  Numeric n = ToNumeric(value);
  int64_t i = n.is_integer ? n.integer : RoundHalfEven(n.real);
  if (i < lo || i > hi) throw Failure(error::kOverflow);
  return i;
}

}  // namespace

bool ParseByteCount(std::string_view text, uint64_t* bytes) {
  uint64_t value = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value);
  std::string_view unit(end,
                        static_cast<size_t>(text.data() + text.size() - end));
  int shift = 0;
  if (unit == "K" || unit == "k") shift = 10;
  if (unit == "M" || unit == "m") shift = 20;
  if (unit == "G" || unit == "g") shift = 30;
  if (error != std::errc() || value < 1 || (!unit.empty() && shift == 0) ||
      value > (UINT64_MAX >> shift)) {
    return false;
  }
  *bytes = value << shift;
  return true;
}

namespace {

// Over UTF-16 text and over the programs' UTF-8 (where a number is ASCII),
// so that neither converts to the other to read one.
template <typename Char>
double ParseNumberOf(std::basic_string_view<Char> text) {
  size_t b = 0, e = text.size();
  while (b < e && IsBlank(char16_t(text[b]))) ++b;
  while (e > b && IsBlank(char16_t(text[e - 1]))) --e;
  std::string ascii;
  size_t i = b;
  auto digits = [&]() {
    size_t n = 0;
    while (i < e && text[i] >= Char('0') && text[i] <= Char('9')) {
      ascii.push_back(static_cast<char>(text[i++]));
      ++n;
    }
    return n;
  };
  if (i < e && (text[i] == Char('+') || text[i] == Char('-'))) {
    // from_chars takes no "+".
    if (text[i++] == Char('-')) ascii.push_back('-');
  }
  size_t n = digits();
  if (i < e && text[i] == Char('.')) {
    ascii.push_back('.');
    ++i;
    n += digits();
  }
  if (n == 0) throw Failure(error::kTypeMismatch);
  if (i < e && (text[i] == Char('e') || text[i] == Char('E'))) {
    ascii.push_back('e');
    ++i;
    if (i < e && (text[i] == Char('+') || text[i] == Char('-'))) {
      ascii.push_back(static_cast<char>(text[i++]));
    }
    if (digits() == 0) throw Failure(error::kTypeMismatch);
  }
  if (i != e) throw Failure(error::kTypeMismatch);
  // from_chars reads "." whatever the process locale says.
  double d = 0;
  const auto [end, ec] =
      std::from_chars(ascii.data(), ascii.data() + ascii.size(), d);
  if (ec == std::errc::result_out_of_range) {
    // Too small to represent is zero; too large is an overflow.
    const size_t exponent = ascii.find('e');
    if (exponent != std::string::npos && ascii[exponent + 1] == '-') return 0;
    throw Failure(error::kOverflow);
  }
  if (ec != std::errc() || end != ascii.data() + ascii.size()) {
    throw Failure(error::kTypeMismatch);
  }
  if (!std::isfinite(d)) throw Failure(error::kOverflow);
  return d;
}

}  // namespace

double ParseNumber(TextView text) { return ParseNumberOf(text); }
double ParseNumber(std::string_view text) { return ParseNumberOf(text); }

int64_t RoundHalfEven(double d) {
  // 2^63 is the first double beyond int64's range.
  if (!std::isfinite(d) || d >= 9223372036854775808.0 ||
      d < -9223372036854775808.0) {
    throw Failure(error::kOverflow);
  }
  double r = std::nearbyint(d);  // default rounding mode: half to even
  if (r >= 9223372036854775808.0) throw Failure(error::kOverflow);
  return static_cast<int64_t>(r);
}

int32_t ToInt32(const Value& value) {
  return static_cast<int32_t>(ToRangedInteger(
      value, std::numeric_limits<int32_t>::min(),
      std::numeric_limits<int32_t>::max()));
}

int16_t ToInt16(const Value& value) {
  return static_cast<int16_t>(ToRangedInteger(
      value, std::numeric_limits<int16_t>::min(),
      std::numeric_limits<int16_t>::max()));
}

bool ToBoolean(const Value& value) {
  if (const Text* t = std::get_if<Text>(&value)) {
    if (EqualsIgnoreCase(*t, u"True")) return true;
    if (EqualsIgnoreCase(*t, u"False")) return false;
    return ParseNumber(*t) != 0;
  }
  Numeric n = ToNumeric(value);
  return n.is_integer ? n.integer != 0 : n.real != 0;
}

namespace {

// `d` with `digits` significant digits; whole numbers below 10^digits
// without an exponent.
Text SignificantText(double d, int digits) {
  if (std::nearbyint(d) == d && std::fabs(d) < std::pow(10.0, digits)) {
    return Decimal(static_cast<int64_t>(d));
  }
  // "." whatever the process locale says.
  char buf[40];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d,
                                       std::chars_format::general, digits);
  if (ec != std::errc()) throw Failure(error::kOverflow);
  for (char* c = buf; c != end; ++c) {
    if (*c == 'e') *c = 'E';
  }
  return Ascii(std::string_view(buf, static_cast<size_t>(end - buf)));
}

}  // namespace

Text DoubleText(double d) { return SignificantText(d, 15); }

Text SingleText(float f) { return SignificantText(f, 7); }

Text ToText(const Value& value) {
  switch (value.index()) {
    case 0: return Text();
    case 1: return Decimal(std::get<int16_t>(value));
    case 2: return Decimal(std::get<int32_t>(value));
    case 3: return DoubleText(std::get<double>(value));
    case 4: return std::get<bool>(value) ? u"True" : u"False";
    default: return std::get<Text>(value);
  }
}

Text ToTextNumericBoolean(const Value& value) {
  if (const bool* b = std::get_if<bool>(&value)) return *b ? u"-1" : u"0";
  return ToText(value);
}

Value ConvertTo(const Value& value, Type type) {
  switch (type) {
    case Type::kText: return ToText(value);
    case Type::kInt32: return ToInt32(value);
    case Type::kInt16: return ToInt16(value);
    case Type::kBoolean: return ToBoolean(value);
  }
  return Value{};
}

}  // namespace pellar
