#include "lexer.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include <pellar/base/chars.h>

#include "variant.h"

namespace pellar {
namespace {

bool IsLetter(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsLineEnd(char16_t c) { return c == u'\r' || c == u'\n'; }

}  // namespace

namespace {

// The parser's messages by VBScript's numbers for them, with the
// reference's text where the parser says more.
struct SyntaxKind {
  std::string_view prefix;
  int number;
  std::string_view text = {};
};

constexpr SyntaxKind kSyntaxKinds[] = {
    {"Expected end of statement", 1025},
    {"Expected statement", 1024},
    {"Expected expression", 1023},
    {"Expected identifier", 1010},
    {"Expected '='", 1011},
    {"Expected '('", 1005},
    {"Expected ')'", 1006},
    {"Expected 'End", 1014, "Expected 'End'"},
    {"Expected 'If'", 1012},
    {"Expected 'To'", 1013},
    {"Expected 'Function'", 1015},
    {"Expected 'Sub'", 1016},
    {"Expected 'Then'", 1017},
    {"Expected 'Wend'", 1018},
    {"Expected 'Loop'", 1019},
    {"Expected 'Next'", 1020},
    {"Expected 'Case'", 1021},
    {"Expected 'Select'", 1022},
    {"Expected 'In'", 1046},
    {"Invalid character", 1032},
    {"Unterminated string constant", 1033},
    {"Invalid 'exit' statement", 1039},
    {"Name redefined", 1041},
    {"Cannot use parentheses when calling a Sub", 1044},
    {"Illegal assignment", 501},
    {"Wrong number of arguments", 450,
     "Wrong number of arguments or invalid property assignment"},
    {"Overflow", 6},
};

const SyntaxKind* KindOf(std::string_view message) {
  for (const SyntaxKind& kind : kSyntaxKinds) {
    if (message.substr(0, kind.prefix.size()) == kind.prefix) return &kind;
  }
  return nullptr;
}

}  // namespace

int SyntaxError::number() const {
  const SyntaxKind* kind = KindOf(what());
  return kind != nullptr ? kind->number : 1002;
}

std::string SyntaxError::description() const {
  const SyntaxKind* kind = KindOf(what());
  if (kind == nullptr) return "Syntax error";
  return std::string(kind->text.empty() ? kind->prefix : kind->text);
}

std::string LowerWord(TextView word) {
  std::string out;
  out.reserve(word.size());
  for (char16_t c : word) {
    out += (c >= u'A' && c <= u'Z') ? static_cast<char>(c - u'A' + u'a')
                                    : static_cast<char>(c < 0x80 ? c : '?');
  }
  return out;
}

std::vector<Token> Tokenize(TextView src) {
  std::vector<Token> tokens;
  size_t i = 0, line_start = 0;
  int line = 1;
  bool space = false;
  auto column = [&](size_t at) {
    return static_cast<int>(at - line_start) + 1;
  };
  auto at_statement_start = [&] {
    return tokens.empty() || tokens.back().kind == TokenKind::kNewline;
  };
  auto newline = [&](size_t at, Text text) {
    Token t;
    t.kind = TokenKind::kNewline;
    t.line = line;
    t.column = column(at);
    t.text = std::move(text);
    tokens.push_back(std::move(t));
  };
  auto skip_line_end = [&] {
    i += (src[i] == u'\r' && i + 1 < src.size() && src[i + 1] == u'\n') ? 2 : 1;
    ++line;
    line_start = i;
  };
  while (i < src.size()) {
    char16_t c = src[i];
    if (IsBlank(c)) {
      ++i;
      space = true;
      continue;
    }
    if (IsLineEnd(c)) {
      newline(i, Text());
      skip_line_end();
      space = false;
      continue;
    }
    if (c == u'\'') {
      while (i < src.size() && !IsLineEnd(src[i])) ++i;
      continue;
    }
    Token token;
    token.line = line;
    token.column = column(i);
    token.space_before = space;
    space = false;
    if (c == u'_') {
      size_t at = i + 1;
      while (at < src.size() && IsBlank(src[at])) ++at;
      if (at < src.size() && !IsLineEnd(src[at])) {
        throw SyntaxError(line, token.column, "Invalid character");
      }
      i = at;
      if (i < src.size()) skip_line_end();
      space = true;
      continue;
    }
    if (IsLetter(c)) {
      size_t end = i + 1;
      while (end < src.size() &&
             (IsLetter(src[end]) || IsDigit(src[end]) || src[end] == u'_')) {
        ++end;
      }
      token.kind = TokenKind::kWord;
      token.text = Text(src.substr(i, end - i));
      i = end;
      if (at_statement_start() && LowerWord(token.text) == "rem") {
        while (i < src.size() && !IsLineEnd(src[i])) ++i;
        continue;
      }
    } else if (IsDigit(c) ||
               (c == u'.' && i + 1 < src.size() && IsDigit(src[i + 1]) &&
                (tokens.empty() ||
                 (tokens.back().kind != TokenKind::kWord &&
                  tokens.back().kind != TokenKind::kClose) ||
                 token.space_before))) {
      size_t end = i;
      while (end < src.size() && IsDigit(src[end])) ++end;
      bool integral = true;
      if (end < src.size() && src[end] == u'.') {
        integral = false;
        ++end;
        while (end < src.size() && IsDigit(src[end])) ++end;
      }
      if (end < src.size() && (src[end] == u'e' || src[end] == u'E')) {
        size_t exp = end + 1;
        if (exp < src.size() && (src[exp] == u'+' || src[exp] == u'-')) ++exp;
        if (exp < src.size() && IsDigit(src[exp])) {
          integral = false;
          end = exp;
          while (end < src.size() && IsDigit(src[end])) ++end;
        }
      }
      std::string ascii(src.begin() + static_cast<ptrdiff_t>(i),
                        src.begin() + static_cast<ptrdiff_t>(end));
      token.kind = TokenKind::kNumber;
      token.number = std::strtod(ascii.c_str(), nullptr);
      token.integral = integral && token.number <= 2147483647.0;
      if (!std::isfinite(token.number)) {
        throw SyntaxError(line, token.column, "Overflow");
      }
      i = end;
    } else if (c == u'&' && i + 1 < src.size() &&
               (src[i + 1] == u'H' || src[i + 1] == u'h' ||
                src[i + 1] == u'O' || src[i + 1] == u'o')) {
      const bool hex = (src[i + 1] | 0x20) == u'h';
      size_t end = i + 2;
      uint64_t n = 0;
      size_t digits = 0;
      while (end < src.size()) {
        char16_t d = src[end];
        int v = IsDigit(d) ? d - u'0'
                : hex && (d | 0x20) >= u'a' && (d | 0x20) <= u'f'
                    ? (d | 0x20) - u'a' + 10
                    : -1;
        if (v < 0 || (!hex && v > 7)) break;
        n = n * (hex ? 16 : 8) + static_cast<uint64_t>(v);
        ++digits;
        ++end;
        if (n > 0xFFFFFFFFu) throw SyntaxError(line, token.column, "Overflow");
      }
      // A trailing & asks for a Long: &HFFFF& is 65535, not -1.
      const bool long_suffix = end < src.size() && src[end] == u'&';
      if (long_suffix) ++end;
      if (digits == 0)
        throw SyntaxError(line, token.column, "Expected expression");
      token.kind = TokenKind::kNumber;
      token.integral = true;
      token.number = !long_suffix && n <= 0xFFFF && (!hex || digits <= 4)
                         ? static_cast<double>(
                               n > 0x7FFF ? static_cast<int64_t>(n) - 0x10000
                                          : static_cast<int64_t>(n))
                         : static_cast<double>(
                               static_cast<int32_t>(static_cast<uint32_t>(n)));
      i = end;
    } else if (c == u'"') {
      token.kind = TokenKind::kString;
      size_t at = i + 1;
      bool closed = false;
      while (at < src.size() && !IsLineEnd(src[at])) {
        if (src[at] == u'"') {
          if (at + 1 < src.size() && src[at + 1] == u'"') {
            token.text += u'"';
            at += 2;
            continue;
          }
          closed = true;
          ++at;
          break;
        }
        token.text += src[at];
        ++at;
      }
      if (!closed) {
        throw SyntaxError(line, token.column, "Unterminated string constant");
      }
      i = at;
    } else if (c == u'#') {
      size_t at = i + 1;
      while (at < src.size() && src[at] != u'#' && !IsLineEnd(src[at])) ++at;
      double date;
      if (at >= src.size() || src[at] != u'#' ||
          !script::ParseDateText(src.substr(i + 1, at - i - 1), &date)) {
        throw SyntaxError(line, token.column, "Syntax error");
      }
      token.kind = TokenKind::kDate;
      token.number = date;
      i = at + 1;
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
        case u':':
          newline(i, Text(u":"));
          ++i;
          continue;
        case u'<':
          token.kind = TokenKind::kOperator;
          token.text = u"<";
          if (i + 1 < src.size() &&
              (src[i + 1] == u'>' || src[i + 1] == u'=')) {
            token.text += src[++i];
          }
          break;
        case u'>':
          token.kind = TokenKind::kOperator;
          token.text = u">";
          if (i + 1 < src.size() && src[i + 1] == u'=') token.text += src[++i];
          break;
        case u'+':
        case u'-':
        case u'*':
        case u'/':
        case u'\\':
        case u'^':
        case u'&':
        case u'=':
          token.kind = TokenKind::kOperator;
          token.text = Text(1, c);
          break;
        default:
          throw SyntaxError(line, token.column, "Invalid character");
      }
      ++i;
    }
    tokens.push_back(std::move(token));
  }
  newline(i, Text());
  Token end;
  end.kind = TokenKind::kEnd;
  end.line = line;
  end.column = column(i);
  tokens.push_back(std::move(end));
  return tokens;
}

}  // namespace pellar
