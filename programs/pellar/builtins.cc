#include "builtins.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>

#include <pellar/base/text_internal.h>
#include <pellar/base/value.h>
#include <pellar/platform/platform.h>
#include "interpreter.h"

namespace pellar::script {
namespace {

constexpr BuiltinInfo kBuiltins[] = {
#define PELLAR_INFO(name, lo, hi) {Builtin::k##name, lo, hi},
    PELLAR_BUILTINS(PELLAR_INFO)
#undef PELLAR_INFO
};

const std::unordered_map<std::string_view, const BuiltinInfo*>& BuiltinNames() {
  static const auto* names = [] {
    auto* map = new std::unordered_map<std::string_view, const BuiltinInfo*>;
    static const std::string kNames[] = {
#define PELLAR_NAME(name, lo, hi) #name,
        PELLAR_BUILTINS(PELLAR_NAME)
#undef PELLAR_NAME
    };
    static std::vector<std::string> lower;
    for (const std::string& n : kNames) {
      std::string l;
      for (char c : n)
        l += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      lower.push_back(l);
    }
    for (size_t i = 0; i < lower.size(); ++i)
      map->emplace(lower[i], &kBuiltins[i]);
    return map;
  }();
  return *names;
}

bool AnyNull(Args args, size_t n) {
  for (size_t i = 0; i < std::min(n, args.size()); ++i) {
    if (args[i]->is_null()) return true;
  }
  return false;
}

int32_t NonNegative(const Var& v) {
  int32_t n = ToLong(v);
  if (n < 0) Raise(error::kInvalidCall);
  return n;
}

bool TextMode(Args args, size_t at) {
  return at < args.size() && ToLong(*args[at]) == 1;
}

// Position (1-based) of `needle` in `hay` from `start` (1-based), 0 if none.
int32_t Find(TextView hay, TextView needle, size_t start, bool text_mode) {
  if (start > hay.size() + 1) return 0;
  if (needle.empty()) return static_cast<int32_t>(start);
  if (!text_mode) {
    size_t at = hay.find(needle, start - 1);
    return at == TextView::npos ? 0 : static_cast<int32_t>(at + 1);
  }
  Text h = Lower(hay), n = Lower(needle);
  size_t at = h.find(n, start - 1);
  return at == Text::npos ? 0 : static_cast<int32_t>(at + 1);
}

Var KeepType(const Var& v, double d) {
  switch (v.type()) {
    case VType::kInteger:
    case VType::kLong:
    case VType::kByte:
    case VType::kBoolean:
      return Var::Number(static_cast<int64_t>(d));
    case VType::kDate:
      return Var::Date(d);
    default:
      return Var::Double(d);
  }
}

double Now(bool date, bool time) {
  LocalDateTime t = Platform::Current().LocalTime();
  double d = 0;
  if (date) d += MakeDate(t.year, t.month, t.day);
  if (time) d += MakeTime(t.hour, t.minute, t.second);
  return d;
}

const char* const kMonths[] = {"January",   "February", "March",    "April",
                               "May",       "June",     "July",     "August",
                               "September", "October",  "November", "December"};
const char* const kDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                             "Thursday", "Friday", "Saturday"};

Text LongDate(double date) {
  DateParts p = SplitDate(date);
  return Ascii(kDays[p.weekday - 1]) + u", " + Ascii(kMonths[p.month - 1]) +
         u" " + Decimal(p.day) + u", " + Decimal(p.year);
}

int IntervalOf(const Var& v) {
  std::string s;
  for (char16_t c : ToStr(v))
    s += static_cast<char>(c < 0x80 ? std::tolower(c) : '?');
  static const char* const kIntervals[] = {"yyyy", "q",  "m", "y", "d",
                                           "w",    "ww", "h", "n", "s"};
  for (int i = 0; i < 10; ++i) {
    if (s == kIntervals[i]) return i;
  }
  Raise(error::kInvalidCall);
}

Var DateAdd(const Var& interval, const Var& number, const Var& date) {
  int which = IntervalOf(interval);
  double n = std::trunc(ToDouble(number));
  double d = ToDouble(ToDateVar(date));
  if (which <= 2) {
    const double span = n * (which == 0 ? 12 : which == 1 ? 3 : 1);
    // Beyond the 9,900 years dates span, and small enough for an int.
    if (std::fabs(span) > 12 * 10000) Raise(error::kOverflow);
    const int months = static_cast<int>(span);
    DateParts p = SplitDate(d);
    int y = p.year + (p.month - 1 + months) / 12;
    int m = (p.month - 1 + months) % 12;
    if (m < 0) {
      m += 12;
      --y;
    }
    static constexpr int kLen[] = {31, 28, 31, 30, 31, 30,
                                   31, 31, 30, 31, 30, 31};
    int last =
        kLen[m] + (m == 1 && y % 4 == 0 && (y % 100 != 0 || y % 400 == 0));
    double frac = d - std::trunc(d);
    return Var::Date(MakeDate(y, m + 1, std::min(p.day, last)) +
                     std::fabs(frac));
  }
  double add = 0;
  switch (which) {
    case 3:
    case 4:
    case 5:
      add = n;
      break;
    case 6:
      add = n * 7;
      break;
    case 7:
      add = n / 24;
      break;
    case 8:
      add = n / 1440;
      break;
    default:
      add = n / 86400;
      break;
  }
  return Var::Date(d + add);
}

Var DateDiff(const Var& interval, const Var& a, const Var& b) {
  int which = IntervalOf(interval);
  double x = ToDouble(ToDateVar(a)), y = ToDouble(ToDateVar(b));
  DateParts p = SplitDate(x), q = SplitDate(y);
  double r = 0;
  switch (which) {
    case 0:
      r = q.year - p.year;
      break;
    case 1:
      r = (q.year * 4 + (q.month - 1) / 3) - (p.year * 4 + (p.month - 1) / 3);
      break;
    case 2:
      r = (q.year * 12 + q.month) - (p.year * 12 + p.month);
      break;
    case 3:
    case 4:
      r = std::floor(y) - std::floor(x);
      break;
    case 5:
      r = std::trunc((std::floor(y) - std::floor(x)) / 7);
      break;
    case 6: {
      double sx = std::floor(x) - (p.weekday - 1),
             sy = std::floor(y) - (q.weekday - 1);
      r = (sy - sx) / 7;
      break;
    }
    case 7:
      r = std::floor(y * 24 + 1e-9) - std::floor(x * 24 + 1e-9);
      break;
    case 8:
      r = std::llround(y * 1440) - std::llround(x * 1440);
      break;
    default:
      r = std::llround(y * 86400) - std::llround(x * 86400);
      break;
  }
  return Var::Number(static_cast<int64_t>(r));
}

// DatePart's week of the year: week 1 starts on the `first_day` on or
// before 1 January (rule 1), or holds at least four days of the new year
// (rule 2), or is the first whole week (rule 3). Days before week 1 count in
// the last week of the year before.
int WeekOfYear(double day, int first_day, int rule) {
  for (int year = SplitDate(day).year;; --year) {
    const double jan1 = MakeDate(year, 1, 1);
    const int before = (SplitDate(jan1).weekday - first_day + 7) % 7;
    double start = jan1 - before;
    if ((rule == 2 && before > 3) || (rule == 3 && before > 0)) start += 7;
    if (day >= start) return static_cast<int>((day - start) / 7) + 1;
  }
}

Var DatePart(Args args) {
  auto has = [&](size_t i) {
    return args.size() > i && args[i] != MissingArgument();
  };
  const int which = IntervalOf(*args[0]);
  if (args[1]->is_null()) return Var::Null();
  int first_day = has(2) ? ToLong(*args[2]) : 1;
  int rule = has(3) ? ToLong(*args[3]) : 1;
  if (first_day < 0 || first_day > 7 || rule < 0 || rule > 3)
    Raise(error::kInvalidCall);
  // 0 asks for the system's setting: US English starts weeks on Sunday and
  // the year with the week of 1 January.
  if (first_day == 0) first_day = 1;
  if (rule == 0) rule = 1;
  const double d = ToDouble(ToDateVar(*args[1]));
  const DateParts p = SplitDate(d);
  const double day = std::floor(d);
  int v = 0;
  switch (which) {
    case 0:
      v = p.year;
      break;
    case 1:
      v = (p.month - 1) / 3 + 1;
      break;
    case 2:
      v = p.month;
      break;
    case 3:
      v = static_cast<int>(day - MakeDate(p.year, 1, 1)) + 1;
      break;
    case 4:
      v = p.day;
      break;
    case 5:
      v = (p.weekday - first_day + 7) % 7 + 1;
      break;
    case 6:
      v = WeekOfYear(day, first_day, rule);
      break;
    case 7:
      v = p.hour;
      break;
    case 8:
      v = p.minute;
      break;
    default:
      v = p.second;
      break;
  }
  return Var::Integer(static_cast<int16_t>(v));
}

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

Var RoundVar(const Var& v, int digits) {
  if (v.is_null()) return v;
  if (digits < 0) Raise(error::kInvalidCall);
  if (v.type() == VType::kInteger || v.type() == VType::kLong ||
      v.type() == VType::kByte) {
    return v;
  }
  if (v.type() == VType::kBoolean)
    return Var::Integer(static_cast<int16_t>(v.raw_long()));
  double x = ToDouble(v);
  double scale = std::pow(10.0, digits);
  double scaled = x * scale;
  if (!std::isfinite(scaled)) return Var::Double(x);
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
  return v.type() == VType::kDate ? Var::Date(r) : Var::Double(r);
}

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

const ArrBox& ArrayArg(const Var& v) {
  if (!v.is_array()) Raise(error::kTypeMismatch);
  return *v.array();
}

}  // namespace

