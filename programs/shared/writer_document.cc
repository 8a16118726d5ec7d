#include "writer_document.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include <pellar/base/text_internal.h>

namespace pellar::programs {
namespace {

// The control characters XML forbids are handed to the parser as
// private-use characters at kControlBase + code, so that a document holding
// them still parses; FromWriterCodes turns them back. So are the raw
// characters 128..159 of a document, which would else read as the
// writer's references to its code page.
constexpr char16_t kControlBase = 0xF700;

bool IsForbiddenControl(unsigned char byte) {
  return byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r';
}

// Bytes the parser may take as they are: ASCII that XML allows.
bool IsPlain(unsigned char byte) {
  return byte < 0x80 && !IsForbiddenControl(byte);
}

// The high bit of each zero byte of `x`, exactly (no borrow between bytes).
uint64_t ZeroBytes(uint64_t x) {
  constexpr uint64_t k7F = 0x7F7F7F7F7F7F7F7FULL;
  return ~(((x & k7F) + k7F) | x | k7F);
}

uint64_t Repeat(unsigned char byte) { return 0x0101010101010101ULL * byte; }

// The length of the plain run `bytes` starts with, found eight bytes at a
// time: this look at every byte should cost little beside expat's.
size_t PlainRun(std::string_view bytes) {
  const uint64_t k80 = Repeat(0x80);
  size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    uint64_t w;
    std::memcpy(&w, bytes.data() + i, 8);
    if (w & k80) break;  // a byte above 127
    // ASCII bytes below 0x20 are those whose high bit stays clear when 0x60
    // is added; of them, tab and the line ends are plain.
    const uint64_t low = ~(w + Repeat(0x60)) & k80;
    const uint64_t allowed = ZeroBytes(w ^ Repeat('\t')) |
                             ZeroBytes(w ^ Repeat('\n')) |
                             ZeroBytes(w ^ Repeat('\r'));
    if (low & ~allowed) break;
  }
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  while (i < bytes.size() && IsPlain(p[i])) ++i;
  return i;
}

// Expat takes at most INT_MAX bytes per call; a piece that has to be
// recoded is recoded this much at a time.
constexpr size_t kPiece = size_t{1} << 24;
constexpr size_t kRecodePiece = size_t{1} << 16;

// Leading lines are held until they are all seen, up to this much.
constexpr size_t kMaxHeader = size_t{1} << 20;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool EqualsAsciiIgnoreCase(std::string_view a, std::string_view b) {
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [&](char x, char y) { return lower(x) == lower(y); });
}

