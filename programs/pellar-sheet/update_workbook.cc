// Existing workbooks through libzip and expat. Only the parts that change
// are written again: the worksheet (streamed, its untouched rows and cells
// copied byte for byte), the style table when new styles are needed, and,
// for a new worksheet, the workbook, its relationships and the content
// types. libzip copies every other entry unchanged.
#include <expat.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include <pellar/base/chars.h>
#include <pellar/io/xml_writer.h>

#include "workbook.h"
#include <pellar/base/text_internal.h>

namespace pellar::sheet {
namespace {

constexpr char kNsSep = ' ';
constexpr uint64_t kMaxEditedPart = uint64_t{64} << 20;
constexpr std::string_view kRelNs =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr std::string_view kWorksheetType =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
    "worksheet";
constexpr std::string_view kWorksheetContent =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml";

// The local part of a name from a namespace-aware parser ("URI name") or a
// plain one ("x:name").
std::string_view Local(std::string_view name) {
  const size_t sep = name.find_last_of(" :");
  return sep == std::string_view::npos ? name : name.substr(sep + 1);
}

const char* Attr(const XML_Char** atts, std::string_view name) {
  for (; atts[0] != nullptr; atts += 2) {
    if (name == atts[0]) return atts[1];
  }
  return nullptr;
}

// Appends `text` to `out` escaped for element text and attribute values.
void EscapeTo(std::string& out, std::string_view text) {
  XmlEscapeUtf8(out, text, [](std::string& to, char c) {
    // XML cannot hold it; spreadsheets read _xHHHH_ as the character.
    char code[8];
    std::snprintf(code, sizeof code, "_x%04X_", unsigned(c));
    to += code;
  });
}

std::string Escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  EscapeTo(out, text);
  return out;
}

// Attributes inside a raw start tag, edited as text so that everything else
// in the tag (prefixes, other attributes, quoting) stays as it was.
bool FindAttr(std::string_view tag, std::string_view name, size_t* from,
              size_t* value, size_t* end) {
  for (size_t i = 0; (i = tag.find(name, i + 1)) != std::string_view::npos;) {
    const char before = tag[i - 1];
    if (before != ' ' && before != '\t' && before != '\n' && before != '\r') {
      continue;
    }
    size_t j = i + name.size();
    while (j < tag.size() && (tag[j] == ' ' || tag[j] == '\t')) ++j;
    if (j >= tag.size() || tag[j] != '=') continue;
    ++j;
    while (j < tag.size() && (tag[j] == ' ' || tag[j] == '\t')) ++j;
    if (j >= tag.size() || (tag[j] != '"' && tag[j] != '\'')) continue;
    const size_t close = tag.find(tag[j], j + 1);
    if (close == std::string_view::npos) return false;
    *from = i - 1;
    *value = j + 1;
    *end = close;
    return true;
  }
  return false;
}

void SetAttr(std::string& tag, std::string_view name, std::string_view value) {
  size_t from, begin, end;
  if (FindAttr(tag, name, &from, &begin, &end)) {
    tag.replace(begin, end - begin, Escape(value));
    return;
  }
  size_t close = tag.size() - 1;
  if (close > 0 && tag[close - 1] == '/') --close;
  tag.insert(close, " " + std::string(name) + "=\"" + Escape(value) + "\"");
}

void RemoveAttr(std::string& tag, std::string_view name) {
  size_t from, begin, end;
  if (FindAttr(tag, name, &from, &begin, &end)) {
    tag.erase(from, end + 1 - from);
  }
}

// The "x:" of "<x:name ...>", or "".
std::string PrefixOf(std::string_view tag) {
  const size_t colon = tag.find(':');
  const size_t stop = tag.find_first_of(" \t\r\n/>");
  return colon < stop ? std::string(tag.substr(1, colon)) : std::string();
}

std::string Number(double d) {
  char buf[40];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
  return ec == std::errc() ? std::string(buf, end) : "0";
}

// A table part: its range, whether its first row is a header, and where
// each column's start tag stands.
struct TableHandler {
  XML_Parser parser = nullptr;
  std::string name, ref;
  bool header = true;
  struct Column {
    std::string name;
    int64_t at = 0, length = 0;
  };
  std::vector<Column> columns;
  void Start(std::string_view element, const XML_Char** atts) {
    if (element == "table") {
      const char* display = Attr(atts, "displayName");
      const char* range = Attr(atts, "ref");
      const char* rows = Attr(atts, "headerRowCount");
      name = display != nullptr ? display : "";
      ref = range != nullptr ? range : "";
      header = rows == nullptr || std::string_view(rows) != "0";
    } else if (element == "tableColumn") {
      const char* column = Attr(atts, "name");
      columns.push_back({column != nullptr ? column : "",
                         XML_GetCurrentByteIndex(parser),
                         XML_GetCurrentByteCount(parser)});
    }
  }
  void End(std::string_view) {}
};

// A column width in characters as a workbook stores it: whole pixels of
// 7-pixel digits with 5 pixels of padding (12 pixels a character below
// one), in 1/256 steps. A new workbook's widths are stored so by
// libxlsxwriter: the same document gives the same width both ways.
double StoredWidth(double characters) {
  const double pixels = characters < 1 ? std::floor(characters * 12 + 0.5)
                                       : std::floor(characters * 7 + 0.5) + 5;
  return std::floor(pixels / 7 * 256) / 256;
}

// ---------------------------------------------------------------------------
// The package

class Package {
 public:
  ~Package() {
    if (zip_ != nullptr) zip_discard(zip_);
  }

  [[nodiscard]] std::string Open(const std::string& path, int flags) {
    int code = 0;
    zip_ = zip_open(path.c_str(), flags, &code);
    if (zip_ == nullptr) {
      zip_error_t error;
      zip_error_init_with_code(&error, code);
      std::string why =
          std::string("not a workbook: ") + zip_error_strerror(&error);
      zip_error_fini(&error);
      return why;
    }
    return "";
  }

  zip_t* zip() const { return zip_; }
  std::string Error() const { return zip_strerror(zip_); }

  // Writes the changes; the package is closed either way.
  [[nodiscard]] std::string Close() {
    zip_t* zip = std::exchange(zip_, nullptr);
    if (zip_close(zip) == 0) return "";
    std::string why = zip_strerror(zip);
    zip_discard(zip);
    return why;
  }

  int64_t Find(const std::string& name) const {
    return zip_name_locate(zip_, name.c_str(), 0);
  }

  // Reads entry `index` in pieces, at most `limit` bytes inflated.
  template <typename Sink>
  [[nodiscard]] std::string Read(int64_t index, uint64_t limit,
                                 Sink sink) const {
    zip_stat_t st;
    if (zip_stat_index(zip_, zip_uint64_t(index), 0, &st) != 0) return Error();
    zip_file_t* file = zip_fopen_index(zip_, zip_uint64_t(index), 0);
    if (file == nullptr) return Error();
    std::string buffer(size_t{1} << 16, '\0');
    uint64_t total = 0;
    std::string why;
    for (;;) {
      const zip_int64_t n = zip_fread(file, buffer.data(), buffer.size());
      if (n < 0) {
        why = zip_file_strerror(file);
        break;
      }
      total += uint64_t(n);
      if (total > limit || total > st.size) {
        why = std::string(st.name) + " inflates past its limit";
        break;
      }
      why = sink(std::string_view(buffer.data(), size_t(n)), n == 0);
      if (!why.empty() || n == 0) break;
    }
    zip_fclose(file);
    return why;
  }

  // A part this program edits whole (the style table, the workbook part,
  // relationships, content types, tables). Such parts are kilobytes, a few
  // megabytes for a workbook of many styles; one past kMaxEditedPart is a
  // zip bomb or no workbook a spreadsheet program would open, and is
  // refused before it is read, so that an update holds at most a small
  // multiple of what it writes.
  [[nodiscard]] std::string ReadAll(int64_t index, uint64_t limit,
                                    std::string* out) const {
    out->clear();
    zip_stat_t st;
    if (zip_stat_index(zip_, zip_uint64_t(index), 0, &st) != 0) return Error();
    if ((st.valid & ZIP_STAT_SIZE) == 0 || st.size > kMaxEditedPart) {
      return std::string(st.name) + " is too large to edit (" +
             ((st.valid & ZIP_STAT_SIZE) == 0 ? std::string("unknown size")
                                              : std::to_string(st.size)) +
             " bytes, more than " + std::to_string(kMaxEditedPart) + ")";
    }
    // Its whole size at once, with room for what an edit adds: grown by
    // doubling, a large part would take half as much again while copied.
    if (st.size <= limit) out->reserve(size_t(st.size) + (size_t{1} << 16));
    return Read(index, std::min<uint64_t>(limit, kMaxEditedPart),
                [&](std::string_view bytes, bool) {
                  out->append(bytes);
                  return std::string();
                });
  }