Text Upper(TextView text) {
  Text out(text);
  for (char16_t& c : out) {
    if (c >= u'a' && c <= u'z') {
      c = static_cast<char16_t>(c - 32);
    } else if (c >= 0xE0 && c <= 0xFE && c != 0xF7) {
      c = static_cast<char16_t>(c - 32);
    } else if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) {
      c = static_cast<char16_t>(c - 32);
    } else if (c >= 0x430 && c <= 0x44F) {
      c = static_cast<char16_t>(c - 32);
    } else if (c >= 0x450 && c <= 0x45F) {
      c = static_cast<char16_t>(c - 80);
    } else if (c >= 0x100 && c <= 0x17F &&
               LowerChar(static_cast<char16_t>(c - 1)) == c) {
      c = static_cast<char16_t>(c - 1);
    } else if (c == 0xFF) {
      c = 0x178;
    }
  }
  return out;
}

const BuiltinInfo* FindBuiltin(std::string_view lower) {
  auto& names = BuiltinNames();
  auto it = names.find(lower);
  return it == names.end() ? nullptr : it->second;
}

const BuiltinInfo& BuiltinById(Builtin id) {
  return kBuiltins[static_cast<size_t>(id)];
}

bool FindConstant(std::string_view lower, Var* value) {
  static const auto* constants = [] {
    auto* map = new std::unordered_map<std::string_view, Var>{
        {"vbcrlf", Var::String(u"\r\n")},
        {"vbnewline", Var::String(u"\r\n")},
        {"vbcr", Var::String(u"\r")},
        {"vblf", Var::String(u"\n")},
        {"vbtab", Var::String(u"\t")},
        {"vbnullstring", Var::String(u"")},
        {"vbnullchar", Var::String(Text(1, u'\0'))},
        {"vbformfeed", Var::String(u"\f")},
        {"vbverticaltab", Var::String(u"\v")},
        {"vbtrue", Var::Integer(-1)},
        {"vbfalse", Var::Integer(0)},
        {"vbusedefault", Var::Integer(-2)},
        {"vbbinarycompare", Var::Integer(0)},
        {"vbtextcompare", Var::Integer(1)},
        {"vbdatabasecompare", Var::Integer(2)},
        {"vbusesystemdayofweek", Var::Integer(0)},
        {"vbsunday", Var::Integer(1)},
        {"vbmonday", Var::Integer(2)},
        {"vbtuesday", Var::Integer(3)},
        {"vbwednesday", Var::Integer(4)},
        {"vbthursday", Var::Integer(5)},
        {"vbfriday", Var::Integer(6)},
        {"vbsaturday", Var::Integer(7)},
        {"vbusesystem", Var::Integer(0)},
        {"vbfirstjan1", Var::Integer(1)},
        {"vbfirstfourdays", Var::Integer(2)},
        {"vbfirstfullweek", Var::Integer(3)},
        {"vbgeneraldate", Var::Integer(0)},
        {"vblongdate", Var::Integer(1)},
        {"vbshortdate", Var::Integer(2)},
        {"vblongtime", Var::Integer(3)},
        {"vbshorttime", Var::Integer(4)},
        {"vbempty", Var::Integer(0)},
        {"vbnull", Var::Integer(1)},
        {"vbinteger", Var::Integer(2)},
        {"vblong", Var::Integer(3)},
        {"vbsingle", Var::Integer(4)},
        {"vbdouble", Var::Integer(5)},
        {"vbcurrency", Var::Integer(6)},
        {"vbdate", Var::Integer(7)},
        {"vbstring", Var::Integer(8)},
        {"vbobject", Var::Integer(9)},
        {"vberror", Var::Integer(10)},
        {"vbboolean", Var::Integer(11)},
        {"vbvariant", Var::Integer(12)},
        {"vbbyte", Var::Integer(17)},
        {"vbarray", Var::Integer(8192)},
        {"vbobjecterror", Var::Long(-2147221504)},
    };
    return map;
  }();
  auto it = constants->find(lower);
  if (it == constants->end()) return false;
  *value = it->second;
  return true;
}

