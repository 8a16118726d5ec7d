#include <pellar/base/text_internal.h>

#include <array>

namespace pellar {
namespace {

// Windows-1252 codes 0x80..0x9F. The five undefined codes map to the C1
// control of the same value, as Windows does.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr char16_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void AppendUtf16(Text& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

}  // namespace

namespace {

// The encoding table: a page of 256 codes per high byte of a character
// that the code page holds, -1 where it holds nothing. Only five pages hold
// characters at all; every other high byte points at the empty page.
struct EncodeTable {
  static constexpr int kPages = 6;  // empty, 0x00, 0x01, 0x02, 0x20, 0x21
  std::array<uint8_t, 256> page_of{};
  std::array<std::array<int16_t, 256>, kPages> codes{};
};

constexpr EncodeTable MakeEncodeTable() {
  EncodeTable table;
  for (auto& page : table.codes) page.fill(-1);
  const uint8_t high_bytes[] = {0x00, 0x01, 0x02, 0x20, 0x21};
  for (uint8_t i = 0; i < 5; ++i) table.page_of[high_bytes[i]] = i + 1;
  auto set = [&table](char16_t c, int code) {
    table.codes[table.page_of[c >> 8]][c & 0xFF] = static_cast<int16_t>(code);
  };
  for (int code = 0; code < 256; ++code) {
    set(code >= 0x80 && code <= 0x9F ? kHighControls[code - 0x80]
                                     : static_cast<char16_t>(code),
        code);
  }
  return table;
}

constexpr EncodeTable kEncode = MakeEncodeTable();

constexpr std::array<char16_t, 256> kDecode = [] {
  std::array<char16_t, 256> table{};
  for (int code = 0; code < 256; ++code) {
    table[code] = code >= 0x80 && code <= 0x9F ? kHighControls[code - 0x80]
                                               : static_cast<char16_t>(code);
  }
  return table;
}();

inline int Lookup(char16_t c) { return kEncode.codes[kEncode.page_of[c >> 8]][c & 0xFF]; }

// Blocks of this many characters are checked for ASCII at once; the loops
// over a block vectorise.
constexpr size_t kBlock = 16;

// Encodes up to the first character missing from the code page, which it
// writes as "?" when `exact` is false; answers the end, or nullptr when
// `exact` and a character is missing.
template <bool exact>
char* Encode(TextView text, char* dest) {
  const char16_t* in = text.data();
  const char16_t* const end = in + text.size();
  while (in != end) {
    if (static_cast<size_t>(end - in) >= kBlock) {
      char16_t seen = 0;
      for (size_t i = 0; i < kBlock; ++i) seen |= in[i];
      if (seen < 0x80) {
        for (size_t i = 0; i < kBlock; ++i) dest[i] = static_cast<char>(in[i]);
        in += kBlock;
        dest += kBlock;
        continue;
      }
    }
    const char16_t c = *in++;
    if (c < 0x80) {
      *dest++ = static_cast<char>(c);
      continue;
    }
    const int code = Lookup(c);
    if (code < 0) {
      if constexpr (exact) return nullptr;
      *dest++ = '?';
    } else {
      *dest++ = static_cast<char>(code);
    }
  }
  return dest;
}

}  // namespace

int AnsiCode(char16_t c) { return Lookup(c); }

char16_t AnsiChar(unsigned char code) { return kDecode[code]; }

char* EncodeAnsi(TextView text, char* dest) { return Encode<false>(text, dest); }

char* EncodeAnsiExact(TextView text, char* dest) {
  return Encode<true>(text, dest);
}

char16_t* DecodeAnsi(std::string_view bytes, char16_t* dest) {
  const unsigned char* in = reinterpret_cast<const unsigned char*>(bytes.data());
  const unsigned char* const end = in + bytes.size();
  while (in != end) {
    if (static_cast<size_t>(end - in) >= kBlock) {
      unsigned char seen = 0;
      for (size_t i = 0; i < kBlock; ++i) seen |= in[i];
      if (seen < 0x80) {
        for (size_t i = 0; i < kBlock; ++i) dest[i] = in[i];
        in += kBlock;
        dest += kBlock;
        continue;
      }
    }
    *dest++ = kDecode[*in++];
  }
  return dest;
}

void AppendAnsi(std::string& out, TextView text) {
  const size_t old = out.size();
  out.resize(old + text.size());
  EncodeAnsi(text, out.data() + old);
}

void AppendUtf16Le(std::string& out, TextView text) {
  const size_t at = out.size();
  out.resize(at + 2 * text.size());
  char* p = out.data() + at;
  for (char16_t c : text) {
    *p++ = static_cast<char>(c & 0xFF);
    *p++ = static_cast<char>(c >> 8);
  }
}

Text FromUtf16Le(std::string_view bytes) {
  Text text(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    const auto low = static_cast<unsigned char>(bytes[2 * i]);
    const auto high = static_cast<unsigned char>(bytes[2 * i + 1]);
    text[i] = static_cast<char16_t>(low | high << 8);
  }
  return text;
}

void AppendFromAnsi(Text& out, std::string_view bytes) {
  const size_t old = out.size();
  out.resize(old + bytes.size());
  DecodeAnsi(bytes, out.data() + old);
}

std::string ToAnsi(TextView text) {
  std::string out;
  AppendAnsi(out, text);
  return out;
}

Text FromAnsi(std::string_view bytes) {
  Text out;
  AppendFromAnsi(out, bytes);
  return out;
}

std::string ToUtf8(TextView text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() &&
        IsLowSurrogate(text[i + 1])) {
      char32_t cp = 0x10000 + ((char32_t{c} - 0xD800) << 10) +
                    (char32_t{text[i + 1]} - 0xDC00);
      AppendUtf8(out, cp);
      ++i;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, c);
    }
  }
  return out;
}

