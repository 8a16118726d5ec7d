// Runs a parsed script: variables, the Err object, On Error handling, and
// calls into the library through Invoke.
#ifndef PELLAR_HOST_INTERPRETER_H_
#define PELLAR_HOST_INTERPRETER_H_

#include <memory>
#include <optional>
#include <ostream>
#include <string_view>
#include <vector>

#include <pellar/automation/automation.h>
#include <pellar/base/text.h>
#include <pellar/base/value.h>
#include "parser.h"

namespace pellar {

// Exit codes of a script run.
inline constexpr int kExitOk = 0;
inline constexpr int kExitRuntimeError = 1;
inline constexpr int kExitSyntaxError = 2;

// A failure not trapped by On Error Resume Next; it ends the script.
struct RuntimeError {
  int line = 0;
  int column = 0;
  int number = 0;
  Text description;
  // Raised by the library (Invoke, CreateObject) rather than by the host.
  bool from_library = false;
};

class Interpreter {
 public:
  // `program` must outlive the interpreter. Echo writes to `out`.
  Interpreter(const Program& program, std::ostream& out);

  // Runs every statement in order; the untrapped failure that stopped the
  // script, if any.
  std::optional<RuntimeError> Run();

 private:
  // A variable holds a value or an object; `is_object` with a null
  // `object` is Nothing.
  struct Variable {
    Value value;
    bool is_object = false;
    std::shared_ptr<Object> object;
  };

  void Execute(const Statement& statement);
  Value Evaluate(const Expr& expr);
  const Value& ValueOf(int variable);
  std::shared_ptr<Object> ObjectOf(int variable);
  Value CallMethod(int variable, const Text& method,
                   const std::vector<ExprPtr>& operands);
  Value CallFunction(const Expr& expr);
  void ClearErr();

  const Program& program_;
  std::ostream& out_;
  std::vector<Variable> variables_;
  bool resume_next_ = false;
  int32_t err_number_ = 0;
  Text err_description_;
};

// Runs a script file's bytes (UTF-8, optional byte order mark): writes Echo
// output to `out`, a syntax or untrapped runtime error as one line
// "FILE(LINE, COLUMN) ..." to `err`, and answers the exit code.
int RunScript(std::string_view bytes, std::string_view file, std::ostream& out,
              std::ostream& err);

}  // namespace pellar

#endif  // PELLAR_HOST_INTERPRETER_H_