const Var* MissingArgument() {
  static const Var missing;
  return &missing;
}

Var CallBuiltin(Interpreter& in, Builtin id, Args args) {
  auto arg = [&](size_t i) -> const Var& { return *args[i]; };
  // Whether optional argument i was given (not left out between commas).
  auto has = [&](size_t i) {
    return i < args.size() && args[i] != MissingArgument();
  };
  const size_t n = args.size();
  switch (id) {
    case Builtin::kLen:
      if (arg(0).is_null()) return Var::Null();
      if (arg(0).is_string())
        return Var::Long(static_cast<int32_t>(arg(0).str().size()));
      return Var::Long(static_cast<int32_t>(ToStr(arg(0)).size()));
    case Builtin::kLeft:
    case Builtin::kRight: {
      if (arg(0).is_null()) return Var::Null();
      Text t = ToStr(arg(0));
      size_t k = std::min(static_cast<size_t>(NonNegative(arg(1))), t.size());
      return Var::String(id == Builtin::kLeft ? t.substr(0, k)
                                              : t.substr(t.size() - k));
    }
    case Builtin::kMid: {
      if (arg(0).is_null()) return Var::Null();
      Text t = ToStr(arg(0));
      int32_t start = ToLong(arg(1));
      if (start < 1) Raise(error::kInvalidCall);
      size_t from = static_cast<size_t>(start - 1);
      if (from >= t.size()) return Var::String(Text());
      size_t len = has(2) ? static_cast<size_t>(NonNegative(arg(2))) : t.size();
      return Var::String(t.substr(from, len));
    }
    case Builtin::kInStr: {
      size_t start = 1, at = 0;
      if (n >= 3) {
        if (arg(0).is_null()) Raise(error::kInvalidNull);
        int32_t s = ToLong(arg(0));
        if (s < 1) Raise(error::kInvalidCall);
        start = static_cast<size_t>(s);
        at = 1;
      }
      if (arg(at).is_null() || arg(at + 1).is_null()) return Var::Null();
      if (ToStr(arg(at)).empty()) return Var::Long(0);
      return Var::Long(Find(ToStr(arg(at)), ToStr(arg(at + 1)), start,
                            TextMode(args, at + 2)));
    }
    case Builtin::kInStrRev: {
      if (arg(0).is_null() || arg(1).is_null()) return Var::Null();
      Text hay = ToStr(arg(0)), needle = ToStr(arg(1));
      int32_t start = has(2) ? ToLong(arg(2)) : -1;
      if (start == 0 || start < -1) Raise(error::kInvalidCall);
      size_t end = start == -1
                       ? hay.size()
                       : std::min(hay.size(), static_cast<size_t>(start));
      if (TextMode(args, 3)) {
        hay = Lower(hay);
        needle = Lower(needle);
      }
      if (needle.empty())
        return Var::Long(
            static_cast<int32_t>(start == -1 ? hay.size() : start));
      if (start > static_cast<int32_t>(hay.size()) || needle.size() > end)
        return Var::Long(0);
      size_t found = TextView(hay).substr(0, end).rfind(needle);
      return Var::Long(
          found == TextView::npos ? 0 : static_cast<int32_t>(found + 1));
    }
    case Builtin::kReplace: {
      if (AnyNull(args, 3)) Raise(error::kInvalidNull);
      Text t = ToStr(arg(0)), find = ToStr(arg(1)), with = ToStr(arg(2));
      int32_t start = has(3) ? ToLong(arg(3)) : 1;
      int32_t count = has(4) ? ToLong(arg(4)) : -1;
      if (start < 1 || count < -1) Raise(error::kInvalidCall);
      bool text_mode = TextMode(args, 5);
      if (static_cast<size_t>(start) > t.size()) return Var::String(Text());
      t = t.substr(static_cast<size_t>(start - 1));
      if (find.empty() || count == 0) return Var::String(t);
      Text hay = text_mode ? Lower(t) : t,
           needle = text_mode ? Lower(find) : find;
      Text out;
      size_t pos = 0;
      int32_t done = 0;
      while (count < 0 || done < count) {
        size_t at = hay.find(needle, pos);
        if (at == Text::npos) break;
        out.append(t, pos, at - pos);
        out += with;
        CheckTextLength(out.size());
        pos = at + find.size();
        ++done;
      }
      out.append(t, pos, Text::npos);
      return Var::String(std::move(out));
    }
    case Builtin::kSplit: {
      if (arg(0).is_null()) return Var::Null();
      Text t = ToStr(arg(0));
      Text delim = has(1) ? ToStr(arg(1)) : Text(u" ");
      int32_t limit = has(2) ? ToLong(arg(2)) : -1;
      if (limit < -1) Raise(error::kInvalidCall);
      std::vector<Var> parts;
      if (t.empty() || limit == 0) return NewArray(std::move(parts));
      if (delim.empty()) {
        parts.push_back(Var::String(t));
        return NewArray(std::move(parts));
      }
      bool text_mode = TextMode(args, 3);
      Text hay = text_mode ? Lower(t) : t,
           needle = text_mode ? Lower(delim) : delim;
      // The pieces are counted before any is made: a text of commas must
      // not become millions of elements before the budget says no.
      size_t pieces = 1;
      if (needle.size() == 1) {
        pieces +=
            static_cast<size_t>(std::count(hay.begin(), hay.end(), needle[0]));
      } else {
        for (size_t at = hay.find(needle); at != Text::npos;
             at = hay.find(needle, at + needle.size())) {
          ++pieces;
        }
      }
      if (limit > 0) pieces = std::min(pieces, static_cast<size_t>(limit));
      CheckMemory(pieces * (sizeof(Var) + sizeof(StrBox)) +
                  t.size() * sizeof(char16_t));
      parts.reserve(pieces);
      size_t pos = 0;
      while (limit < 0 || static_cast<int32_t>(parts.size()) < limit - 1) {
        size_t at = hay.find(needle, pos);
        if (at == Text::npos) break;
        parts.push_back(Var::String(t.substr(pos, at - pos)));
        pos = at + delim.size();
      }
      parts.push_back(Var::String(t.substr(pos)));
      return NewArray(std::move(parts));
    }
    case Builtin::kJoin: {
      const ArrBox& a = ArrayArg(arg(0));
      if (a.upper.size() != 1) Raise(error::kSubscriptOutOfRange);
      Text delim = has(1) ? ToStr(arg(1)) : Text(u" ");
      Text out;
      for (size_t i = 0; i < a.items.size(); ++i) {
        if (i) out += delim;
        if (!a.items[i].is_null()) out += ToStr(a.items[i]);
        CheckTextLength(out.size());
      }
      return Var::String(std::move(out));
    }
    case Builtin::kTrim:
    case Builtin::kLTrim:
    case Builtin::kRTrim: {
      if (arg(0).is_null()) return Var::Null();
      Text t = ToStr(arg(0));
      size_t b = 0, e = t.size();
      if (id != Builtin::kRTrim)
        while (b < e && t[b] == u' ') ++b;
      if (id != Builtin::kLTrim)
        while (e > b && t[e - 1] == u' ') --e;
      return Var::String(t.substr(b, e - b));
    }
    case Builtin::kUCase:
    case Builtin::kLCase:
      if (arg(0).is_null()) return Var::Null();
      return Var::String(id == Builtin::kUCase ? Upper(ToStr(arg(0)))
                                               : Lower(ToStr(arg(0))));
    case Builtin::kSpace: {
      size_t k = static_cast<size_t>(NonNegative(arg(0)));
      CheckTextLength(k);
      return Var::String(Text(k, u' '));
    }
    case Builtin::kString: {
      size_t k = static_cast<size_t>(NonNegative(arg(0)));
      if (arg(1).is_null()) return Var::Null();
      char16_t c;
      if (arg(1).is_string()) {
        if (arg(1).str().empty()) Raise(error::kInvalidCall);
        c = arg(1).str()[0];
      } else {
        int32_t code = ToLong(arg(1)) % 256;
        if (code < 0) code += 256;
        c = AnsiChar(static_cast<unsigned char>(code));
      }
      CheckTextLength(k);
      return Var::String(Text(k, c));
    }
    case Builtin::kStrComp: {
      if (arg(0).is_null() || arg(1).is_null()) return Var::Null();
      int c = Compare(Var::String(ToStr(arg(0))), Var::String(ToStr(arg(1))),
                      TextMode(args, 2));
      return Var::Integer(static_cast<int16_t>(c));
    }
    case Builtin::kStrReverse: {
      if (arg(0).is_null()) Raise(error::kInvalidNull);
      Text t = ToStr(arg(0));
      std::reverse(t.begin(), t.end());
      return Var::String(std::move(t));
    }
    case Builtin::kAsc:
    case Builtin::kAscW: {
      Text t = ToStr(arg(0));
      if (t.empty()) Raise(error::kInvalidCall);
      if (id == Builtin::kAscW) return Var::Integer(static_cast<int16_t>(t[0]));
      int code = AnsiCode(t[0]);
      return Var::Integer(static_cast<int16_t>(code < 0 ? '?' : code));
    }
    case Builtin::kChr: {
      int32_t code = ToLong(arg(0));
      if (code < 0 || code > 255) Raise(error::kInvalidCall);
      return Var::String(Text(1, AnsiChar(static_cast<unsigned char>(code))));
    }
    case Builtin::kChrW: {
      int32_t code = ToLong(arg(0));
      if (code < -32768 || code > 65535) Raise(error::kInvalidCall);
      if (code < 0) code += 65536;
      return Var::String(Text(1, static_cast<char16_t>(code)));
    }
    case Builtin::kHex:
    case Builtin::kOct:
      if (arg(0).is_null()) return Var::Null();
      return Var::String(HexOct(arg(0), id == Builtin::kHex));
    case Builtin::kCStr:
      return Var::String(ToStr(arg(0)));
    case Builtin::kCInt:
      return Var::Integer(ToInteger(arg(0)));
    case Builtin::kCLng:
      return Var::Long(ToLong(arg(0)));
    case Builtin::kCDbl:
    case Builtin::kCSng:
    case Builtin::kCCur:
      return Var::Double(ToDouble(arg(0)));
    case Builtin::kCBool:
      return Var::Bool(ToBool(arg(0)));
    case Builtin::kCDate:
      if (arg(0).is_null()) Raise(error::kInvalidNull);
      return ToDateVar(arg(0));
    case Builtin::kCByte: {
      int32_t v = ToLong(arg(0));
      if (v < 0 || v > 255) Raise(error::kOverflow);
      return Var::Byte(static_cast<uint8_t>(v));
    }
    case Builtin::kInt:
    case Builtin::kFix: {
      if (arg(0).is_null()) return Var::Null();
      if (arg(0).type() == VType::kInteger || arg(0).type() == VType::kLong ||
          arg(0).type() == VType::kByte) {
        return arg(0);
      }
      if (arg(0).type() == VType::kBoolean || arg(0).is_empty()) {
        return Var::Integer(static_cast<int16_t>(arg(0).raw_long()));
      }
      double d = ToDouble(arg(0));
      double r = id == Builtin::kInt ? std::floor(d) : std::trunc(d);
      return arg(0).type() == VType::kDate ? Var::Date(r) : Var::Double(r);
    }
    case Builtin::kAbs: {
      if (arg(0).is_null()) return Var::Null();
      if (arg(0).is_empty()) return Var::Integer(0);
      if (arg(0).type() == VType::kInteger || arg(0).type() == VType::kLong ||
          arg(0).type() == VType::kBoolean || arg(0).type() == VType::kByte) {
        int64_t v = arg(0).raw_long();
        return Var::Number(v < 0 ? -v : v);
      }
      return KeepType(arg(0), std::fabs(ToDouble(arg(0))));
    }
    case Builtin::kSgn: {
      if (arg(0).is_null()) Raise(error::kInvalidNull);
      double d = ToDouble(arg(0));
      return Var::Integer(d > 0 ? 1 : d < 0 ? -1 : 0);
    }
    case Builtin::kRound:
      return RoundVar(arg(0), has(1) ? ToLong(arg(1)) : 0);
    case Builtin::kSqr: {
      double d = ToDouble(arg(0));
      if (d < 0) Raise(error::kInvalidCall);
      return Var::Double(std::sqrt(d));
    }
    case Builtin::kExp: {
      double r = std::exp(ToDouble(arg(0)));
      if (!std::isfinite(r)) Raise(error::kOverflow);
      return Var::Double(r);
    }
    case Builtin::kLog: {
      double d = ToDouble(arg(0));
      if (d <= 0) Raise(error::kInvalidCall);
      return Var::Double(std::log(d));
    }
    case Builtin::kSin:
      return Var::Double(std::sin(ToDouble(arg(0))));
    case Builtin::kCos:
      return Var::Double(std::cos(ToDouble(arg(0))));
    case Builtin::kTan:
      return Var::Double(std::tan(ToDouble(arg(0))));
    case Builtin::kAtn:
      return Var::Double(std::atan(ToDouble(arg(0))));
    case Builtin::kIsNumeric: {
      const Var& v = arg(0);
      if (v.is_string()) {
        double d;
        return Var::Bool(IsNumericText(v.str(), &d));
      }
      return Var::Bool(v.is_numeric() && v.type() != VType::kDate);
    }
    case Builtin::kIsEmpty:
      return Var::Bool(arg(0).is_empty());
    case Builtin::kIsNull:
      return Var::Bool(arg(0).is_null());
    case Builtin::kIsArray:
      return Var::Bool(arg(0).is_array());
    case Builtin::kIsObject:
      return Var::Bool(arg(0).is_object());
    case Builtin::kIsDate: {
      const Var& v = arg(0);
      double d;
      return Var::Bool(v.type() == VType::kDate ||
                       (v.is_string() && ParseDateText(v.str(), &d)));
    }
    case Builtin::kTypeName: {
      const Var& v = arg(0);
      switch (v.type()) {
        case VType::kEmpty:
          return Var::String(u"Empty");
        case VType::kNull:
          return Var::String(u"Null");
        case VType::kInteger:
          return Var::String(u"Integer");
        case VType::kLong:
          return Var::String(u"Long");
        case VType::kDouble:
          return Var::String(u"Double");
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
    case Builtin::kVarType: {
      const Var& v = arg(0);
      if (v.is_array()) return Var::Integer(8192 + 12);
      return Var::Integer(static_cast<int16_t>(v.type()));
    }
    case Builtin::kLBound:
    case Builtin::kUBound: {
      const ArrBox& a = ArrayArg(arg(0));
      int32_t dim = has(1) ? ToLong(arg(1)) : 1;
      if (dim < 1 || static_cast<size_t>(dim) > a.upper.size())
        Raise(error::kSubscriptOutOfRange);
      return Var::Long(
          id == Builtin::kLBound ? 0 : a.upper[static_cast<size_t>(dim - 1)]);
    }
    case Builtin::kArray: {
      std::vector<Var> items;
      items.reserve(n);
      for (size_t i = 0; i < n; ++i) items.push_back(arg(i));
      return NewArray(std::move(items));
    }
    case Builtin::kNow:
      return Var::Date(Now(true, true));
    case Builtin::kDate:
      return Var::Date(Now(true, false));
    case Builtin::kTime:
      return Var::Date(Now(false, true));
    case Builtin::kYear:
    case Builtin::kMonth:
    case Builtin::kDay:
    case Builtin::kHour:
    case Builtin::kMinute:
    case Builtin::kSecond: {
      if (arg(0).is_null()) return Var::Null();
      DateParts p = SplitDate(ToDouble(ToDateVar(arg(0))));
      int v = id == Builtin::kYear     ? p.year
              : id == Builtin::kMonth  ? p.month
              : id == Builtin::kDay    ? p.day
              : id == Builtin::kHour   ? p.hour
              : id == Builtin::kMinute ? p.minute
                                       : p.second;
      return Var::Integer(static_cast<int16_t>(v));
    }
    case Builtin::kWeekday: {
      if (arg(0).is_null()) return Var::Null();
      DateParts p = SplitDate(ToDouble(ToDateVar(arg(0))));
      int first = has(1) ? ToLong(arg(1)) : 1;
      if (first < 0 || first > 7) Raise(error::kInvalidCall);
      if (first == 0) first = 1;
      return Var::Integer(
          static_cast<int16_t>((p.weekday - first + 7) % 7 + 1));
    }
    case Builtin::kDateSerial: {
      int32_t y = ToLong(arg(0)), m = ToLong(arg(1)), d = ToLong(arg(2));
      if (y >= 0 && y < 30)
        y += 2000;
      else if (y >= 30 && y < 100)
        y += 1900;
      if (y < 100 || y > 9999 || std::abs(m) > 120000 ||
          std::abs(d) > 3660000) {
        Raise(error::kInvalidCall);
      }
      return Var::Date(MakeDate(y, m, d));
    }
    case Builtin::kTimeSerial: {
      double secs =
          ToLong(arg(0)) * 3600.0 + ToLong(arg(1)) * 60.0 + ToLong(arg(2));
      return Var::Date(secs / 86400.0);
    }
    case Builtin::kDateAdd:
      return DateAdd(arg(0), arg(1), arg(2));
    case Builtin::kDateDiff:
      return DateDiff(arg(0), arg(1), arg(2));
    case Builtin::kDateValue: {
      double d = ToDouble(ToDateVar(arg(0)));
      return Var::Date(d < 0 ? std::ceil(d) : std::floor(d));
    }
    case Builtin::kTimeValue: {
      double d = ToDouble(ToDateVar(arg(0)));
      return Var::Date(std::fabs(d - std::trunc(d)));
    }
    case Builtin::kMonthName: {
      int32_t m = ToLong(arg(0));
      if (m < 1 || m > 12) Raise(error::kInvalidCall);
      Text name = Ascii(kMonths[m - 1]);
      if (has(1) && ToBool(arg(1))) name = name.substr(0, 3);
      return Var::String(name);
    }
    case Builtin::kWeekdayName: {
      int32_t d = ToLong(arg(0));
      int32_t first = has(2) ? ToLong(arg(2)) : 1;
      if (d < 1 || d > 7 || first < 0 || first > 7) Raise(error::kInvalidCall);
      if (first == 0) first = 1;
      Text name = Ascii(kDays[(d - 1 + first - 1) % 7]);
      if (has(1) && ToBool(arg(1))) name = name.substr(0, 3);
      return Var::String(name);
    }
    case Builtin::kFormatDateTime: {
      if (arg(0).is_null()) Raise(error::kInvalidNull);
      double d = ToDouble(ToDateVar(arg(0)));
      int32_t format = has(1) ? ToLong(arg(1)) : 0;
      DateParts p = SplitDate(d);
      switch (format) {
        case 0:
          return Var::String(DateText(d));
        case 1:
          return Var::String(LongDate(d));
        case 2:
          return Var::String(DateText(std::trunc(d) == 0 ? 0 : std::trunc(d)));
        case 3:
          return Var::String(DateText(std::fabs(d - std::trunc(d)) == 0
                                          ? 0
                                          : std::fabs(d - std::trunc(d))));
        case 4:
          return Var::String(ZeroPadded(p.hour, 2) + u":" +
                             ZeroPadded(p.minute, 2));
        default:
          Raise(error::kInvalidCall);
      }
    }
    case Builtin::kFormatNumber: {
      if (arg(0).is_null()) Raise(error::kInvalidNull);
      double x = ToDouble(arg(0));
      int digits = has(1) ? ToLong(arg(1)) : -1;
      bool leading = has(2) ? ToLong(arg(2)) != 0 : true;
      bool parens = has(3) ? ToLong(arg(3)) == -1 : false;
      bool group = has(4) ? ToLong(arg(4)) != 0 : true;
      return Var::String(FormatNumberText(x, digits, leading, parens, group));
    }
    case Builtin::kFormatCurrency:
    case Builtin::kFormatPercent: {
      if (arg(0).is_null()) Raise(error::kInvalidNull);
      const bool currency = id == Builtin::kFormatCurrency;
      double x = ToDouble(arg(0));
      if (!currency) x *= 100;
      int digits = has(1) ? ToLong(arg(1)) : -1;
      bool leading = has(2) ? ToLong(arg(2)) != 0 : true;
      // US English shows a negative amount of money in parentheses, a
      // negative percentage with a minus sign; -2 asks for that default.
      const int32_t paren_arg = has(3) ? ToLong(arg(3)) : -2;
      bool parens = paren_arg == -1 || (currency && paren_arg == -2);
      bool group = has(4) ? ToLong(arg(4)) != 0 : true;
      Text number = FormatNumberText(x, digits, leading, parens, group);
      if (!currency) {
        return Var::String(number.back() == u')'
                               ? number.insert(number.size() - 1, u"%")
                               : number + u"%");
      }
      const size_t sign = number[0] == u'(' || number[0] == u'-' ? 1 : 0;
      return Var::String(number.insert(sign, u"$"));
    }
    case Builtin::kDatePart:
      return DatePart(args);
    case Builtin::kTimer: {
      LocalDateTime t = Platform::Current().LocalTime();
      auto now = std::chrono::system_clock::now().time_since_epoch();
      double ms = static_cast<double>(
          std::chrono::duration_cast<std::chrono::milliseconds>(now).count() %
          1000);
      return Var::Double(t.hour * 3600.0 + t.minute * 60.0 + t.second +
                         ms / 1000.0);
    }
    case Builtin::kRnd: {
      double x = has(0) ? ToDouble(arg(0)) : 1;
      return Var::Double(in.NextRandom(x));
    }
    case Builtin::kRandomize: {
      in.Randomize(has(0) ? ToDouble(arg(0))
                         : ToDouble(CallBuiltin(in, Builtin::kTimer, {})));
      return Var();
    }
    case Builtin::kCreateObject:
      return in.CreateObject(ToStr(arg(0)));
    case Builtin::kWScript:
      return in.WScriptObject();
    case Builtin::kErr:
      return in.ErrObject();
    // The engine of Windows' script host 5.812, whose behaviour the host
    // follows.
    case Builtin::kScriptEngine:
      return Var::String(u"VBScript");
    case Builtin::kScriptEngineMajorVersion:
      return Var::Long(5);
    case Builtin::kScriptEngineMinorVersion:
      return Var::Long(8);
    case Builtin::kScriptEngineBuildVersion:
      return Var::Long(16384);
    case Builtin::kFilter: {
      const ArrBox& a = ArrayArg(arg(0));
      Text match = ToStr(arg(1));
      bool include = has(2) ? ToBool(arg(2)) : true;
      bool text_mode = TextMode(args, 3);
      std::vector<Var> out;
      for (const Var& item : a.items) {
        bool found = Find(ToStr(item), match, 1, text_mode) != 0;
        if (found == include) out.push_back(Var::String(ToStr(item)));
      }
      return NewArray(std::move(out));
    }
    // The interpreter runs these: they need the running scope.
    case Builtin::kEval:
    case Builtin::kExecute:
    case Builtin::kExecuteGlobal:
    case Builtin::kGetRef:
      break;
  }
  Raise(error::kInvalidCall);
}

}  // namespace pellar::script
