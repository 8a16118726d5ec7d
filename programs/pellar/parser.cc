#include "parser.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "builtins.h"
#include <pellar/base/text_internal.h>

namespace pellar {
namespace script {

StatementPosition Program::PositionOf(int32_t node) const {
  auto it = std::lower_bound(
      positions.begin(), positions.end(), node,
      [](const StatementPosition& p, int32_t n) { return p.node < n; });
  if (it == positions.end() || it->node != node) return {node, 0, 0};
  return *it;
}

size_t Program::TreeBytes() const {
  size_t bytes = nodes.size() * sizeof(Node) + lists.size() * sizeof(int32_t) +
                 constants.size() * sizeof(Var) +
                 positions.size() * sizeof(StatementPosition) +
                 procedures.size() * sizeof(Procedure);
  for (const std::string& n : names) bytes += sizeof(n) + n.size();
  for (const Procedure& p : procedures) {
    for (const std::string& n : p.local_names) bytes += sizeof(n) + n.size();
  }
  return bytes;
}

size_t Program::TextBytes() const {
  size_t bytes = 0;
  for (const Var& c : constants) {
    if (c.is_string())
      bytes += sizeof(StrBox) + c.str().size() * sizeof(char16_t);
  }
  return bytes;
}

namespace {

// Words that cannot name a variable.
bool IsReserved(std::string_view w) {
  static const std::unordered_set<std::string_view> kWords = {
      "and",    "or",    "not",      "xor",    "eqv",    "imp",      "mod",
      "is",     "if",    "then",     "else",   "elseif", "end",      "for",
      "each",   "in",    "next",     "to",     "do",     "loop",     "while",
      "wend",   "until", "select",   "case",   "sub",    "function", "class",
      "exit",   "redim", "const",    "dim",    "set",    "call",     "on",
      "option", "new",   "nothing",  "empty",  "null",   "true",     "false",
      "byval",  "byref", "private",  "public", "with",   "me",       "erase",
      "let",    "get",   "property", "goto",   "stop"};
  return kWords.count(w) != 0;
}

struct Scope {
  int proc = -1;  // -1: the global code
  std::unordered_map<std::string, int32_t> locals;
  std::vector<int32_t> names;    // kName nodes used here
  std::vector<int32_t> indexes;  // kIndex nodes whose base is a kName
  std::unordered_set<int32_t> calls;          // kName nodes run as a statement
  std::unordered_set<std::string> constants;  // names declared by Const
};

class Parser {
 public:
  Parser(Program& p, NameScope* env, bool expression)
      : p_(p), env_(env), expression_(expression) {}

  void ParseProgram(TextView source) {
    tokens_ = Tokenize(source);
    scopes_.emplace_back();
    if (env_ != nullptr) p_.option_explicit = env_->option_explicit;
    if (expression_) {
      SkipNewlines();
      p_.main = ParseExpression();
      SkipNewlines();
      if (Peek().kind != TokenKind::kEnd)
        Fail(Peek(), "Expected end of statement");
    } else {
      std::vector<int32_t> block;
      while (true) {
        SkipNewlines();
        if (Peek().kind == TokenKind::kEnd) break;
        ParseStatementInto(block, /*global=*/true);
      }
      p_.main = MakeList(block);
    }
    Resolve();
    for (const Scope& s : proc_scopes_) {
      Procedure& proc = p_.procedures[s.proc];
      proc.local_names.resize(proc.locals);
      for (const auto& [name, slot] : s.locals) proc.local_names[slot] = name;
      if (proc.result_slot >= 0)
        proc.local_names[proc.result_slot] = LowerWord(proc.name);
    }
    std::sort(p_.positions.begin(), p_.positions.end(),
              [](const StatementPosition& a, const StatementPosition& b) {
                return a.node < b.node;
              });
  }

 private:
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

  // ---- tokens -------------------------------------------------------------

