// Lines are composed straight into Windows-1252 bytes, each character
// escaped and converted in one pass, into the large blocks of a BlockWriter.
#include <pellar/base/failure_internal.h>
#include <pellar/base/text_internal.h>
#include <pellar/io/xml_writer.h>

#include <array>
#include <bit>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include <pellar/io/byte_scan.h>
#include <pellar/io/identity.h>
#include <pellar/io/textfile.h>
#include <pellar/platform/platform.h>

namespace pellar {
namespace {

// ASCII characters that XmlEscape keeps (CR is replaced only as the start
// of CR LF), looked up rather than compared one by one.
constexpr std::array<bool, 128> kPlain = [] {
  std::array<bool, 128> plain{};
  for (unsigned c = 0; c < 128; ++c) {
    plain[c] = !IsXmlSpecial(static_cast<unsigned char>(c));
  }
  return plain;
}();

bool IsPlain(char16_t c) { return c < 0x7F && kPlain[c]; }

// The longest replacement per character: "&#0013;&#0010;" for two, or a
// "&#0233;" for one.
constexpr size_t kMaxEscapedPerChar = 7;

// The file form of each Windows-1252 code under XmlEscape: empty for a
// code written as itself. CR is replaced only as the start of CR LF.
struct ByteEscape {
  uint8_t length = 0;
  char text[7] = {};
};

// The one definition of what XmlEscape replaces: IsXmlSpecial says which
// codes, this table what with. Every other path (text, bytes, 16 bytes at a
// time) reads both.
constexpr std::array<ByteEscape, 256> kByteEscapes = [] {
  std::array<ByteEscape, 256> table{};
  auto set = [&table](unsigned char code, std::string_view text) {
    table[code].length = static_cast<uint8_t>(text.size());
    for (size_t i = 0; i < text.size(); ++i) table[code].text[i] = text[i];
  };
  for (int code = 0; code < 256; ++code) {
    const auto c = static_cast<unsigned char>(code);
    if (!IsXmlSpecial(c)) continue;
    switch (c) {
      case '&':
        set(c, "&amp;");
        break;
      case '>':
        set(c, "&gt;");
        break;
      case '<':
        set(c, "&lt;");
        break;
      case '\'':
        set(c, "&apos;");
        break;
      case '"':
        set(c, "&quot;");
        break;
      case '\r':
        set(c, "\r");  // replaced only as the start of CR LF
        break;
      default: {
        // Codes run from 127 to 255: always four digits, the first a zero.
        const char reference[] = {'&',
                                  '#',
                                  '0',
                                  static_cast<char>('0' + code / 100),
                                  static_cast<char>('0' + code / 10 % 10),
                                  static_cast<char>('0' + code % 10),
                                  ';'};
        set(c, std::string_view(reference, 7));
      }
    }
  }
  return table;
}();

constexpr std::string_view kCrLfEscaped = "&#0013;&#0010;";

// Writes `text` escaped at `dest` as Windows-1252 bytes, "?" for a
// character the code page lacks; answers the end.
char* EscapeInto(TextView text, char* dest) {
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    unsigned code = text[i];
    if (code >= 0x80) {
      const int mapped = AnsiCode(text[i]);
      if (mapped < 0) {
        *dest++ = '?';
        continue;
      }
      code = static_cast<unsigned>(mapped);
    }
    const ByteEscape& escape = kByteEscapes[code];
    if (escape.length == 0) {
      *dest++ = static_cast<char>(code);
    } else if (code == '\r') {
      if (i + 1 < n && text[i + 1] == u'\n') {
        std::memcpy(dest, kCrLfEscaped.data(), kCrLfEscaped.size());
        dest += kCrLfEscaped.size();
        ++i;
      } else {
        *dest++ = '\r';
      }
    } else {
      std::memcpy(dest, escape.text, sizeof(escape.text));
      dest += escape.length;
    }
  }
  return dest;
}

// Writes the escaped form of the byte at p[i] of `n` at `dest`; answers
// how many bytes it stood for (2 for a CR LF) and moves `dest` on.
inline size_t EscapeByte(const char* p, size_t i, size_t n, char*& dest) {
  const unsigned char code = static_cast<unsigned char>(p[i]);
  const ByteEscape& escape = kByteEscapes[code];
  if (escape.length == 0) {
    *dest++ = static_cast<char>(code);
  } else if (code == '\r') {
    if (i + 1 < n && p[i + 1] == '\n') {
      std::memcpy(dest, kCrLfEscaped.data(), kCrLfEscaped.size());
      dest += kCrLfEscaped.size();
      return 2;
    }
    *dest++ = '\r';
  } else {
    std::memcpy(dest, escape.text, sizeof(escape.text));
    dest += escape.length;
  }
  return 1;
}

// Escapes the `n` Windows-1252 bytes at `p`, of which `readable` (>= n)
// may be read, into `dest`, which needs room for kMaxEscapedPerChar * n +
// 16 bytes; answers the end. The text goes 16 bytes at a time: plain runs
// are copied whole between the bytes that need escaping.
inline char* EscapeBytesInto(const char* p, size_t n, size_t readable,
                             char* dest) {
  size_t i = 0;
  // Each window may copy from any of its bytes 16 onwards.
  while (i < n && i + 32 <= readable) {
    const size_t window = n - i < 16 ? n - i : 16;
    unsigned mask = XmlSpecialMask16(p + i) & ((1u << window) - 1);
    size_t done = 0;  // bytes of the window written
    while (mask != 0) {
      const size_t k = static_cast<size_t>(std::countr_zero(mask));
      mask &= mask - 1;
      std::memcpy(dest, p + i + done, 16);
      dest += k - done;
      done = k + EscapeByte(p, i + k, n, dest);
    }
    if (done < window) {
      std::memcpy(dest, p + i + done, 16);
      dest += window - done;
      done = window;
    }
    i += done;
  }
  while (i < n) i += EscapeByte(p, i, n, dest);
  return dest;
}

// Copies the first `size` bytes of `padded` (at least XmlWriter::kTagCopy
// long) to `dest`; answers the end. Short tags take one fixed-size copy.
inline char* CopyTag(const std::string& padded, size_t size, char* dest) {
  if (size <= XmlWriter::kTagCopy) {
    std::memcpy(dest, padded.data(), XmlWriter::kTagCopy);
  } else {
    std::memcpy(dest, padded.data(), size);
  }
  return dest + size;
}

// XmlEscape into `out`: characters stay characters, and one that
// Windows-1252 lacks stays as it is.
void AppendEscaped(Text& out, TextView text) {
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    size_t run = i;
    while (run < n && IsPlain(text[run])) ++run;
    out.append(text.substr(i, run - i));
    if (run == n) break;
    i = run;
    const char16_t c = text[i];
    const int code = c < 0x80 ? c : AnsiCode(c);
    if (code < 0 || kByteEscapes[code].length == 0) {
      out.push_back(c);
    } else if (code == '\r') {
      if (i + 1 < n && text[i + 1] == u'\n') {
        out.append(kCrLfEscaped.begin(), kCrLfEscaped.end());
        ++i;
      } else {
        out.push_back(c);
      }
    } else {
      const ByteEscape& escape = kByteEscapes[code];
      out.append(escape.text, escape.text + escape.length);
    }
    ++i;
  }
}

