#include "writer_document.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include <pellar/base/text_internal.h>

namespace pellar::programs {
namespace {

// The control characters XML forbids are handed to the parser as
// private-use characters at kControlBase + byte, so that a document holding
// them still parses; FromWriterCodes turns them back.
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

}  // namespace

// The parser reads UTF-8 whatever the document declares: a document is
// nearly all plain ASCII, which expat then takes with no conversion at all
// (its own decoding of a declared code page is the slower path). The rare
// other bytes are recoded on the way in.
XML_Parser NewWriterDocumentParser() { return XML_ParserCreate("UTF-8"); }

XML_Status ParseWriterBytes(XML_Parser parser, std::string_view bytes,
                            bool last) {
  std::string recoded;
  do {
    // The longest plain run goes as it is.
    const size_t run = PlainRun(bytes.substr(0, kPiece));
    if (run > 0 || bytes.empty()) {
      const bool final_piece = last && run == bytes.size();
      if (XML_Parse(parser, bytes.data(), static_cast<int>(run), final_piece) !=
          XML_STATUS_OK) {
        return XML_STATUS_ERROR;
      }
      bytes.remove_prefix(run);
      continue;
    }
    // Then the bytes after it, up to a piece, recoded.
    recoded.clear();
    const size_t n = std::min(bytes.size(), kRecodePiece);
    for (const char c : bytes.substr(0, n)) {
      const auto byte = static_cast<unsigned char>(c);
      if (IsPlain(byte)) {
        recoded += c;
        continue;
      }
      const char16_t code =
          byte < 0x80 ? char16_t(kControlBase + byte) : AnsiChar(byte);
      recoded += ToUtf8(TextView(&code, 1));
    }
    bytes.remove_prefix(n);
    if (XML_Parse(parser, recoded.data(), static_cast<int>(recoded.size()),
                  last && bytes.empty()) != XML_STATUS_OK) {
      return XML_STATUS_ERROR;
    }
  } while (!bytes.empty());
  return XML_STATUS_OK;
}

// Expat hands a reference "&#0150;" over as U+0096 (C2 96 in UTF-8); the
// writer meant the Windows-1252 character 150. References to 160..255 mean
// the same either way, and raw bytes arrive already recoded. The recoded
// control characters arrive as EF 9C 80..9F.
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
    } else if (lead == 0xEF && next == 0x9C && i + 2 < value.size()) {
      const auto last = static_cast<unsigned char>(value[i + 2]);
      if (last >= 0x80 && last <= 0x9F) {
        out.append(value, copied, i - copied);
        out += static_cast<char>(last - 0x80);
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
