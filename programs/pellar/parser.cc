#include "parser.h"

#include <string_view>
#include <unordered_map>
#include <utility>

namespace pellar {
namespace {

enum class WordKind {
  kVariable,
  kOption,
  kDim,
  kSet,
  kCall,
  kOn,
  kWScript,
  kErr,
  kTrue,
  kFalse,
  kEmpty,
  kNothing,
  kVbCrLf,
  kVbCr,
  kVbLf,
  kVbTab,
  kCreateObject,
  kFunction,
  // VBScript words this host does not run. They are reserved so that a
  // script using them stops with a clear message instead of reading them as
  // variables, which would run differently than under the Windows host.
  kUnsupported,
};

struct FunctionInfo {
  Builtin builtin;
  size_t arity;
};

struct WordInfo {
  WordKind kind;
  FunctionInfo function;
};

const std::unordered_map<std::string, WordInfo>& Words() {
  static const auto* words = [] {
    auto* map = new std::unordered_map<std::string, WordInfo>{
        {"option", {WordKind::kOption, {}}},
        {"dim", {WordKind::kDim, {}}},
        {"set", {WordKind::kSet, {}}},
        {"call", {WordKind::kCall, {}}},
        {"on", {WordKind::kOn, {}}},
        {"wscript", {WordKind::kWScript, {}}},
        {"err", {WordKind::kErr, {}}},
        {"true", {WordKind::kTrue, {}}},
        {"false", {WordKind::kFalse, {}}},
        {"empty", {WordKind::kEmpty, {}}},
        {"nothing", {WordKind::kNothing, {}}},
        {"vbcrlf", {WordKind::kVbCrLf, {}}},
        {"vbcr", {WordKind::kVbCr, {}}},
        {"vblf", {WordKind::kVbLf, {}}},
        {"vbtab", {WordKind::kVbTab, {}}},
        {"createobject", {WordKind::kCreateObject, {}}},
        {"chr", {WordKind::kFunction, {Builtin::kChr, 1}}},
        {"chrw", {WordKind::kFunction, {Builtin::kChrW, 1}}},
        {"len", {WordKind::kFunction, {Builtin::kLen, 1}}},
        {"left", {WordKind::kFunction, {Builtin::kLeft, 2}}},
        {"right", {WordKind::kFunction, {Builtin::kRight, 2}}},
        {"string", {WordKind::kFunction, {Builtin::kString, 2}}},
        {"space", {WordKind::kFunction, {Builtin::kSpace, 1}}},
        {"cstr", {WordKind::kFunction, {Builtin::kCStr, 1}}},
        {"cint", {WordKind::kFunction, {Builtin::kCInt, 1}}},
        {"clng", {WordKind::kFunction, {Builtin::kCLng, 1}}},
    };
    static constexpr std::string_view kUnsupportedWords[] = {
        // Keywords.
        "and", "or", "not", "xor", "eqv", "imp", "mod", "is", "if", "then",
        "else", "elseif", "end", "for", "each", "in", "next", "to", "step",
        "do", "loop", "while", "wend", "until", "select", "case", "sub",
        "function", "class", "property", "get", "let", "exit", "redim",
        "preserve", "const", "private", "public", "default", "with", "new",
        "null", "me", "erase", "randomize", "execute", "executeglobal", "stop",
        "goto", "resume", "error", "byval", "byref",
        // Functions usually written without parentheses, and constants.
        "now", "date", "time", "timer", "rnd", "msgbox", "inputbox",
        "vbnewline", "vbnullstring", "vbnullchar", "vbformfeed",
        "vbverticaltab", "vbobjecterror", "vbtrue", "vbfalse"};
    for (std::string_view word : kUnsupportedWords) {
      map->emplace(std::string(word), WordInfo{WordKind::kUnsupported, {}});
    }
    return map;
  }();
  return *words;
}

// VBScript functions this host lacks. Their names stay free for variables
// (a report may well count a "year"); only a call of one is refused.
bool IsOtherFunction(const Token& token) {
  // Conversion, date, number and text functions, separated by blanks.
  static constexpr std::string_view kNames =
      " abs array asc ascw atn cbool cbyte ccur cdate cdbl csng cos dateadd"
      " datediff datepart dateserial datevalue day escape eval exp filter"
      " fix formatcurrency formatdatetime formatnumber formatpercent"
      " getobject getref hex hour instr instrrev int isarray isdate isempty"
      " isnull isnumeric isobject join lbound lcase log ltrim mid minute"
      " month monthname oct replace rgb round rtrim second sgn sin split sqr"
      " strcomp strreverse tan timeserial timevalue trim typename ubound"
      " ucase unescape vartype weekday weekdayname year ";
  std::string word = " " + LowerWord(token.text) + " ";
  return kNames.find(word) != std::string_view::npos;
}

WordInfo Classify(const Token& token) {
  const auto& words = Words();
  auto it = words.find(LowerWord(token.text));
  return it == words.end() ? WordInfo{WordKind::kVariable, {}} : it->second;
}

bool IsWord(const Token& token, std::string_view lower) {
  return token.kind == TokenKind::kWord && LowerWord(token.text) == lower;
}

std::string Quoted(const Text& word) { return "'" + ToUtf8(word) + "'"; }

ExprPtr Literal(Value value, int column) {
  auto expr = std::make_unique<Expr>();
  expr->kind = Expr::Kind::kLiteral;
  expr->literal = std::move(value);
  expr->column = column;
  return expr;
}

class Parser {
 public:
  explicit Parser(Program& program) : program_(program) {}

