// Date and time functions: the clock, parts of a date, date arithmetic,
// names of months and days.
#include <pellar/base/text_internal.h>
#include <pellar/base/value.h>
#include <pellar/platform/platform.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "builtins_internal.h"

namespace pellar::script {

double SecondsSinceMidnight() {
  LocalDateTime t = Platform::Current().LocalTime();
  auto now = std::chrono::system_clock::now().time_since_epoch();
  double ms = static_cast<double>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now).count() %
      1000);
  return t.hour * 3600.0 + t.minute * 60.0 + t.second + ms / 1000.0;
}

namespace {

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

Var AddToDate(const Var& interval, const Var& number, const Var& date) {
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

Var DateDifference(const Var& interval, const Var& a, const Var& b) {
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

Var DatePart(Host&, Args args) {
  const int which = IntervalOf(*args[0]);
  if (args[1]->is_null()) return Var::Null();
  int first_day = Given(args, 2) ? ToLong(*args[2]) : 1;
  int rule = Given(args, 3) ? ToLong(*args[3]) : 1;
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

Var Now(Host&, Args) { return Var::Date(Now(true, true)); }
Var Date(Host&, Args) { return Var::Date(Now(true, false)); }
Var Time(Host&, Args) { return Var::Date(Now(false, true)); }

Var PartOf(Args args, int DateParts::*part) {
  if (Arg(args, 0).is_null()) return Var::Null();
  DateParts p = SplitDate(ToDouble(ToDateVar(Arg(args, 0))));
  return Var::Integer(static_cast<int16_t>(p.*part));
}
Var Year(Host&, Args args) { return PartOf(args, &DateParts::year); }
Var Month(Host&, Args args) { return PartOf(args, &DateParts::month); }
Var Day(Host&, Args args) { return PartOf(args, &DateParts::day); }
Var Hour(Host&, Args args) { return PartOf(args, &DateParts::hour); }
Var Minute(Host&, Args args) { return PartOf(args, &DateParts::minute); }
Var Second(Host&, Args args) { return PartOf(args, &DateParts::second); }

Var Weekday(Host&, Args args) {
  if (Arg(args, 0).is_null()) return Var::Null();
  DateParts p = SplitDate(ToDouble(ToDateVar(Arg(args, 0))));
  int first = Given(args, 1) ? ToLong(Arg(args, 1)) : 1;
  if (first < 0 || first > 7) Raise(error::kInvalidCall);
  if (first == 0) first = 1;
  return Var::Integer(static_cast<int16_t>((p.weekday - first + 7) % 7 + 1));
}

Var DateSerial(Host&, Args args) {
  int32_t y = ToLong(Arg(args, 0)), m = ToLong(Arg(args, 1)),
          d = ToLong(Arg(args, 2));
  if (y >= 0 && y < 30)
    y += 2000;
  else if (y >= 30 && y < 100)
    y += 1900;
  if (y < 100 || y > 9999 || std::abs(m) > 120000 || std::abs(d) > 3660000) {
    Raise(error::kInvalidCall);
  }
  return Var::Date(MakeDate(y, m, d));
}

Var TimeSerial(Host&, Args args) {
  double secs = ToLong(Arg(args, 0)) * 3600.0 + ToLong(Arg(args, 1)) * 60.0 +
                ToLong(Arg(args, 2));
  return Var::Date(secs / 86400.0);
}

Var DateAdd(Host&, Args args) {
  return AddToDate(Arg(args, 0), Arg(args, 1), Arg(args, 2));
}
Var DateDiff(Host&, Args args) {
  return DateDifference(Arg(args, 0), Arg(args, 1), Arg(args, 2));
}

Var DateValue(Host&, Args args) {
  double d = ToDouble(ToDateVar(Arg(args, 0)));
  return Var::Date(d < 0 ? std::ceil(d) : std::floor(d));
}

Var TimeValue(Host&, Args args) {
  double d = ToDouble(ToDateVar(Arg(args, 0)));
  return Var::Date(std::fabs(d - std::trunc(d)));
}

Var MonthName(Host&, Args args) {
  int32_t m = ToLong(Arg(args, 0));
  if (m < 1 || m > 12) Raise(error::kInvalidCall);
  Text name = Ascii(kMonths[m - 1]);
  if (Given(args, 1) && ToBool(Arg(args, 1))) name = name.substr(0, 3);
  return Var::String(name);
}

Var WeekdayName(Host&, Args args) {
  int32_t d = ToLong(Arg(args, 0));
  int32_t first = Given(args, 2) ? ToLong(Arg(args, 2)) : 1;
  if (d < 1 || d > 7 || first < 0 || first > 7) Raise(error::kInvalidCall);
  if (first == 0) first = 1;
  Text name = Ascii(kDays[(d - 1 + first - 1) % 7]);
  if (Given(args, 1) && ToBool(Arg(args, 1))) name = name.substr(0, 3);
  return Var::String(name);
}

Var FormatDateTime(Host&, Args args) {
  if (Arg(args, 0).is_null()) Raise(error::kInvalidNull);
  double d = ToDouble(ToDateVar(Arg(args, 0)));
  int32_t format = Given(args, 1) ? ToLong(Arg(args, 1)) : 0;
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

Var Timer(Host&, Args) { return Var::Single(SecondsSinceMidnight()); }

constexpr BuiltinInfo kEntries[] = {
    {"Now", 0, 0, Now},
    {"Date", 0, 0, Date},
    {"Time", 0, 0, Time},
    {"Year", 1, 1, Year},
    {"Month", 1, 1, Month},
    {"Day", 1, 1, Day},
    {"Hour", 1, 1, Hour},
    {"Minute", 1, 1, Minute},
    {"Second", 1, 1, Second},
    {"Weekday", 1, 2, Weekday},
    {"DateSerial", 3, 3, DateSerial},
    {"TimeSerial", 3, 3, TimeSerial},
    {"DateAdd", 3, 3, DateAdd},
    {"DateDiff", 3, 5, DateDiff},
    {"DateValue", 1, 1, DateValue},
    {"TimeValue", 1, 1, TimeValue},
    {"MonthName", 1, 2, MonthName},
    {"WeekdayName", 1, 3, WeekdayName},
    {"FormatDateTime", 1, 2, FormatDateTime},
    {"DatePart", 2, 4, DatePart},
    {"Timer", 0, 0, Timer},
};

}  // namespace

std::span<const BuiltinInfo> DateBuiltins() { return kEntries; }

}  // namespace pellar::script