  const Token& Peek(size_t ahead = 0) const {
    size_t at = pos_ + ahead;
    return at < tokens_.size() ? tokens_[at] : tokens_.back();
  }
  const Token& Next() {
    const Token& t = Peek();
    if (pos_ + 1 < tokens_.size()) ++pos_;
    return t;
  }
  bool IsWord(const Token& t, std::string_view lower) const {
    return t.kind == TokenKind::kWord && t.text.size() == lower.size() &&
           LowerWord(t.text) == lower;
  }
  bool AcceptWord(std::string_view lower) {
    if (!IsWord(Peek(), lower)) return false;
    Next();
    return true;
  }
  void ExpectWord(std::string_view lower, const char* what) {
    if (!AcceptWord(lower))
      Fail(Peek(), std::string("Expected '") + what + "'");
  }
  bool IsOp(const Token& t, std::u16string_view op) const {
    return t.kind == TokenKind::kOperator && t.text == op;
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
  bool AtStatementEnd() const {
    const Token& t = Peek();
    return t.kind == TokenKind::kNewline || t.kind == TokenKind::kEnd ||
           (single_line_if_ > 0 && IsWord(t, "else"));
  }
  void ExpectStatementEnd() {
    if (!AtStatementEnd()) Fail(Peek(), "Expected end of statement");
  }
  void SkipNewlines() {
    while (Peek().kind == TokenKind::kNewline) Next();
  }
  [[noreturn]] void Fail(const Token& at, const std::string& message) const {
    throw SyntaxError(at.line, at.column, message);
  }

  // ---- tree ---------------------------------------------------------------

  int32_t Add(Op op, int32_t a = -1, int32_t b = -1, uint8_t flag = 0) {
    Node n;
    n.op = op;
    n.flag = flag;
    n.a = a;
    n.b = b;
    p_.nodes.push_back(n);
    return static_cast<int32_t>(p_.nodes.size() - 1);
  }
  int32_t AddStatement(Op op, const Token& at) {
    int32_t n = Add(op);
    p_.positions.push_back({n, at.line, at.column});
    return n;
  }
  int32_t MakeList(const std::vector<int32_t>& items) {
    int32_t at = static_cast<int32_t>(p_.lists.size());
    p_.lists.push_back(static_cast<int32_t>(items.size()));
    p_.lists.insert(p_.lists.end(), items.begin(), items.end());
    return at;
  }
  // Equal literals share one entry of the constant pool.
  int32_t Constant(Var v) {
    Text key = Decimal(static_cast<int>(v.type())) + u":" +
               (v.is_string()   ? v.str()
                : v.is_object() ? Text()
                                : EchoText(v));
    auto [it, added] = constant_index_.emplace(
        std::move(key), static_cast<int32_t>(p_.constants.size()));
    if (added) p_.constants.push_back(std::move(v));
    return Add(Op::kConst, it->second);
  }
  int32_t NameIndex(const Text& word) {
    std::string lower = LowerWord(word);
    auto [it, added] =
        name_index_.emplace(lower, static_cast<int32_t>(p_.names.size()));
    if (added) {
      p_.names.push_back(lower);
      spelling_.push_back(word);
    }
    return it->second;
  }
  Scope& scope() { return scopes_.back(); }
  int32_t NameNode(const Token& word) {
    if (IsReserved(LowerWord(word.text))) {
      Fail(word, "Expected identifier");
    }
    int32_t n = Add(Op::kName, NameIndex(word.text));
    name_pos_[n] = {word.line, word.column};
    scope().names.push_back(n);
    return n;
  }
  const Token& ExpectIdentifier() {
    const Token& t = Peek();
    if (t.kind != TokenKind::kWord || IsReserved(LowerWord(t.text))) {
      Fail(t, "Expected identifier");
    }
    return Next();
  }
  // Whether `word` is already declared in the current scope.
  bool DeclaredHere(const Token& word) {
    const std::string lower = LowerWord(word.text);
    const Scope& s = scope();
    if (s.proc >= 0) return s.locals.count(lower) != 0;
    return env_ != nullptr ? env_slots_.count(lower) != 0
                           : global_slots_.count(lower) != 0;
  }
  // Declares `word` in the current scope (Dim, Const, ReDim of a new name).
  void Declare(const Token& word) {
    std::string lower = LowerWord(word.text);
    Scope& s = scope();
    if (s.proc < 0 && env_ != nullptr) {
      if (!env_slots_.count(lower)) env_slots_[lower] = env_->Declare(lower);
    } else if (s.proc < 0) {
      if (!global_slots_.count(lower)) {
        global_slots_[lower] = static_cast<int32_t>(p_.globals.size());
        p_.globals.push_back(word.text);
      }
    } else if (!s.locals.count(lower)) {
      s.locals[lower] = p_.procedures[s.proc].locals++;
    }
  }

  // ---- statements ---------------------------------------------------------

  // Statements until one of the words ending a block; the caller checks
  // which one it is.
  std::vector<int32_t> ParseBlock(std::initializer_list<std::string_view> ends,
                                  const char* expected) {
    Nesting nesting(*this, Peek());
    std::vector<int32_t> block;
    while (true) {
      SkipNewlines();
      const Token& t = Peek();
      if (t.kind == TokenKind::kEnd) Fail(t, expected);
      for (std::string_view end : ends) {
        if (IsWord(t, end)) return block;
      }
      for (std::string_view other :
           {"end", "else", "elseif", "case", "next", "loop", "wend"}) {
        if (IsWord(t, other)) Fail(t, expected);
      }
      ParseStatementInto(block, false);
    }
  }

  void ExpectEndWord(std::string_view word, const char* message) {
    if (!AcceptWord("end") || !AcceptWord(word)) Fail(Peek(), message);
  }

  void ParseStatementInto(std::vector<int32_t>& block, bool global) {
    const Token& start = Peek();
    if (start.kind != TokenKind::kWord && start.kind != TokenKind::kDot)
      Fail(start, "Expected statement");
    std::string w = LowerWord(start.text);
    if ((w == "public" || w == "private") && global) {
      Next();
      const Token& t = Peek();
      if (IsWord(t, "sub") || IsWord(t, "function") || IsWord(t, "const")) {
        ParseStatementInto(block, global);
        return;
      }
      ParseDim(block, start);
      return;
    }
    if (w == "sub" || w == "function") {
      if (!global || scope().proc >= 0) Fail(start, "Expected statement");
      ParseProcedure(-1, true, false);
      return;
    }
    if (w == "class") {
      if (!global || scope().proc >= 0) Fail(start, "Expected statement");
      // Instances refer to their class by its place in the script's tree.
      if (env_ != nullptr) {
        Fail(start,
             "Expected statement: an executed text cannot declare a Class");
      }
      ParseClass();
      return;
    }
    int32_t n = ParseStatement();
    if (n >= 0) block.push_back(n);
    if (w == "dim" || w == "const" || w == "redim") {
      // Several declarations of one statement follow as their own nodes.
      for (int32_t extra : pending_) block.push_back(extra);
      pending_.clear();
    }
    if (!AtStatementEnd()) Fail(Peek(), "Expected end of statement");
    if (Peek().kind == TokenKind::kNewline && single_line_if_ == 0) Next();
  }

  // One statement; -1 when it leaves nothing to run (Option Explicit).
  int32_t ParseStatement() {
    const Token start = Peek();
    if (start.kind == TokenKind::kDot) return ParseAssignOrCall(start);
    if (start.kind != TokenKind::kWord) Fail(start, "Expected statement");
    std::string w = LowerWord(start.text);
    if (w == "option") {
      Next();
      ExpectWord("explicit", "Explicit");
      p_.option_explicit = true;
      return -1;
    }
    if (w == "dim") {
      std::vector<int32_t> block;
      ParseDim(block, start);
      return TakeFirst(block);
    }
    if (w == "redim") {
      Next();
      uint8_t flag = AcceptWord("preserve") ? 2 : 1;
      std::vector<int32_t> block;
      do {
        const Token& name = ExpectIdentifier();
        // ReDim declares the name only where no declaration is in sight.
        std::string lower = LowerWord(name.text);
        Node outer;
        if (!global_slots_.count(lower) &&
            (scope().proc < 0 || !scope().locals.count(lower)) &&
            !IsFieldOfCurrentClass(lower) &&
            (env_ == nullptr ||
             (!env_slots_.count(lower) &&
              !env_->Find(lower, scope().proc >= 0, &outer)))) {
          Declare(name);
        }
        int32_t var = NameNode(name);
        Expect(TokenKind::kOpen, "Expected '('");
        int32_t bounds = ParseExpressionList(TokenKind::kClose);
        Expect(TokenKind::kClose, "Expected ')'");
        int32_t n = AddStatement(Op::kDim, start);
        p_.nodes[n].a = var;
        p_.nodes[n].b = bounds;
        p_.nodes[n].flag = flag;
        block.push_back(n);
      } while (Accept(TokenKind::kComma));
      return TakeFirst(block);
    }
    if (w == "const") {
      Next();
      std::vector<int32_t> block;
      do {
        const Token& name = ExpectIdentifier();
        if (DeclaredHere(name)) Fail(name, "Name redefined");
        Declare(name);
        scope().constants.insert(LowerWord(name.text));
        int32_t var = NameNode(name);
        if (!IsOp(Peek(), u"=")) Fail(Peek(), "Expected '='");
        Next();
        int32_t value = ParseExpression();
        int32_t n = AddStatement(Op::kAssign, start);
        p_.nodes[n].a = var;
        p_.nodes[n].b = value;
        block.push_back(n);
      } while (Accept(TokenKind::kComma));
      return TakeFirst(block);
    }
    if (w == "erase") {
      Next();
      int32_t n = AddStatement(Op::kErase, start);
      p_.nodes[n].a = NameNode(ExpectIdentifier());
      return n;
    }
    if (w == "set") {
      Next();
      int32_t n = AddStatement(Op::kAssign, start);
      int32_t target = ParseChain().node;
      if (!IsOp(Peek(), u"=")) Fail(Peek(), "Expected '='");
      Next();
      p_.nodes[n].a = target;
      p_.nodes[n].b = ParseExpression();
      p_.nodes[n].flag = 1;
      return n;
    }
    if (w == "if") return ParseIf();
    if (w == "select") return ParseSelect();
    if (w == "for") return ParseFor();
    if (w == "do") return ParseDo();
    if (w == "while") {
      Next();
      int32_t n = AddStatement(Op::kDo, start);
      p_.nodes[n].flag = static_cast<uint8_t>(DoKind::kWhileTop);
      p_.nodes[n].a = ParseExpression();
      p_.nodes[n].b = MakeList(ParseBlock({"wend"}, "Expected 'Wend'"));
      ExpectWord("wend", "Wend");
      return n;
    }
    if (w == "exit") {
      Next();
      ExitKind kind;
      const Token& what = Peek();
      if (IsWord(what, "for")) {
        kind = ExitKind::kFor;
        if (loops_for_ == 0) Fail(start, "Invalid 'exit' statement");
      } else if (IsWord(what, "do")) {
        kind = ExitKind::kDo;
        if (loops_do_ == 0) Fail(start, "Invalid 'exit' statement");
      } else if (IsWord(what, "sub") || IsWord(what, "function") ||
                 IsWord(what, "property")) {
        kind = IsWord(what, "sub")        ? ExitKind::kSub
               : IsWord(what, "function") ? ExitKind::kFunction
                                          : ExitKind::kProperty;
        const ProcKind in = scope().proc < 0 ? ProcKind::kSub
                                             : p_.procedures[scope().proc].kind;
        const bool fits = kind == ExitKind::kSub ? in == ProcKind::kSub
                          : kind == ExitKind::kFunction
                              ? in == ProcKind::kFunction
                              : in >= ProcKind::kGet;
        if (scope().proc < 0 || !fits) Fail(start, "Invalid 'exit' statement");
      } else {
        Fail(what, "Invalid 'exit' statement");
      }
      Next();
      int32_t n = AddStatement(Op::kExit, start);
      p_.nodes[n].flag = static_cast<uint8_t>(kind);
      return n;
    }
    if (w == "on") {
      Next();
      ExpectWord("error", "Error");
      int32_t n = AddStatement(Op::kOnError, start);
      if (AcceptWord("resume")) {
        ExpectWord("next", "Next");
        p_.nodes[n].flag = 1;
      } else if (AcceptWord("goto")) {
        const Token& label = Peek();
        if (label.kind != TokenKind::kNumber || label.number != 0) {
          Fail(label, "Only 'On Error GoTo 0' is supported");
        }
        Next();
      } else {
        Fail(Peek(), "Expected 'Resume Next' or 'GoTo 0'");
      }
      return n;
    }
    if (w == "call") {
      Next();
      int32_t n = AddStatement(Op::kCall, start);
      Chain chain = ParseChain();
      p_.nodes[n].a = chain.node;
      return n;
    }
    if (w == "with") return ParseWith();
    if (w == "stop" || w == "goto") {
      Fail(start, "'" + ToUtf8(start.text) + "' is not supported");
    }
    if (w == "me") return ParseAssignOrCall(start);
    if (IsReserved(w) || w == "else" || w == "elseif") {
      Fail(start, "Expected statement");
    }
    return ParseAssignOrCall(start);
  }

  int32_t TakeFirst(std::vector<int32_t>& block) {
    int32_t first = block.empty() ? -1 : block.front();
    pending_.assign(block.begin() + (block.empty() ? 0 : 1), block.end());
    return first;
  }

  void ParseDim(std::vector<int32_t>& block, const Token& start) {
    if (IsWord(Peek(), "dim")) Next();
    do {
      const Token& name = ExpectIdentifier();
      if (scope().constants.count(LowerWord(name.text)))
        Fail(name, "Name redefined");
      Declare(name);
      int32_t var = NameNode(name);
      if (Accept(TokenKind::kOpen)) {
        int32_t bounds = ParseExpressionList(TokenKind::kClose);
        Expect(TokenKind::kClose, "Expected ')'");
        int32_t n = AddStatement(Op::kDim, start);
        p_.nodes[n].a = var;
        p_.nodes[n].b = bounds;
        block.push_back(n);
      }
    } while (Accept(TokenKind::kComma));
  }

  // A Sub, a Function, or (in a class, `cls` >= 0) a Property procedure.
  void ParseProcedure(int32_t cls, bool is_public, bool is_default) {
    const Token& kind_word = Next();
    ProcKind kind = IsWord(kind_word, "sub")        ? ProcKind::kSub
                    : IsWord(kind_word, "function") ? ProcKind::kFunction
                                                    : ProcKind::kGet;
    if (IsWord(kind_word, "property")) {
      if (AcceptWord("let"))
        kind = ProcKind::kLet;
      else if (AcceptWord("set"))
        kind = ProcKind::kSet;
      else if (!AcceptWord("get"))
        Fail(Peek(), "Expected 'Get', 'Let' or 'Set'");
    }
    const bool is_function =
        kind == ProcKind::kFunction || kind == ProcKind::kGet;
    const Token& name = ExpectIdentifier();
    std::string lower = LowerWord(name.text);
    int32_t id = static_cast<int32_t>(p_.procedures.size());
    if (cls < 0) {
      Node outer;
      if (proc_index_.count(lower) || global_slots_.count(lower) ||
          class_index_.count(lower) ||
          (env_ != nullptr && env_->Find(lower, true, &outer) &&
           outer.op == Op::kCallProc)) {
        Fail(name, "Name redefined");
      }
      proc_index_[lower] = id;
    } else {
      ClassDef& c = p_.classes[static_cast<size_t>(cls)];
      ClassMember& m = MemberOf(c, name);
      int32_t* place = kind == ProcKind::kGet   ? &m.get
                       : kind == ProcKind::kLet ? &m.let
                       : kind == ProcKind::kSet ? &m.set
                                                : &m.method;
      const bool property = kind >= ProcKind::kGet;
      if (*place >= 0 || m.field >= 0 ||
          (property ? m.method >= 0 : m.get >= 0 || m.let >= 0 || m.set >= 0)) {
        Fail(name, "Name redefined");
      }
      *place = id;
      if (is_default) {
        if (!is_function)
          Fail(kind_word, "Expected 'Function' or 'Property Get'");
        if (c.default_member >= 0) {
          Fail(name, "Cannot have multiple default property/method in a Class");
        }
        c.default_member = c.by_text[lower];
      }
      if (lower == "class_initialize" || lower == "class_terminate") {
        if (kind != ProcKind::kSub) Fail(name, "Expected 'Sub'");
        (lower == "class_initialize" ? c.initialize : c.terminate) = id;
      }
    }
    Procedure proc;
    proc.name = name.text;
    proc.is_function = is_function;
    proc.kind = kind;
    proc.cls = cls;
    proc.is_public = is_public;
    p_.procedures.push_back(proc);
    Scope s;
    s.proc = id;
    scopes_.push_back(std::move(s));
    if (Accept(TokenKind::kOpen)) {
      if (!Accept(TokenKind::kClose)) {
        do {
          bool by_val = false;
          if (AcceptWord("byval"))
            by_val = true;
          else
            AcceptWord("byref");
          const Token& param = ExpectIdentifier();
          if (Accept(TokenKind::kOpen))
            Expect(TokenKind::kClose, "Expected ')'");
          std::string pl = LowerWord(param.text);
          if (scope().locals.count(pl)) Fail(param, "Name redefined");
          scope().locals[pl] = p_.procedures[id].locals++;
          p_.procedures[id].by_val.push_back(by_val);
        } while (Accept(TokenKind::kComma));
        Expect(TokenKind::kClose, "Expected ')'");
      }
    }
    p_.procedures[id].params = p_.procedures[id].locals;
    if ((kind == ProcKind::kLet || kind == ProcKind::kSet) &&
        p_.procedures[id].params == 0) {
      Fail(name, "Property set or let must have at least one argument");
    }
    if ((p_.procedures[id].params != 0) &&
        (id == InitOrTerminate(cls, "class_initialize") ||
         id == InitOrTerminate(cls, "class_terminate"))) {
      Fail(name, "Class initialize or terminate do not have arguments");
    }
    if (is_function) {
      p_.procedures[id].result_slot = p_.procedures[id].locals++;
    }
    if (Peek().kind != TokenKind::kNewline)
      Fail(Peek(), "Expected end of statement");
    const char* end_word = kind == ProcKind::kSub        ? "sub"
                           : kind == ProcKind::kFunction ? "function"
                                                         : "property";
    const char* expected = kind == ProcKind::kSub ? "Expected 'End Sub'"
                           : kind == ProcKind::kFunction
                               ? "Expected 'End Function'"
                               : "Expected 'End Property'";
    std::vector<int32_t> body = ParseBlock({"end"}, expected);
    if (!AcceptWord("end") || !AcceptWord(end_word)) Fail(Peek(), expected);
    p_.procedures[id].body = MakeList(body);
    proc_scopes_.push_back(std::move(scopes_.back()));
    scopes_.pop_back();
  }

  int32_t InitOrTerminate(int32_t cls, std::string_view which) const {
    if (cls < 0) return -1;
    const ClassDef& c = p_.classes[static_cast<size_t>(cls)];
    return which == "class_initialize" ? c.initialize : c.terminate;
  }

  // The member of `c` named `word`, made when new.
  ClassMember& MemberOf(ClassDef& c, const Token& word) {
    std::string lower = LowerWord(word.text);
    auto [it, added] =
        c.by_text.emplace(lower, static_cast<int32_t>(c.members.size()));
    if (added) {
      ClassMember m;
      m.name = NameIndex(word.text);
      if (m.name > 0xFFFF) Fail(word, "Too many names");
      c.members.push_back(m);
      c.by_name[m.name] = it->second;
    }
    return c.members[static_cast<size_t>(it->second)];
  }

  bool IsFieldOfCurrentClass(const std::string& lower) const {
    if (current_class_ < 0) return false;
    const ClassDef& c = p_.classes[static_cast<size_t>(current_class_)];
    auto it = c.by_text.find(lower);
    return it != c.by_text.end() &&
           c.members[static_cast<size_t>(it->second)].field >= 0;
  }

  // Class NAME, its member variables and procedures, End Class.
  void ParseClass() {
    Next();
    const Token& name = ExpectIdentifier();
    std::string lower = LowerWord(name.text);
    if (class_index_.count(lower) || proc_index_.count(lower) ||
        global_slots_.count(lower)) {
      Fail(name, "Name redefined");
    }
    const int32_t id = static_cast<int32_t>(p_.classes.size());
    class_index_[lower] = id;
    p_.classes.emplace_back();
    p_.classes.back().name = name.text;
    ExpectStatementEnd();
    current_class_ = id;
    while (true) {
      SkipNewlines();
      const Token& t = Peek();
      if (t.kind == TokenKind::kEnd) Fail(t, "Expected 'End Class'");
      if (AcceptWord("end")) {
        ExpectWord("class", "Class");
        break;
      }
      bool is_public = true, is_default = false, access = false;
      if (AcceptWord("public")) {
        access = true;
        is_default = AcceptWord("default");
      } else if (AcceptWord("private")) {
        access = true;
        is_public = false;
      }
      const Token& what = Peek();
      if (IsWord(what, "sub") || IsWord(what, "function") ||
          IsWord(what, "property")) {
        ParseProcedure(id, is_public, is_default);
      } else if (is_default) {
        Fail(what, "Expected 'Function' or 'Property Get'");
      } else if (access || AcceptWord("dim")) {
        ParseFields(id, is_public);
      } else {
        Fail(what, "Expected 'End Class'");
      }
      ExpectStatementEnd();
    }
    current_class_ = -1;
  }

  // Member variables: NAME, NAME(3), NAME() ...; bounds are literals.
  void ParseFields(int32_t cls, bool is_public) {
    ClassDef& c = p_.classes[static_cast<size_t>(cls)];
    do {
      const Token& name = ExpectIdentifier();
      ClassMember& m = MemberOf(c, name);
      if (m.field >= 0 || m.method >= 0 || m.get >= 0 || m.let >= 0 ||
          m.set >= 0) {
        Fail(name, "Name redefined");
      }
      m.field = static_cast<int32_t>(c.fields.size());
      m.field_public = is_public;
      ClassField field;
      field.name = name.text;
      if (Accept(TokenKind::kOpen)) {
        field.array = true;
        if (!Accept(TokenKind::kClose)) {
          do {
            const Token& bound = Peek();
            if (bound.kind != TokenKind::kNumber || !bound.integral ||
                bound.number > INT32_MAX) {
              Fail(bound, "Expected integer constant");
            }
            field.bounds.push_back(static_cast<int32_t>(Next().number));
          } while (Accept(TokenKind::kComma));
          Expect(TokenKind::kClose, "Expected ')'");
        }
      }
      c.fields.push_back(std::move(field));
    } while (Accept(TokenKind::kComma));
  }

  // With OBJECT ... End With: the object sits in a hidden slot that
  // ".Member" reads.
  int32_t ParseWith() {
    const Token start = Next();
    int32_t n = AddStatement(Op::kWith, start);
    int32_t object = ParseExpression();
    int32_t slot;
    if (scope().proc < 0) {
      slot = Add(Op::kGlobal, static_cast<int32_t>(p_.globals.size()));
      p_.globals.push_back(Text());
    } else {
      slot = Add(Op::kLocal, p_.procedures[scope().proc].locals++);
    }
    with_slots_.push_back(slot);
    int32_t body = MakeList(ParseBlock({"end"}, "Expected 'End With'"));
    with_slots_.pop_back();
    ExpectEndWord("with", "Expected 'End With'");
    p_.nodes[n].a = slot;
    p_.nodes[n].b = MakeList({object, body});
    return n;
  }

  int32_t ParseIf() {
    const Token start = Next();
    int32_t n = AddStatement(Op::kIf, start);
    p_.nodes[n].a = ParseExpression();
    ExpectWord("then", "Then");
    if (Peek().kind != TokenKind::kNewline || Peek().text == u":") {
      // One line: statements up to the line end, perhaps an Else part,
      // which may hold another If: they nest like blocks.
      Nesting nesting(*this, start);
      if (Peek().kind == TokenKind::kNewline) Next();
      ++single_line_if_;
      int32_t then_block = MakeList(ParseLineStatements());
      int32_t else_block = -1;
      if (AcceptWord("else")) else_block = MakeList(ParseLineStatements());
      --single_line_if_;
      if (AcceptWord("end")) ExpectWord("if", "If");
      p_.nodes[n].b = MakeList({then_block, else_block});
      return n;
    }
    // Each ElseIf is an If in the Else block of the one before.
    std::vector<std::pair<int32_t, int32_t>> chain;  // (If node, then block)
    chain.emplace_back(n, MakeList(ParseBlock({"elseif", "else", "end"},
                                              "Expected 'End If'")));
    while (IsWord(Peek(), "elseif")) {
      const Token at = Next();
      int32_t inner = AddStatement(Op::kIf, at);
      p_.nodes[inner].a = ParseExpression();
      ExpectWord("then", "Then");
      chain.emplace_back(inner, MakeList(ParseBlock({"elseif", "else", "end"},
                                                    "Expected 'End If'")));
    }
    int32_t else_block = -1;
    if (AcceptWord("else"))
      else_block = MakeList(ParseBlock({"end"}, "Expected 'End If'"));
    ExpectEndWord("if", "Expected 'End If'");
    for (size_t k = chain.size(); k-- > 0;) {
      p_.nodes[chain[k].first].b = MakeList({chain[k].second, else_block});
      else_block = MakeList({chain[k].first});
    }
    return n;
  }

  std::vector<int32_t> ParseLineStatements() {
    std::vector<int32_t> block;
    while (true) {
      int32_t s = ParseStatement();
      if (s >= 0) block.push_back(s);
      for (int32_t extra : pending_) block.push_back(extra);
      pending_.clear();
      if (Peek().kind == TokenKind::kNewline && Peek().text == u":") {
        Next();
        if (IsWord(Peek(), "else") || Peek().kind == TokenKind::kNewline) break;
        continue;
      }
      break;
    }
    if (!AtStatementEnd()) Fail(Peek(), "Expected end of statement");
    return block;
  }

  int32_t ParseSelect() {
    const Token start = Next();
    ExpectWord("case", "Case");
    int32_t n = AddStatement(Op::kSelect, start);
    p_.nodes[n].a = ParseExpression();
    if (Peek().kind != TokenKind::kNewline)
      Fail(Peek(), "Expected end of statement");
    SkipNewlines();
    std::vector<int32_t> cases;
    while (AcceptWord("case")) {
      int32_t c = Add(Op::kCase);
      if (AcceptWord("else")) {
        p_.nodes[c].a = -1;
      } else {
        std::vector<int32_t> tests;
        do {
          if (AcceptWord("is")) {
            const Token& op = Next();
            BinOp bop;
            if (!ComparisonOp(op, &bop))
              Fail(op, "Expected comparison operator");
            tests.push_back(
                Add(Op::kCaseIs, ParseConcat(), -1, static_cast<uint8_t>(bop)));
          } else {
            int32_t lo = ParseExpression();
            if (AcceptWord("to")) {
              tests.push_back(Add(Op::kCaseRange, lo, ParseExpression()));
            } else {
              tests.push_back(lo);
            }
          }
        } while (Accept(TokenKind::kComma));
        p_.nodes[c].a = MakeList(tests);
      }
      p_.nodes[c].b =
          MakeList(ParseBlock({"case", "end"}, "Expected 'End Select'"));
      cases.push_back(c);
    }
    p_.nodes[n].b = MakeList(cases);
    ExpectEndWord("select", "Expected 'End Select'");
    return n;
  }

  int32_t ParseFor() {
    const Token start = Next();
    if (AcceptWord("each")) {
      int32_t n = AddStatement(Op::kForEach, start);
      p_.nodes[n].a = NameNode(ExpectIdentifier());
      ExpectWord("in", "In");
      int32_t collection = ParseExpression();
      ++loops_for_;
      p_.nodes[n].b = MakeList(
          {collection, MakeList(ParseBlock({"next"}, "Expected 'Next'"))});
      --loops_for_;
      ExpectWord("next", "Next");
      if (Peek().kind == TokenKind::kWord) ExpectIdentifier();
      return n;
    }
    int32_t n = AddStatement(Op::kFor, start);
    p_.nodes[n].a = NameNode(ExpectIdentifier());
    if (!IsOp(Peek(), u"=")) Fail(Peek(), "Expected '='");
    Next();
    int32_t from = ParseExpression();
    ExpectWord("to", "To");
    int32_t to = ParseExpression();
    int32_t step = AcceptWord("step") ? ParseExpression() : -1;
    ++loops_for_;
    int32_t body = MakeList(ParseBlock({"next"}, "Expected 'Next'"));
    --loops_for_;
    p_.nodes[n].b = MakeList({from, to, step, body});
    ExpectWord("next", "Next");
    if (Peek().kind == TokenKind::kWord) ExpectIdentifier();
    return n;
  }

  int32_t ParseDo() {
    const Token start = Next();
    int32_t n = AddStatement(Op::kDo, start);
    DoKind kind = DoKind::kForever;
    if (AcceptWord("while")) {
      kind = DoKind::kWhileTop;
      p_.nodes[n].a = ParseExpression();
    } else if (AcceptWord("until")) {
      kind = DoKind::kUntilTop;
      p_.nodes[n].a = ParseExpression();
    }
    ++loops_do_;
    p_.nodes[n].b = MakeList(ParseBlock({"loop"}, "Expected 'Loop'"));
    --loops_do_;
    ExpectWord("loop", "Loop");
    if (kind == DoKind::kForever) {
      if (AcceptWord("while")) {
        kind = DoKind::kWhileBottom;
        p_.nodes[n].a = ParseExpression();
      } else if (AcceptWord("until")) {
        kind = DoKind::kUntilBottom;
        p_.nodes[n].a = ParseExpression();
      }
    }
    p_.nodes[n].flag = static_cast<uint8_t>(kind);
    return n;
  }

  struct Chain {
    int32_t node = -1;
    // The last "(...)" of the chain: where it opened and the chain before it.
    size_t last_open = 0;
    int32_t before_open = -1;
    int32_t open_list = -1;
  };

  // NAME {.member | (arguments)}
  Chain ParseChain() {
    Chain chain;
    const Token& first = Peek();
    if (first.kind == TokenKind::kDot) {
      if (with_slots_.empty()) Fail(first, "Invalid or unqualified reference");
      chain.node = with_slots_.back();
      ParsePostfix(chain);
      if (chain.node == with_slots_.back()) Fail(Peek(), "Expected identifier");
      return chain;
    }
    if (IsWord(first, "me")) {
      // A text executed in a class's procedure (not in its own ones) has Me.
      const bool text_me =
          scope().proc < 0 && env_ != nullptr && env_->in_class;
      if (!text_me && (scope().proc < 0 || p_.procedures[scope().proc].cls < 0))
        Fail(first, "Invalid use of 'Me' keyword");
      Next();
      chain.node = Add(Op::kMe);
      ParsePostfix(chain);
      return chain;
    }
    if (first.kind != TokenKind::kWord) Fail(first, "Expected identifier");
    chain.node = NameNode(Next());
    ParsePostfix(chain);
    return chain;
  }

  void ParsePostfix(Chain& chain) {
    while (true) {
      // Inside With, "F .x" passes .x to F.
      if (Peek().kind == TokenKind::kDot &&
          !(Peek().space_before && !with_slots_.empty() &&
            chain.node != with_slots_.back())) {
        Next();
        const Token& member = Expect(TokenKind::kWord, "Expected identifier");
        chain.node = Add(Op::kMember, chain.node, -1);
        int32_t name = NameIndex(member.text);
        if (name > 0xFFFF) Fail(member, "Too many names");
        p_.nodes[chain.node].name = static_cast<uint16_t>(name);
        chain.before_open = -1;
      } else if (Peek().kind == TokenKind::kOpen) {
        Nesting nesting(*this, Peek());
        chain.last_open = pos_;
        chain.before_open = chain.node;
        Next();
        int32_t args = ParseExpressionList(TokenKind::kClose, true);
        Expect(TokenKind::kClose, "Expected ')'");
        chain.open_list = args;
        Node& base = p_.nodes[chain.node];
        if (base.op == Op::kMember && base.b < 0) {
          base.b = args;
        } else {
          int32_t base_node = chain.node;
          chain.node = Add(Op::kIndex, base_node, args);
          if (p_.nodes[base_node].op == Op::kName)
            scope().indexes.push_back(chain.node);
        }
      } else {
        return;
      }
    }
  }

  int32_t ParseAssignOrCall(const Token& start) {
    int32_t n = AddStatement(Op::kCall, start);
    Chain chain = ParseChain();
    if (IsOp(Peek(), u"=")) {
      const Node& target = p_.nodes[chain.node];
      if (target.op == Op::kName) {
        const std::string& name = p_.names[target.a];
        if (scope().constants.count(name) ||
            (!scope().locals.count(name) &&
             scopes_.front().constants.count(name))) {
          Fail(start, "Illegal assignment: '" + ToUtf8(start.text) + "'");
        }
      }
      Next();
      p_.nodes[n].op = Op::kAssign;
      p_.nodes[n].a = chain.node;
      p_.nodes[n].b = ParseExpression();
      return n;
    }
    if (AtStatementEnd()) {
      if (p_.nodes[chain.node].op == Op::kName)
        scope().calls.insert(chain.node);
      if (chain.before_open >= 0) {
        size_t count = static_cast<size_t>(p_.lists[chain.open_list]);
        if (count > 1) {
          Fail(tokens_[chain.last_open],
               "Cannot use parentheses when calling a Sub");
        }
        if (count == 1) {
          int32_t& arg = p_.lists[chain.open_list + 1];
          arg = Add(Op::kParen, arg);
        }
      }
      p_.nodes[n].a = chain.node;
      return n;
    }
    int32_t callee = chain.node;
    if (chain.before_open >= 0) {
      // "Name (a) + 1, b": the parenthesis begins the first argument.
      pos_ = chain.last_open;
      callee = chain.before_open;
      if (!scope().indexes.empty() && scope().indexes.back() == chain.node) {
        scope().indexes.pop_back();
      }
      if (ParenthesesHoldComma()) {
        Fail(Peek(), "Cannot use parentheses when calling a Sub");
      }
      if (p_.nodes[callee].op == Op::kMember) p_.nodes[callee].b = -1;
    }
    int32_t args = ParseExpressionList(TokenKind::kNewline, true);
    Node& node = p_.nodes[callee];
    if (node.op == Op::kMember && node.b < 0) {
      node.b = args;
    } else if (node.op == Op::kName) {
      callee = Add(Op::kIndex, callee, args);
      scope().indexes.push_back(callee);
    } else {
      Fail(Peek(), "Expected end of statement");
    }
    p_.nodes[n].a = callee;
    return n;
  }

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
        case TokenKind::kNewline:
        case TokenKind::kEnd:
          return false;
        default:
          break;
      }
    }
    return false;
  }

