// Character classes and case folding for code that reads plain bytes or
// code units, shared by the library and the programs beside it. Not
// installed: nothing here is part of the library's interface.
#ifndef PELLAR_BASE_CHARS_H_
#define PELLAR_BASE_CHARS_H_

#include <string>
#include <string_view>

namespace pellar {

// A blank within a line: space or tab.
inline bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// White space around a value in a header or a document: a blank or a line
// end.
inline bool IsWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// `text` with the ASCII letters lowered; every other byte (UTF-8 included)
// as it is.
inline std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = char(c + 32);
  }
  return out;
}

}  // namespace pellar

#endif  // PELLAR_BASE_CHARS_H_