 private:
  zip_t* zip_ = nullptr;
};

// Runs expat with namespaces over a whole small document.
template <typename Handler>
std::string ParseSmall(const std::string& bytes, Handler* handler,
                       const std::string& part) {
  XML_Parser parser = XML_ParserCreateNS(nullptr, kNsSep);
  XML_SetUserData(parser, handler);
  XML_SetElementHandler(
      parser,
      [](void* h, const XML_Char* name, const XML_Char** atts) {
        static_cast<Handler*>(h)->Start(Local(name), atts);
      },
      [](void* h, const XML_Char* name) {
        static_cast<Handler*>(h)->End(Local(name));
      });
  handler->parser = parser;
  std::string why;
  // In slices: handed a whole large part, the parser would copy it.
  constexpr size_t kSlice = size_t{1} << 20;
  for (size_t at = 0;; at += kSlice) {
    const size_t n =
        std::min(kSlice, bytes.size() - std::min(at, bytes.size()));
    const bool last = at + n >= bytes.size();
    if (XML_Parse(parser, bytes.data() + std::min(at, bytes.size()), int(n),
                  last) != XML_STATUS_OK) {
      why = part + ": " + XML_ErrorString(XML_GetErrorCode(parser)) +
            " (line " + std::to_string(XML_GetCurrentLineNumber(parser)) + ")";
      break;
    }
    if (last) break;
  }
  XML_ParserFree(parser);
  return why;
}

struct Relationship {
  std::string id, type, target;
  int64_t from = 0, to = 0;  // where its element stands
};

// The Relationship elements of a relationships part, or with `element`
// "Override" and `id` "PartName" the overrides of the content types.
struct RelsHandler {
  XML_Parser parser = nullptr;
  std::vector<Relationship> rels;
  int64_t end_offset = -1;  // of the root's end tag
  std::string_view element = "Relationship", id = "Id";
  int depth = 0;
  void Start(std::string_view name, const XML_Char** atts) {
    ++depth;
    if (name != element) return;
    const char* key = Attr(atts, id);
    const char* type = Attr(atts, "Type");
    const char* target = Attr(atts, "Target");
    const int64_t at = XML_GetCurrentByteIndex(parser);
    rels.push_back({key ? key : "", type ? type : "", target ? target : "", at,
                    at + XML_GetCurrentByteCount(parser)});
  }
  void End(std::string_view name) {
    if (depth-- == 1) end_offset = XML_GetCurrentByteIndex(parser);
    if (name == element && XML_GetCurrentByteCount(parser) > 0) {
      rels.back().to =
          XML_GetCurrentByteIndex(parser) + XML_GetCurrentByteCount(parser);
    }
  }
};

// `bytes` without the element of `rel`.
std::string Without(const std::string& bytes, const Relationship& rel) {
  return bytes.substr(0, size_t(rel.from)) + bytes.substr(size_t(rel.to));
}

// Spreadsheet programs refuse these characters and lengths in sheet names.
bool ValidSheetName(std::string_view name) {
  size_t characters = 0;
  for (char c : name) {
    if ((c & 0xC0) != 0x80) ++characters;
    if (std::string_view("[]:*?/\\").find(c) != std::string_view::npos) {
      return false;
    }
  }
  return characters >= 1 && characters <= 31 && name.front() != '\'' &&
         name.back() != '\'';
}

struct WorkbookHandler {
  XML_Parser parser = nullptr;
  struct Sheet {
    std::string name, rel_id;
    int64_t sheet_id = 0;
  };
  std::vector<Sheet> sheets;
  int64_t sheets_end = -1;  // offset of </sheets>
  int64_t sheets_end_length = 0;
  void Start(std::string_view name, const XML_Char** atts) {
    if (name != "sheet") return;
    Sheet s;
    for (const XML_Char** a = atts; a[0] != nullptr; a += 2) {
      const std::string_view attr = a[0];
      if (attr == "name") s.name = a[1];
      if (attr == "sheetId") s.sheet_id = std::atoll(a[1]);
      if (attr.starts_with(kRelNs) && Local(attr) == "id") s.rel_id = a[1];
    }
    sheets.push_back(std::move(s));
  }
  void End(std::string_view name) {
    if (name == "sheets") {
      sheets_end = XML_GetCurrentByteIndex(parser);
      sheets_end_length = XML_GetCurrentByteCount(parser);
    }
  }
};

// The folder part of a part name ("xl/workbook.xml" -> "xl/").
std::string FolderOf(const std::string& part) {
  const size_t slash = part.rfind('/');
  return slash == std::string::npos ? "" : part.substr(0, slash + 1);
}

// A relationship target as a part name.
std::string Resolve(const std::string& folder, const std::string& target) {
  std::string path =
      target.starts_with("/") ? target.substr(1) : folder + target;
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    const std::string piece = path.substr(start, slash - start);
    if (piece == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!piece.empty() && piece != ".") {
      parts.push_back(piece);
    }
    start = slash + 1;
  }
  std::string out;
  for (const std::string& p : parts) out += (out.empty() ? "" : "/") + p;
  return out;
}

std::string RelsOf(const std::string& part) {
  const size_t slash = part.rfind('/');
  return slash == std::string::npos ? "_rels/" + part + ".rels"
                                    : part.substr(0, slash + 1) + "_rels/" +
                                          part.substr(slash + 1) + ".rels";
}

// ---------------------------------------------------------------------------
// The style table

struct StylesHandler {
  XML_Parser parser = nullptr;
  struct List {
    bool seen = false;
    int64_t start = 0, start_length = 0, end = 0, end_length = 0;
    std::vector<std::string> items;  // the children, raw
    int64_t item_start = 0, item_length = 0;
  };
  std::map<std::string, List, std::less<>> lists;
  std::map<std::string, int> num_fmts;  // formatCode -> id
  int max_num_fmt = 163;
  std::string default_font = "Calibri";
  std::string default_size = "11";
  int64_t root_start_end = 0;  // just after <styleSheet ...>
  int depth = 0;
  int fonts_seen = 0;
  const std::string* bytes = nullptr;
  List* current = nullptr;

  static bool Tracked(std::string_view name) {
    return name == "numFmts" || name == "fonts" || name == "fills" ||
           name == "borders" || name == "cellXfs";
  }

  void Start(std::string_view name, const XML_Char** atts) {
    const int64_t at = XML_GetCurrentByteIndex(parser);
    const int64_t length = XML_GetCurrentByteCount(parser);
    ++depth;
    if (depth == 1) root_start_end = at + length;
    if (depth == 2 && Tracked(name)) {
      current = &lists[std::string(name)];
      *current = List();
      current->seen = true;
      current->start = at;
      current->start_length = length;
    } else if (depth == 3 && current != nullptr) {
      current->item_start = at;
      current->item_length = length;
      if (name == "numFmt") {
        const char* id = Attr(atts, "numFmtId");
        const char* code = Attr(atts, "formatCode");
        if (id != nullptr && code != nullptr) {
          num_fmts.emplace(code, std::atoi(id));
          max_num_fmt = std::max(max_num_fmt, std::atoi(id));
        }
      }
      if (name == "font") ++fonts_seen;
    } else if (depth == 4 && fonts_seen == 1 && current != nullptr &&
               name != "numFmt") {
      const char* val = Attr(atts, "val");
      if (val != nullptr && name == "name") default_font = val;
      if (val != nullptr && name == "sz") default_size = val;
    }
  }

  void End(std::string_view name) {
    const int64_t at = XML_GetCurrentByteIndex(parser);
    const int64_t length = XML_GetCurrentByteCount(parser);
    if (depth == 3 && current != nullptr) {
      // An empty element ends where its start tag did.
      const int64_t stop = length == 0
                               ? current->item_start + current->item_length
                               : at + length;
      current->items.push_back(bytes->substr(
          size_t(current->item_start), size_t(stop - current->item_start)));
    } else if (depth == 2 && current != nullptr && Tracked(name)) {
      current->end = length == 0 ? current->start : at;
      current->end_length = length;
      current = nullptr;
    }
    --depth;
  }
};

std::string Hex(uint32_t rgb) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "FF%06X", unsigned(rgb & 0xFFFFFF));
  return buf;
}

int BuiltInNumberFormat(std::string_view code) {
  static const std::pair<std::string_view, int> kBuiltIn[] = {
      {"General", 0},        {"0", 1},         {"0.00", 2},
      {"#,##0", 3},          {"#,##0.00", 4},  {"0%", 9},
      {"0.00%", 10},         {"0.00E+00", 11}, {"# ?/?", 12},
      {"# ?\?/?\?", 13},     {"mm-dd-yy", 14}, {"d-mmm-yy", 15},
      {"d-mmm", 16},         {"mmm-yy", 17},   {"h:mm AM/PM", 18},
      {"h:mm:ss AM/PM", 19}, {"h:mm", 20},     {"h:mm:ss", 21},
      {"m/d/yy h:mm", 22},   {"@", 49}};
  for (const auto& [text, id] : kBuiltIn) {
    if (text == code) return id;
  }
  return -1;
}

// What a <font> item shows, for telling equal fonts apart from how they
// are written: its properties in order, without the font family and
// scheme (which only help find a font) and without the theme's text colour
// (which is what no colour gives). A font a new workbook's writer made
// then equals the one an update makes for the same format.
std::string FontKey(std::string_view item) {
  std::string key;
  for (size_t at = item.find('<'); at != std::string_view::npos;
       at = item.find('<', at + 1)) {
    const size_t end = item.find('>', at);
    if (end == std::string_view::npos) break;
    const std::string_view tag = item.substr(at, end + 1 - at);
    const std::string_view name =
        Local(tag.substr(1, tag.find_first_of(" \t\r\n/>") - 1));
    if (tag[1] == '/' || name == "font" || name == "family" ||
        name == "scheme" || name == "charset") {
      continue;
    }
    std::string values;
    for (std::string_view attr : {"val", "rgb", "theme", "indexed", "tint"}) {
      size_t from, begin, stop;
      if (FindAttr(tag, attr, &from, &begin, &stop)) {
        values += std::string(attr) + "=" +
                  std::string(tag.substr(begin, stop - begin)) + ",";
      }
    }
    if (name == "color" && values == "theme=1,") continue;
    key += std::string(name) + "(" + values + ")";
  }
  return key;
}

// The raw child elements of a style item ("<font><b/><sz val="11"/>...")
// with their local names, and the item's own start and end tags.
struct Children {
  std::string start, end;  // end is "" for an empty item
  std::vector<std::pair<std::string, std::string>> items;
};