  // Expressions separated by commas, up to `end` (not consumed); "()" and
  // an empty statement give an empty list.
  // `allow_missing`: arguments may be left out between commas.
  int32_t ParseExpressionList(TokenKind end, bool allow_missing = false) {
    std::vector<int32_t> items;
    auto at_end = [&] {
      return Peek().kind == end ||
             (end == TokenKind::kNewline && AtStatementEnd());
    };
    if (!at_end()) {
      do {
        if (allow_missing && (Peek().kind == TokenKind::kComma || at_end()))
          items.push_back(Add(Op::kMissing));
        else
          items.push_back(ParseExpression());
      } while (Accept(TokenKind::kComma));
    }
    return MakeList(items);
  }

  // ---- expressions --------------------------------------------------------

  bool ComparisonOp(const Token& t, BinOp* op) const {
    if (t.kind != TokenKind::kOperator) return false;
    if (t.text == u"=")
      *op = BinOp::kEq;
    else if (t.text == u"<>")
      *op = BinOp::kNe;
    else if (t.text == u"<")
      *op = BinOp::kLt;
    else if (t.text == u"<=")
      *op = BinOp::kLe;
    else if (t.text == u">")
      *op = BinOp::kGt;
    else if (t.text == u">=")
      *op = BinOp::kGe;
    else
      return false;
    return true;
  }

