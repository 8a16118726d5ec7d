// What the values and format texts of a control document mean for a cell.
#include "cell_meaning.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>

#include <pellar/base/chars.h>
#include <pellar/base/failure.h>
#include <pellar/base/number.h>
#include <pellar/base/text.h>

#include "printable.h"

namespace pellar::sheet {

// ---------------------------------------------------------------------------
// Values

namespace {

// A number of more than 15 significant digits would lose digits as a
// spreadsheet number (an account number, say): it stays text.
bool FitsDouble(std::string_view text) {
  int digits = 0;
  bool leading = true;
  for (char c : text) {
    if (c == 'e' || c == 'E') break;
    if (c < '0' || c > '9') continue;
    if (leading && c == '0') continue;
    leading = false;
    ++digits;
  }
  return digits <= 15;
}

}  // namespace

namespace {

// Reads an unsigned decimal of 1 to `most` digits at `*at`.
bool ReadDigits(std::string_view text, size_t* at, size_t least, size_t most,
                int* n) {
  size_t i = *at;
  int v = 0;
  while (i < text.size() && i - *at < most && text[i] >= '0' &&
         text[i] <= '9') {
    v = v * 10 + (text[i++] - '0');
  }
  if (i - *at < least) return false;
  *at = i;
  *n = v;
  return true;
}

// Days from 1899-12-30 of a Gregorian date (the epoch spreadsheets count
// from once past the day they add in 1900).
int64_t DaysFromEpoch(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = y / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + 25569;  // 1970-01-01 is 25569
}

bool LeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

constexpr std::string_view kDateFormat = kDateFormats[1];
constexpr std::string_view kDateTimeFormat = kDateFormats[2];
constexpr std::string_view kTimeFormat = kDateFormats[3];

}  // namespace

DateRead ReadDate(std::string_view text, double* serial,
                  std::string_view* format) {
  // Most values are told apart by their first character.
  if (text.empty() || text.front() < '0' || text.front() > '9') {
    return DateRead::kNotADate;
  }
  size_t at = 0;
  bool has_date = false, has_time = false, in_range = true;
  double days = 0;
  int a = 0;
  if (!ReadDigits(text, &at, 1, 4, &a)) return DateRead::kNotADate;
  if (at < text.size() && text[at] == '/') {
    int month = a, day = 0, year = 0;
    ++at;
    if (!ReadDigits(text, &at, 1, 2, &day) || at >= text.size() ||
        text[at] != '/') {
      return DateRead::kNotADate;
    }
    ++at;
    // The host writes whole years: "1/2/3" is some other text.
    if (!ReadDigits(text, &at, 3, 5, &year)) return DateRead::kNotADate;
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30,
                                    31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1] ||
        (month == 2 && day == 29 && !LeapYear(year) && year != 1900)) {
      return DateRead::kNotADate;
    }
    has_date = true;
    in_range = year >= 1900 && year <= 9999;
    // Spreadsheets count 2/29/1900, a day that never was: the days before
    // it are one fewer than the calendar gives.
    const int64_t d = DaysFromEpoch(year, month, day);
    days = double(year == 1900 && month < 3 ? d - 1 : d);
    if (year == 1900 && month == 2 && day == 29) days = 60;
    if (at < text.size()) {
      if (text[at] != ' ') return DateRead::kNotADate;
      ++at;
      if (!ReadDigits(text, &at, 1, 2, &a)) return DateRead::kNotADate;
    }
  }
  if (!has_date || at < text.size()) {
    int hour = a, minute = 0, second = 0;
    if (at + 1 >= text.size() || text[at] != ':') return DateRead::kNotADate;
    ++at;
    if (!ReadDigits(text, &at, 2, 2, &minute) || at >= text.size() ||
        text[at] != ':') {
      return DateRead::kNotADate;
    }
    ++at;
    if (!ReadDigits(text, &at, 2, 2, &second) || at + 3 != text.size() ||
        text[at] != ' ' || (text[at + 2] != 'M' && text[at + 2] != 'm')) {
      return DateRead::kNotADate;
    }
    const char half = char(text[at + 1] | 0x20);
    if (hour < 1 || hour > 12 || minute > 59 || second > 59 ||
        (half != 'a' && half != 'p')) {
      return DateRead::kNotADate;
    }
    hour = hour % 12 + (half == 'p' ? 12 : 0);
    has_time = true;
    days += (hour * 3600 + minute * 60 + second) / 86400.0;
  }
  if (!in_range) return DateRead::kOutOfRange;
  *serial = days;
  *format = !has_date ? kTimeFormat : has_time ? kDateTimeFormat : kDateFormat;
  return DateRead::kDate;
}

