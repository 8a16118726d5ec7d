// Conversions between subtypes, and numbers as hexadecimal or octal text.
#include <cstdint>

#include "builtins_internal.h"

namespace pellar::script {
namespace {

Var CStr(Host&, Args args) { return Var::String(ToStr(Arg(args, 0))); }
Var CInt(Host&, Args args) { return Var::Integer(ToInteger(Arg(args, 0))); }
Var CLng(Host&, Args args) { return Var::Long(ToLong(Arg(args, 0))); }
Var CDbl(Host&, Args args) { return Var::Double(ToDouble(Arg(args, 0))); }
Var CSng(Host&, Args args) { return Var::Single(ToDouble(Arg(args, 0))); }
Var CCur(Host&, Args args) { return Var::Currency(ToCurrency(Arg(args, 0))); }
Var CBool(Host&, Args args) { return Var::Bool(ToBool(Arg(args, 0))); }

Var CDate(Host&, Args args) {
  if (Arg(args, 0).is_null()) Raise(error::kInvalidNull);
  return ToDateVar(Arg(args, 0));
}

Var CByte(Host&, Args args) {
  int32_t v = ToLong(Arg(args, 0));
  if (v < 0 || v > 255) Raise(error::kOverflow);
  return Var::Byte(static_cast<uint8_t>(v));
}

// A negative Integer shows as 16 bits, a negative Long as 32.
Text HexOct(const Var& v, bool hex) {
  uint32_t n;
  int32_t value = ToLong(v);
  if ((v.type() == VType::kInteger || v.type() == VType::kByte ||
       v.type() == VType::kBoolean || v.type() == VType::kEmpty) &&
      value < 0) {
    n = static_cast<uint16_t>(value);
  } else {
    n = static_cast<uint32_t>(value);
  }
  if (n == 0) return u"0";
  Text out;
  while (n) {
    int d = static_cast<int>(n % (hex ? 16 : 8));
    out.insert(out.begin(),
               static_cast<char16_t>(d < 10 ? u'0' + d : u'A' + d - 10));
    n /= hex ? 16 : 8;
  }
  return out;
}
Var Hex(Host&, Args args) {
  if (Arg(args, 0).is_null()) return Var::Null();
  return Var::String(HexOct(Arg(args, 0), true));
}
Var Oct(Host&, Args args) {
  if (Arg(args, 0).is_null()) return Var::Null();
  return Var::String(HexOct(Arg(args, 0), false));
}

constexpr BuiltinInfo kEntries[] = {
    {"CStr", 1, 1, CStr},   {"CInt", 1, 1, CInt},   {"CLng", 1, 1, CLng},
    {"CDbl", 1, 1, CDbl},   {"CSng", 1, 1, CSng},   {"CBool", 1, 1, CBool},
    {"CDate", 1, 1, CDate}, {"CByte", 1, 1, CByte}, {"CCur", 1, 1, CCur},
    {"Hex", 1, 1, Hex},     {"Oct", 1, 1, Oct},
};

}  // namespace

std::span<const BuiltinInfo> ConversionBuiltins() { return kEntries; }

}  // namespace pellar::script