Children SplitItem(std::string_view item) {
  Children out;
  const size_t open_end = item.find('>');
  if (open_end == std::string_view::npos) return out;
  out.start = item.substr(0, open_end + 1);
  if (out.start.ends_with("/>")) {
    out.start.erase(out.start.size() - 2, 1);
    return out;
  }
  const size_t close = item.rfind("</");
  out.end = item.substr(close);
  for (size_t at = item.find('<', open_end); at < close;) {
    const size_t tag_end = item.find('>', at);
    if (tag_end == std::string_view::npos || tag_end > close) break;
    const std::string_view tag = item.substr(at, tag_end + 1 - at);
    const std::string_view qname =
        tag.substr(1, tag.find_first_of(" \t\r\n/>") - 1);
    size_t stop = tag_end + 1;
    if (!tag.ends_with("/>")) {
      const size_t end_tag = item.find("</" + std::string(qname), stop);
      const size_t after = end_tag == std::string_view::npos
                               ? std::string_view::npos
                               : item.find('>', end_tag);
      stop = after == std::string_view::npos ? close : after + 1;
    }
    out.items.emplace_back(std::string(Local(qname)),
                           std::string(item.substr(at, stop - at)));
    at = item.find('<', stop);
  }
  return out;
}

std::string AttrOf(std::string_view tag, std::string_view name) {
  size_t from, begin, end;
  return FindAttr(tag, name, &from, &begin, &end)
             ? std::string(tag.substr(begin, end - begin))
             : std::string();
}

int IndexAttr(std::string_view tag, std::string_view name) {
  return std::atoi(AttrOf(tag, name).c_str());
}

// The style table of an existing workbook. A format goes over the style a
// cell has, property by property, so the cell styles it makes are known
// only as the worksheet's cells are read: they are made then, and the
// table is written after the worksheet.
class StyleTable {
 public:
  [[nodiscard]] std::string Load(std::string* bytes, const Plan& plan) {
    bytes_ = bytes;
    plan_ = &plan;
    h_.bytes = bytes;
    if (std::string why = ParseSmall(*bytes, &h_, "the style table");
        !why.empty()) {
      return why;
    }
    for (const char* need : {"fonts", "fills", "borders", "cellXfs"}) {
      if (!h_.lists[need].seen) {
        return std::string("the style table has no <") + need + ">";
      }
    }
    fonts_ = &h_.lists["fonts"];
    fills_ = &h_.lists["fills"];
    borders_ = &h_.lists["borders"];
    xfs_ = &h_.lists["cellXfs"];
    if (fonts_->items.empty() || xfs_->items.empty()) {
      return "the style table has no fonts or no cell styles";
    }
    counts_ = {fonts_->items.size(), fills_->items.size(),
               borders_->items.size(), xfs_->items.size()};
    for (const std::string& item : fonts_->items)
      font_keys_.push_back(FontKey(item));
    for (const auto& [code, id] : h_.num_fmts) codes_.emplace(id, code);
    return "";
  }

  // The cell style of a cell that had `base` once the plan's style `style`
  // and, for a date whose format gives none, `date_format` go over it.
  int Merged(int base, int style, std::string_view date_format) {
    if (base < 0 || size_t(base) >= xfs_->items.size()) base = 0;
    const auto key = std::tuple(base, style, date_format);
    if (key == last_key_) return last_xf_;
    auto [slot, added] = merged_.emplace(key, 0);
    if (added)
      slot->second = Merge(base, plan_->styles[size_t(style)], date_format);
    last_key_ = key;
    return last_xf_ = slot->second;
  }

  // Writes the added entries into the table; false when none were.
  bool Finish();

 private:
  int FindOrAdd(StylesHandler::List& list, const std::string& item) {
    auto it = std::find(list.items.begin(), list.items.end(), item);
    if (it != list.items.end()) return int(it - list.items.begin());
    list.items.push_back(item);
    return int(list.items.size() - 1);
  }

  int FindOrAddFont(const std::string& item) {
    const std::string key = FontKey(item);
    auto it = std::find(font_keys_.begin(), font_keys_.end(), key);
    if (it != font_keys_.end()) return int(it - font_keys_.begin());
    font_keys_.push_back(key);
    fonts_->items.push_back(item);
    return int(fonts_->items.size() - 1);
  }

  int NumberFormatId(const std::string& text) {
    // The workbook's own entry for the code first: a writer may list
    // built-in codes too, and its cells use that entry. The table holds
    // control characters as codes: so is the code looked up.
    std::string scratch;
    const std::string& code = EscapeControlCodes(text, &scratch);
    auto it = h_.num_fmts.find(code);
    int id = it != h_.num_fmts.end() ? it->second : BuiltInNumberFormat(code);
    if (id < 0) {
      id = ++h_.max_num_fmt;
      h_.num_fmts.emplace(code, id);
      codes_.emplace(id, code);
      new_num_fmts_.push_back("<numFmt numFmtId=\"" + std::to_string(id) +
                              "\" formatCode=\"" + Escape(code) + "\"/>");
    }
    return id;
  }

  // The font `item` with what `s` sets, its properties in the order
  // spreadsheet programs write them.
  static std::string EditFont(const std::string& item, const Style& s) {
    Children font = SplitItem(item);
    const std::string prefix = PrefixOf(font.start);
    if (font.end.empty()) font.end = "</" + prefix + "font>";
    const auto set = [&](std::string_view name, bool on, std::string raw) {
      std::erase_if(font.items, [&](const auto& c) { return c.first == name; });
      if (on) font.items.emplace_back(name, std::move(raw));
    };
    const auto flag = [&](std::string_view name, const std::optional<bool>& b) {
      if (b) set(name, *b, "<" + prefix + std::string(name) + "/>");
    };
    flag("b", s.bold);
    flag("i", s.italic);
    flag("strike", s.strike);
    flag("u", s.underline);
    if (s.size) {
      set("sz", true, "<" + prefix + "sz val=\"" + Number(*s.size) + "\"/>");
    }
    if (s.color) {
      set("color", true,
          "<" + prefix + "color rgb=\"" + Hex(*s.color) + "\"/>");
    }
    if (s.font) {
      set("name", true,
          "<" + prefix + "name val=\"" + Escape(*s.font) + "\"/>");
      // A theme's scheme font would be shown instead of the name.
      set("scheme", false, "");
    }
    static constexpr std::string_view kOrder[] = {
        "b",       "i",      "strike", "condense",  "extend",
        "outline", "shadow", "u",      "vertAlign", "sz",
        "color",   "name",   "family", "charset",   "scheme"};
    const auto rank = [](const std::string& name) {
      return std::find(std::begin(kOrder), std::end(kOrder), name) -
             std::begin(kOrder);
    };
    std::stable_sort(font.items.begin(), font.items.end(),
                     [&](const auto& a, const auto& b) {
                       return rank(a.first) < rank(b.first);
                     });
    std::string out = font.start;
    for (const auto& child : font.items) out += child.second;
    return out + font.end;
  }

  int Merge(int base, const Style& s, std::string_view date_format) {
    Children xf = SplitItem(xfs_->items[size_t(base)]);
    std::string& tag = xf.start;
    const bool font = s.bold || s.italic || s.strike || s.underline || s.size ||
                      s.color || s.font;
    if (font) {
      size_t font = size_t(IndexAttr(tag, "fontId"));
      if (font >= fonts_->items.size()) font = 0;
      SetAttr(tag, "fontId",
              std::to_string(FindOrAddFont(EditFont(fonts_->items[font], s))));
    }
    int num_fmt = -1;
    if (s.number_format) {
      num_fmt = NumberFormatId(*s.number_format);
    } else if (!date_format.empty()) {
      // A template's own date format stays.
      const int id = IndexAttr(tag, "numFmtId");
      const auto code = codes_.find(id);
      if (!IsDateFormat(id, code == codes_.end() ? "" : code->second)) {
        num_fmt = NumberFormatId(std::string(date_format));
      }
    }
    if (num_fmt >= 0) SetAttr(tag, "numFmtId", std::to_string(num_fmt));
    if (s.fill) {
      SetAttr(tag, "fillId",
              std::to_string(FindOrAdd(
                  *fills_,
                  "<fill><patternFill patternType=\"solid\"><fgColor rgb=\"" +
                      Hex(*s.fill) +
                      "\"/><bgColor indexed=\"64\"/></patternFill></fill>")));
    }
    if (s.border) {
      const char* style = *s.border == Border::kThin     ? "thin"
                          : *s.border == Border::kMedium ? "medium"
                                                         : "thick";
      std::string border = "<border>";
      for (const char* side : {"left", "right", "top", "bottom"}) {
        border += *s.border == Border::kNone
                      ? std::string("<") + side + "/>"
                      : std::string("<") + side + " style=\"" + style +
                            "\"><color auto=\"1\"/></" + side + ">";
      }
      SetAttr(tag, "borderId",
              std::to_string(
                  FindOrAdd(*borders_, border + "<diagonal/></border>")));
    }
    // What was set is flagged as a new workbook's writer flags it, so that
    // its styles are found again rather than repeated.
    for (const auto& [set, id, flag] :
         {std::tuple{num_fmt >= 0, "numFmtId", "applyNumberFormat"},
          {font, "fontId", "applyFont"},
          {s.fill.has_value(), "fillId", "applyFill"},
          {s.border.has_value(), "borderId", "applyBorder"}}) {
      if (set && IndexAttr(tag, id) != 0) SetAttr(tag, flag, "1");
    }
    if (s.align || s.valign || s.wrap) {
      auto it = std::find_if(xf.items.begin(), xf.items.end(),
                             [](auto& c) { return c.first == "alignment"; });
      if (it == xf.items.end()) {
        it =
            xf.items.insert(xf.items.begin(),
                            {"alignment", "<" + PrefixOf(tag) + "alignment/>"});
      }
      std::string& align = it->second;
      if (s.align) {
        SetAttr(align, "horizontal",
                *s.align == Align::kLeft     ? "left"
                : *s.align == Align::kCenter ? "center"
                                             : "right");
      }
      if (s.valign) {
        SetAttr(align, "vertical",
                *s.valign == VAlign::kTop      ? "top"
                : *s.valign == VAlign::kCenter ? "center"
                                               : "bottom");
      }
      if (s.wrap && *s.wrap) SetAttr(align, "wrapText", "1");
      if (s.wrap && !*s.wrap) RemoveAttr(align, "wrapText");
      if (align.find('=') == std::string::npos) {
        xf.items.erase(it);
      } else {
        SetAttr(tag, "applyAlignment", "1");
      }
    }
    std::string item = tag;
    if (xf.items.empty()) {
      item.insert(item.size() - 1, "/");
    } else {
      for (const auto& child : xf.items) item += child.second;
      item += xf.end.empty() ? "</" + PrefixOf(tag) + "xf>" : xf.end;
    }
    return FindOrAdd(*xfs_, item);
  }