Text FromUtf8(std::string_view bytes) {
  Text out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    int extra;
    char32_t cp;
    char32_t min;
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    } else if ((b & 0xE0) == 0xC0) {
      extra = 1, cp = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      extra = 2, cp = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      extra = 3, cp = b & 0x07, min = 0x10000;
    } else {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    if (i + extra >= bytes.size()) {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      unsigned char cb = static_cast<unsigned char>(bytes[i + k]);
      if ((cb & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (cb & 0x3F);
    }
    if (!ok || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    AppendUtf16(out, cp);
    i += extra + 1;
  }
  return out;
}

Text Decimal(int64_t n) {
  char16_t buf[24];
  int pos = 24;
  uint64_t u = n < 0 ? 0 - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
  do {
    buf[--pos] = static_cast<char16_t>(u'0' + u % 10);
    u /= 10;
  } while (u != 0);
  if (n < 0) buf[--pos] = u'-';
  return Text(buf + pos, buf + 24);
}

Text ZeroPadded(int64_t n, int width) {
  Text digits = Decimal(n);
  if (static_cast<int>(digits.size()) < width) {
    digits.insert(0, static_cast<size_t>(width) - digits.size(), u'0');
  }
  return digits;
}

char16_t LowerNonAscii(char16_t c) {
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 32;
  if (c == 0x178) return 0xFF;
  if (c >= 0x100 && c <= 0x17F) {
    // Latin Extended-A pairs capitals on even codes, except in 0x139..0x148
    // and 0x179..0x17E where capitals sit on odd codes.
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) {
      return (c % 2 == 1) ? c + 1 : c;
    }
    if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) {
      return c == 0x130 ? u'i' : c;
    }
    return (c % 2 == 0) ? c + 1 : c;
  }
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;  // Greek
  if (c >= 0x410 && c <= 0x42F) return c + 32;                // Cyrillic
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

Text Lower(TextView text) {
  Text out(text);
  for (char16_t& c : out) c = LowerChar(c);
  return out;
}

bool EqualsIgnoreCase(TextView a, TextView b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && LowerChar(a[i]) != LowerChar(b[i])) return false;
  }
  return true;
}

Text Ascii(std::string_view ascii) { return Text(ascii.begin(), ascii.end()); }

}  // namespace pellar
