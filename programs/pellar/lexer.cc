#include "lexer.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace pellar {
namespace {

bool IsLetter(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Literals keep the smallest automation type that holds them, as VBScript
// does: Integer, then Long, then Double.
Value IntegerValue(TextView digits, int line, int column) {
  int64_t n = 0;
  for (char16_t c : digits) {
    n = n * 10 + (c - u'0');
    if (n > INT32_MAX) break;
  }
  if (n <= INT16_MAX) return static_cast<int16_t>(n);
  if (n <= INT32_MAX) return static_cast<int32_t>(n);
  std::string ascii(digits.begin(), digits.end());
  double d = std::strtod(ascii.c_str(), nullptr);
  if (!std::isfinite(d)) throw SyntaxError(line, column, "Overflow");
  return d;
}

}  // namespace

std::string LowerWord(TextView word) {
  std::string out;
  out.reserve(word.size());
  for (char16_t c : word) {
    out += (c >= u'A' && c <= u'Z') ? static_cast<char>(c - u'A' + u'a')
                                    : static_cast<char>(c < 0x80 ? c : '?');
  }
  return out;
}

std::vector<Token> Tokenize(TextView line, int line_number) {
  std::vector<Token> tokens;
  size_t i = 0;
  auto column = [&](size_t at) { return static_cast<int>(at) + 1; };
  while (i < line.size()) {
    char16_t c = line[i];
    if (c == u' ' || c == u'\t') {
      ++i;
      continue;
    }
    if (c == u'\'') break;
    Token token;
    token.column = column(i);
    if (IsLetter(c)) {
      size_t end = i + 1;
      while (end < line.size() &&
             (IsLetter(line[end]) || IsDigit(line[end]) || line[end] == u'_')) {
        ++end;
      }
      token.kind = TokenKind::kWord;
      token.text = Text(line.substr(i, end - i));
      i = end;
      // Rem is a comment only where a statement starts.
      if (tokens.empty() && LowerWord(token.text) == "rem") break;
    } else if (IsDigit(c)) {
      size_t end = i + 1;
      while (end < line.size() && IsDigit(line[end])) ++end;
      token.kind = TokenKind::kInteger;
      token.number =
          IntegerValue(line.substr(i, end - i), line_number, token.column);
      i = end;
    } else if (c == u'"') {
      token.kind = TokenKind::kString;
      size_t at = i + 1;
      bool closed = false;
      while (at < line.size()) {
        if (line[at] == u'"') {
          if (at + 1 < line.size() && line[at + 1] == u'"') {
            token.text += u'"';
            at += 2;
            continue;
          }
          closed = true;
          ++at;
          break;
        }
        token.text += line[at];
        ++at;
      }
      if (!closed) {
        throw SyntaxError(line_number, token.column,
                          "Unterminated string constant");
      }
      i = at;
    } else {
      switch (c) {
        case u'.':
          token.kind = TokenKind::kDot;
          break;
        case u',':
          token.kind = TokenKind::kComma;
          break;
        case u'(':
          token.kind = TokenKind::kOpen;
          break;
        case u')':
          token.kind = TokenKind::kClose;
          break;
        case u'=':
          token.kind = TokenKind::kEquals;
          break;
        case u'&':
          token.kind = TokenKind::kAmpersand;
          break;
        case u'-':
          token.kind = TokenKind::kMinus;
          break;
        case u':':
          throw SyntaxError(line_number, token.column,
                            "Only one statement per line is supported");
        default:
          throw SyntaxError(line_number, token.column, "Invalid character");
      }
      ++i;
    }
    tokens.push_back(std::move(token));
  }
  Token end;
  end.kind = TokenKind::kEnd;
  end.column = column(i < line.size() ? i : line.size());
  tokens.push_back(std::move(end));
  return tokens;
}

}  // namespace pellar