  std::string* bytes_ = nullptr;
  const Plan* plan_ = nullptr;
  StylesHandler h_;
  StylesHandler::List *fonts_ = nullptr, *fills_ = nullptr, *borders_ = nullptr,
                      *xfs_ = nullptr;
  std::array<size_t, 4> counts_{};
  std::vector<std::string> font_keys_;
  std::map<int, std::string> codes_;  // numFmtId -> formatCode
  std::vector<std::string> new_num_fmts_;
  std::map<std::tuple<int, int, std::string_view>, int> merged_;
  std::tuple<int, int, std::string_view> last_key_{-1, -1, ""};
  int last_xf_ = 0;
};

bool StyleTable::Finish() {
  std::string* bytes = bytes_;
  // The edits, at their offsets in the table.
  struct Edit {
    int64_t at, length;
    std::string text;
  };
  std::vector<Edit> edits;
  auto grow = [&](const StylesHandler::List& list, size_t old_count,
                  const std::string& name) {
    if (list.items.size() == old_count) return;
    std::string added;
    for (size_t i = old_count; i < list.items.size(); ++i)
      added += list.items[i];
    std::string tag =
        bytes->substr(size_t(list.start), size_t(list.start_length));
    SetAttr(tag, "count", std::to_string(list.items.size()));
    if (list.end_length == 0) {  // <name/>
      const std::string prefix = PrefixOf(tag);
      tag.erase(tag.size() - 2, 1);
      edits.push_back({list.start, list.start_length,
                       tag + added + "</" + prefix + name + ">"});
    } else {
      edits.push_back({list.start, list.start_length, tag});
      edits.push_back({list.end, 0, added});
    }
  };
  grow(*fonts_, counts_[0], "fonts");
  grow(*fills_, counts_[1], "fills");
  grow(*borders_, counts_[2], "borders");
  grow(*xfs_, counts_[3], "cellXfs");
  if (!new_num_fmts_.empty()) {
    StylesHandler::List& list = h_.lists["numFmts"];
    const size_t old_count = list.items.size();
    list.items.insert(list.items.end(), new_num_fmts_.begin(),
                      new_num_fmts_.end());
    if (list.seen) {
      grow(list, old_count, "numFmts");
    } else {
      const std::string root = bytes->substr(0, size_t(h_.root_start_end));
      const size_t lt = root.rfind('<');
      const std::string prefix = PrefixOf(root.substr(lt));
      std::string text = "<" + prefix + "numFmts count=\"" +
                         std::to_string(list.items.size()) + "\">";
      for (const std::string& item : list.items) text += item;
      edits.push_back(
          {h_.root_start_end, 0, text + "</" + prefix + "numFmts>"});
    }
  }
  if (edits.empty()) return false;
  std::stable_sort(edits.begin(), edits.end(),
                   [](const Edit& a, const Edit& b) { return a.at < b.at; });
  // In place, from the last: a large table is not held twice (it was read
  // with room for what is added).
  for (auto e = edits.rbegin(); e != edits.rend(); ++e) {
    bytes->replace(size_t(e->at), size_t(e->length), e->text);
  }
  return true;
}

// ---------------------------------------------------------------------------
// The worksheet, streamed: bytes are copied through unless an event replaces
// them.

// A range of cells such as "B1:B3" (or one cell).
struct Range {
  int64_t r1 = 0, c1 = 0, r2 = 0, c2 = 0;
  std::string ref;
  bool Holds(int64_t row, int64_t col) const {
    return row >= r1 && row <= r2 && col >= c1 && col <= c2;
  }
};

bool ParseRange(std::string_view ref, Range* range) {
  const size_t colon = ref.find(':');
  if (!ParseCellName(ref.substr(0, colon), &range->r1, &range->c1)) {
    return false;
  }
  range->r2 = range->r1, range->c2 = range->c1;
  if (colon != std::string_view::npos &&
      !ParseCellName(ref.substr(colon + 1), &range->r2, &range->c2)) {
    return false;
  }
  range->ref = ref;
  return range->r1 <= range->r2 && range->c1 <= range->c2;
}

constexpr const char* kOnlyUtf8 =
    ", and cells can be written into a worksheet in UTF-8 only";

class SheetMerger {
 public:
  // `styles` is null when no cell brings a style.
  SheetMerger(std::function<bool(std::string_view)> out, const Plan& plan,
              const CellList& cells, StyleTable* styles,
              std::vector<std::string>* warnings)
      : out_(std::move(out)),
        plan_(plan),
        cells_(cells),
        styles_(styles),
        warnings_(warnings) {
    parser_ = NewParser();
    XML_SetXmlDeclHandler(parser_, [](void* self, const XML_Char*,
                                      const XML_Char* encoding, int) {
      if (encoding != nullptr && AsciiLower(encoding) != "utf-8") {
        static_cast<SheetMerger*>(self)->Fail(
            std::string("it declares the encoding ") + encoding + kOnlyUtf8);
      }
    });
    XML_SetStartDoctypeDeclHandler(
        parser_,
        [](void* self, const XML_Char*, const XML_Char*, const XML_Char*, int) {
          static_cast<SheetMerger*>(self)->Fail("a document type declaration");
        });
  }
  ~SheetMerger() { XML_ParserFree(parser_); }

  // Whether a cell that held a formula was overwritten.
  bool replaced_formula() const { return replaced_formula_; }

  [[nodiscard]] std::string Feed(std::string_view bytes, bool last) {
    // The cells are written in UTF-8: into a worksheet in UTF-16 (which
    // starts with a byte-order mark or has a NUL beside its first "<") they
    // would be garbage.
    if (base_ == 0 && buffer_.empty() && !bytes.empty() &&
        ((std::string_view("< \t\r\n").find(bytes[0]) ==
              std::string_view::npos &&
          !bytes.starts_with("\xEF\xBB\xBF")) ||
         (bytes.size() > 1 && bytes[1] == '\0'))) {
      return std::string("the worksheet: it is not in UTF-8") + kOnlyUtf8;
    }
    buffer_.append(bytes);
    if (!skipping_rows_) Parse(bytes, last);
    if (skipping_rows_ && error_.empty()) SkipRows(last);
    if (!error_.empty()) return "the worksheet: " + error_;
    if (last) {
      EmitTo(base_ + int64_t(buffer_.size()));
      if (!saw_sheet_data_) return "the worksheet has no <sheetData>";
    }
    buffer_.erase(0, size_t(done_ - base_));
    base_ = done_;
    const bool written = out_(written_);
    written_.clear();
    return written ? "" : "cannot write the worksheet";
  }

 private:
  // Without namespace processing, which costs time on every element: the
  // worksheet's elements are told apart by their local names.
  XML_Parser NewParser() {
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetUserData(parser, this);
    XML_SetElementHandler(
        parser,
        [](void* self, const XML_Char* name, const XML_Char** atts) {
          static_cast<SheetMerger*>(self)->Start(Local(name), atts);
        },
        [](void* self, const XML_Char* name) {
          static_cast<SheetMerger*>(self)->End(Local(name));
        });
    return parser;
  }

  void Parse(std::string_view bytes, bool last) {
    if (XML_Parse(parser_, bytes.data(), int(bytes.size()), last) !=
            XML_STATUS_OK &&
        error_.empty() && !skipping_rows_) {
      error_ =
          std::string(XML_ErrorString(XML_GetErrorCode(parser_))) + " (line " +
          std::to_string(XML_GetCurrentLineNumber(parser_) + line_shift_) + ")";
    }
  }

