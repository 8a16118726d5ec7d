// The script's statements and expressions, and the parser that builds them
// from the whole file before anything runs.
#ifndef PELLAR_HOST_PARSER_H_
#define PELLAR_HOST_PARSER_H_

#include <memory>
#include <optional>
#include <vector>

#include <pellar/base/text.h>
#include <pellar/base/value.h>
#include "lexer.h"

namespace pellar {

// Parentheses, calls and argument lists may nest this deep; deeper is a
// syntax error, so neither parsing nor running can exhaust the stack.
inline constexpr int kMaxNesting = 200;

enum class Builtin {
  kChr,
  kChrW,
  kLen,
  kLeft,
  kRight,
  kString,
  kSpace,
  kCStr,
  kCInt,
  kCLng,
};

struct Expr;
using ExprPtr = std::unique_ptr<Expr>;

struct Expr {
  enum class Kind {
    kLiteral,   // `literal`
    kVariable,  // `variable`
    kErrNumber,
    kErrDescription,
    kFunction,  // `function` of `operands`
    kMethod,    // `method` of object `variable`, arguments `operands`
    kNegate,    // `negations` unary minuses applied to operands[0]
    kConcat,    // operands joined with &
  };
  Kind kind = Kind::kLiteral;
  int column = 1;
  // Written inside parentheses: a variable so written is passed by value.
  bool grouped = false;
  Value literal;
  int variable = -1;
  Builtin function = Builtin::kLen;
  Text method;
  int negations = 0;
  std::vector<ExprPtr> operands;
};

struct Statement {
  enum class Kind {
    kCreate,      // Set variable = CreateObject(operands[0])
    kSetObject,   // Set variable = source
    kSetNothing,  // Set variable = Nothing
    kAssign,      // variable = operands[0]
    kEcho,        // WScript.Echo operands
    kCall,        // variable.method operands
    kResumeNext,  // On Error Resume Next
    kGoToZero,    // On Error GoTo 0
    kErrClear,
  };
  Kind kind = Kind::kErrClear;
  int line = 1;
  int column = 1;  // where the statement starts
  int variable = -1;
  int source = -1;
  Text method;
  std::vector<ExprPtr> operands;
};

struct Program {
  std::vector<Statement> statements;
  // One entry per distinct variable (names compare case-insensitively),
  // spelled as first written; expressions refer to them by index.
  std::vector<Text> variables;
};

struct ParseResult {
  Program program;
  // Set when the text is not a valid script; `program` is then incomplete.
  std::optional<SyntaxError> error;
};

// Parses a whole script (decoded text, any line ends: CR LF, LF or CR).
ParseResult Parse(TextView source);

}  // namespace pellar

#endif  // PELLAR_HOST_PARSER_H_