bool IsDateFormat(int id, std::string_view code) {
  if ((id >= 14 && id <= 22) || (id >= 45 && id <= 47)) return true;
  if (id < 164) return false;
  bool quoted = false;
  for (size_t i = 0; i < code.size(); ++i) {
    const char c = code[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (quoted) {
      continue;
    } else if (c == '\\' || c == '_' || c == '*') {
      ++i;  // the next character is shown as it is
    } else if (c == '[') {
      // [h], [mm] and [ss] count time; other brackets hold colours and
      // conditions.
      const size_t close = code.find(']', i);
      if (close == std::string_view::npos) return false;
      const std::string_view inside = code.substr(i + 1, close - i - 1);
      if (!inside.empty() &&
          inside.find_first_not_of("hHmMsS") == std::string_view::npos) {
        return true;
      }
      i = close;
    } else {
      const char lower = char(c | 0x20);
      if (lower == 'd' || lower == 'm' || lower == 'y' || lower == 'h' ||
          lower == 's') {
        return true;
      }
    }
  }
  return false;
}

CellValue ClassifyValue(std::string_view stored, bool formulas, bool dates,
                        std::string* warning) {
  CellValue value;
  if (stored.size() >= 2 && (stored.front() == '"' || stored.front() == '\'') &&
      stored.back() == stored.front()) {
    value.text = stored.substr(1, stored.size() - 2);
    return value;
  }
  value.text = stored;
  if (formulas && stored.size() > 1 && stored.front() == '=') {
    value.kind = CellValue::Kind::kFormula;
    value.text = stored.substr(1);
    return value;
  }
  // "True" and "False", as the host writes Booleans, in any case.
  for (const std::string_view word : {"true", "false"}) {
    if (stored.size() == word.size() &&
        std::equal(stored.begin(), stored.end(), word.begin(),
                   [](char a, char b) { return char(a | 0x20) == b; })) {
      value.kind = CellValue::Kind::kBoolean;
      value.number = word == "true" ? 1 : 0;
      return value;
    }
  }
  if (stored.empty() || IsWhiteSpace(stored.front()) ||
      IsWhiteSpace(stored.back())) {
    return value;
  }
  if (dates) {
    switch (ReadDate(stored, &value.number, &value.date_format)) {
      case DateRead::kDate:
        value.kind = CellValue::Kind::kDate;
        return value;
      case DateRead::kOutOfRange:
        if (warning != nullptr) {
          *warning = "the date " + programs::Printable(stored) +
                     " lies outside 1/1/1900 to 12/31/9999, the days a "
                     "spreadsheet holds: it stays text";
        }
        return value;
      case DateRead::kNotADate:
        break;
    }
  }
  // Most text is told apart here, without the cost of a failed parse.
  const char first = stored.front();
  if ((first != '-' && first != '+' && first != '.' &&
       (first < '0' || first > '9')) ||
      !FitsDouble(stored)) {
    return value;
  }
  try {
    value.number = ParseNumber(stored);
    value.kind = CellValue::Kind::kNumber;
  } catch (const Failure&) {
  }
  return value;
}

std::string DescribeValue(const CellValue& value) {
  // As the workbook writer writes a number: its shortest text.
  const auto shortest = [](double d) {
    char digits[32];
    return std::string(digits,
                       std::to_chars(digits, digits + sizeof digits, d).ptr);
  };
  switch (value.kind) {
    case CellValue::Kind::kNumber:
      return "number " + shortest(value.number);
    case CellValue::Kind::kFormula:
      return "formula =" + programs::Printable(value.text);
    case CellValue::Kind::kDate:
      return "date " + programs::Printable(value.text) + " (serial " +
             shortest(value.number) + ")";
    case CellValue::Kind::kBoolean:
      return value.number != 0 ? "boolean TRUE" : "boolean FALSE";
    case CellValue::Kind::kText:
      break;
  }
  return "text " + programs::Printable(value.text);
}

const std::string& EscapeLiteralCodes(const std::string& text,
                                      std::string* scratch) {
  const auto is_code = [&](size_t at) {
    return at + 7 <= text.size() && text[at + 1] == 'x' &&
           text[at + 6] == '_' &&
           std::all_of(text.begin() + int64_t(at) + 2,
                       text.begin() + int64_t(at) + 6, [](char c) {
                         return (c >= '0' && c <= '9') ||
                                (c >= 'a' && c <= 'f') ||
                                (c >= 'A' && c <= 'F');
                       });
  };
  size_t copied = 0;
  for (size_t at = text.find("_x"); at != std::string::npos;
       at = text.find("_x", at + 1)) {
    if (!is_code(at)) continue;
    if (copied == 0) scratch->clear();
    scratch->append(text, copied, at + 1 - copied);
    scratch->append("x005F_");
    copied = at + 1;
  }
  if (copied == 0) return text;
  scratch->append(text, copied);
  return *scratch;
}

const std::string& EscapeControlCodes(const std::string& text,
                                      std::string* scratch) {
  const auto control = [](char c) {
    return static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n';
  };
  if (std::none_of(text.begin(), text.end(), control)) return text;
  std::string& out = *scratch;
  out.clear();
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n') {
      out += c;
      continue;
    }
    char code[8];
    std::snprintf(code, sizeof code, "_x%04X_", unsigned(c));
    out += code;
  }
  return out;
}