  // Once every cell of the document is written, the worksheet's remaining
  // rows are copied as they are without parsing them (most of a one-cell
  // update's time went into that): from the end of a row to the end tag of
  // <sheetData>, where a new parser, told it stands in <sheetData>, reads
  // the rest (merged ranges, protection). Rows hold that end tag only
  // inside a comment or CDATA section, which then ends the skipping early:
  // what follows is parsed as it stands, so such a worksheet is refused
  // (or, balanced by hand, copied as it was).
  bool MaySkipRows() const {
    return in_sheet_data_ && next_ == cells_.size() && !skipping_cell_ &&
           error_.empty() && !root_.empty();
  }
  void SkipRows(bool last) {
    const std::string end_tag = "</" + prefix_ + "sheetData";
    const char* from = buffer_.data() + (scan_ - base_);
    const char* stop = buffer_.data() + buffer_.size();
    const char* found = nullptr;
    for (const char* at = from;
         (at = static_cast<const char*>(
              memmem(at, size_t(stop - at), end_tag.data(), end_tag.size()))) !=
         nullptr;
         ++at) {
      if (at + end_tag.size() >= stop) break;  // its next byte is to come
      const char next = at[end_tag.size()];
      if (next == '>' || next == ' ' || next == '\t' || next == '\r' ||
          next == '\n') {
        found = at;
        break;
      }
    }
    if (found == nullptr) {
      if (last) return Fail("it ends inside <sheetData>");
      // Kept: what could be the start of the end tag.
      const char* keep =
          std::max(from, stop - std::min(size_t(stop - from), end_tag.size()));
      line_shift_ += std::count(from, keep, '\n');
      scan_ = base_ + (keep - buffer_.data());
      EmitTo(scan_);
      return;
    }
    line_shift_ += std::count(from, found, '\n');
    const int64_t at = base_ + (found - buffer_.data());
    EmitTo(at);
    XML_ParserFree(parser_);
    parser_ = NewParser();
    const std::string head = "<" + root_ + "><" + prefix_ + "sheetData>";
    shift_ = at - int64_t(head.size());
    muted_ = true;
    Parse(head, false);
    muted_ = false;
    skipping_rows_ = false;
    Parse(std::string_view(buffer_).substr(size_t(at - base_)), last);
  }

  int64_t Index() const { return XML_GetCurrentByteIndex(parser_) + shift_; }

  void Fail(std::string why) {
    if (error_.empty()) error_ = std::move(why);
    XML_StopParser(parser_, XML_FALSE);
  }

  void Write(std::string_view text) { written_.append(text); }
  void EmitTo(int64_t at) {
    if (at > done_)
      Write(std::string_view(buffer_).substr(size_t(done_ - base_),
                                             size_t(at - done_)));
    done_ = std::max(done_, at);
  }
  void SkipTo(int64_t at) { done_ = std::max(done_, at); }
  std::string RawTag() const {
    return buffer_.substr(size_t(Index() - base_),
                          size_t(XML_GetCurrentByteCount(parser_)));
  }

  int64_t DocRow() const {
    return next_ < cells_.size() ? cells_.row(next_) : kMaxRows + 1;
  }

  // The style a cell the document adds starts from: its row's, else its
  // column's, as spreadsheet programs give a cell typed there.
  int NewCellStyle(const SheetCell& c) const {
    if (c.row == row_ && row_style_ >= 0) return row_style_;
    for (const auto& [lo, hi, style] : col_styles_) {
      if (c.col >= lo && c.col <= hi) return style;
    }
    return 0;
  }

  // Appended piece by piece: a million cells make this the hot path.
  // `keep_style` is the s of the cell it replaces, or null for a new one.
  void WriteCell(const SheetCell& c, const char* keep_style) {
    for (const Range& array : arrays_) {
      if (array.Holds(c.row, c.col)) return FailInArray(c.row, c.col, array);
    }
    std::string& out = written_;
    const auto tag = [&](std::string_view open, std::string_view name) {
      out += open;
      out += prefix_;
      out += name;
    };
    tag("<", "c r=\"");
    out += ColumnName(c.col);
    char digits[24];
    out.append(digits,
               std::to_chars(digits, digits + sizeof digits, c.row).ptr);
    out += '"';
    const int base =
        keep_style != nullptr ? std::atoi(keep_style) : NewCellStyle(c);
    const bool dated = c.value.kind == CellValue::Kind::kDate;
    int xf = -1;
    if (styles_ != nullptr && (c.style != 0 || dated)) {
      xf = styles_->Merged(base, c.style,
                           dated ? c.value.date_format : std::string_view());
    } else if (keep_style == nullptr && base != 0) {
      xf = base;
    }
    if (xf >= 0) {
      out += " s=\"";
      out.append(digits, std::to_chars(digits, digits + sizeof digits, xf).ptr);
      out += '"';
    } else if (keep_style != nullptr) {
      out += " s=\"";
      out += Escape(keep_style);
      out += '"';
    }
    switch (c.value.kind) {
      case CellValue::Kind::kBoolean:
        out += " t=\"b\"";
        tag("><", "v>");
        out += c.value.number != 0 ? '1' : '0';
        tag("</", "v>");
        break;
      case CellValue::Kind::kDate:
      case CellValue::Kind::kNumber:
        tag("><", "v>");
        out.append(
            digits,
            std::to_chars(digits, digits + sizeof digits, c.value.number).ptr);
        tag("</", "v>");
        break;
      case CellValue::Kind::kFormula:
        tag("><", "f>");
        EscapeTo(out, c.value.text);
        tag("</", "f>");
        break;
      case CellValue::Kind::kText:
        out += " t=\"inlineStr\"";
        tag("><", "is>");
        tag("<", "t xml:space=\"preserve\">");
        // Escaped as a new workbook's texts are (a CR too), so that both
        // read back alike.
        EscapeTo(out, EscapeControlCodes(
                          EscapeLiteralCodes(c.value.text, &scratch_[0]),
                          &scratch_[1]));
        tag("</", "t>");
        tag("</", "is>");
        break;
    }
    tag("</", "c>");
  }

  // The document's cells of the current row left of column `col`.
  void WriteCellsBefore(int64_t row, int64_t col) {
    while (next_ < cells_.size() && cells_.row(next_) == row &&
           cells_.col(next_) < col) {
      WriteCell(cells_[next_++], nullptr);
    }
  }

  std::string RowTag(std::string tag, int64_t row) {
    RemoveAttr(tag, "spans");
    if (auto h = plan_.heights.find(row); h != plan_.heights.end()) {
      if (h->second == 0) {
        // Hidden, keeping its height for when it is shown again, as a new
        // workbook's row of height 0 is.
        SetAttr(tag, "hidden", "1");
      } else {
        SetAttr(tag, "ht", Number(h->second));
        SetAttr(tag, "customHeight", "1");
      }
    }
    return tag;
  }

  // Whole rows of the document before row `row`.
  void WriteRowsBefore(int64_t row) {
    while (DocRow() < row) {
      const int64_t r = DocRow();
      Write(RowTag("<" + prefix_ + "row r=\"" + std::to_string(r) + "\">", r));
      WriteCellsBefore(r, kMaxCols + 1);
      Write("</" + prefix_ + "row>");
    }
  }

  std::string ColsText() {
    // Split existing ranges around each column given a width.
    for (const auto& [col, width] : plan_.widths) {
      bool placed = false;
      for (size_t i = 0; i < cols_.size() && !placed; ++i) {
        const int64_t lo = std::atoll(ColAttr(cols_[i], "min").c_str());
        const int64_t hi = std::atoll(ColAttr(cols_[i], "max").c_str());
        if (col < lo || col > hi) continue;
        auto one = cols_[i];
        SetColAttr(one, "min", std::to_string(col));
        SetColAttr(one, "max", std::to_string(col));
        SetColAttr(one, "width", Number(StoredWidth(width)));
        SetColAttr(one, "customWidth", "1");
        std::vector<std::vector<std::pair<std::string, std::string>>> parts;
        if (lo < col) {
          parts.push_back(cols_[i]);
          SetColAttr(parts.back(), "max", std::to_string(col - 1));
        }
        parts.push_back(one);
        if (col < hi) {
          parts.push_back(cols_[i]);
          SetColAttr(parts.back(), "min", std::to_string(col + 1));
        }
        cols_.erase(cols_.begin() + int64_t(i));
        cols_.insert(cols_.begin() + int64_t(i), parts.begin(), parts.end());
        placed = true;
      }
      if (!placed) {
        cols_.push_back({{"min", std::to_string(col)},
                         {"max", std::to_string(col)},
                         {"width", Number(StoredWidth(width))},
                         {"customWidth", "1"}});
      }
    }
    std::stable_sort(cols_.begin(), cols_.end(), [&](auto& a, auto& b) {
      return std::atoll(ColAttr(a, "min").c_str()) <
             std::atoll(ColAttr(b, "min").c_str());
    });
    std::string text = "<" + prefix_ + "cols>";
    for (const auto& attrs : cols_) {
      text += "<" + prefix_ + "col";
      for (const auto& [name, value] : attrs) {
        text += " " + name + "=\"" + Escape(value) + "\"";
      }
      text += "/>";
    }
    return text + "</" + prefix_ + "cols>";
  }
  static std::string ColAttr(
      const std::vector<std::pair<std::string, std::string>>& attrs,
      std::string_view name) {
    for (const auto& [n, v] : attrs) {
      if (n == name) return v;
    }
    return "0";
  }
  static void SetColAttr(
      std::vector<std::pair<std::string, std::string>>& attrs,
      std::string_view name, std::string value) {
    for (auto& [n, v] : attrs) {
      if (n == name) return void(v = std::move(value));
    }
    attrs.emplace_back(std::string(name), std::move(value));
  }

  std::string Dimension(std::string tag) {
    size_t from, begin, end;
    int64_t r1 = kMaxRows, c1 = kMaxCols, r2 = 0, c2 = 0;
    if (FindAttr(tag, "ref", &from, &begin, &end)) {
      const std::string ref = tag.substr(begin, end - begin);
      const size_t colon = ref.find(':');
      int64_t r, c;
      for (const std::string& part :
           {ref.substr(0, colon),
            colon == std::string::npos ? ref : ref.substr(colon + 1)}) {
        if (ParseCellName(part, &r, &c)) {
          r1 = std::min(r1, r), c1 = std::min(c1, c);
          r2 = std::max(r2, r), c2 = std::max(c2, c);
        }
      }
    }
    for (size_t i = 0; i < cells_.size(); ++i) {
      r1 = std::min(r1, cells_.row(i)), c1 = std::min(c1, cells_.col(i));
      r2 = std::max(r2, cells_.row(i)), c2 = std::max(c2, cells_.col(i));
    }
    if (r2 == 0) return tag;
    std::string ref = ColumnName(c1) + std::to_string(r1);
    if (r1 != r2 || c1 != c2) ref += ":" + ColumnName(c2) + std::to_string(r2);
    SetAttr(tag, "ref", ref);
    return tag;
  }

