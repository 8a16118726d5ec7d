// The control document through the shared reader of the library's
// documents; the meaning of values and format texts.
#include "control.h"

#include <expat.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include <pellar/base/chars.h>
#include <pellar/base/failure.h>
#include <pellar/base/number.h>
#include <pellar/base/text.h>

#include "printable.h"
#include "writer_document.h"

namespace pellar::sheet {
namespace {

constexpr std::string_view kRoot = "WorksheetDoc";

[[nodiscard]] bool ParseIndex(const std::string& text, int64_t* n) {
  if (text.empty() || text.size() > 10) return false;
  int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *n = v;
  return true;
}

}  // namespace

namespace {

// Every element name of the document, matched in any case; those of each
// cell first.
constexpr std::string_view kNames[] = {
    "Row", "Col",         "Value",     "Format",        "Cell",
    kRoot, "Application", "ExcelFile", "OpenWorkSheet",
};

}  // namespace

class ControlReader::Parser : public programs::DocumentReader {
 public:
  explicit Parser(ControlSink* sink)
      : DocumentReader(kNames, "a control document"), sink_(sink) {}

  // Answers the reason, with the line, or "".
  std::string Parse(std::string_view bytes, bool last) {
    if (!Feed(bytes, last)) {
      std::string why = reason();
      if (why.empty()) {
        why = std::string("not an XML document: ") +
              XML_ErrorString(expat_error());
      }
      return why + " (line " + std::to_string(line()) + ")";
    }
    if (last && !saw_header_) {
      return "the document names no <ExcelFile> or <OpenWorkSheet> (line " +
             std::to_string(line()) + ")";
    }
    return "";
  }

 private:
  void Start(std::string_view name) override {
    const int depth = depth_++;
    if (depth == 0) {
      if (name != kRoot) {
        Fail("the root element is <" + std::string(name) + ">, not <" +
             std::string(kRoot) + ">");
      }
    } else if (depth == 1 && name == "Cell") {
      if (!HeaderDone()) return;
      cell_ = ControlCell();
      cell_.line = line();
      seen_ = 0;
    } else if (depth == 1 && (name == "Application" || name == "ExcelFile" ||
                              name == "OpenWorkSheet")) {
      if (saw_header_) {
        return Fail("<" + std::string(name) + "> after the first <Cell>");
      }
      Take(name == "Application" ? &application_
           : name == "ExcelFile" ? &excel_file_
                                 : &worksheet_);
    } else if (depth == 2 && (name == "Row" || name == "Col" ||
                              name == "Value" || name == "Format")) {
      const int bit = name == "Row"     ? 1
                      : name == "Col"   ? 2
                      : name == "Value" ? 4
                                        : 8;
      if (seen_ & bit)
        return Fail("two <" + std::string(name) + "> in a <Cell>");
      seen_ |= bit;
      text_.clear();
      Take(bit <= 2 ? &text_ : bit == 4 ? &cell_.value : &cell_.format);
    } else {
      Fail("unexpected <" + std::string(name) + ">" +
           (depth == 2 ? " in a <Cell>" : ""));
    }
  }

  void End(std::string_view name) override {
    --depth_;
    if (value_ != nullptr) {
      if ((name == "Row" || name == "Col") &&
          !ParseIndex(text_, name == "Row" ? &cell_.row : &cell_.col)) {
        return Fail("<" + std::string(name) + "> holds \"" + text_ +
                    "\", not a number");
      }
      if (name == "ExcelFile") seen_header_ |= 1;
      if (name == "OpenWorkSheet") seen_header_ |= 2;
      value_ = nullptr;
    } else if (depth_ == 1 && name == "Cell") {
      if ((seen_ & 7) != 7) {
        return Fail(std::string("a <Cell> without <") +
                    ((seen_ & 1) == 0   ? "Row"
                     : (seen_ & 2) == 0 ? "Col"
                                        : "Value") +
                    ">");
      }
      if (std::string why = sink_->Cell(cell_); !why.empty()) {
        Fail(std::move(why));
      }
    } else if (depth_ == 0) {
      HeaderDone(true);
    }
  }