// ---------------------------------------------------------------------------
// Format texts

namespace {

enum class Prop {
  kBold,
  kItalic,
  kUnderline,
  kStrike,
  kFont,
  kSize,
  kColor,
  kFill,
  kNumberFormat,
  kAlign,
  kVAlign,
  kWrap,
  kBorder,
  kWidth,
  kHeight,
};

struct PropName {
  std::string_view name;
  Prop prop;
};
constexpr PropName kProps[] = {
    {"Bold", Prop::kBold},
    {"Italic", Prop::kItalic},
    {"Underline", Prop::kUnderline},
    {"Strike", Prop::kStrike},
    {"Font", Prop::kFont},
    {"Size", Prop::kSize},
    {"Color", Prop::kColor},
    {"Fill", Prop::kFill},
    {"NumberFormat", Prop::kNumberFormat},
    {"Align", Prop::kAlign},
    {"VAlign", Prop::kVAlign},
    {"Wrap", Prop::kWrap},
    {"Border", Prop::kBorder},
    {"Width", Prop::kWidth},
    {"Height", Prop::kHeight},
};

struct ColorName {
  std::string_view name;
  uint32_t rgb;
};
constexpr ColorName kColors[] = {
    {"black", 0x000000},   {"white", 0xFFFFFF},   {"red", 0xFF0000},
    {"green", 0x008000},   {"blue", 0x0000FF},    {"yellow", 0xFFFF00},
    {"orange", 0xFFA500},  {"purple", 0x800080},  {"gray", 0x808080},
    {"grey", 0x808080},    {"silver", 0xC0C0C0},  {"navy", 0x000080},
    {"maroon", 0x800000},  {"olive", 0x808000},   {"teal", 0x008080},
    {"lime", 0x00FF00},    {"aqua", 0x00FFFF},    {"cyan", 0x00FFFF},
    {"fuchsia", 0xFF00FF}, {"magenta", 0xFF00FF}, {"brown", 0xA52A2A},
    {"pink", 0xFFC0CB},
};

bool IsLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool SameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x + 32);
    if (y >= 'A' && y <= 'Z') y = char(y + 32);
    if (x != y) return false;
  }
  return true;
}