  // An array formula's cells are computed together from the text in its
  // first cell: spreadsheet programs keep none of them set alone.
  void FailInArray(int64_t row, int64_t col, const Range& array) {
    Fail("cell " + ColumnName(col) + std::to_string(row) +
         " lies in the array formula of " + array.ref +
         ", whose cells are only set together");
  }

  // The document's cells other than the first one of a merged range are
  // hidden behind it.
  void WarnMerged(const Range& merged) {
    for (size_t i = cells_.LowerBound(merged.r1, merged.c1);
         i < cells_.size() && cells_.row(i) <= merged.r2; ++i) {
      const int64_t row = cells_.row(i), col = cells_.col(i);
      if (!merged.Holds(row, col) || (row == merged.r1 && col == merged.c1)) {
        continue;
      }
      warnings_->push_back("cell " + ColumnName(col) + std::to_string(row) +
                           " is set but hidden: it lies in the merged range " +
                           merged.ref);
    }
  }

  void Start(std::string_view name, const XML_Char** atts) {
    if (muted_) return;
    const int depth = ++depth_;
    if (depth == 1) {
      const std::string tag = RawTag();
      root_ = tag.substr(1, tag.find_first_of(" \t\r\n/>") - 1);
    }
    if (name == "f" && error_.empty()) {
      const char* type = Attr(atts, "t");
      const char* ref = Attr(atts, "ref");
      Range array;
      if (type != nullptr && std::string_view(type) == "array" &&
          ref != nullptr && ParseRange(ref, &array)) {
        if (skipping_cell_) return FailInArray(row_, col_, array);
        arrays_.push_back(std::move(array));
      }
    }
    if (depth == 3 && name == "mergeCell" && !in_sheet_data_) {
      const char* ref = Attr(atts, "ref");
      Range merged;
      if (ref != nullptr && ParseRange(ref, &merged)) WarnMerged(merged);
    }
    // The cells of a protected worksheet are set all the same, as a macro
    // that knows its password would; its user should know.
    if (depth == 2 && name == "sheetProtection" && !cells_.empty()) {
      const char* on = Attr(atts, "sheet");
      if (on != nullptr &&
          (std::string_view(on) == "1" || std::string_view(on) == "true")) {
        warnings_->push_back(
            "the worksheet is protected; its cells were set all the same, as "
            "a macro that knows its password would set them");
      }
    }
    if (skipping_cell_ && name == "f") {
      replaced_formula_ = true;
      // The cells that share a formula hold only its number; the text is
      // in this one cell, and setting it would leave them without one.
      const char* type = Attr(atts, "t");
      const char* shared = Attr(atts, "ref");
      if (type != nullptr && std::string_view(type) == "shared" &&
          shared != nullptr) {
        return Fail("cell " + ColumnName(col_) + std::to_string(row_) +
                    " holds the formula that the cells " + shared +
                    " share; setting it would leave them without it");
      }
    }
    if (skipping_cell_ || !error_.empty()) return;
    if (depth == 3 && name == "col" && !in_sheet_data_) {
      const char* style = Attr(atts, "style");
      const char* min = Attr(atts, "min");
      const char* max = Attr(atts, "max");
      if (style != nullptr && min != nullptr && max != nullptr) {
        col_styles_.emplace_back(std::atoll(min), std::atoll(max),
                                 std::atoi(style));
      }
    }
    const int64_t at = Index();
    const int64_t length = XML_GetCurrentByteCount(parser_);
    if (depth == 2 && name == "dimension") {
      EmitTo(at);
      Write(Dimension(RawTag()));
      SkipTo(at + length);
    } else if (depth == 2 && name == "cols" && !plan_.widths.empty()) {
      EmitTo(at);
      capturing_cols_ = true;
      saw_cols_ = true;
      prefix_ = PrefixOf(RawTag());
    } else if (depth == 3 && capturing_cols_ && name == "col") {
      cols_.emplace_back();
      for (const XML_Char** a = atts; a[0] != nullptr; a += 2) {
        cols_.back().emplace_back(a[0], a[1]);
      }
    } else if (depth == 2 && name == "sheetData") {
      saw_sheet_data_ = true;
      const std::string tag = RawTag();
      prefix_ = PrefixOf(tag);
      EmitTo(at);
      if (!saw_cols_ && !plan_.widths.empty()) Write(ColsText());
      in_sheet_data_ = true;
      if (tag.ends_with("/>")) {
        Write(tag.substr(0, tag.size() - 2) + ">");
        WriteRowsBefore(kMaxRows + 1);
        Write("</" + prefix_ + "sheetData>");
        SkipTo(at + length);
        in_sheet_data_ = false;
      }
    } else if (depth == 3 && in_sheet_data_ && name == "row") {
      const char* r = Attr(atts, "r");
      row_ = r != nullptr ? std::atoll(r) : row_ + 1;
      col_ = 0;
      const char* custom = Attr(atts, "customFormat");
      const char* style = Attr(atts, "s");
      row_style_ = custom != nullptr && style != nullptr &&
                           (std::string_view(custom) == "1" ||
                            std::string_view(custom) == "true")
                       ? std::atoi(style)
                       : -1;
      if (row_ < 1 || row_ > kMaxRows || row_ <= last_row_) {
        return Fail("rows out of order at row " + std::to_string(row_));
      }
      last_row_ = row_;
      EmitTo(at);
      WriteRowsBefore(row_);
      std::erase_if(arrays_, [&](const Range& a) { return a.r2 < row_; });
      merging_row_ = DocRow() == row_;
      if (merging_row_) {
        const std::string tag = RawTag();
        if (tag.ends_with("/>")) {
          Write(RowTag(tag.substr(0, tag.size() - 2) + ">", row_));
          WriteCellsBefore(row_, kMaxCols + 1);
          Write("</" + prefix_ + "row>");
          merging_row_ = false;
        } else {
          Write(RowTag(tag, row_));
        }
        SkipTo(at + length);
      }
    } else if (depth == 4 && merging_row_ && name == "c") {
      const char* r = Attr(atts, "r");
      int64_t row = row_, col = col_ + 1;
      if (r != nullptr && (!ParseCellName(r, &row, &col) || row != row_)) {
        return Fail(std::string("cell ") + r + " in row " +
                    std::to_string(row_));
      }
      col_ = col;
      EmitTo(at);
      WriteCellsBefore(row_, col_);
      if (next_ < cells_.size() && cells_.row(next_) == row_ &&
          cells_.col(next_) == col_) {
        WriteCell(cells_[next_++], Attr(atts, "s"));
        if (RawTag().ends_with("/>")) {
          SkipTo(at + length);
        } else {
          skipping_cell_ = true;
          cell_depth_ = depth;
        }
      }
    }
  }

  void End(std::string_view name) {
    if (muted_) return;
    const int depth = depth_--;
    if (!error_.empty()) return;
    const int64_t at = Index();
    const int64_t end = at + XML_GetCurrentByteCount(parser_);
    if (skipping_cell_) {
      if (depth == cell_depth_) {
        SkipTo(end);
        skipping_cell_ = false;
      }
      return;
    }
    if (capturing_cols_) {
      if (depth == 2 && name == "cols") {
        Write(ColsText());
        SkipTo(end);
        capturing_cols_ = false;
      }
      return;
    }
    if (depth == 3 && merging_row_ && name == "row") {
      EmitTo(at);
      WriteCellsBefore(row_, kMaxCols + 1);
      merging_row_ = false;
    } else if (depth == 2 && in_sheet_data_ && name == "sheetData") {
      EmitTo(at);
      WriteRowsBefore(kMaxRows + 1);
      in_sheet_data_ = false;
    }
    EmitTo(end);
    if (depth == 3 && name == "row" && MaySkipRows()) {
      skipping_rows_ = true;
      scan_ = end;
      line_shift_ = int64_t(XML_GetCurrentLineNumber(parser_)) - 1;
      XML_StopParser(parser_, XML_FALSE);
    }
  }

  std::function<bool(std::string_view)> out_;
  std::string written_;     // output of the current piece
  std::string scratch_[2];  // a text with its codes escaped
  const Plan& plan_;
  const CellList& cells_;
  StyleTable* styles_;
  std::vector<std::string>* warnings_;
  std::vector<Range> arrays_;  // the array formulas reaching this row
  XML_Parser parser_;
  std::string buffer_;  // the bytes from base_ on
  int64_t base_ = 0;
  int64_t done_ = 0;  // bytes before this are written or dropped
  int64_t shift_ = 0;       // the parser's offsets from here
  int64_t line_shift_ = 0;  // and its lines
  bool skipping_rows_ = false, muted_ = false;
  int64_t scan_ = 0;  // skipping, searched up to here
  std::string root_;  // the root element's name
  size_t next_ = 0;   // the next document cell to write
  int depth_ = 0;
  std::string prefix_;
  bool in_sheet_data_ = false, saw_sheet_data_ = false;
  bool merging_row_ = false;
  bool skipping_cell_ = false;
  bool replaced_formula_ = false;
  int cell_depth_ = 0;
  bool capturing_cols_ = false, saw_cols_ = false;
  std::vector<std::vector<std::pair<std::string, std::string>>> cols_;
  int64_t row_ = 0, col_ = 0, last_row_ = 0;
  int row_style_ = -1;  // the current row's style, when it has one
  std::vector<std::tuple<int64_t, int64_t, int>> col_styles_;  // min, max
  std::string error_;
};