void AppendUtf8(std::string& out, char16_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The length of the valid UTF-8 sequence `s` starts with; 0 when it starts
// none, -1 when `s` ends before the sequence could.
int Utf8Length(std::string_view s) {
  const auto at = [&s](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = at(0);
  if (lead < 0xC2 || lead > 0xF4) return 0;
  const int length = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  // The second byte's range excludes overlong forms, surrogates and codes
  // beyond U+10FFFF.
  const unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
  const unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
  for (int k = 1; k < length; ++k) {
    if (size_t(k) >= s.size()) return -1;
    const unsigned char c = at(size_t(k));
    if (k == 1 ? (c < low || c > high) : (c < 0x80 || c > 0xBF)) return 0;
  }
  return length;
}

// Whether the XML declaration `line` starts with names an encoding, and
// which in `*name`.
bool DeclaredName(std::string_view line, std::string_view* name) {
  line = line.substr(0, line.find("?>"));
  size_t at = line.find("encoding");
  if (at == std::string_view::npos) return false;
  at += 8;
  const auto skip_blanks = [&line, &at] {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
  };
  skip_blanks();
  if (at < line.size() && line[at] == '=') ++at;
  skip_blanks();
  if (at >= line.size() || (line[at] != '"' && line[at] != '\'')) {
    *name = line.substr(at);  // unreadable: refused as a name
    return true;
  }
  const size_t end = line.find(line[at], at + 1);
  *name =
      line.substr(at + 1, end == std::string_view::npos ? std::string_view::npos
                                                        : end - at - 1);
  return true;
}

bool IsDeclaration(std::string_view line) {
  return line.size() > 5 && line.starts_with("<?xml") &&
         (line[5] == ' ' || line[5] == '\t' || line[5] == '\r' ||
          line[5] == '\n');
}

}  // namespace

bool EncodingOfName(std::string_view name, DocumentEncoding* encoding) {
  static constexpr std::pair<std::string_view, DocumentEncoding> kNames[] = {
      {"UTF-8", DocumentEncoding::kUtf8},
      {"Windows-1252", DocumentEncoding::kWindows1252},
      {"ISO-8859-1", DocumentEncoding::kLatin1},
      {"US-ASCII", DocumentEncoding::kAscii},
  };
  for (const auto& [known, value] : kNames) {
    if (EqualsAsciiIgnoreCase(name, known)) {
      *encoding = value;
      return true;
    }
  }
  return false;
}

DocumentReader::DocumentReader(std::span<const std::string_view> names,
                               std::string_view kind)
    : names_(names), kind_(kind) {}

DocumentReader::~DocumentReader() {
  if (parser_ != nullptr) XML_ParserFree(parser_);
}

XML_Error DocumentReader::expat_error() const {
  return parser_ == nullptr ? XML_ERROR_NONE : XML_GetErrorCode(parser_);
}

int64_t DocumentReader::line() const {
  if (reason_line_ > 0) return reason_line_;
  if (parser_ == nullptr) return skipped_lines_ + 1;
  return int64_t(XML_GetCurrentLineNumber(parser_)) + skipped_lines_;
}

bool DocumentReader::Feed(std::string_view bytes, bool last) {
  if (refused_) return false;
  const bool read = in_header_ ? ReadHeader(bytes, last) : Parse(bytes, last);
  refused_ = !read || !reason_.empty();
  return !refused_;
}

void DocumentReader::Collect(std::string* value) {
  value_ = value;
  value->clear();
  XML_SetCharacterDataHandler(parser_, &DocumentReader::OnText);
}

void DocumentReader::Fail(std::string why) {
  if (!reason_.empty()) return;
  reason_ = std::move(why);
  if (parser_ != nullptr) XML_StopParser(parser_, XML_FALSE);
}

void XMLCALL DocumentReader::OnStart(void* self, const XML_Char* name,
                                     const XML_Char** /*attributes*/) {
  auto* reader = static_cast<DocumentReader*>(self);
  reader->Start(reader->Known(name));
}

void XMLCALL DocumentReader::OnEnd(void* self, const XML_Char* name) {
  auto* reader = static_cast<DocumentReader*>(self);
  if (reader->value_ != nullptr) {
    XML_SetCharacterDataHandler(reader->parser_, nullptr);
    FromWriterCodes(*reader->value_);
    reader->value_ = nullptr;
  }
  reader->End(reader->Known(name));
}

void XMLCALL DocumentReader::OnText(void* self, const XML_Char* text,
                                    int length) {
  auto* reader = static_cast<DocumentReader*>(self);
  if (reader->value_ != nullptr) {
    reader->value_->append(text, static_cast<size_t>(length));
  }
}

void XMLCALL DocumentReader::OnDoctype(void* self, const XML_Char* /*name*/,
                                       const XML_Char* /*system_id*/,
                                       const XML_Char* /*public_id*/,
                                       int /*has_internal_subset*/) {
  auto* reader = static_cast<DocumentReader*>(self);
  reader->Fail(std::string(reader->kind_) +
               " has no document type declaration");
}

std::string_view DocumentReader::Known(std::string_view name) const {
  // Nearly always the library's own spelling, found by the cheap test.
  for (const std::string_view known : names_) {
    if (name == known) return known;
  }
  for (const std::string_view known : names_) {
    if (EqualsAsciiIgnoreCase(name, known)) return known;
  }
  return name;
}

// The writer names the document's own path in a header comment, unescaped:
// a path holding "--" would make the comment malformed. Whole leading
// declaration and comment lines are therefore skipped before parsing, the
// declaration read for its encoding.
bool DocumentReader::ReadHeader(std::string_view bytes, bool last) {
  header_.append(bytes);
  std::string_view rest = header_;
  if (skipped_lines_ == 0 && !saw_mark_ && rest.starts_with(kByteOrderMark)) {
    saw_mark_ = true;
    rest.remove_prefix(kByteOrderMark.size());
  }
  for (;;) {
    const size_t end = rest.find('\n');
    if (end == std::string_view::npos && (!last && rest.size() < kMaxHeader)) {
      header_.erase(0, header_.size() - rest.size());
      return true;
    }
    std::string_view line = rest.substr(0, end);
    // The declaration comes first; on a line of its own or not, it says
    // how the document is read.
    if (skipped_lines_ == 0 && IsDeclaration(line)) {
      std::string_view name = "UTF-8";
      if (DeclaredName(line, &name) && !EncodingOfName(name, &encoding_)) {
        reason_line_ = 1;
        Fail("the document declares the encoding \"" +
             std::string(name.substr(0, 40)) +
             "\"; it can be UTF-8, Windows-1252, ISO-8859-1 or US-ASCII");
        return false;
      }
      if (saw_mark_ && encoding_ != DocumentEncoding::kUtf8) {
        reason_line_ = 1;
        Fail("the document begins with a UTF-8 byte order mark but declares " +
             std::string(name));
        return false;
      }
    }
    if (end == std::string_view::npos) break;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const bool declaration = line.starts_with("<?") && line.ends_with("?>");
    const bool comment =
        line.starts_with("<!--") && line.ends_with("-->") && line.size() >= 7;
    if (!declaration && !comment) break;
    rest.remove_prefix(end + 1);
    ++skipped_lines_;
  }
  in_header_ = false;
  const std::string pending(rest);
  header_.clear();
  header_.shrink_to_fit();
  return Parse(pending, last);
}

bool DocumentReader::Parse(std::string_view bytes, bool last) {
  if (parser_ == nullptr) {
    // The parser reads UTF-8 whatever the document declares: a document is
    // nearly all plain ASCII, which expat then takes with no conversion at
    // all. The rare other bytes are recoded on the way in.
    parser_ = XML_ParserCreate("UTF-8");
    if (parser_ == nullptr) {
      Fail("out of memory");
      return false;
    }
    XML_SetUserData(parser_, this);
    XML_SetElementHandler(parser_, &DocumentReader::OnStart,
                          &DocumentReader::OnEnd);
    XML_SetStartDoctypeDeclHandler(parser_, &DocumentReader::OnDoctype);
  }
  // A UTF-8 sequence the last piece cut goes on with this one.
  std::string joined;
  if (!pending_.empty()) {
    joined = std::move(pending_);
    pending_.clear();
    joined.append(bytes);
    bytes = joined;
  }
  do {
    // The longest plain run goes as it is.
    const size_t run = PlainRun(bytes.substr(0, kPiece));
    if (run > 0 || bytes.empty()) {
      if (!ParsePiece(bytes.data(), run, last && run == bytes.size())) {
        return false;
      }
      bytes.remove_prefix(run);
      continue;
    }
    // Then the bytes after it, up to a piece, recoded.
    const size_t used = Recode(bytes, last);
    if (used == 0) {
      pending_ = bytes;  // a cut sequence, to be completed
      return true;
    }
    bytes.remove_prefix(used);
    if (!ParsePiece(recoded_.data(), recoded_.size(), last && bytes.empty())) {
      return false;
    }
  } while (!bytes.empty());
  return true;
}

// Recodes up to a piece of `bytes` into recoded_ as UTF-8; answers how many
// bytes it took (fewer at a UTF-8 sequence the piece cut, unless `last`).
size_t DocumentReader::Recode(std::string_view bytes, bool last) {
  recoded_.clear();
  const size_t n = std::min(bytes.size(), kRecodePiece);
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t i = 0;
  for (; i < n; ++i) {
    const unsigned char byte = p[i];
    if (IsPlain(byte)) {
      recoded_ += static_cast<char>(byte);
    } else if (byte < 0x80) {
      AppendUtf8(recoded_, char16_t(kControlBase + byte));
    } else if (encoding_ == DocumentEncoding::kWindows1252) {
      AppendUtf8(recoded_, AnsiChar(byte));
    } else if (encoding_ == DocumentEncoding::kLatin1) {
      // 128..159 are controls here, not the writer's code page.
      AppendUtf8(recoded_,
                 byte < 0xA0 ? char16_t(kControlBase + byte) : char16_t(byte));
    } else if (encoding_ == DocumentEncoding::kAscii) {
      // A byte no UTF-8 holds: the parser refuses it where it stands, so
      // the reason gets its line.
      recoded_ += '\xFF';
      above_ascii_ = true;
    } else {
      const int length = Utf8Length(bytes.substr(i));
      if (length < 0 && !last) break;
      if (length <= 0) {
        AppendUtf8(recoded_, AnsiChar(byte));  // the library's own bytes
      } else if (byte == 0xC2 && p[i + 1] < 0xA0) {
        AppendUtf8(recoded_, char16_t(kControlBase + p[i + 1]));
        ++i;
      } else {
        recoded_.append(bytes.substr(i, size_t(length)));
        i += size_t(length) - 1;
      }
    }
  }
  return std::min(i, bytes.size());
}

bool DocumentReader::ParsePiece(const char* bytes, size_t size, bool last) {
  if (XML_Parse(parser_, bytes, static_cast<int>(size), last) ==
      XML_STATUS_OK) {
    return true;
  }
  if (reason_.empty() && above_ascii_ &&
      XML_GetErrorCode(parser_) == XML_ERROR_INVALID_TOKEN) {
    reason_ = "a character above 127 in a document declared US-ASCII";
  }
  return false;
}

// Expat hands a reference "&#0150;" over as U+0096 (C2 96 in UTF-8); the
// writer meant the Windows-1252 character 150. References to 160..255 mean
// the same either way, and raw bytes arrive already recoded. The recoded
// control characters arrive as EF 9C 80..9F, raw 128..159 as EF 9E 80..9F.
void FromWriterCodes(std::string& value) {
  std::string out;
  size_t copied = 0;
  for (size_t i = 0; i + 1 < value.size(); ++i) {
    const auto lead = static_cast<unsigned char>(value[i]);
    if (lead < 0x80) continue;  // most of any text
    const auto next = static_cast<unsigned char>(value[i + 1]);
    if (lead == 0xC2 && next >= 0x80 && next <= 0x9F) {
      out.append(value, copied, i - copied);
      const char16_t c = AnsiChar(next);
      out += ToUtf8(TextView(&c, 1));
      copied = i + 2;
      ++i;
    } else if (lead == 0xEF && (next == 0x9C || next == 0x9E) &&
               i + 2 < value.size()) {
      const auto last = static_cast<unsigned char>(value[i + 2]);
      if (last >= 0x80 && last <= 0x9F) {
        out.append(value, copied, i - copied);
        if (next == 0x9E) out += '\xC2';
        out += static_cast<char>(next == 0x9C ? last - 0x80 : last);
        copied = i + 3;
        i += 2;
      }
    }
  }
  if (copied == 0) return;
  out.append(value, copied);
  value = std::move(out);
}

}  // namespace pellar::programs
