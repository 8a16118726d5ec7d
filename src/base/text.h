// Text as the automation layer sees it, and the conversions every file and
// console write goes through.
#ifndef PELLAR_BASE_TEXT_H_
#define PELLAR_BASE_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include <pellar/base/export.h>
namespace pellar {

// UTF-16 code units, like the automation string. Lengths count code units.
using Text = std::u16string;
using TextView = std::u16string_view;

// Windows-1252, one byte per character: the one codec of the library. Every
// conversion to or from the code page goes through these functions, which
// use tables and pass plain ASCII through without looking it up.
// Characters the code page lacks become "?". The five bytes the code page
// leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 control of
// the same value, as Windows maps them, so every byte survives a round trip.
PELLAR_EXPORT std::string ToAnsi(TextView text);
PELLAR_EXPORT Text FromAnsi(std::string_view bytes);
// The code of `c` in Windows-1252, or -1 when the code page lacks it.
int AnsiCode(char16_t c);
// The character with Windows-1252 code `code` (0..255).
char16_t AnsiChar(unsigned char code);
// Writes the text.size() bytes of `text` at `dest`, "?" for characters the
// code page lacks; answers the end.
char* EncodeAnsi(TextView text, char* dest);
// As EncodeAnsi, but answers nullptr as soon as a character is missing from
// the code page (what was written before it is left at `dest`).
char* EncodeAnsiExact(TextView text, char* dest);
// Writes the bytes.size() characters of `bytes` at `dest`; answers the end.
char16_t* DecodeAnsi(std::string_view bytes, char16_t* dest);
// `text` encoded and appended to `out`.
void AppendAnsi(std::string& out, TextView text);
// `bytes` decoded and appended to `out`.
void AppendFromAnsi(Text& out, std::string_view bytes);

// UTF-8 for script files and console output. A lone surrogate becomes
// U+FFFD; malformed UTF-8 input decodes to U+FFFD per bad byte.
PELLAR_EXPORT std::string ToUtf8(TextView text);
PELLAR_EXPORT Text FromUtf8(std::string_view bytes);

// Plain decimal, a leading "-" for negatives.
Text Decimal(int64_t n);
// `n` with leading zeros to at least `width` digits (n >= 0).
Text ZeroPadded(int64_t n, int width);

// Lower case by simple one-to-one mapping (ASCII, Latin-1, Latin
// Extended-A, Greek and Cyrillic basic letters).
Text Lower(TextView text);
char16_t LowerNonAscii(char16_t c);
inline char16_t LowerChar(char16_t c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? c + 32 : c;
  return LowerNonAscii(c);
}
bool EqualsIgnoreCase(TextView a, TextView b);

// Convenience for literals in code that builds messages from ASCII.
Text Ascii(std::string_view ascii);

}  // namespace pellar

#endif  // PELLAR_BASE_TEXT_H_