  void ParseLine(TextView text, int line) {
    tokens_ = Tokenize(text, line);
    pos_ = 0;
    line_ = line;
    depth_ = 0;
    if (Peek().kind == TokenKind::kEnd) return;
    ParseStatement();
  }

 private:
  // What `NAME.Method` names when used as a statement.
  struct Target {
    enum class Kind { kEcho, kErrClear, kMethod } kind;
    int variable = -1;
    Text method;
  };

  // Counts one level of nesting for as long as it lives.
  class Nesting {
   public:
    Nesting(Parser& parser, const Token& at) : parser_(parser) {
      if (++parser_.depth_ > kMaxNesting) {
        parser_.Fail(at, "Expression nested too deeply");
      }
    }
    ~Nesting() { --parser_.depth_; }
    Nesting(const Nesting&) = delete;
    Nesting& operator=(const Nesting&) = delete;

   private:
    Parser& parser_;
  };

  const Token& Peek(size_t ahead = 0) const {
    size_t at = pos_ + ahead;
    return at < tokens_.size() ? tokens_[at] : tokens_.back();
  }
  const Token& Next() {
    const Token& token = Peek();
    if (pos_ + 1 < tokens_.size()) ++pos_;
    return token;
  }
  bool Accept(TokenKind kind) {
    if (Peek().kind != kind) return false;
    Next();
    return true;
  }
  const Token& Expect(TokenKind kind, const char* message) {
    if (Peek().kind != kind) Fail(Peek(), message);
    return Next();
  }
  void ExpectEnd() {
    if (Peek().kind != TokenKind::kEnd) {
      Fail(Peek(), "Expected end of statement");
    }
  }
  [[noreturn]] void Fail(const Token& at, const std::string& message) const {
    throw SyntaxError(line_, at.column, message);
  }

  int Variable(const Token& word) {
    std::string key = LowerWord(word.text);
    auto [it, added] = index_.emplace(
        std::move(key), static_cast<int>(program_.variables.size()));
    if (added) program_.variables.push_back(word.text);
    return it->second;
  }
  // A word that must name a variable.
  int ExpectVariable() {
    const Token& token = Peek();
    if (token.kind != TokenKind::kWord) Fail(token, "Expected identifier");
    WordInfo info = Classify(token);
    if (info.kind == WordKind::kUnsupported) {
      Fail(token, Quoted(token.text) + " is not supported");
    }
    if (info.kind != WordKind::kVariable) {
      Fail(token, Quoted(token.text) + " cannot be used as a variable name");
    }
    Next();
    return Variable(token);
  }
  Text ExpectMember() {
    const Token& token = Expect(TokenKind::kWord, "Expected identifier");
    return token.text;
  }

  Statement& Add(Statement::Kind kind, const Token& start) {
    Statement& statement = program_.statements.emplace_back();
    statement.kind = kind;
    statement.line = line_;
    statement.column = start.column;
    return statement;
  }

