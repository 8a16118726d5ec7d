// FormatNumber, FormatCurrency and FormatPercent, in US English.
#include <pellar/base/text_internal.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "builtins_internal.h"

namespace pellar::script {
namespace {

// Rounds half away from zero to `digits` places and writes the digits
// with thousands grouping, as FormatNumber does. The rounding works on the
// 15 significant digits a Double shows, so 1.005 gives 1.01 and 1E+20 keeps
// its zeros.
Text FormatNumberText(double x, int digits, bool leading_zero, bool parens,
                      bool group) {
  if (digits < 0) digits = 2;
  if (digits > 15) Raise(error::kInvalidCall);
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.14e", std::fabs(x));
  std::string d = std::string(1, buffer[0]) + std::string(buffer + 2, 14);
  int e = std::atoi(std::strchr(buffer, 'e') + 1);
  const int keep = e + 1 + digits;  // significant digits left after rounding
  if (keep < 0) {
    d.clear();
  } else if (keep < static_cast<int>(d.size())) {
    const bool up = d[keep] >= '5';
    d.resize(keep);
    int i = keep - 1;
    for (; up && i >= 0 && d[i] == '9'; --i) d[i] = '0';
    if (up && i < 0) {
      d.insert(0, "1");
      ++e;
    } else if (up) {
      ++d[i];
    }
  }
  std::string whole = "0", rest = d;
  if (e >= 0) {
    whole = d.substr(0, std::min<size_t>(d.size(), e + 1));
    whole.resize(e + 1, '0');
    rest = d.size() > static_cast<size_t>(e + 1) ? d.substr(e + 1) : "";
  } else {
    rest = std::string(-e - 1, '0') + d;
  }
  rest.resize(digits, '0');
  const bool negative =
      x < 0 && (whole + rest).find_first_not_of('0') != std::string::npos;
  std::string frac = digits > 0 ? "." + rest : "";
  if (whole == "0" && !leading_zero && !frac.empty()) whole.clear();
  if (group) {
    std::string g;
    for (size_t i = 0; i < whole.size(); ++i) {
      if (i > 0 && (whole.size() - i) % 3 == 0) g += ',';
      g += whole[i];
    }
    whole = g;
  }
  std::string out = whole + frac;
  if (negative) out = parens ? "(" + out + ")" : "-" + out;
  return Ascii(out);
}

Var FormatNumber(Host&, Args args) {
  if (Arg(args, 0).is_null()) Raise(error::kInvalidNull);
  double x = ToDouble(Arg(args, 0));
  int digits = Given(args, 1) ? ToLong(Arg(args, 1)) : -1;
  bool leading = Given(args, 2) ? ToLong(Arg(args, 2)) != 0 : true;
  bool parens = Given(args, 3) ? ToLong(Arg(args, 3)) == -1 : false;
  bool group = Given(args, 4) ? ToLong(Arg(args, 4)) != 0 : true;
  return Var::String(FormatNumberText(x, digits, leading, parens, group));
}

Var FormatMoneyOrShare(Args args, bool currency) {
  if (Arg(args, 0).is_null()) Raise(error::kInvalidNull);
  double x = ToDouble(Arg(args, 0));
  if (!currency) x *= 100;
  int digits = Given(args, 1) ? ToLong(Arg(args, 1)) : -1;
  bool leading = Given(args, 2) ? ToLong(Arg(args, 2)) != 0 : true;
  // US English shows a negative amount of money in parentheses, a
  // negative percentage with a minus sign; -2 asks for that default.
  const int32_t paren_arg = Given(args, 3) ? ToLong(Arg(args, 3)) : -2;
  bool parens = paren_arg == -1 || (currency && paren_arg == -2);
  bool group = Given(args, 4) ? ToLong(Arg(args, 4)) != 0 : true;
  Text number = FormatNumberText(x, digits, leading, parens, group);
  if (!currency) {
    return Var::String(number.back() == u')'
                           ? number.insert(number.size() - 1, u"%")
                           : number + u"%");
  }
  const size_t sign = number[0] == u'(' || number[0] == u'-' ? 1 : 0;
  return Var::String(number.insert(sign, u"$"));
}
Var FormatCurrency(Host&, Args args) { return FormatMoneyOrShare(args, true); }
Var FormatPercent(Host&, Args args) { return FormatMoneyOrShare(args, false); }

constexpr BuiltinInfo kEntries[] = {
    {"FormatNumber", 1, 5, FormatNumber},
    {"FormatCurrency", 1, 5, FormatCurrency},
    {"FormatPercent", 1, 5, FormatPercent},
};

}  // namespace

std::span<const BuiltinInfo> FormatBuiltins() { return kEntries; }

}  // namespace pellar::script