Text OpenTagText(TextView name, TextView attributes) {
  Text tag = u"<";
  tag += name;
  if (!attributes.empty()) {
    tag += u' ';
    tag += attributes;
  }
  tag += u'>';
  return tag;
}

}  // namespace

XmlWriter::Tag::Tag(TextView name) {
  open_ += '<';
  AppendAnsi(open_, name);
  open_ += '>';
  close_ += "</";
  AppendAnsi(close_, name);
  close_ += ">\r\n";
  open_size_ = open_.size();
  close_size_ = close_.size();
  if (open_.size() < kTagCopy) open_.resize(kTagCopy);
  if (close_.size() < kTagCopy) close_.resize(kTagCopy);
}

XmlWriter::XmlWriter(std::unique_ptr<WritableFile> file, TextView file_name,
                     TextView root_name, TextView root_attributes)
    : out_(std::move(file)), root_name_(root_name) {
  WriteHeader(file_name);
  if (!root_name.empty()) OpenTag(root_name, root_attributes);
}

void XmlWriter::WriteHeader(TextView file_name) {
  const LibraryInfo info = GetLibraryInfo();
  const LocalDateTime now = Platform::Current().LocalTime();
  const Text developer = GetDeveloper();
  Line(u"<?xml version=\"1.0\" encoding=\"utf-8\"?>");
  Line(u"<!-- XML File Created by " + info.exe_name + u" -->");
  Line(u"<!-- Developed by " + developer + u" -->");
  Line(u"<!-- Copyright (c) " + ZeroPadded(now.year, 4) + u" " + developer +
       u" -->");
  Line(u"<!-- " + info.product_name + u" version " + Decimal(info.major) +
       u"." + Decimal(info.minor) + u" (" + Decimal(info.revision) + u") -->");
  Line(u"<!-- " + GetDeveloperWebAddress() + u" for further details -->");
  Text created = u"<!-- File ";
  created += file_name;
  created += u" Created ";
  created += FormatDate(now);
  created += u"-->";
  Line(created);
}