constexpr std::string_view kEmptySheet =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/"
    "main\" xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/"
    "relationships\"><dimension ref=\"A1\"/><sheetData/></worksheet>";

std::string CopyFile(const std::string& from, const std::string& to) {
  const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return std::strerror(errno);
  const int out = open(to.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  std::string why;
  if (out < 0) {
    why = std::strerror(errno);
  } else {
    std::string buffer(size_t{1} << 20, '\0');
    for (;;) {
      const ssize_t n = read(in, buffer.data(), buffer.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (n < 0) why = std::strerror(errno);
        break;
      }
      if (write(out, buffer.data(), size_t(n)) != n) {
        why = std::strerror(errno);
        break;
      }
    }
    if (close(out) != 0 && why.empty()) why = std::strerror(errno);
  }
  close(in);
  return why;
}

// The new worksheet, deflated into a temporary file beside `path` (removed
// when done) as it is written; libzip takes the data as already compressed.
// zlib's level 5: a 100,000 x 10 worksheet that openpyxl or LibreOffice
// deflated comes out within 1% of its old size (level 1 made the workbook
// 30% larger), in 60% of the time of level 6, which gains under 1% more;
// one this program made new (at level 1) comes out a quarter smaller.
class DeflatedFile {
 public:
  explicit DeflatedFile(const std::string& path) : name_(path + ".XXXXXX") {
    const int fd = mkstemp(name_.data());
    if (fd < 0) {
      name_.clear();
      return;
    }
    file_ = fdopen(fd, "wb");
    ok_ = file_ != nullptr && deflateInit2(&z_, kLevel, Z_DEFLATED, -15, 8,
                                           Z_DEFAULT_STRATEGY) == Z_OK;
    crc_ = crc32(0, nullptr, 0);
  }
  ~DeflatedFile() {
    deflateEnd(&z_);
    if (file_ != nullptr) std::fclose(file_);
    if (!name_.empty()) unlink(name_.c_str());
  }

  bool Write(std::string_view bytes, int flush = Z_NO_FLUSH) {
    if (!ok_) return false;
    crc_ = crc32_z(crc_, reinterpret_cast<const Bytef*>(bytes.data()),
                   bytes.size());
    size_ += bytes.size();
    z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z_.avail_in = uInt(bytes.size());
    unsigned char out[1 << 16];
    do {
      z_.next_out = out;
      z_.avail_out = sizeof out;
      if (deflate(&z_, flush) == Z_STREAM_ERROR) return ok_ = false;
      const size_t n = sizeof out - z_.avail_out;
      if (std::fwrite(out, 1, n, file_) != n) return ok_ = false;
      compressed_ += n;
    } while (z_.avail_out == 0);
    return true;
  }
  [[nodiscard]] bool Finish() {
    return Write("", Z_FINISH) && std::fflush(file_) == 0;
  }

  // A libzip source of the deflated data.
  zip_source_t* Source(zip_t* zip) {
    return zip_source_function(zip, &Callback, this);
  }

 private:
  static constexpr int kLevel = 5;

  static zip_int64_t Callback(void* self, void* data, zip_uint64_t length,
                              zip_source_cmd_t command) {
    auto* f = static_cast<DeflatedFile*>(self);
    switch (command) {
      case ZIP_SOURCE_OPEN:
        f->reader_ = std::fopen(f->name_.c_str(), "rb");
        return f->reader_ != nullptr ? 0 : -1;
      case ZIP_SOURCE_READ: {
        const size_t n = std::fread(data, 1, length, f->reader_);
        return std::ferror(f->reader_) ? -1 : zip_int64_t(n);
      }
      case ZIP_SOURCE_CLOSE:
        if (f->reader_ != nullptr) std::fclose(f->reader_);
        f->reader_ = nullptr;
        return 0;
      case ZIP_SOURCE_STAT: {
        auto* st = static_cast<zip_stat_t*>(data);
        zip_stat_init(st);
        st->size = f->size_;
        st->comp_size = f->compressed_;
        st->crc = uint32_t(f->crc_);
        st->comp_method = ZIP_CM_DEFLATE;
        st->encryption_method = ZIP_EM_NONE;
        st->mtime = std::time(nullptr);
        st->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_CRC |
                    ZIP_STAT_COMP_METHOD | ZIP_STAT_ENCRYPTION_METHOD |
                    ZIP_STAT_MTIME;
        return sizeof(*st);
      }
      case ZIP_SOURCE_ERROR: {
        zip_error_t error;
        zip_error_init_with_code(&error, ZIP_ER_READ);
        const zip_int64_t n = zip_error_to_data(&error, data, length);
        zip_error_fini(&error);
        return n;
      }
      case ZIP_SOURCE_FREE:
        return 0;
      case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(
            ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
            ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SUPPORTS, -1);
      default:
        return -1;
    }
  }

  std::string name_;
  std::FILE* file_ = nullptr;
  std::FILE* reader_ = nullptr;
  z_stream z_{};
  bool ok_ = false;
  uLong crc_ = 0;
  uint64_t size_ = 0, compressed_ = 0;
};

}  // namespace

std::string CheckPackage(const std::string& path, const UpdateLimits& limits) {
  Package package;
  if (std::string why = package.Open(path, ZIP_RDONLY); !why.empty()) {
    return why;
  }
  const zip_int64_t entries = zip_get_num_entries(package.zip(), 0);
  std::set<std::string> names;
  uint64_t total = 0;
  for (zip_int64_t i = 0; i < entries; ++i) {
    zip_stat_t st;
    if (zip_stat_index(package.zip(), zip_uint64_t(i), 0, &st) != 0) {
      return package.Error();
    }
    const std::string name = st.name;
    const std::string slashed = "/" + name + "/";
    if (name.empty() || name.front() == '/' ||
        name.find('\\') != std::string::npos ||
        slashed.find("/../") != std::string::npos ||
        name.find(':') != std::string::npos) {
      return "the entry \"" + name + "\" escapes its folder";
    }
    // Part names are the same in any case.
    if (!names.insert(AsciiLower(name)).second) {
      return "two entries are named \"" + name + "\"";
    }
    total += st.size;
    if (st.size > limits.max_inflate || total > limits.max_inflate) {
      return "the entries inflate past " + std::to_string(limits.max_inflate) +
             " bytes";
    }
  }
  return "";
}