  int32_t ParseExpression() { return ParseLogical(0); }

  // Imp, Eqv, Xor, Or, And from loosest to tightest.
  int32_t ParseLogical(int level) {
    static constexpr std::string_view kWords[] = {"imp", "eqv", "xor", "or",
                                                  "and"};
    static constexpr BinOp kOps[] = {BinOp::kImp, BinOp::kEqv, BinOp::kXor,
                                     BinOp::kOr, BinOp::kAnd};
    if (level == 5) return ParseNot();
    int32_t left = ParseLogical(level + 1);
    while (AcceptWord(kWords[level])) {
      int32_t right = ParseLogical(level + 1);
      left = Add(Op::kBinary, left, right, static_cast<uint8_t>(kOps[level]));
    }
    return left;
  }

  int32_t ParseNot() {
    int count = 0;
    while (AcceptWord("not")) ++count;
    int32_t operand = ParseComparison();
    return count ? Add(Op::kNot, operand, count) : operand;
  }

  int32_t ParseComparison() {
    int32_t left = ParseConcat();
    while (true) {
      BinOp op;
      if (ComparisonOp(Peek(), &op)) {
        Next();
        left = Add(Op::kBinary, left, ParseConcat(), static_cast<uint8_t>(op));
      } else if (AcceptWord("is")) {
        left = Add(Op::kIs, left, ParseConcat());
      } else {
        return left;
      }
    }
  }

