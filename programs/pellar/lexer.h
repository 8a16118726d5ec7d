// Splits a whole script into tokens. Line ends and ":" become statement
// separators; " _" at a line end joins the next line; "'" and Rem comments
// are dropped.
#ifndef PELLAR_HOST_LEXER_H_
#define PELLAR_HOST_LEXER_H_

#include <stdexcept>
#include <string>
#include <vector>

#include <pellar/base/text.h>

namespace pellar {

enum class TokenKind : uint8_t {
  kWord,    // identifier or keyword; `text` as written
  kNumber,  // `number`; `integral` when written without point or exponent
  kString,  // `text` holds the content, quotes undone
  kDate,    // #...# literal; `number` is the date
  kDot,     // "." directly after a word or ")": member access
  kComma,
  kOpen,
  kClose,
  kOperator,  // `text` is one of + - * / \ ^ & = <> < > <= >=
  kNewline,   // line end or ":"; `text` is ":" for the latter
  kEnd,       // end of the script
};

struct Token {
  TokenKind kind = TokenKind::kEnd;
  bool space_before = false;
  bool integral = false;
  int line = 1;
  int column = 1;  // 1-based, in UTF-16 code units
  Text text;
  double number = 0;
};

// A fault in the script text found before anything runs.
class SyntaxError : public std::runtime_error {
 public:
  SyntaxError(int line, int column, const std::string& message)
      : std::runtime_error(message), line_(line), column_(column) {}
  int line() const { return line_; }
  int column() const { return column_; }
  // VBScript's number and text for this kind of syntax error (1002
  // "Syntax error" when it has none more precise): what Err says when an
  // executed text does not parse.
  int number() const;
  std::string description() const;

 private:
  int line_;
  int column_;
};

// The tokens of `source` (any line ends), ending with one kEnd token.
// Throws SyntaxError.
std::vector<Token> Tokenize(TextView source);

// ASCII lower case; words are ASCII, so this is enough to compare them.
std::string LowerWord(TextView word);

}  // namespace pellar

#endif  // PELLAR_HOST_LEXER_H_
