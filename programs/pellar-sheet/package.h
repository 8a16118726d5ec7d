// The parts of a workbook package and the XML helpers that edit them: a
// part is read through libzip, parsed with expat, and edited as text so
// that everything not changed stays byte for byte as it was.
#ifndef PELLAR_SHEET_PACKAGE_H_
#define PELLAR_SHEET_PACKAGE_H_

#include <expat.h>
#include <zip.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pellar::sheet {

inline constexpr char kNsSep = ' ';
inline constexpr uint64_t kMaxEditedPart = uint64_t{64} << 20;
inline constexpr std::string_view kRelNs =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
inline constexpr std::string_view kWorksheetType =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
    "worksheet";
inline constexpr std::string_view kWorksheetContent =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml";

// The local part of a name from a namespace-aware parser ("URI name") or a
// plain one ("x:name").
std::string_view Local(std::string_view name);

const char* Attr(const XML_Char** atts, std::string_view name);

// Appends `text` to `out` escaped for element text and attribute values.
void EscapeTo(std::string& out, std::string_view text);

std::string Escape(std::string_view text);

// Attributes inside a raw start tag, edited as text so that everything else
// in the tag (prefixes, other attributes, quoting) stays as it was.
bool FindAttr(std::string_view tag, std::string_view name, size_t* from,
              size_t* value, size_t* end);

void SetAttr(std::string& tag, std::string_view name, std::string_view value);

void RemoveAttr(std::string& tag, std::string_view name);

// The "x:" of "<x:name ...>", or "".
std::string PrefixOf(std::string_view tag);

std::string Number(double d);

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
double StoredWidth(double characters);

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
std::string Without(const std::string& bytes, const Relationship& rel);

// Spreadsheet programs refuse these characters and lengths in sheet names.
bool ValidSheetName(std::string_view name);

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
std::string FolderOf(const std::string& part);

// A relationship target as a part name.
std::string Resolve(const std::string& folder, const std::string& target);

std::string RelsOf(const std::string& part);

}  // namespace pellar::sheet

#endif  // PELLAR_SHEET_PACKAGE_H_