  int32_t ParseConcat() {
    int32_t first = ParseAdditive();
    if (!IsOp(Peek(), u"&")) return first;
    std::vector<int32_t> parts{first};
    while (IsOp(Peek(), u"&")) {
      Next();
      parts.push_back(ParseAdditive());
    }
    return Add(Op::kBinary, MakeList(parts), -1,
               static_cast<uint8_t>(BinOp::kConcat));
  }

  int32_t ParseAdditive() {
    int32_t left = ParseMod();
    while (IsOp(Peek(), u"+") || IsOp(Peek(), u"-")) {
      BinOp op = Next().text == u"+" ? BinOp::kAdd : BinOp::kSub;
      left = Add(Op::kBinary, left, ParseMod(), static_cast<uint8_t>(op));
    }
    return left;
  }

  int32_t ParseMod() {
    int32_t left = ParseIntDiv();
    while (AcceptWord("mod")) {
      left = Add(Op::kBinary, left, ParseIntDiv(),
                 static_cast<uint8_t>(BinOp::kMod));
    }
    return left;
  }

  int32_t ParseIntDiv() {
    int32_t left = ParseMultiplicative();
    while (IsOp(Peek(), u"\\")) {
      Next();
      left = Add(Op::kBinary, left, ParseMultiplicative(),
                 static_cast<uint8_t>(BinOp::kIntDiv));
    }
    return left;
  }

