// The parsed script: one compact tree for the whole file, built before
// anything runs. Nodes sit in one vector and refer to each other by index;
// variable names are resolved to global or local slots at parse time.
#ifndef PELLAR_HOST_PARSER_H_
#define PELLAR_HOST_PARSER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include <pellar/base/text.h>
#include "lexer.h"
#include "variant.h"

namespace pellar {

// Parentheses, calls and blocks may nest this deep; deeper is a syntax
// error, so neither parsing nor running can exhaust the stack.
inline constexpr int kMaxNesting = 200;

namespace script {

enum class Op : uint8_t {
  // Expressions.
  kConst,      // a: constant index
  kLocal,      // a: slot in the procedure's frame
  kGlobal,     // a: global slot
  kUndefined,  // a: name index, looked up by name when it runs (what an
               // executed text declared); raises 500 "Variable is
               // undefined" when not found, or, flag 1, is Empty
  kName,       // a: name index, before resolution
  kBinary,     // flag: BinOp, a, b: operands
  kNegate,     // a
  kNot,        // a
  kIs,         // a, b
  kParen,      // a: a grouped expression (passed by value)
  kCallProc,   // a: procedure, b: argument list; flag 1: a procedure of
               // the script itself, called from an executed text
  kBuiltin,    // a: builtin, b: argument list
  kIndex,      // a: base, b: argument list (array element or default member)
  kMember,     // a: object, name: member name index, b: argument list or -1
  kNew,        // a: class, -1 when no class has the name (raises 506)
  kMissing,    // an argument left out, as in Err.Raise 5, , "text"
  kField,      // a: member variable slot of the running instance (Me)
  kMe,         // the running instance
  // Statements.
  kAssign,     // flag 1 for Set; a: target, b: value
  kCall,       // a: expression run for its effect
  kIf,         // a: condition, b: list {then block, else block or -1}
  kSelect,     // a: subject, b: list of kCase nodes
  kCase,       // a: list of tests or -1 for Case Else, b: block
  kCaseIs,     // flag: BinOp, a: expression
  kCaseRange,  // a, b
  kFor,        // a: variable, b: list {from, to, step or -1, block}
  kForEach,    // a: variable, b: list {collection, block}
  kDo,         // flag: DoKind, a: condition or -1, b: block
  kExit,       // flag: ExitKind
  kDim,        // a: variable, b: bound list or -1 (scalar) ; flag 1: ReDim,
               // 2: ReDim Preserve
  kErase,      // a: variable
  kOnError,    // flag 1: Resume Next, 0: GoTo 0
  kWith,       // a: its hidden slot (kLocal or kGlobal), b: list {object,
               // block}
};

enum class DoKind : uint8_t {
  kForever,
  kWhileTop,
  kUntilTop,
  kWhileBottom,
  kUntilBottom
};
enum class ExitKind : uint8_t { kFor, kDo, kSub, kFunction, kProperty };

enum class ProcKind : uint8_t { kSub, kFunction, kGet, kLet, kSet };

// 12 bytes; what a and b hold depends on op (see Op).
struct Node {
  Op op;
  uint8_t flag = 0;
  uint16_t name = 0;  // kMember: the member's name index
  int32_t a = -1, b = -1;
};

struct Procedure {
  Text name;
  bool is_function = false;  // Function or Property Get: has a result
  ProcKind kind = ProcKind::kSub;
  int32_t cls = -1;  // the class it belongs to, -1 for the script's own
  bool is_public = true;
  int32_t params = 0;        // the first slots of the frame
  std::vector<bool> by_val;  // per parameter
  int32_t locals = 0;        // slots, parameters and the result included
  int32_t body = -1;         // block list
  int32_t result_slot = -1;  // functions: the slot named like the function
  // Lower-case name of each slot, for the texts Execute runs in the frame.
  std::vector<std::string> local_names;
};

// One name of a class: a member variable, or a method, or the property
// procedures of that name.
struct ClassMember {
  int32_t name = -1;   // name index
  int32_t field = -1;  // slot of a member variable
  bool field_public = false;
  int32_t method = -1;  // Sub or Function
  int32_t get = -1, let = -1, set = -1;
};

struct ClassField {
  Text name;
  bool array = false;           // declared with parentheses
  std::vector<int32_t> bounds;  // upper bounds; none for a dynamic array
};

struct ClassDef {
  Text name;  // as first written: TypeName answers it
  std::vector<ClassField> fields;
  std::vector<ClassMember> members;
  std::unordered_map<std::string, int32_t> by_text;  // lower name: member
  std::unordered_map<int32_t, int32_t> by_name;      // name index: member
  int32_t default_member = -1;
  int32_t initialize = -1, terminate = -1;  // procedures
};

struct StatementPosition {
  int32_t node;
  int32_t line;
  int32_t column;
};

struct Program {
  std::vector<Node> nodes;
  std::vector<int32_t> lists;  // a list: count, then the items
  std::vector<Var> constants;
  std::vector<std::string> names;  // lower-case names of members and variables
  std::vector<Text> globals;       // spelled as first written
  std::vector<Procedure> procedures;
  std::vector<ClassDef> classes;
  std::vector<StatementPosition> positions;  // by node index, ascending
  int32_t main = -1;  // the global code's block; Eval's text: its expression
  bool option_explicit = false;

  std::span<const int32_t> List(int32_t at) const {
    if (at < 0) return {};
    return {lists.data() + at + 1, static_cast<size_t>(lists[at])};
  }
  // Where the statement `node` starts.
  StatementPosition PositionOf(int32_t node) const;
  // Bytes the tree takes (nodes, lists, constant slots, names, positions,
  // procedures), the bytes of its text literals, and its statements.
  size_t TreeBytes() const;
  size_t TextBytes() const;
  size_t StatementCount() const { return positions.size(); }
};

// What the names of a text run by Execute, ExecuteGlobal or Eval refer to
// besides the text's own declarations: the variables and procedures of the
// scope it runs in, resolved once when the text is parsed.
class NameScope {
 public:
  // The node (kLocal, kGlobal, or kCallProc with flag 1) for the lower-case
  // `name`; false when the scope knows no such name. `global_only`: for the
  // text's own procedures, which see the global names only.
  virtual bool Find(const std::string& name, bool global_only, Node* out) = 0;
  // Declares `name` where the text runs (Dim, or its first use); a name
  // already declared there keeps its variable.
  virtual Node Declare(const std::string& name) = 0;
  // The script's class of the lower-case `name`, or -1.
  virtual int32_t FindClass(const std::string& name) = 0;
  bool option_explicit = false;
  bool in_class = false;  // the text runs in a class's procedure: Me

 protected:
  ~NameScope() = default;
};

enum class TextKind : uint8_t {
  kScript,      // a whole script
  kStatements,  // Execute's and ExecuteGlobal's text
  kExpression,  // Eval's: `x = y` compares
};

}  // namespace script

struct [[nodiscard]] ParseResult {
  script::Program program;
  // Set when the text is not a valid script; `program` is then incomplete.
  std::optional<SyntaxError> error;
};

// Parses a whole script (decoded text, any line ends: CR LF, LF or CR).
ParseResult Parse(TextView source);
// Parses a text run by Execute, ExecuteGlobal or Eval against `scope`.
ParseResult Parse(TextView source, script::TextKind kind,
                  script::NameScope& scope);

}  // namespace pellar

#endif  // PELLAR_HOST_PARSER_H_
