// The Cell methods that write the work area to files or read it from them.
//
// Delimited files are handled as Windows-1252 bytes: the code page maps
// every byte to its own character, so splitting and comparing bytes gives
// the answers that splitting and comparing the converted text would, and
// only the fields that are kept get converted.
#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <pellar/base/failure.h>
#include <pellar/base/text_internal.h>
#include <pellar/io/byte_scan.h>
#include <pellar/io/identity.h>
#include <pellar/io/textfile.h>
#include <pellar/io/trap.h>
#include <pellar/io/xml_writer.h>
#include <pellar/platform/platform.h>
#include <pellar/workarea/cell.h>
#include <pellar/workarea/cell_impl.h>

namespace pellar {
namespace {

void SetLibraryIdentity() { SetApplication(u"Pellar UFL", u"Brambleworth"); }

// The bytes of `text` when the code page holds every character of it;
// nothing otherwise, since such a text can occur in no file that was read.
std::optional<std::string> ExactAnsi(TextView text) {
  std::string bytes(text.size(), '\0');
  if (EncodeAnsiExact(text, bytes.data()) == nullptr) return std::nullopt;
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

// Copies `bytes` to `dest`, answering the end. Cells are short: up to 16
// bytes are moved by two overlapping fixed-size copies instead of a library
// call per cell.
inline char* CopyBytes(std::string_view bytes, char* dest) {
  const char* src = bytes.data();
  const size_t n = bytes.size();
  if (n >= 8 && n <= 16) {
    std::memcpy(dest, src, 8);
    std::memcpy(dest + n - 8, src + n - 8, 8);
  } else if (n >= 4 && n < 8) {
    std::memcpy(dest, src, 4);
    std::memcpy(dest + n - 4, src + n - 4, 4);
  } else if (n > 0 && n < 4) {
    dest[0] = src[0];
    dest[n / 2] = src[n / 2];
    dest[n - 1] = src[n - 1];
  } else if (n > 16) {
    std::memcpy(dest, src, n);
  }
  return dest + n;
}

}  // namespace

void Cell::Impl::LimitRows(int16_t max_lines) {
  if (max_lines != 0 && grid_.max_row() > max_lines)
    grid_.set_max_row(max_lines);
}

int32_t Cell::Impl::WriteShortLines(int32_t row, char separator,
                              BlockWriter& out) const {
  const TextCells& values = grid_.texts();
  const size_t cols = static_cast<size_t>(grid_.max_col()) + 1;
  const size_t line_room = cols * (TextCells::kCopySlack + 1) + 1;
  const int32_t max_row = grid_.max_row();
  // Lines are composed through local pointers, committed a block at a
  // time: the bytes written could alias the writer's members.
  char* dest = out.Room(line_room);
  char* limit = out.Limit();
  for (; row <= max_row; ++row) {
    if (static_cast<size_t>(limit - dest) < line_room) {
      out.Commit(dest);
      dest = out.Room(line_room);
      limit = out.Limit();
    }
    char* end = values.JoinShort(grid_.At(row, 0), cols, separator, dest);
    if (end == nullptr) break;
    // The last separator's place takes the CR; trailing separators are
    // cut from the bytes written, unless that leaves nothing.
    char* cut = --end;
    if (cols > 1) {
      while (cut != dest && cut[-1] == separator) --cut;
      if (cut != dest) end = cut;
    }
    end[0] = '\r';
    end[1] = '\n';
    dest = end + 2;
  }
  out.Commit(dest);
  return row;
}

void Cell::Impl::WriteDelimitedLine(int32_t row, TextView separator,
                              std::string_view separator_bytes,
                              BlockWriter& out) const {
  const TextCells& values = grid_.texts();
  const int32_t max_col = grid_.max_col();
  const size_t first = grid_.At(row, 0);
  // Trailing separators are cut by comparing one character with the whole
  // separator, so only a one-character separator ever matches. The
  // separators between cells are such characters too: the line ends at the
  // last character that differs, found from the last cell backwards.
  int32_t last_col = max_col;
  size_t last_length = values.size(first + static_cast<size_t>(max_col));
  if (max_col > 0 && separator.size() == 1) {
    for (int32_t c = max_col; c >= 0; --c) {
      const size_t pos =
          values.FindLastNot(first + static_cast<size_t>(c), separator[0]);
      if (pos != Text::npos) {
        last_col = c;
        last_length = pos + 1;
        break;
      }
    }
    // Nothing but separators: the whole line stays.
  }
  size_t length =
      last_length + 2 + separator_bytes.size() * static_cast<size_t>(last_col);
  for (int32_t c = 0; c < last_col; ++c) {
    length += values.size(first + static_cast<size_t>(c));
  }
  char* dest = out.Room(length);
  const bool one_byte = separator_bytes.size() == 1;
  for (int32_t c = 0; c < last_col; ++c) {
    const size_t at = first + static_cast<size_t>(c);
    std::string_view bytes;
    dest = values.Bytes(at, &bytes) ? CopyBytes(bytes, dest)
                                    : values.Encode(at, dest);
    if (one_byte) {
      *dest++ = separator_bytes[0];
    } else {
      dest = CopyBytes(separator_bytes, dest);
    }
  }
  const size_t last = first + static_cast<size_t>(last_col);
  std::string_view bytes;
  if (values.Bytes(last, &bytes)) {
    dest = CopyBytes(bytes.substr(0, last_length), dest);
  } else {
    dest = EncodeAnsi(TextView(values.Side(last)).substr(0, last_length), dest);
  }
  dest[0] = '\r';
  dest[1] = '\n';
  out.Commit(dest + 2);
}

Text Cell::SaveFile(Text& Filename, Text& Separator, int16_t& MaxLines) {
  SetLibraryIdentity();
  return Trapped(u"ERROR:", [&]() -> Text {
    if (Filename.empty()) return u"No address specified";
    // The destructor keeps the lines written before a failure.
    BlockWriter out(OpenForSave(Filename));
    impl_->LimitRows(MaxLines);
    if (impl_->grid_.max_row() >= 0) impl_->grid_.Require();
    const std::string separator_bytes = ToAnsi(Separator);
    // One character the code page holds: its byte stands for it exactly,
    // and a line of short texts held as bytes is copied in one pass.
    const bool one_byte = Separator.size() == 1 && AnsiCode(Separator[0]) >= 0;
    for (int32_t r = 0; r <= impl_->grid_.max_row(); ++r) {
      if (one_byte) {
        r = impl_->WriteShortLines(r, separator_bytes[0], out);
        if (r > impl_->grid_.max_row()) break;
      }
      impl_->WriteDelimitedLine(r, Separator, separator_bytes, out);
    }
    out.Close();
    return u"Saved to " + Filename + u" (" + Decimal(impl_->grid_.max_row()) +
           u" lines)";
  });
}

void Cell::Impl::LoadLines(std::string_view run, std::string_view separator,
                     int64_t* row) {
  // Rows past MaxRow are read but never stored.
  if (*row > grid_.max_row()) return;
  const size_t fields = static_cast<size_t>(grid_.max_col()) + 1;
  TextCells& values = grid_.texts();
  // The run joins the grid's buffer whole, at the first field stored; its
  // fields then refer into it.
  size_t base = std::string_view::npos;
  size_t first = 0;  // index of the current row's column 0
  auto store = [&](size_t c, const char* from, const char* to) {
    // An empty field keeps the earlier value.
    if (to == from || c >= fields) return;
    if (base == std::string_view::npos) {
      grid_.Require();
      base = values.AppendLoaded(run);
    }
    values.StoreLoaded(first + c, base + static_cast<size_t>(from - run.data()),
                       static_cast<size_t>(to - from));
  };
  auto start_row = [&]() {
    const int64_t r = (*row)++;
    first = grid_.exists() ? grid_.At(static_cast<int32_t>(r), 0) : 0;
  };
  if (separator.size() == 1 && separator[0] != '\r') {
    // Separators and line ends are found 64 bytes at a time.
    const char sep = separator[0];
    const char* const data = run.data();
    const size_t n = run.size();
    if (n == 0) return;
    start_row();
    size_t c = 0;
    size_t field = 0;  // where the current field starts
    for (size_t block = 0; block < n; block += 64) {
      const ByteMasks found =
          FindBytes64(data + block, std::min<size_t>(64, n - block), sep, '\r');
      for (uint64_t at = found.a | found.b; at != 0; at &= at - 1) {
        const int bit = std::countr_zero(at);
        const size_t pos = block + static_cast<size_t>(bit);
        // The LF of a CR LF, when LF is the separator.
        if (pos < field) continue;
        store(c, data + field, data + pos);
        field = pos + 1;
        if (((found.b >> bit) & 1) == 0) {
          ++c;
          continue;
        }
        if (field < n && data[field] == '\n') ++field;
        if (field == n) return;
        if (*row > grid_.max_row()) return;
        start_row();
        c = 0;
      }
    }
    // The file's last line, without a line end.
    store(c, data + field, data + n);
    return;
  }
  std::string_view lines = run;
  while (!lines.empty() && *row <= grid_.max_row()) {
    const std::string_view line = AnsiLineReader::NextLine(lines);
    start_row();
    if (separator.empty()) {
      store(0, line.data(), line.data() + line.size());
      continue;
    }
    size_t start = 0;
    for (size_t c = 0; c < fields; ++c) {
      const size_t found = line.find(separator, start);
      if (found == std::string_view::npos) {
        store(c, line.data() + start, line.data() + line.size());
        break;
      }
      store(c, line.data() + start, line.data() + found);
      start = found + separator.size();
    }
  }
}

Text Cell::LoadFile(Text& Filename, Text& Seperator) {
  return Trapped(u"ERROR:", [&]() -> Text {
    if (Filename.empty()) return u"No address specified";
    if (Platform::Current().Lookup(Filename, LookupKind::kFile).empty()) {
      return Filename + u" not found";
    }
    AnsiLineReader reader = AnsiLineReader::Open(Filename);
    // A separator that is empty, or that the code page cannot hold, occurs
    // in no line: each line is one field.
    const std::string separator = ExactAnsi(Seperator).value_or(std::string());
    // The buffer grows once, by the file's size, unless that is far more
    // than the area can hold.
    const uint64_t room = (static_cast<uint64_t>(impl_->grid_.max_row()) + 1) *
                          (static_cast<uint64_t>(impl_->grid_.max_col()) + 1) *
                          Grid::kBytesPerCell;
    if (impl_->grid_.exists() && reader.SizeHint() <= room) {
      impl_->grid_.texts().ReserveLoaded(static_cast<size_t>(reader.SizeHint()));
    }
    std::string_view lines;
    // Every line counts as a row; the file is read to its end even when
    // the rows beyond MaxRow are dropped.
    int64_t row = 0;
    while (reader.NextLines(&lines)) {
      impl_->LoadLines(lines, separator, &row);
      // Lines far wider than the area must not pile up unused bytes.
      impl_->grid_.texts().TrimLoaded();
    }
    return u"File Loaded";
  });
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
  Text found;
  // Whether `line` is the one looked for; its field ColNo in `found`.
  auto matches = [&](std::string_view line) {
    if (line.empty()) return false;
    if (key_field_always_there) {
      if (!key) return false;
      const size_t start =
          separator.FieldStart(line, static_cast<size_t>(KeyCol));
      if (start == std::string_view::npos ||
          !StartsWith(line.substr(start), *key)) {
        return false;
      }
    }
    separator.Split(line, limit, fields);
    if (fields.size() < needed) return false;
    if (KeyCol < 0 || static_cast<size_t>(KeyCol) >= fields.size()) {
      throw Failure(error::kSubscriptOutOfRange);
    }
    if (!key || fields[static_cast<size_t>(KeyCol)] != *key) return false;
    found = FromAnsi(fields[static_cast<size_t>(ColNo)]);
    return true;
  };
  std::string_view run;
  // Nothing is cached: the file is read afresh on every call, and the first
  // matching line wins. Line ends are found 64 bytes at a time.
  while (reader.NextLines(&run)) {
    const char* const data = run.data();
    const size_t n = run.size();
    size_t start = 0;
    for (size_t block = 0; block < n; block += 64) {
      uint64_t ends =
          FindBytes64(data + block, std::min<size_t>(64, n - block), '\r', '\r')
              .a;
      for (; ends != 0; ends &= ends - 1) {
        const size_t cr = block + static_cast<size_t>(std::countr_zero(ends));
        if (matches(run.substr(start, cr - start))) return found;
        start = cr + 1;
        if (start < n && data[start] == '\n') ++start;
      }
    }
    // The file's last line, without a line end.
    if (start < n && matches(run.substr(start))) return found;
  }
  return Text();
}

Text Cell::SetXMLTag(int16_t& Col, Text& Tag) {
  if (Col < 0 || Col > impl_->grid_.max_col()) return u"Invalid Column";
  if (impl_->column_tags_.empty()) throw Failure(error::kSubscriptOutOfRange);
  impl_->column_tags_[static_cast<size_t>(Col)] = Tag;
  return Text();
}

Text Cell::SaveXMLFile(Text& Filename, Text& XMLDoc, Text& XMLRecord,
                       int16_t& MaxLines) {
  SetLibraryIdentity();
  return Trapped(u"ERROR:", [&]() -> Text {
    if (Filename.empty()) return u"No address specified";
    // A refused name or an old file that cannot be deleted fails the save;
    // a file that cannot be created is told as the writer tells it.
    XmlFile file(Filename, XMLDoc, Text(), FileAccess::kNormal,
                 /*throw_clearing=*/true);
    if (!file.opened().empty()) return file.opened();
    impl_->LimitRows(MaxLines);
    XmlWriter& xml = file.writer();
    // Each column's tags are converted once for the whole file.
    std::vector<XmlWriter::Tag> tags;
    tags.reserve(static_cast<size_t>(impl_->grid_.max_col()) + 1);
    for (int32_t c = 0; c <= impl_->grid_.max_col(); ++c) {
      tags.emplace_back(impl_->column_tags_.empty()
                            ? TextView()
                            : impl_->column_tags_[static_cast<size_t>(c)]);
    }
    const XmlWriter::Tag record(XMLRecord);
    const XmlWriter::RecordTags record_tags(
        record, tags.data() + 1, static_cast<size_t>(impl_->grid_.max_col()));
    if (record_tags.count() == 0) {
      for (int32_t r = 0; r <= impl_->grid_.max_row(); ++r) {
        xml.OpenTag(record);
        xml.CloseTag(record);
      }
    } else if (impl_->grid_.max_row() >= 0) {
      impl_->grid_.Require();
      xml.Records(record_tags, impl_->grid_.texts(), impl_->grid_.At(0, 1),
                  impl_->grid_.At(1, 0) - impl_->grid_.At(0, 0),
                  static_cast<size_t>(impl_->grid_.max_row()) + 1);
    }
    file.Close();
    return u"Saved to " + Filename + u" (" + Decimal(impl_->grid_.max_row()) +
           u" records)";
  });
}

Text Cell::SaveWorkSheet(Text& ControlFile, Text& ExcelFilename,
                         Text& WorkSheet) {
  SetLibraryIdentity();
  return Trapped(u"ERROR:", [&]() -> Text {
    if (ControlFile.empty()) return u"No address specified";
    XmlFile file(ControlFile, u"WorksheetDoc", Text(), FileAccess::kNormal,
                 /*throw_clearing=*/true);
    if (!file.opened().empty()) return file.opened();
    XmlWriter& xml = file.writer();
    xml.Element(u"Application", u"ExcelMacro");
    xml.Element(u"ExcelFile", ExcelFilename);
    xml.Element(u"OpenWorkSheet", WorkSheet);
    const XmlWriter::Tag cell_tag(u"Cell"), row_tag(u"Row"), col_tag(u"Col"),
        value_tag(u"Value"), format_tag(u"Format");
    // Only cells holding a value are listed; column 0 never is.
    for (int32_t r = 0; r <= impl_->grid_.max_row(); ++r) {
      for (int32_t c = 1; c <= impl_->grid_.max_col(); ++c) {
        impl_->grid_.Require();
        const size_t at = impl_->grid_.At(r, c);
        if (impl_->grid_.texts().empty(at)) continue;
        xml.OpenTag(cell_tag);
        xml.Element(row_tag, Decimal(r));
        xml.Element(col_tag, Decimal(c));
        xml.Element(value_tag, impl_->grid_.texts(), at);
        xml.Element(format_tag, impl_->grid_.formats().Get(at));
        xml.CloseTag(cell_tag);
      }
    }
    file.Close();
    return u"Saved to " + ControlFile + u" (" + Decimal(impl_->grid_.max_row()) +
           u" lines)";
  });
}

}  // namespace pellar