  int32_t ParseMultiplicative() {
    int32_t left = ParseUnary();
    while (IsOp(Peek(), u"*") || IsOp(Peek(), u"/")) {
      BinOp op = Next().text == u"*" ? BinOp::kMul : BinOp::kDiv;
      left = Add(Op::kBinary, left, ParseUnary(), static_cast<uint8_t>(op));
    }
    return left;
  }

  int32_t ParseUnary() {
    int count = 0;
    bool plus = false;
    while (IsOp(Peek(), u"-") || IsOp(Peek(), u"+")) {
      if (Next().text == u"-")
        ++count;
      else
        plus = true;
    }
    int32_t operand = ParsePower();
    if (count == 0 && !plus) return operand;
    return Add(Op::kNegate, operand, count);
  }

  int32_t ParsePower() {
    int32_t left = ParsePrimary();
    while (IsOp(Peek(), u"^")) {
      Next();
      int32_t right;
      if (IsOp(Peek(), u"-") || IsOp(Peek(), u"+")) {
        Nesting nesting(*this, Peek());
        right = ParseUnary();
      } else {
        right = ParsePrimary();
      }
      left = Add(Op::kBinary, left, right, static_cast<uint8_t>(BinOp::kPow));
    }
    return left;
  }

  int32_t ParsePrimary() {
    const Token& t = Peek();
    switch (t.kind) {
      case TokenKind::kNumber: {
        Next();
        double d = t.number;
        if (t.integral) {
          return Constant(Var::Number(static_cast<int64_t>(d)));
        }
        return Constant(Var::Double(d));
      }
      case TokenKind::kString:
        Next();
        return Constant(Var::String(t.text));
      case TokenKind::kDate:
        Next();
        return Constant(Var::Date(t.number));
      case TokenKind::kOpen: {
        Nesting nesting(*this, t);
        Next();
        int32_t inner = ParseExpression();
        Expect(TokenKind::kClose, "Expected ')'");
        Chain chain;
        chain.node = Add(Op::kParen, inner);
        return chain.node;
      }
      case TokenKind::kWord: {
        std::string w = LowerWord(t.text);
        if (w == "true" || w == "false") {
          Next();
          return Constant(Var::Bool(w == "true"));
        }
        if (w == "empty") {
          Next();
          return Constant(Var());
        }
        if (w == "null") {
          Next();
          return Constant(Var::Null());
        }
        if (w == "nothing") {
          Next();
          return Constant(Var::Object(nullptr));
        }
        if (w == "new") {
          Next();
          const Token& name = ExpectIdentifier();
          // Classes may be declared below: resolved with the names.
          int32_t n = Add(Op::kNew, NameIndex(name.text));
          news_.push_back(n);
          return n;
        }
        if (w == "me") return ParseChain().node;
        if (IsReserved(w)) Fail(t, "Expected expression");
        Chain chain = ParseChain();
        return chain.node;
      }
      case TokenKind::kDot:
        return ParseChain().node;
      default:
        Fail(t, "Expected expression");
    }
  }

