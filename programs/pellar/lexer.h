// Splits one script line into tokens. The script language keeps one
// statement per line, so the lexer never looks past a line end.
#ifndef PELLAR_HOST_LEXER_H_
#define PELLAR_HOST_LEXER_H_

#include <stdexcept>
#include <string>
#include <vector>

#include <pellar/base/text.h>
#include <pellar/base/value.h>

namespace pellar {

enum class TokenKind {
  kWord,     // identifier or keyword, as written
  kInteger,  // integer literal; `number` holds int16, int32 or double
  kString,   // string literal; `text` holds the content, quotes undone
  kDot,
  kComma,
  kOpen,   // (
  kClose,  // )
  kEquals,
  kAmpersand,
  kMinus,
  kEnd,  // end of line or start of a comment
};

struct Token {
  TokenKind kind = TokenKind::kEnd;
  int column = 1;  // 1-based, in UTF-16 code units
  Text text;
  Value number;
};

// A fault in the script text found before anything runs.
class SyntaxError : public std::runtime_error {
 public:
  SyntaxError(int line, int column, const std::string& message)
      : std::runtime_error(message), line_(line), column_(column) {}
  int line() const { return line_; }
  int column() const { return column_; }

 private:
  int line_;
  int column_;
};

// The tokens of `line` (without its line end), always ending with one kEnd
// token. `'` comments and a leading `Rem` are dropped. Throws SyntaxError
// carrying `line_number`.
std::vector<Token> Tokenize(TextView line, int line_number);

// ASCII lower case; words are ASCII, so this is enough to compare them.
std::string LowerWord(TextView word);

}  // namespace pellar

#endif  // PELLAR_HOST_LEXER_H_