void XmlWriter::Line(TextView text) {
  char* dest = EncodeAnsi(text, out_.Room(text.size() + 2));
  *dest++ = '\r';
  *dest++ = '\n';
  out_.Commit(dest);
}

void XmlWriter::Element(TextView name, TextView value) {
  Element(Tag(name), value);
}

void XmlWriter::TextElement(TextView name, TextView value) {
  Text element = u"<";
  element += name;
  element += u'>';
  AppendEscaped(element, value);
  element += u"\r\n</";
  element += name;
  element += u'>';
  Line(element);
}

void XmlWriter::Element(const Tag& tag, TextView value) {
  char* dest = out_.Room(tag.open_.size() + kMaxEscapedPerChar * value.size() +
                         tag.close_.size());
  dest = CopyTag(tag.open_, tag.open_size_, dest);
  dest = EscapeInto(value, dest);
  dest = CopyTag(tag.close_, tag.close_size_, dest);
  out_.Commit(dest);
}

void XmlWriter::Element(const Tag& tag, const TextCells& cells, size_t i) {
  std::string_view bytes;
  if (!cells.Bytes(i, &bytes)) {
    Element(tag, cells.Side(i));
    return;
  }
  char* dest = out_.Room(tag.open_.size() + kMaxEscapedPerChar * bytes.size() +
                         tag.close_.size());
  dest = CopyTag(tag.open_, tag.open_size_, dest);
  dest = EscapeBytesInto(bytes.data(), bytes.size(),
                         cells.ReadableFrom(bytes.data()), dest);
  dest = CopyTag(tag.close_, tag.close_size_, dest);
  out_.Commit(dest);
}

XmlWriter::RecordTags::RecordTags(const Tag& record, const Tag* tags,
                                  size_t count)
    : pieces_(count + 1), record_(&record), tags_(tags) {
  auto add = [](Piece& piece, const std::string& padded, size_t size) {
    piece.text.append(padded.data(), size);
  };
  add(pieces_[0], record.open_, record.open_size_);
  pieces_[0].text += "\r\n";
  for (size_t c = 0; c < count; ++c) {
    add(pieces_[c], tags[c].open_, tags[c].open_size_);
    add(pieces_[c + 1], tags[c].close_, tags[c].close_size_);
  }
  add(pieces_[count], record.close_, record.close_size_);
  for (Piece& piece : pieces_) {
    piece.size = piece.text.size();
    if (piece.text.size() < kTagCopy) piece.text.resize(kTagCopy);
    total_ += piece.text.size();
  }
}