  // ---- names --------------------------------------------------------------

  void ArityError(int32_t name_node, const Text& name) {
    auto pos = name_pos_[name_node];
    throw SyntaxError(pos.first, pos.second,
                      "Wrong number of arguments: '" + ToUtf8(name) + "'");
  }
  void ArityCheck(int32_t name_node, int32_t id, size_t count) {
    const BuiltinInfo& info = BuiltinAt(id);
    if (static_cast<int>(count) < info.min_args || count > info.max_args) {
      ArityError(name_node, spelling_[name_spelling_[name_node]]);
    }
  }

  // Rewrites every kName into a slot, a procedure call or a builtin.
  void Resolve() {
    for (int32_t n : news_) {
      const std::string name = p_.names[p_.nodes[n].a];
      auto cls = class_index_.find(name);
      int32_t outer = -1;
      if (cls != class_index_.end()) {
        p_.nodes[n].a = cls->second;
      } else if (env_ != nullptr && (outer = env_->FindClass(name)) >= 0) {
        p_.nodes[n].a = outer;  // an executed text's New of the script's class
      } else if (name == "regexp") {
        // The one class built in: New RegExp is CreateObject's object.
        int32_t list = MakeList({Constant(Var::String(u"VBScript.RegExp"))});
        p_.nodes[n].op = Op::kBuiltin;
        p_.nodes[n].a = FindBuiltin("createobject");
        p_.nodes[n].b = list;
      } else {
        p_.nodes[n].a = -1;
      }
    }
    if (!p_.classes.empty()) me_node_ = Add(Op::kMe);
    // The global code first: what it uses without declaring becomes a
    // global variable, which procedures then see.
    ResolveScope(scopes_.front());
    for (Scope& s : proc_scopes_) ResolveScope(s);
  }

  void ResolveScope(Scope& s) {
    std::unordered_set<int32_t> bases;
    for (int32_t n : s.indexes) bases.insert(p_.nodes[n].a);
    // Names used other than as something called; a procedure's undeclared
    // name that is only called is looked up when it runs.
    std::unordered_set<int32_t> plain;
    for (int32_t n : s.names) {
      if (!bases.count(n) && !s.calls.count(n)) plain.insert(p_.nodes[n].a);
    }
    for (int32_t n : s.names) {
      name_spelling_[n] = p_.nodes[n].a;
      ResolveName(s, n, bases.count(n) != 0, plain.count(p_.nodes[n].a) == 0);
    }
    for (int32_t n : s.indexes) {
      Node& index = p_.nodes[n];
      const int32_t base_node = index.a;
      const Node& base = p_.nodes[base_node];
      size_t count = static_cast<size_t>(p_.lists[index.b]);
      if (base.op == Op::kCallProc) {
        index.op = Op::kCallProc;
        index.a = base.a;
        index.flag = base.flag;
      } else if (base.op == Op::kMember && base.a == me_node_ && base.b < 0) {
        // A method or property of the class named bare: Me.Name(...).
        index.op = Op::kMember;
        index.name = base.name;
        index.a = me_node_;
      } else if (base.op == Op::kBuiltin) {
        ArityCheck(base_node, base.a, count);
        index.op = Op::kBuiltin;
        index.a = base.a;
      }
    }
    for (int32_t n : s.names) {
      Node& node = p_.nodes[n];
      if (bases.count(n)) continue;
      if (node.op == Op::kBuiltin) ArityCheck(n, node.a, 0);
    }
  }

