// The Cell methods that write the work area to files or read it from them.
//
// Delimited files are handled as Windows-1252 bytes: the code page maps
// every byte to its own character, so splitting and comparing bytes gives
// the answers that splitting and comparing the converted text would, and
// only the fields that are kept get converted.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame/failure.h"
#include "frame/identity.h"
#include "frame/textfile.h"
#include "platform/platform.h"
#include "workarea/cell.h"
#include "workarea/read_text.h"
#include "xml/xml_writer.h"

namespace pellar {
namespace {

// Deletes the file about to be written. A name with wildcards is refused
// first, as Windows refuses to create one: deleting by it would remove
// every file it matches.
void DeleteOldFile(TextView name) {
  if (name.find_first_of(u"*?") != TextView::npos) {
    throw Failure(error::kBadFileName);
  }
  DeleteIfExists(name);
}

void SetLibraryIdentity() { SetApplication(u"Pellar UFL", u"Brambleworth"); }

Text Trapped(const Failure& failure) {
  return u"ERROR:" + failure.description();
}
Text TrappedOutOfMemory() {
  return u"ERROR:" + Text(Describe(error::kOutOfMemory));
}

// The Windows-1252 byte of a character beyond ASCII; "?" when the code
// page lacks it.
char AnsiByte(char16_t c) {
  const int code = AnsiCode(c);
  return code < 0 ? '?' : static_cast<char>(code);
}

// Writes `text` in Windows-1252 at `dest`; answers the end.
char* CopyAnsi(char* dest, TextView text) {
  for (char16_t c : text) {
    *dest++ = c < 0x80 ? static_cast<char>(c) : AnsiByte(c);
  }
  return dest;
}

void AppendAnsi(std::string& out, TextView text) {
  const size_t old = out.size();
  out.resize(old + text.size());
  CopyAnsi(out.data() + old, text);
}

// The bytes of `text` when the code page holds every character of it;
// nothing otherwise, since such a text can occur in no file that was read.
std::optional<std::string> ExactAnsi(TextView text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (char16_t c : text) {
    const int code = AnsiCode(c);
    if (code < 0) return std::nullopt;
    bytes.push_back(static_cast<char>(code));
  }
  return bytes;
}

// The separator of a delimited file as bytes. A separator that is empty,
// or that the code page cannot hold, occurs in no line: each line is one
// field.
class FieldSeparator {
 public:
  explicit FieldSeparator(TextView separator) : bytes_(ExactAnsi(separator)) {
    if (bytes_ && bytes_->empty()) bytes_.reset();
  }

  // The next occurrence at or after `from`, or npos.
  size_t Find(std::string_view line, size_t from) const {
    if (!bytes_) return std::string_view::npos;
    if (bytes_->size() == 1) {
      if (from >= line.size()) return std::string_view::npos;
      const void* found =
          std::memchr(line.data() + from, (*bytes_)[0], line.size() - from);
      return found == nullptr
                 ? std::string_view::npos
                 : static_cast<size_t>(static_cast<const char*>(found) -
                                       line.data());
    }
    return line.find(*bytes_, from);
  }
  size_t size() const { return bytes_ ? bytes_->size() : 0; }

  // Calls `visit`(index, field) for each field of `line`, splitting at
  // every occurrence left to right, at most `limit` fields; an empty line
  // has none. Answers the number of fields visited.
  template <typename Visit>
  size_t ForEachField(std::string_view line, size_t limit, Visit visit) const {
    if (line.empty() || limit == 0) return 0;
    size_t count = 0;
    size_t start = 0;
    if (bytes_ && bytes_->size() == 1) {
      // Fields are short: a plain scan beats a library call per field.
      const char sep = (*bytes_)[0];
      for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] != sep) continue;
        visit(count, line.substr(start, i - start));
        if (++count == limit) return count;
        start = i + 1;
      }
      visit(count, line.substr(start));
      return count + 1;
    }
    while (true) {
      const size_t found = Find(line, start);
      if (found == std::string_view::npos) {
        visit(count, line.substr(start));
        return count + 1;
      }
      visit(count, line.substr(start, found - start));
      if (++count == limit) return count;
      start = found + size();
    }
  }

  // The fields of `line`, as ForEachField visits them.
  void Split(std::string_view line, size_t limit,
             std::vector<std::string_view>& fields) const {
    fields.clear();
    ForEachField(line, limit, [&](size_t, std::string_view field) {
      fields.push_back(field);
    });
  }

  // Where field `index` of a non-empty line starts, or npos when the line
  // has fewer fields.
  size_t FieldStart(std::string_view line, size_t index) const {
    size_t start = 0;
    for (size_t i = 0; i < index; ++i) {
      const size_t found = Find(line, start);
      if (found == std::string_view::npos) return std::string_view::npos;
      start = found + size();
    }
    return start;
  }

 private:
  std::optional<std::string> bytes_;
};