const PropName* FindProp(std::string_view name) {
  for (const PropName& p : kProps) {
    if (SameWord(p.name, name)) return &p;
  }
  return nullptr;
}

// Where the property name before the "=" at `eq` starts: the longest known
// name ending there, else the last capitalised word of the letters there
// ("redBlink" names Blink), else all of them.
size_t NameStart(std::string_view text, size_t eq) {
  size_t start = eq;
  while (start > 0 && IsLetter(text[start - 1])) --start;
  for (size_t s = start; s < eq; ++s) {
    if (FindProp(text.substr(s, eq - s)) != nullptr) return s;
  }
  for (size_t s = eq; s-- > start + 1;) {
    if (text[s] >= 'A' && text[s] <= 'Z' &&
        !(text[s - 1] >= 'A' && text[s - 1] <= 'Z')) {
      return s;
    }
  }
  return start;
}

[[nodiscard]] bool ParseBool(std::string_view v, std::optional<bool>* out) {
  for (std::string_view t : {"1", "-1", "true", "yes", "on"}) {
    if (SameWord(v, t)) return *out = true, true;
  }
  for (std::string_view f : {"0", "false", "no", "off"}) {
    if (SameWord(v, f)) return *out = false, true;
  }
  return false;
}

[[nodiscard]] bool ParseSize(std::string_view v, double low, double high,
                             std::optional<double>* out) {
  if (v.empty() || IsWhiteSpace(v.front()) || IsWhiteSpace(v.back()))
    return false;
  try {
    const double d = ParseNumber(v);
    if (!(d >= low && d <= high)) return false;
    *out = d;
    return true;
  } catch (const Failure&) {
    return false;
  }
}

[[nodiscard]] bool ParseColor(std::string_view v,
                              std::optional<uint32_t>* out) {
  if (v.size() == 7 && v[0] == '#') {
    uint32_t rgb = 0;
    for (char c : v.substr(1)) {
      int digit = c >= '0' && c <= '9'   ? c - '0'
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                         : -1;
      if (digit < 0) return false;
      rgb = rgb * 16 + uint32_t(digit);
    }
    *out = rgb;
    return true;
  }
  for (const ColorName& c : kColors) {
    if (SameWord(v, c.name)) return *out = c.rgb, true;
  }
  return false;
}

template <typename E, size_t N>
[[nodiscard]] bool ParseWord(
    std::string_view v,
    const std::array<std::pair<std::string_view, E>, N>& words,
    std::optional<E>* out) {
  for (const auto& [word, e] : words) {
    if (SameWord(v, word)) return *out = e, true;
  }
  return false;
}

constexpr std::array<std::pair<std::string_view, Align>, 4> kAligns{
    {{"left", Align::kLeft},
     {"center", Align::kCenter},
     {"centre", Align::kCenter},
     {"right", Align::kRight}}};
constexpr std::array<std::pair<std::string_view, VAlign>, 4> kVAligns{
    {{"top", VAlign::kTop},
     {"center", VAlign::kCenter},
     {"centre", VAlign::kCenter},
     {"bottom", VAlign::kBottom}}};
constexpr std::array<std::pair<std::string_view, Border>, 4> kBorders{
    {{"none", Border::kNone},
     {"thin", Border::kThin},
     {"medium", Border::kMedium},
     {"thick", Border::kThick}}};