void XmlWriter::Records(const RecordTags& tags, const TextCells& cells,
                        size_t first, size_t stride, size_t records) {
  const size_t count = tags.count();
  // Records are composed through local pointers, committed a block at a
  // time: the bytes written could alias the writer's members.
  char* dest = out_.Room(0);
  char* limit = out_.Limit();
  for (size_t r = 0; r < records; ++r, first += stride) {
    size_t total = 0;
    if (!cells.RowBytes(first, count, &total)) {
      // A text the code page cannot hold is written element by element.
      out_.Commit(dest);
      OpenTag(*tags.record_);
      for (size_t c = 0; c < count; ++c) {
        Element(tags.tags_[c], cells, first + c);
      }
      CloseTag(*tags.record_);
      dest = out_.Room(0);
      limit = out_.Limit();
      continue;
    }
    // Room for the whole record: its tags, each text escaped, and the
    // slack of the fixed-size copies.
    const size_t room =
        tags.total_ + kMaxEscapedPerChar * total + TextCells::kCopySlack;
    if (static_cast<size_t>(limit - dest) < room) {
      out_.Commit(dest);
      dest = out_.Room(room);
      limit = out_.Limit();
    }
    const RecordTags::Piece* piece = tags.pieces_.data();
    for (size_t c = 0; c < count; ++c, ++piece) {
      dest = CopyTag(piece->text, piece->size, dest);
      std::string_view text;
      cells.Bytes(first + c, &text);
      dest = EscapeBytesInto(text.data(), text.size(),
                             cells.ReadableFrom(text.data()), dest);
    }
    dest = CopyTag(piece->text, piece->size, dest);
  }
  out_.Commit(dest);
}

void XmlWriter::OpenTag(TextView name, TextView attributes) {
  Line(OpenTagText(name, attributes));
}

void XmlWriter::CloseTag(TextView name) { CloseTag(Tag(name)); }

void XmlWriter::OpenTag(const Tag& tag) {
  char* dest = out_.Room(tag.open_.size() + 2);
  dest = CopyTag(tag.open_, tag.open_size_, dest);
  *dest++ = '\r';
  *dest++ = '\n';
  out_.Commit(dest);
}

void XmlWriter::CloseTag(const Tag& tag) {
  char* dest = out_.Room(tag.close_.size());
  out_.Commit(CopyTag(tag.close_, tag.close_size_, dest));
}

void XmlWriter::Close() {
  if (!root_name_.empty()) CloseTag(root_name_);
  out_.Close();
}

XmlFile::XmlFile(TextView file_name, TextView root_name,
                 TextView root_attributes, FileAccess access,
                 bool throw_clearing) {
  SaveStep step = SaveStep::kDeleteOld;
  try {
    writer_ =
        std::make_unique<XmlWriter>(OpenForSave(file_name, access, &step),
                                    file_name, root_name, root_attributes);
    writer_->Flush();
  } catch (...) {
    Failure failure = CaughtFailure();
    writer_.reset();
    if (throw_clearing && step == SaveStep::kDeleteOld) throw failure;
    opened_ = u"Error Creating File: " + failure.description();
  }
}

XmlFile::~XmlFile() = default;

void XmlFile::Close() {
  writer_->Close();
  writer_.reset();
}

Text XmlEscape(TextView text) {
  Text escaped;
  escaped.reserve(text.size());
  AppendEscaped(escaped, text);
  return escaped;
}

void XmlEscapeUtf8(std::string& out, std::string_view text,
                   void (*control)(std::string& out, char c)) {
  // What needs work: the replaced codes below 128, and the controls XML
  // cannot hold.
  static constexpr std::array<bool, 128> kSpecial = [] {
    std::array<bool, 128> special{};
    for (unsigned c = 0; c < 128; ++c) {
      special[c] = IsXmlSpecial(static_cast<unsigned char>(c)) ||
                   (c < 0x20 && c != '\t' && c != '\n');
    }
    return special;
  }();
  const size_t n = text.size();
  size_t copied = 0;
  for (size_t i = 0; i < n; ++i) {
    const auto code = static_cast<unsigned char>(text[i]);
    if (code >= 0x80 || !kSpecial[code]) continue;
    out.append(text, copied, i - copied);
    copied = i + 1;
    const ByteEscape& escape = kByteEscapes[code];
    if (code == '\r') {
      // A lone CR would read back as a line feed.
      if (i + 1 < n && text[i + 1] == '\n') {
        out += kCrLfEscaped;
        copied = ++i + 1;
      } else {
        out += kCrLfEscaped.substr(0, 7);
      }
    } else if (escape.length > 0) {
      out.append(escape.text, escape.length);
    } else if (control != nullptr) {
      control(out, static_cast<char>(code));
    } else {
      out += static_cast<char>(code);
    }
  }
  out.append(text, copied);
}

}  // namespace pellar