  void ParseStatement() {
    const Token start = Peek();
    if (start.kind != TokenKind::kWord) Fail(start, "Expected statement");
    WordInfo info = Classify(start);
    switch (info.kind) {
      case WordKind::kOption:
        Next();
        if (!IsWord(Peek(), "explicit")) Fail(Peek(), "Expected 'Explicit'");
        Next();
        ExpectEnd();
        return;
      case WordKind::kDim:
        Next();
        do {
          ExpectVariable();
        } while (Accept(TokenKind::kComma));
        ExpectEnd();
        return;
      case WordKind::kSet:
        Next();
        ParseSet(start);
        return;
      case WordKind::kOn:
        Next();
        ParseOnError(start);
        return;
      case WordKind::kCall: {
        Next();
        Target target = ParseTarget();
        std::vector<ExprPtr> args;
        if (Peek().kind == TokenKind::kOpen) args = ParseArgumentList();
        ExpectEnd();
        AddCall(start, std::move(target), std::move(args));
        return;
      }
      case WordKind::kWScript:
      case WordKind::kErr:
      case WordKind::kVariable:
        if (Peek(1).kind == TokenKind::kDot) {
          Target target = ParseTarget();
          AddCall(start, std::move(target), ParseStatementArguments());
          return;
        }
        if (info.kind == WordKind::kVariable) {
          ParseAssignment(start);
          return;
        }
        Fail(Peek(1), "Expected '.'");
      case WordKind::kUnsupported:
        Fail(start, Quoted(start.text) + " is not supported");
      default:
        Fail(start, "Expected statement");
    }
  }

  void ParseAssignment(const Token& start) {
    int variable = ExpectVariable();
    Expect(TokenKind::kEquals, "Expected '='");
    ExprPtr value = ParseExpression();
    ExpectEnd();
    Statement& statement = Add(Statement::Kind::kAssign, start);
    statement.variable = variable;
    statement.operands.push_back(std::move(value));
  }

  void ParseSet(const Token& start) {
    int variable = ExpectVariable();
    Expect(TokenKind::kEquals, "Expected '='");
    const Token& source = Peek();
    WordInfo info = source.kind == TokenKind::kWord
                        ? Classify(source)
                        : WordInfo{WordKind::kUnsupported, {}};
    if (info.kind == WordKind::kCreateObject) {
      Next();
      Expect(TokenKind::kOpen, "Expected '('");
      ExprPtr progid = ParseExpression();
      Expect(TokenKind::kClose, "Expected ')'");
      ExpectEnd();
      Statement& statement = Add(Statement::Kind::kCreate, start);
      statement.variable = variable;
      statement.operands.push_back(std::move(progid));
    } else if (info.kind == WordKind::kNothing) {
      Next();
      ExpectEnd();
      Add(Statement::Kind::kSetNothing, start).variable = variable;
    } else if (info.kind == WordKind::kVariable &&
               Peek(1).kind == TokenKind::kEnd) {
      int from = ExpectVariable();
      Statement& statement = Add(Statement::Kind::kSetObject, start);
      statement.variable = variable;
      statement.source = from;
    } else {
      Fail(source, "Expected CreateObject, Nothing or an object variable");
    }
  }

  void ParseOnError(const Token& start) {
    if (!IsWord(Peek(), "error")) Fail(Peek(), "Expected 'Error'");
    Next();
    if (IsWord(Peek(), "resume")) {
      Next();
      if (!IsWord(Peek(), "next")) Fail(Peek(), "Expected 'Next'");
      Next();
      ExpectEnd();
      Add(Statement::Kind::kResumeNext, start);
      return;
    }
    if (IsWord(Peek(), "goto")) {
      Next();
      const Token& label = Peek();
      const int16_t* zero = std::get_if<int16_t>(&label.number);
      if (label.kind != TokenKind::kInteger || zero == nullptr || *zero != 0) {
        Fail(label, "Only 'On Error GoTo 0' is supported");
      }
      Next();
      ExpectEnd();
      Add(Statement::Kind::kGoToZero, start);
      return;
    }
    Fail(Peek(), "Expected 'Resume Next' or 'GoTo 0'");
  }

