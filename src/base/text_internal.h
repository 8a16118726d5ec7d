// The text functions the library and its programs share but do not export:
// the Windows-1252 codec's inner functions (text.h has the whole-text
// conversions) and numbers, case and literals as texts.
#ifndef PELLAR_BASE_TEXT_INTERNAL_H_
#define PELLAR_BASE_TEXT_INTERNAL_H_

#include <cstdint>
#include <string>
#include <string_view>

#include <pellar/base/text.h>

namespace pellar {

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

// UTF-16 little endian, as Unicode text files hold it: two bytes per code
// unit, surrogates passed as they are, no byte order mark. An odd last
// byte is dropped.
void AppendUtf16Le(std::string& out, TextView text);
Text FromUtf16Le(std::string_view bytes);

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

#endif  // PELLAR_BASE_TEXT_INTERNAL_H_