  // The header goes to the sink before the first cell, or at the end.
  bool HeaderDone(bool at_end = false) {
    if (saw_header_) return true;
    if (seen_header_ != 3) {
      const char* missing = (seen_header_ & 1) ? "OpenWorkSheet" : "ExcelFile";
      Fail(at_end ? std::string("the document names no <") + missing + ">"
                  : std::string("no <") + missing + "> before the cells");
      return false;
    }
    saw_header_ = true;
    if (std::string why = sink_->Header(excel_file_, worksheet_);
        !why.empty()) {
      Fail(std::move(why));
      return false;
    }
    return true;
  }

  void Take(std::string* value) {
    value_ = value;
    Collect(value);
  }

  ControlSink* sink_;
  int depth_ = 0;
  std::string* value_ = nullptr;
  std::string text_;
  std::string application_, excel_file_, worksheet_;
  int seen_header_ = 0;
  bool saw_header_ = false;
  ControlCell cell_;
  int seen_ = 0;
};

ControlReader::ControlReader(ControlSink* sink)
    : parser_(std::make_unique<Parser>(sink)) {}
ControlReader::~ControlReader() = default;

bool ControlReader::Feed(std::string_view bytes, bool last) {
  if (!error_.empty()) return false;
  error_ = parser_->Parse(bytes, last);
  return error_.empty();
}

std::string ReadControl(std::string_view bytes, ControlSink* sink) {
  ControlReader reader(sink);
  return reader.Feed(bytes, true) ? "" : reader.error();
}

std::string ReadControlFile(const std::string& path, ControlSink* sink) {
  // Not blocking on a FIFO's open; only plain files are read.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return "not a plain file";
  }
  ControlReader reader(sink);
  std::string buffer(size_t{1} << 16, '\0');
  for (;;) {
    const ssize_t n = read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int code = errno;
      close(fd);
      return std::strerror(code);
    }
    if (!reader.Feed(std::string_view(buffer.data(), size_t(n)), n == 0)) {
      break;
    }
    if (n == 0) break;
  }
  close(fd);
  return reader.error();
}

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

CellValue ClassifyValue(std::string_view stored, bool formulas) {
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
  if (stored.empty() || IsWhiteSpace(stored.front()) ||
      IsWhiteSpace(stored.back()) || !FitsDouble(stored)) {
    return value;
  }
  // Most text is told apart here, without the cost of a failed parse.
  const char first = stored.front();
  if (first != '-' && first != '+' && first != '.' &&
      (first < '0' || first > '9')) {
    return value;
  }
  // A number is ASCII: a short one is widened in place, not converted.
  char16_t wide[64];
  const bool short_text = stored.size() <= std::size(wide);
  for (size_t i = 0; i < stored.size(); ++i) {
    if (static_cast<unsigned char>(stored[i]) >= 0x80) return value;
    if (short_text) wide[i] = char16_t(stored[i]);
  }
  try {
    value.number = short_text ? ParseNumber(TextView(wide, stored.size()))
                              : ParseNumber(FromUtf8(stored));
    value.kind = CellValue::Kind::kNumber;
  } catch (const Failure&) {
  }
  return value;
}

std::string DescribeValue(const CellValue& value) {
  switch (value.kind) {
    case CellValue::Kind::kNumber: {
      // As the workbook writer writes it: the shortest text of the number.
      char digits[32];
      return "number " +
             std::string(digits, std::to_chars(digits, digits + sizeof digits,
                                               value.number)
                                     .ptr);
    }
    case CellValue::Kind::kFormula:
      return "formula =" + programs::Printable(value.text);
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
    const double d = ParseNumber(FromUtf8(v));
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