  // NAME.Member in statement position.
  Target ParseTarget() {
    const Token object = Peek();
    if (object.kind != TokenKind::kWord) Fail(object, "Expected identifier");
    WordInfo info = Classify(object);
    Target target;
    if (info.kind == WordKind::kVariable) {
      target.variable = ExpectVariable();
    } else if (info.kind == WordKind::kWScript || info.kind == WordKind::kErr) {
      Next();
    } else if (info.kind == WordKind::kUnsupported) {
      Fail(object, Quoted(object.text) + " is not supported");
    } else {
      Fail(object, "Expected object");
    }
    Expect(TokenKind::kDot, "Expected '.'");
    const Token member = Peek();
    target.method = ExpectMember();
    std::string lower = LowerWord(target.method);
    if (info.kind == WordKind::kWScript) {
      if (lower != "echo") {
        Fail(member,
             "'WScript." + ToUtf8(target.method) + "' is not supported");
      }
      target.kind = Target::Kind::kEcho;
    } else if (info.kind == WordKind::kErr) {
      if (lower != "clear") {
        Fail(member,
             "'Err." + ToUtf8(target.method) + "' is not a statement here");
      }
      target.kind = Target::Kind::kErrClear;
    } else {
      target.kind = Target::Kind::kMethod;
    }
    return target;
  }

  void AddCall(const Token& start, Target target, std::vector<ExprPtr> args) {
    switch (target.kind) {
      case Target::Kind::kEcho:
        Add(Statement::Kind::kEcho, start).operands = std::move(args);
        return;
      case Target::Kind::kErrClear:
        if (!args.empty()) Fail(start, "Err.Clear takes no arguments");
        Add(Statement::Kind::kErrClear, start);
        return;
      case Target::Kind::kMethod: {
        Statement& statement = Add(Statement::Kind::kCall, start);
        statement.variable = target.variable;
        statement.method = std::move(target.method);
        statement.operands = std::move(args);
        return;
      }
    }
  }

  // Arguments of a call statement without Call: not enclosed in
  // parentheses. `(a)` alone is one argument passed by value; `(a, b)` is
  // the mistake VBScript rejects.
  std::vector<ExprPtr> ParseStatementArguments() {
    std::vector<ExprPtr> args;
    if (Peek().kind == TokenKind::kEnd) return args;
    if (Peek().kind == TokenKind::kOpen) {
      if (Peek(1).kind == TokenKind::kClose &&
          Peek(2).kind == TokenKind::kEnd) {
        Next();
        Next();
        return args;
      }
      if (ParenthesesHoldComma()) {
        Fail(Peek(), "Cannot use parentheses when calling a Sub");
      }
    }
    do {
      args.push_back(ParseExpression());
    } while (Accept(TokenKind::kComma));
    ExpectEnd();
    return args;
  }

  // Whether the parenthesis at the cursor encloses a comma of its own.
  bool ParenthesesHoldComma() const {
    int depth = 0;
    for (size_t at = pos_; at < tokens_.size(); ++at) {
      switch (tokens_[at].kind) {
        case TokenKind::kOpen:
          ++depth;
          break;
        case TokenKind::kClose:
          if (--depth == 0) return false;
          break;
        case TokenKind::kComma:
          if (depth == 1) return true;
          break;
        default:
          break;
      }
    }
    return false;
  }

  // "(" [expression {"," expression}] ")"
  std::vector<ExprPtr> ParseArgumentList() {
    Nesting nesting(*this, Peek());
    Expect(TokenKind::kOpen, "Expected '('");
    std::vector<ExprPtr> args;
    if (Accept(TokenKind::kClose)) return args;
    do {
      args.push_back(ParseExpression());
    } while (Accept(TokenKind::kComma));
    Expect(TokenKind::kClose, "Expected ')'");
    return args;
  }

  ExprPtr ParseExpression() {
    int column = Peek().column;
    ExprPtr first = ParseUnary();
    if (Peek().kind != TokenKind::kAmpersand) return first;
    // One node for the whole chain keeps evaluation flat however long it is.
    auto concat = std::make_unique<Expr>();
    concat->kind = Expr::Kind::kConcat;
    concat->column = column;
    concat->operands.push_back(std::move(first));
    while (Accept(TokenKind::kAmpersand)) {
      concat->operands.push_back(ParseUnary());
    }
    return concat;
  }

  ExprPtr ParseUnary() {
    int column = Peek().column;
    int negations = 0;
    // Counted rather than nested, so a long run of minuses costs no stack.
    while (Accept(TokenKind::kMinus)) ++negations;
    ExprPtr operand = ParsePrimary();
    if (negations == 0) return operand;
    auto negate = std::make_unique<Expr>();
    negate->kind = Expr::Kind::kNegate;
    negate->column = column;
    negate->negations = negations;
    negate->operands.push_back(std::move(operand));
    return negate;
  }