std::string UpdateWorkbook(const std::string& path,
                           const std::string& temp_path,
                           const std::string& sheet, const Plan& plan,
                           const CellList& cells, const UpdateLimits& limits,
                           bool* added_sheet,
                           std::vector<std::string>* warnings) {
  Package source;
  if (std::string why = source.Open(path, ZIP_RDONLY); !why.empty()) return why;
  const uint64_t limit = limits.max_inflate;

  // The workbook part, its relationships and its worksheets.
  std::string workbook_part = "xl/workbook.xml";
  if (int64_t i = source.Find("_rels/.rels"); i >= 0) {
    std::string bytes;
    RelsHandler rels;
    if (std::string why = source.ReadAll(i, limit, &bytes); !why.empty())
      return why;
    if (std::string why = ParseSmall(bytes, &rels, "_rels/.rels");
        !why.empty()) {
      return why;
    }
    for (const Relationship& r : rels.rels) {
      if (r.type.ends_with("/officeDocument"))
        workbook_part = Resolve("", r.target);
    }
  }
  const std::string folder = FolderOf(workbook_part);
  const std::string rels_part = RelsOf(workbook_part);
  const int64_t workbook_index = source.Find(workbook_part);
  const int64_t rels_index = source.Find(rels_part);
  if (workbook_index < 0 || rels_index < 0)
    return "not a workbook: no " + workbook_part;
  std::string workbook_xml, rels_xml;
  WorkbookHandler book;
  RelsHandler rels;
  for (auto [index, bytes] : {std::pair{workbook_index, &workbook_xml},
                              std::pair{rels_index, &rels_xml}}) {
    if (std::string why = source.ReadAll(index, limit, bytes); !why.empty()) {
      return why;
    }
  }
  if (std::string why = ParseSmall(workbook_xml, &book, workbook_part);
      !why.empty()) {
    return why;
  }
  if (std::string why = ParseSmall(rels_xml, &rels, rels_part); !why.empty()) {
    return why;
  }
  auto target_of = [&](std::string_view id, std::string* type) -> std::string {
    for (const Relationship& r : rels.rels) {
      if (r.id == id) {
        *type = r.type;
        return Resolve(folder, r.target);
      }
    }
    return "";
  };
  std::string sheet_part, type;
  const std::string folded = FoldCase(sheet);
  for (const auto& s : book.sheets) {
    if (FoldCase(s.name) == folded) {
      sheet_part = target_of(s.rel_id, &type);
      if (type != kWorksheetType) return sheet + " is not a worksheet";
    }
  }
  std::string styles_part;
  for (const Relationship& r : rels.rels) {
    if (r.type.ends_with("/styles")) styles_part = Resolve(folder, r.target);
  }

  // The style table, when the cells bring styles (a date brings its
  // number format).
  std::string styles_xml;
  StyleTable styles;
  int64_t styles_index = -1;
  bool dated = false;
  for (size_t i = 0; i < cells.size() && !dated; ++i) {
    dated = cells.kind(i) == CellValue::Kind::kDate;
  }
  if (plan.styles.size() > 1 || dated) {
    styles_index = styles_part.empty() ? -1 : source.Find(styles_part);
    if (styles_index < 0) return "the workbook has no style table";
    if (std::string why = source.ReadAll(styles_index, limit, &styles_xml);
        !why.empty()) {
      return why;
    }
    if (std::string why = styles.Load(&styles_xml, plan); !why.empty()) {
      return why;
    }
  }

  // The worksheet, streamed into a deflated file beside the workbook.
  DeflatedFile scratch(temp_path);
  SheetMerger merger(
      [&](std::string_view bytes) { return scratch.Write(bytes); }, plan, cells,
      styles_index >= 0 ? &styles : nullptr, warnings);
  int64_t sheet_index = -1;
  std::string content_types, new_rels, new_workbook;
  auto ReadTypes = [&](std::string* bytes) {
    if (!bytes->empty()) return std::string();
    const int64_t index = source.Find("[Content_Types].xml");
    if (index < 0) return std::string("not a workbook: no [Content_Types].xml");
    return source.ReadAll(index, limit, bytes);
  };
  *added_sheet = sheet_part.empty();
  if (!*added_sheet) {
    sheet_index = source.Find(sheet_part);
    if (sheet_index < 0) return "the worksheet " + sheet_part + " is missing";
    if (std::string why = source.Read(sheet_index, limit,
                                      [&](std::string_view bytes, bool last) {
                                        return merger.Feed(bytes, last);
                                      });
        !why.empty()) {
      return why;
    }
  } else {
    if (!ValidSheetName(sheet)) {
      return "\"" + sheet + "\" cannot name a worksheet";
    }
    if (std::string why = merger.Feed(kEmptySheet, true); !why.empty())
      return why;
    // A fresh part name, relationship id and sheet id.
    int n = 1;
    while (source.Find(folder + "worksheets/sheet" + std::to_string(n) +
                       ".xml") >= 0)
      ++n;
    sheet_part = folder + "worksheets/sheet" + std::to_string(n) + ".xml";
    int rid = 1;
    for (;;) {
      const std::string id = "rId" + std::to_string(rid);
      if (std::none_of(rels.rels.begin(), rels.rels.end(),
                       [&](const Relationship& r) { return r.id == id; })) {
        break;
      }
      ++rid;
    }
    int64_t sheet_id = 1;
    for (const auto& s : book.sheets)
      sheet_id = std::max(sheet_id, s.sheet_id + 1);
    if (book.sheets_end < 0 || rels.end_offset < 0)
      return "the workbook lists no sheets";
    const std::string end_tag = workbook_xml.substr(
        size_t(book.sheets_end), size_t(book.sheets_end_length));
    const std::string prefix =
        end_tag.size() > 2 ? PrefixOf("<" + end_tag.substr(2)) : "";
    new_workbook = workbook_xml;
    new_workbook.insert(size_t(book.sheets_end),
                        "<" + prefix + "sheet xmlns:r=\"" +
                            std::string(kRelNs) + "\" name=\"" + Escape(sheet) +
                            "\" sheetId=\"" + std::to_string(sheet_id) +
                            "\" r:id=\"rId" + std::to_string(rid) + "\"/>");
    new_rels = rels_xml;
    new_rels.insert(size_t(rels.end_offset),
                    "<Relationship Id=\"rId" + std::to_string(rid) +
                        "\" Type=\"" + std::string(kWorksheetType) +
                        "\" Target=\"worksheets/sheet" + std::to_string(n) +
                        ".xml\"/>");
    if (std::string why = ReadTypes(&content_types); !why.empty()) return why;
    const size_t types_end = content_types.rfind("</");
    if (types_end == std::string::npos)
      return "[Content_Types].xml is not complete";
    content_types.insert(
        types_end, "<Override PartName=\"/" + sheet_part + "\" ContentType=\"" +
                       std::string(kWorksheetContent) + "\"/>");
  }
  if (!scratch.Finish()) return "cannot write the worksheet";
  // The cells' styles are all made now; an unchanged table stays as it was.
  if (styles_index >= 0 && !styles.Finish()) styles_index = -1;

  // A table names its columns after its header cells: a header cell given
  // a text renames its column, as spreadsheet programs do; one given a
  // number cannot be a column's name.
  std::vector<std::pair<std::string, std::string>> tables;  // part, bytes
  if (const int64_t rels_at =
          *added_sheet ? -1 : source.Find(RelsOf(sheet_part));
      rels_at >= 0) {
    std::string bytes;
    RelsHandler sheet_rels;
    if (std::string why = source.ReadAll(rels_at, limit, &bytes); !why.empty())
      return why;
    if (std::string why = ParseSmall(bytes, &sheet_rels, RelsOf(sheet_part));
        !why.empty()) {
      return why;
    }
    for (const Relationship& r : sheet_rels.rels) {
      if (!r.type.ends_with("/table")) continue;
      const std::string part = Resolve(FolderOf(sheet_part), r.target);
      const int64_t at = source.Find(part);
      std::string table_xml;
      TableHandler table;
      Range range;
      if (at < 0) continue;
      if (std::string why = source.ReadAll(at, limit, &table_xml);
          !why.empty()) {
        return why;
      }
      if (std::string why = ParseSmall(table_xml, &table, part); !why.empty())
        return why;
      if (!table.header || !ParseRange(table.ref, &range)) continue;
      std::vector<std::pair<int64_t, std::string>> renamed;  // column, name
      for (size_t i = cells.LowerBound(range.r1, range.c1);
           i < cells.size() && cells.row(i) == range.r1; ++i) {
        const SheetCell c = cells[i];
        if (!range.Holds(c.row, c.col)) continue;
        const std::string cell = ColumnName(c.col) + std::to_string(c.row);
        if (c.value.kind != CellValue::Kind::kText || c.value.text.empty()) {
          return "cell " + cell + " heads a column of the table " + table.name +
                 ", whose header holds names: write it as a "
                 "text";
        }
        const size_t index = size_t(c.col - range.c1);
        if (index >= table.columns.size()) {
          return "the table " + table.name + " lists fewer columns than " +
                 table.ref;
        }
        table.columns[index].name = c.value.text;
        renamed.emplace_back(int64_t(index), c.value.text);
      }
      if (renamed.empty()) continue;
      std::set<std::string> names;
      for (const auto& column : table.columns) {
        if (!names.insert(FoldCase(column.name)).second) {
          return "the table " + table.name +
                 " would have two columns named "
                 "\"" +
                 column.name + "\"";
        }
      }
      // The start tags edited from the last, so that offsets hold.
      for (auto it = renamed.rbegin(); it != renamed.rend(); ++it) {
        const auto& column = table.columns[size_t(it->first)];
        std::string tag =
            table_xml.substr(size_t(column.at), size_t(column.length));
        SetAttr(tag, "name", it->second);
        table_xml.replace(size_t(column.at), size_t(column.length), tag);
      }
      tables.emplace_back(part, std::move(table_xml));
    }
  }

  // The calculation chain lists the cells that hold formulas; with one of
  // them overwritten it is wrong, and spreadsheet programs call the
  // workbook damaged. It is dropped (they rebuild it).
  std::string calc_chain;
  if (merger.replaced_formula()) {
    for (const Relationship& r : rels.rels) {
      if (!r.type.ends_with("/calcChain")) continue;
      calc_chain = Resolve(folder, r.target);
      new_rels = Without(new_rels.empty() ? rels_xml : new_rels, r);
      if (std::string why = ReadTypes(&content_types); !why.empty()) return why;
      RelsHandler types;
      types.element = "Override";
      types.id = "PartName";
      if (std::string why =
              ParseSmall(content_types, &types, "[Content_Types].xml");
          !why.empty()) {
        return why;
      }
      for (const Relationship& o : types.rels) {
        if (o.id == "/" + calc_chain) content_types = Without(content_types, o);
      }
    }
  }

  // The new package: a copy of the old one with the changed entries
  // replaced; libzip copies the others as they are.
  if (std::string why = CopyFile(path, temp_path); !why.empty()) return why;
  Package target;
  if (std::string why = target.Open(temp_path, 0); !why.empty()) return why;
  auto put = [&](const std::string& name, zip_source_t* source_data) {
    if (source_data == nullptr) return target.Error();
    const int64_t index = target.Find(name);
    // A replaced entry keeps its time: the same document applied again
    // leaves the same bytes.
    zip_stat_t was;
    const bool ok =
        index >= 0
            ? zip_stat_index(target.zip(), zip_uint64_t(index), 0, &was) == 0 &&
                  zip_file_replace(target.zip(), zip_uint64_t(index),
                                   source_data, 0) == 0
            : zip_file_add(target.zip(), name.c_str(), source_data,
                           ZIP_FL_ENC_UTF_8) >= 0;
    if (!ok) {
      zip_source_free(source_data);
      return target.Error();
    }
    if (index >= 0 && zip_file_set_mtime(target.zip(), zip_uint64_t(index),
                                         was.mtime, 0) != 0) {
      return target.Error();
    }
    return std::string();
  };
  auto buffer = [&](const std::string& bytes) {
    return zip_source_buffer(target.zip(), bytes.data(), bytes.size(), 0);
  };
  std::string why = put(sheet_part, scratch.Source(target.zip()));
  if (why.empty() && styles_index >= 0)
    why = put(styles_part, buffer(styles_xml));
  if (why.empty() && *added_sheet)
    why = put(workbook_part, buffer(new_workbook));
  if (why.empty() && !new_rels.empty()) why = put(rels_part, buffer(new_rels));
  for (const auto& [part, bytes] : tables) {
    if (why.empty()) why = put(part, buffer(bytes));
  }
  if (why.empty() && !content_types.empty()) {
    why = put("[Content_Types].xml", buffer(content_types));
  }
  if (const int64_t index = calc_chain.empty() ? -1 : target.Find(calc_chain);
      why.empty() && index >= 0 &&
      zip_delete(target.zip(), zip_uint64_t(index)) != 0) {
    why = target.Error();
  }
  if (!why.empty()) return why;
  return target.Close();
}

}  // namespace pellar::sheet