// Most lines differ from a key within a byte or two: compared inline, they
// are passed over without a library call.
bool StartsWith(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (text[i] != prefix[i]) return false;
  }
  return true;
}

void AssignFromAnsi(Text& cell, std::string_view bytes) {
  cell.resize(bytes.size());
  char16_t* dest = cell.data();
  // Plain ASCII is widened in a loop the compiler can vectorise.
  unsigned char seen = 0;
  for (char b : bytes) seen |= static_cast<unsigned char>(b);
  if (seen < 0x80) {
    for (char b : bytes) *dest++ = static_cast<char16_t>(b);
    return;
  }
  for (char b : bytes) *dest++ = AnsiChar(static_cast<unsigned char>(b));
}

void CloseKeepingLines(std::unique_ptr<WritableFile>& file) noexcept {
  if (!file) return;
  try {
    // Flushes the lines written before the failure: work done stays done.
    file->Close();
  } catch (...) {
    // The first failure is the one answered.
  }
  file.reset();
}

}  // namespace

void Cell::WriteDelimitedLine(int32_t row, TextView separator,
                              std::string_view separator_bytes,
                              std::string& line) const {
  // Trailing separators are cut by comparing one character with the whole
  // separator, so only a one-character separator ever matches. The
  // separators between cells are such characters too: the line ends at the
  // last character that differs, found from the last cell backwards.
  int32_t last_col = max_col_;
  size_t last_length = values_[At(row, last_col)].size();
  if (max_col_ > 0 && separator.size() == 1) {
    for (int32_t c = max_col_; c >= 0; --c) {
      const size_t pos = values_[At(row, c)].find_last_not_of(separator[0]);
      if (pos != Text::npos) {
        last_col = c;
        last_length = pos + 1;
        break;
      }
    }
    // Nothing but separators: the whole line stays.
  }
  // One pass to size the line, one to fill it: no growth on the way.
  size_t length =
      last_length + 2 + separator_bytes.size() * static_cast<size_t>(last_col);
  for (int32_t c = 0; c < last_col; ++c) length += values_[At(row, c)].size();
  line.resize(length);
  char* dest = line.data();
  for (int32_t c = 0; c < last_col; ++c) {
    dest = CopyAnsi(dest, values_[At(row, c)]);
    for (char b : separator_bytes) *dest++ = b;
  }
  dest = CopyAnsi(dest,
                  TextView(values_[At(row, last_col)]).substr(0, last_length));
  dest[0] = '\r';
  dest[1] = '\n';
}

Text Cell::SaveFile(Text& Filename, Text& Separator, int16_t& MaxLines) {
  SetLibraryIdentity();
  std::unique_ptr<WritableFile> file;
  try {
    if (Filename.empty()) return u"No address specified";
    DeleteOldFile(Filename);
    file = Platform::Current().NewWritableFile(Filename);
    if (MaxLines != 0 && max_row_ > MaxLines) max_row_ = MaxLines;
    if (max_row_ >= 0) RequireGrid();
    std::string separator_bytes;
    AppendAnsi(separator_bytes, Separator);
    std::string line;
    // Lines of any length are written whole, each with one write.
    for (int32_t r = 0; r <= max_row_; ++r) {
      WriteDelimitedLine(r, Separator, separator_bytes, line);
      file->Append(line);
    }
    file->Close();
    return u"Saved to " + Filename + u" (" + Decimal(max_row_) + u" lines)";
  } catch (const Failure& failure) {
    CloseKeepingLines(file);
    return Trapped(failure);
  } catch (const std::bad_alloc&) {
    CloseKeepingLines(file);
    return TrappedOutOfMemory();
  }
}

Text Cell::LoadFile(Text& Filename, Text& Seperator) {
  try {
    if (Filename.empty()) return u"No address specified";
    if (Platform::Current().Lookup(Filename, LookupKind::kFile).empty()) {
      return Filename + u" not found";
    }
    AnsiLineReader reader = AnsiLineReader::Open(Filename);
    const FieldSeparator separator(Seperator);
    std::string_view line;
    // Every line counts as a row; the file is read to its end even when
    // the rows beyond MaxRow are dropped.
    for (int64_t r = 0; reader.Next(&line); ++r) {
      if (r > max_row_) continue;
      const int32_t row = static_cast<int32_t>(r);
      separator.ForEachField(
          line, static_cast<size_t>(max_col_) + 1,
          [&](size_t c, std::string_view field) {
            if (field.empty()) return;  // the earlier value stays
            RequireGrid();
            AssignFromAnsi(values_[At(row, static_cast<int32_t>(c))], field);
          });
    }
    return u"File Loaded";
  } catch (const Failure& failure) {
    return Trapped(failure);
  } catch (const std::bad_alloc&) {
    return TrappedOutOfMemory();
  }
}

