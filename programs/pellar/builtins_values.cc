// What a value is: the Is functions, TypeName, VarType, and arrays.
#include <cstdint>
#include <utility>
#include <vector>

#include "builtins_internal.h"

namespace pellar::script {
namespace {

Var IsNumeric(Host&, Args args) {
  const Var& v = Arg(args, 0);
  if (v.is_string()) {
    double d;
    return Var::Bool(IsNumericText(v.str(), &d));
  }
  return Var::Bool(v.is_numeric() && v.type() != VType::kDate);
}

Var IsEmpty(Host&, Args args) { return Var::Bool(Arg(args, 0).is_empty()); }
Var IsNull(Host&, Args args) { return Var::Bool(Arg(args, 0).is_null()); }
Var IsArray(Host&, Args args) { return Var::Bool(Arg(args, 0).is_array()); }
Var IsObject(Host&, Args args) { return Var::Bool(Arg(args, 0).is_object()); }

Var IsDate(Host&, Args args) {
  const Var& v = Arg(args, 0);
  double d;
  return Var::Bool(v.type() == VType::kDate ||
                   (v.is_string() && ParseDateText(v.str(), &d)));
}

Var TypeName(Host&, Args args) {
  const Var& v = Arg(args, 0);
  switch (v.type()) {
    case VType::kEmpty:
      return Var::String(u"Empty");
    case VType::kNull:
      return Var::String(u"Null");
    case VType::kInteger:
      return Var::String(u"Integer");
    case VType::kLong:
      return Var::String(u"Long");
    case VType::kSingle:
      return Var::String(u"Single");
    case VType::kDouble:
      return Var::String(u"Double");
    case VType::kCurrency:
      return Var::String(u"Currency");
    case VType::kDate:
      return Var::String(u"Date");
    case VType::kString:
      return Var::String(u"String");
    case VType::kBoolean:
      return Var::String(u"Boolean");
    case VType::kByte:
      return Var::String(u"Byte");
    case VType::kArray:
      return Var::String(u"Variant()");
    case VType::kObject:
      return Var::String(v.object() ? v.object()->TypeName()
                                    : Text(u"Nothing"));
    default:
      return Var::String(u"Unknown");
  }
}

Var VarType(Host&, Args args) {
  const Var& v = Arg(args, 0);
  if (v.is_array()) return Var::Integer(8192 + 12);
  return Var::Integer(static_cast<int16_t>(v.type()));
}

Var Bound(Args args, bool lower) {
  const ArrBox& a = ArrayArg(Arg(args, 0));
  int32_t dim = Given(args, 1) ? ToLong(Arg(args, 1)) : 1;
  if (dim < 1 || static_cast<size_t>(dim) > a.upper.size())
    Raise(error::kSubscriptOutOfRange);
  return Var::Long(lower ? 0 : a.upper[static_cast<size_t>(dim - 1)]);
}
Var LBound(Host&, Args args) { return Bound(args, true); }
Var UBound(Host&, Args args) { return Bound(args, false); }

Var Array(Host&, Args args) {
  std::vector<Var> items;
  items.reserve(args.size());
  for (Var* item : args) items.push_back(*item);
  return NewArray(std::move(items));
}

constexpr BuiltinInfo kEntries[] = {
    {"IsNumeric", 1, 1, IsNumeric}, {"IsEmpty", 1, 1, IsEmpty},
    {"IsNull", 1, 1, IsNull},       {"IsArray", 1, 1, IsArray},
    {"IsObject", 1, 1, IsObject},   {"IsDate", 1, 1, IsDate},
    {"TypeName", 1, 1, TypeName},   {"VarType", 1, 1, VarType},
    {"LBound", 1, 2, LBound},       {"UBound", 1, 2, UBound},
    {"Array", 0, 255, Array},
};

}  // namespace

std::span<const BuiltinInfo> ValueBuiltins() { return kEntries; }

}  // namespace pellar::script
