// Arithmetic functions: rounding, signs, roots, logarithms, angles and
// random numbers.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "builtins_internal.h"

namespace pellar::script {
namespace {

// The subtype a whole-number result keeps: Abs of a Long is a Long.
Var KeepType(const Var& v, double d) {
  switch (v.type()) {
    case VType::kInteger:
    case VType::kLong:
    case VType::kByte:
    case VType::kBoolean:
      return Var::Number(static_cast<int64_t>(d));
    case VType::kDate:
      return Var::Date(d);
    case VType::kSingle:
      return Var::Single(d);
    default:
      return Var::Double(d);
  }
}

// Ten-thousandths `q` whole units of `unit`, or 6 "Overflow" beyond
// Currency's range.
Var CurrencyUnits(__int128 q, int64_t unit) {
  const __int128 ticks = q * unit;
  if (ticks < kMinCurrency || ticks > kMaxCurrency) Raise(error::kOverflow);
  return Var::Currency(static_cast<int64_t>(ticks));
}

// Int and Fix of a Currency: whole units, down or toward zero.
Var CurrencyWhole(int64_t ticks, bool floor) {
  int64_t q = ticks / kCurrencyScale;
  if (floor && ticks % kCurrencyScale < 0) --q;
  return CurrencyUnits(q, kCurrencyScale);
}

// Round of a Currency: half to even at `digits` decimals.
Var CurrencyRounded(int64_t ticks, int digits) {
  if (digits >= 4) return Var::Currency(ticks);
  int64_t unit = 1;
  for (int i = digits; i < 4; ++i) unit *= 10;
  int64_t q = ticks / unit;
  const int64_t r = ticks % unit, twice = (r < 0 ? -r : r) * 2;
  if (twice > unit || (twice == unit && q % 2 != 0)) q += ticks < 0 ? -1 : 1;
  return CurrencyUnits(q, unit);
}

Var WholePart(const Var& v, bool floor) {
  if (v.is_null()) return Var::Null();
  if (v.type() == VType::kInteger || v.type() == VType::kLong ||
      v.type() == VType::kByte) {
    return v;
  }
  if (v.type() == VType::kBoolean || v.is_empty())
    return Var::Integer(static_cast<int16_t>(v.raw_long()));
  if (v.type() == VType::kCurrency)
    return CurrencyWhole(v.raw_currency(), floor);
  double d = ToDouble(v);
  double r = floor ? std::floor(d) : std::trunc(d);
  return KeepType(v, r);
}
Var Int(Host&, Args args) { return WholePart(Arg(args, 0), true); }
Var Fix(Host&, Args args) { return WholePart(Arg(args, 0), false); }

Var Abs(Host&, Args args) {
  const Var& v = Arg(args, 0);
  if (v.is_null()) return Var::Null();
  if (v.is_empty()) return Var::Integer(0);
  if (v.type() == VType::kInteger || v.type() == VType::kLong ||
      v.type() == VType::kBoolean || v.type() == VType::kByte) {
    int64_t n = v.raw_long();
    return Var::Number(n < 0 ? -n : n);
  }
  if (v.type() == VType::kCurrency) return v.raw_currency() < 0 ? Negate(v) : v;
  return KeepType(v, std::fabs(ToDouble(v)));
}

Var Sgn(Host&, Args args) {
  if (Arg(args, 0).is_null()) Raise(error::kInvalidNull);
  double d = ToDouble(Arg(args, 0));
  return Var::Integer(d > 0 ? 1 : d < 0 ? -1 : 0);
}

// Half to even at `digits` places.
Var RoundVar(const Var& v, int digits) {
  if (v.is_null()) return v;
  if (digits < 0) Raise(error::kInvalidCall);
  if (v.type() == VType::kInteger || v.type() == VType::kLong ||
      v.type() == VType::kByte) {
    return v;
  }
  if (v.type() == VType::kBoolean)
    return Var::Integer(static_cast<int16_t>(v.raw_long()));
  if (v.type() == VType::kCurrency)
    return CurrencyRounded(v.raw_currency(), digits);
  double x = ToDouble(v);
  double scale = std::pow(10.0, digits);
  double scaled = x * scale;
  if (!std::isfinite(scaled))
    return v.type() == VType::kSingle ? Var::Single(x) : Var::Double(x);
  double floor = std::floor(scaled);
  double diff = scaled - floor;
  double r;
  const double eps = 1e-9 * std::max(1.0, std::fabs(scaled));
  if (std::fabs(diff - 0.5) <= eps) {
    r = std::fmod(floor, 2) == 0 ? floor : floor + 1;
  } else {
    r = std::round(scaled);
  }
  r /= scale;
  return KeepType(v, r);
}
Var Round(Host&, Args args) {
  return RoundVar(Arg(args, 0), Given(args, 1) ? ToLong(Arg(args, 1)) : 0);
}

Var Sqr(Host&, Args args) {
  double d = ToDouble(Arg(args, 0));
  if (d < 0) Raise(error::kInvalidCall);
  return Var::Double(std::sqrt(d));
}

Var Exp(Host&, Args args) {
  double r = std::exp(ToDouble(Arg(args, 0)));
  if (!std::isfinite(r)) Raise(error::kOverflow);
  return Var::Double(r);
}

Var Log(Host&, Args args) {
  double d = ToDouble(Arg(args, 0));
  if (d <= 0) Raise(error::kInvalidCall);
  return Var::Double(std::log(d));
}

Var Sin(Host&, Args args) {
  return Var::Double(std::sin(ToDouble(Arg(args, 0))));
}
Var Cos(Host&, Args args) {
  return Var::Double(std::cos(ToDouble(Arg(args, 0))));
}
Var Tan(Host&, Args args) {
  return Var::Double(std::tan(ToDouble(Arg(args, 0))));
}
Var Atn(Host&, Args args) {
  return Var::Double(std::atan(ToDouble(Arg(args, 0))));
}

Var Rnd(Host& host, Args args) {
  double x = Given(args, 0) ? ToDouble(Arg(args, 0)) : 1;
  return Var::Single(host.NextRandom(x));
}

Var Randomize(Host& host, Args args) {
  // Without a seed, Timer's value (a Single) seeds.
  host.Randomize(Given(args, 0) ? ToDouble(Arg(args, 0))
                                : static_cast<float>(SecondsSinceMidnight()));
  return Var();
}

constexpr BuiltinInfo kEntries[] = {
    {"Int", 1, 1, Int},     {"Fix", 1, 1, Fix},
    {"Abs", 1, 1, Abs},     {"Sgn", 1, 1, Sgn},
    {"Round", 1, 2, Round}, {"Sqr", 1, 1, Sqr},
    {"Exp", 1, 1, Exp},     {"Log", 1, 1, Log},
    {"Sin", 1, 1, Sin},     {"Cos", 1, 1, Cos},
    {"Tan", 1, 1, Tan},     {"Atn", 1, 1, Atn},
    {"Rnd", 0, 1, Rnd},     {"Randomize", 0, 1, Randomize},
};

}  // namespace

std::span<const BuiltinInfo> NumberBuiltins() { return kEntries; }

}  // namespace pellar::script