Text Cell::Lookup(Text& Filename, int16_t& KeyCol, Text& Key, int16_t& ColNo,
                  Text& Seperator) {
  if (Key.empty() || Filename.empty() || ColNo < 0) return Text();
  AnsiLineReader reader = AnsiLineReader::Open(Filename);
  const FieldSeparator separator(Seperator);
  // A key the code page cannot hold matches no field, but the file is still
  // read, and checked, to its end.
  const std::optional<std::string> key = ExactAnsi(Key);
  const size_t needed = static_cast<size_t>(ColNo) + 1;
  // Fields past both the answer and the key are never looked at.
  const size_t limit =
      KeyCol < 0 ? needed : std::max(needed, static_cast<size_t>(KeyCol) + 1);
  // When every line with enough fields has a field KeyCol, a line whose
  // field KeyCol does not begin with the key is passed over unsplit.
  const bool key_field_always_there =
      KeyCol >= 0 && static_cast<size_t>(KeyCol) < needed;
  std::vector<std::string_view> fields;
  std::string_view line;
  // Nothing is cached: the file is read afresh on every call, and the first
  // matching line wins.
  while (reader.Next(&line)) {
    if (line.empty()) continue;
    if (key_field_always_there) {
      if (!key) continue;
      const size_t start =
          separator.FieldStart(line, static_cast<size_t>(KeyCol));
      if (start == std::string_view::npos ||
          !StartsWith(line.substr(start), *key)) {
        continue;
      }
    }
    separator.Split(line, limit, fields);
    if (fields.size() < needed) continue;
    if (KeyCol < 0 || static_cast<size_t>(KeyCol) >= fields.size()) {
      throw Failure(error::kSubscriptOutOfRange);
    }
    if (key && fields[static_cast<size_t>(KeyCol)] == *key) {
      Text answer;
      AssignFromAnsi(answer, fields[static_cast<size_t>(ColNo)]);
      return answer;
    }
  }
  return Text();
}

Text Cell::SetXMLTag(int16_t& Col, Text& Tag) {
  if (Col < 0 || Col > max_col_) return u"Invalid Column";
  if (!column_tags_) throw Failure(error::kSubscriptOutOfRange);
  column_tags_[static_cast<size_t>(Col)] = Tag;
  return Text();
}

Text Cell::SaveXMLFile(Text& Filename, Text& XMLDoc, Text& XMLRecord,
                       int16_t& MaxLines) {
  SetLibraryIdentity();
  try {
    if (Filename.empty()) return u"No address specified";
    DeleteOldFile(Filename);
    // A file that cannot be created is told as the writer tells it, never
    // as a save that did not happen.
    Text opened = XmlOpenFile(Filename, XMLDoc, Text());
    if (!opened.empty()) return opened;
    if (MaxLines != 0 && max_row_ > MaxLines) max_row_ = MaxLines;
    for (int32_t r = 0; r <= max_row_; ++r) {
      XmlPutOpenTag(XMLRecord, Text());
      for (int32_t c = 1; c <= max_col_; ++c) {
        XmlPutElement(column_tags_[static_cast<size_t>(c)], values_[At(r, c)]);
      }
      XmlPutCloseTag(XMLRecord);
    }
    XmlCloseFile();
    return u"Saved to " + Filename + u" (" + Decimal(max_row_) + u" records)";
  } catch (const Failure& failure) {
    // The lines written so far stay; the file is closed now rather than at
    // the thread's next XML open, so it is neither locked nor held.
    XmlAbandonFile();
    return Trapped(failure);
  } catch (const std::bad_alloc&) {
    XmlAbandonFile();
    return TrappedOutOfMemory();
  }
}

Text Cell::SaveWorkSheet(Text& ControlFile, Text& ExcelFilename,
                         Text& WorkSheet) {
  SetLibraryIdentity();
  try {
    if (ControlFile.empty()) return u"No address specified";
    DeleteOldFile(ControlFile);
    Text opened = XmlOpenFile(ControlFile, u"WorksheetDoc", Text());
    if (!opened.empty()) return opened;
    XmlPutElement(u"Application", u"ExcelMacro");
    XmlPutElement(u"ExcelFile", ExcelFilename);
    XmlPutElement(u"OpenWorkSheet", WorkSheet);
    // Only cells holding a value are listed; column 0 never is.
    for (int32_t r = 0; r <= max_row_; ++r) {
      for (int32_t c = 1; c <= max_col_; ++c) {
        const Text& value = values_[At(r, c)];
        if (value.empty()) continue;
        XmlPutOpenTag(u"Cell", Text());
        XmlPutElement(u"Row", Decimal(r));
        XmlPutElement(u"Col", Decimal(c));
        XmlPutElement(u"Value", value);
        XmlPutElement(u"Format", formats_[At(r, c)]);
        XmlPutCloseTag(u"Cell");
      }
    }
    XmlCloseFile();
    return u"Saved to " + ControlFile + u" (" + Decimal(max_row_) + u" lines)";
  } catch (const Failure& failure) {
    XmlAbandonFile();
    return Trapped(failure);
  } catch (const std::bad_alloc&) {
    XmlAbandonFile();
    return TrappedOutOfMemory();
  }
}

}  // namespace pellar