  void ResolveName(Scope& s, int32_t n, bool indexed, bool called_only) {
    Node& node = p_.nodes[n];
    const std::string name = p_.names[node.a];
    if (s.proc >= 0) {
      const Procedure& proc = p_.procedures[s.proc];
      auto local = s.locals.find(name);
      if (local != s.locals.end()) {
        node.op = Op::kLocal;
        node.a = local->second;
        return;
      }
      if (proc.is_function && name == LowerWord(proc.name) && !indexed) {
        node.op = Op::kLocal;
        node.a = proc.result_slot;
        return;
      }
      if (proc.cls >= 0) {
        // The class's own members come before global names.
        const ClassDef& c = p_.classes[static_cast<size_t>(proc.cls)];
        auto member = c.by_text.find(name);
        if (member != c.by_text.end()) {
          const ClassMember& m = c.members[static_cast<size_t>(member->second)];
          if (m.field >= 0) {
            node.op = Op::kField;
            node.a = m.field;
          } else {
            node.op = Op::kMember;
            node.name = static_cast<uint16_t>(m.name);
            node.a = me_node_;
            node.b = -1;
          }
          return;
        }
      }
    }
    if (env_ != nullptr) {
      ResolveInEnv(s, node, name);
      return;
    }
    auto global = global_slots_.find(name);
    if (global != global_slots_.end()) {
      node.op = Op::kGlobal;
      node.a = global->second;
      return;
    }
    auto proc = proc_index_.find(name);
    if (proc != proc_index_.end()) {
      node.op = Op::kCallProc;
      node.a = proc->second;
      node.b = -1;
      return;
    }
    if (ResolveNamed(node, name)) return;
    if (p_.option_explicit || (called_only && s.proc >= 0)) {
      // Looked up by name when it runs: Execute or ExecuteGlobal may have
      // defined it by then. Flag 1: a name only called, Empty when still
      // undefined, as an undeclared local was.
      node.op = Op::kUndefined;
      node.flag = p_.option_explicit ? 0 : 1;
      return;
    }
    if (s.proc < 0) {
      auto [it, added] =
          global_slots_.emplace(name, static_cast<int32_t>(p_.globals.size()));
      if (added) p_.globals.push_back(spelling_[node.a]);
      node.op = Op::kGlobal;
      node.a = it->second;
      return;
    }
    ImplicitLocal(s, node, name);
  }

  void ImplicitLocal(Scope& s, Node& node, const std::string& name) {
    auto [it, added] = s.locals.emplace(name, p_.procedures[s.proc].locals);
    if (added) ++p_.procedures[s.proc].locals;
    node.op = Op::kLocal;
    node.a = it->second;
  }

  // A named constant or a builtin.
  bool ResolveNamed(Node& node, const std::string& name) {
    Var constant;
    if (FindConstant(name, &constant)) {
      p_.constants.push_back(std::move(constant));
      node.op = Op::kConst;
      node.a = static_cast<int32_t>(p_.constants.size() - 1);
      return true;
    }
    if (int32_t id = FindBuiltin(name); id >= 0) {
      node.op = Op::kBuiltin;
      node.a = id;
      node.b = -1;
      return true;
    }
    return false;
  }

  // A name of an executed text: the text's own procedures and declarations,
  // then the scope it runs in, then constants and builtins. Anything else
  // is declared where the text runs (in the text's own procedures: as their
  // local); Eval declares nothing, an unknown name is Empty.
  void ResolveInEnv(Scope& s, Node& node, const std::string& name) {
    auto proc = proc_index_.find(name);
    if (proc != proc_index_.end()) {
      node.op = Op::kCallProc;
      node.a = proc->second;
      node.b = -1;
      return;
    }
    Node found;
    auto own = s.proc < 0 ? env_slots_.find(name) : env_slots_.end();
    if (own != env_slots_.end()) {
      found = own->second;
    } else if (!env_->Find(name, s.proc >= 0, &found)) {
      if (ResolveNamed(node, name)) return;
      if (p_.option_explicit) {
        node.op = Op::kUndefined;
        return;
      }
      if (expression_) {
        p_.constants.emplace_back();
        node.op = Op::kConst;
        node.a = static_cast<int32_t>(p_.constants.size() - 1);
        return;
      }
      if (s.proc >= 0) {
        ImplicitLocal(s, node, name);
        return;
      }
      found = env_->Declare(name);
      env_slots_[name] = found;
    }
    node.op = found.op;
    node.flag = found.flag;
    node.b = -1;
    if (found.op != Op::kUndefined) node.a = found.a;  // else: by its name
  }

  Program& p_;
  NameScope* env_ = nullptr;  // set for a text run by Execute or Eval
  bool expression_ = false;
  // What an executed text's top-level declarations became in its scope.
  std::unordered_map<std::string, Node> env_slots_;
  std::vector<Token> tokens_;
  size_t pos_ = 0;
  int depth_ = 0;
  int single_line_if_ = 0;
  int loops_for_ = 0;
  int loops_do_ = 0;
  std::vector<int32_t> pending_;
  std::vector<int32_t> with_slots_;  // the hidden slots of open Withs
  std::vector<int32_t> news_;        // kNew nodes, resolved at the end
  int32_t current_class_ = -1;
  int32_t me_node_ = -1;
  std::unordered_map<std::string, int32_t> class_index_;
  std::vector<Scope> scopes_;
  std::vector<Scope> proc_scopes_;
  std::unordered_map<std::string, int32_t> name_index_;
  std::unordered_map<Text, int32_t> constant_index_;
  std::vector<Text> spelling_;
  std::unordered_map<std::string, int32_t> global_slots_;
  std::unordered_map<std::string, int32_t> proc_index_;
  std::unordered_map<int32_t, std::pair<int, int>> name_pos_;
  std::unordered_map<int32_t, int32_t> name_spelling_;
};

}  // namespace
}  // namespace script

ParseResult Parse(TextView source) {
  ParseResult result;
  try {
    script::Parser parser(result.program, nullptr, false);
    parser.ParseProgram(source);
  } catch (const SyntaxError& error) {
    result.error = error;
  }
  return result;
}

ParseResult Parse(TextView source, script::TextKind kind,
                  script::NameScope& scope) {
  ParseResult result;
  try {
    script::Parser parser(result.program, &scope,
                          kind == script::TextKind::kExpression);
    parser.ParseProgram(source);
  } catch (const SyntaxError& error) {
    result.error = error;
  }
  return result;
}

}  // namespace pellar