[[nodiscard]] bool ApplyPair(Prop prop, std::string_view v, Format* f) {
  Style& s = f->style;
  switch (prop) {
    case Prop::kBold:
      return ParseBool(v, &s.bold);
    case Prop::kItalic:
      return ParseBool(v, &s.italic);
    case Prop::kUnderline:
      return ParseBool(v, &s.underline);
    case Prop::kStrike:
      return ParseBool(v, &s.strike);
    case Prop::kWrap:
      return ParseBool(v, &s.wrap);
    case Prop::kFont:
      if (v.empty() || v.size() > 31) return false;
      s.font = std::string(v);
      return true;
    case Prop::kNumberFormat:
      if (v.empty() || v.size() > 255) return false;
      s.number_format = std::string(v);
      return true;
    case Prop::kSize:
      return ParseSize(v, 1, 409, &s.size);
    case Prop::kColor:
      return ParseColor(v, &s.color);
    case Prop::kFill:
      return ParseColor(v, &s.fill);
    case Prop::kAlign:
      return ParseWord(v, kAligns, &s.align);
    case Prop::kVAlign:
      return ParseWord(v, kVAligns, &s.valign);
    case Prop::kBorder:
      return ParseWord(v, kBorders, &s.border);
    case Prop::kWidth:
      return ParseSize(v, 0, 255, &f->width);
    case Prop::kHeight:
      return ParseSize(v, 0, 409, &f->height);
  }
  return false;
}

}  // namespace

Format ParseFormat(std::string_view text, std::vector<FormatIssue>* issues) {
  Format format;
  // The pairs: where each name starts and where its "=" stands. A value
  // holds "=" inside quotes (NumberFormat="Total="0.00) or after a sign
  // ([>=100]); a word before "=" is the longest property name it ends in.
  std::vector<std::pair<size_t, size_t>> pairs;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '"' && !pairs.empty()) quoted = !quoted;
    if (text[i] != '=' || quoted || i == 0 || !IsLetter(text[i - 1])) continue;
    const size_t start = NameStart(text, i);
    if (!pairs.empty() && start <= pairs.back().second) continue;
    pairs.emplace_back(start, i);
  }
  const size_t first = pairs.empty() ? text.size() : pairs.front().first;
  if (first > 0) {
    issues->push_back(
        {std::string(text.substr(0, first)), "not a Property=Value pair"});
  }
  for (size_t i = 0; i < pairs.size(); ++i) {
    const auto [start, eq] = pairs[i];
    const std::string_view name = text.substr(start, eq - start);
    const size_t end = i + 1 < pairs.size() ? pairs[i + 1].first : text.size();
    const std::string_view value = text.substr(eq + 1, end - eq - 1);
    const PropName* prop = FindProp(name);
    if (prop == nullptr) {
      issues->push_back({std::string(name), "unknown property"});
    } else if (!ApplyPair(prop->prop, value, &format)) {
      issues->push_back(
          {std::string(name), "bad value \"" + std::string(value) + "\""});
    }
  }
  return format;
}

bool Style::empty() const { return *this == Style(); }

std::string Style::Key() const {
  std::string key;
  auto flag = [&](const std::optional<bool>& b) {
    key += !b ? '-' : *b ? '1' : '0';
  };
  flag(bold), flag(italic), flag(underline), flag(strike), flag(wrap);
  auto number = [&](auto& n) {
    key += n ? std::to_string(*n) : std::string("-");
    key += ';';
  };
  number(size), number(color), number(fill);
  auto word = [&](auto& e) { key += e ? char('0' + int(*e)) : '-'; };
  word(align), word(valign), word(border);
  auto name = [&](const std::optional<std::string>& t) {
    key += t ? std::to_string(t->size()) + ":" + *t : std::string("-");
  };
  name(font), name(number_format);
  return key;
}

bool ParseCellName(std::string_view name, int64_t* row, int64_t* col) {
  size_t i = 0;
  int64_t c = 0, r = 0;
  while (i < name.size() && IsLetter(name[i]) && i < 3) {
    c = c * 26 + ((name[i] | 0x20) - 'a' + 1);
    ++i;
  }
  if (i == 0 || i == name.size() || name[i] == '0') return false;
  for (; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9' || r > kMaxRows) return false;
    r = r * 10 + (name[i] - '0');
  }
  if (c > kMaxCols || r > kMaxRows) return false;
  *row = r;
  *col = c;
  return true;
}

std::string ColumnName(int64_t col) {
  std::string name;
  while (col > 0) {
    name.insert(name.begin(), char('A' + (col - 1) % 26));
    col = (col - 1) / 26;
  }
  return name;
}

}  // namespace pellar::sheet