  ExprPtr ParsePrimary() {
    const Token token = Peek();
    switch (token.kind) {
      case TokenKind::kString:
        Next();
        return Literal(token.text, token.column);
      case TokenKind::kInteger:
        Next();
        return Literal(token.number, token.column);
      case TokenKind::kOpen: {
        Nesting nesting(*this, token);
        Next();
        ExprPtr inner = ParseExpression();
        Expect(TokenKind::kClose, "Expected ')'");
        inner->grouped = true;
        return inner;
      }
      case TokenKind::kWord:
        return ParseWord();
      default:
        Fail(token, "Expected expression");
    }
  }

  ExprPtr ParseWord() {
    const Token token = Next();
    WordInfo info = Classify(token);
    switch (info.kind) {
      case WordKind::kTrue:
        return Literal(true, token.column);
      case WordKind::kFalse:
        return Literal(false, token.column);
      case WordKind::kEmpty:
        return Literal(Value{}, token.column);
      case WordKind::kVbCrLf:
        return Literal(Text(u"\r\n"), token.column);
      case WordKind::kVbCr:
        return Literal(Text(u"\r"), token.column);
      case WordKind::kVbLf:
        return Literal(Text(u"\n"), token.column);
      case WordKind::kVbTab:
        return Literal(Text(u"\t"), token.column);
      case WordKind::kErr: {
        auto expr = std::make_unique<Expr>();
        expr->column = token.column;
        expr->kind = Expr::Kind::kErrNumber;  // Number is Err's default
        if (Accept(TokenKind::kDot)) {
          const Token member = Peek();
          std::string lower = LowerWord(ExpectMember());
          if (lower == "description") {
            expr->kind = Expr::Kind::kErrDescription;
          } else if (lower != "number") {
            Fail(member, "'Err." + ToUtf8(member.text) +
                             "' is not supported in an expression");
          }
        }
        return expr;
      }
      case WordKind::kFunction: {
        auto expr = std::make_unique<Expr>();
        expr->kind = Expr::Kind::kFunction;
        expr->column = token.column;
        expr->function = info.function.builtin;
        if (Peek().kind != TokenKind::kOpen) Fail(Peek(), "Expected '('");
        expr->operands = ParseArgumentList();
        if (expr->operands.size() != info.function.arity) {
          Fail(token, "Wrong number of arguments: " + Quoted(token.text));
        }
        return expr;
      }
      case WordKind::kVariable: {
        auto expr = std::make_unique<Expr>();
        expr->column = token.column;
        expr->variable = Variable(token);
        if (Accept(TokenKind::kDot)) {
          expr->kind = Expr::Kind::kMethod;
          expr->method = ExpectMember();
          if (Peek().kind == TokenKind::kOpen) {
            expr->operands = ParseArgumentList();
          }
          return expr;
        }
        if (Peek().kind == TokenKind::kOpen) {
          Fail(token, IsOtherFunction(token)
                          ? Quoted(token.text) + " is not supported"
                          : "Unknown function " + Quoted(token.text));
        }
        expr->kind = Expr::Kind::kVariable;
        return expr;
      }
      case WordKind::kCreateObject:
        Fail(token, "CreateObject needs Set: Set NAME = CreateObject(...)");
      case WordKind::kNothing:
        Fail(token, "Nothing is only allowed in Set");
      case WordKind::kUnsupported:
        Fail(token, Quoted(token.text) + " is not supported");
      default:
        Fail(token, "Expected expression");
    }
  }

  Program& program_;
  std::vector<Token> tokens_;
  size_t pos_ = 0;
  int line_ = 1;
  int depth_ = 0;
  std::unordered_map<std::string, int> index_;
};

}  // namespace

ParseResult Parse(TextView source) {
  ParseResult result;
  Parser parser(result.program);
  int line = 1;
  size_t start = 0;
  try {
    while (start <= source.size()) {
      size_t end = start;
      while (end < source.size() && source[end] != u'\n' &&
             source[end] != u'\r') {
        ++end;
      }
      parser.ParseLine(source.substr(start, end - start), line);
      if (end >= source.size()) break;
      // CR LF is one line end.
      end += (source[end] == u'\r' && end + 1 < source.size() &&
              source[end + 1] == u'\n')
                 ? 2
                 : 1;
      start = end;
      ++line;
    }
  } catch (const SyntaxError& error) {
    result.error = error;
  }
  return result;
}

}  // namespace pellar
