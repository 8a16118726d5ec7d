// Runs a parsed script: the tree walker, procedures and their frames, the
// Err object and On Error handling, and the objects scripts create.
#ifndef PELLAR_HOST_INTERPRETER_H_
#define PELLAR_HOST_INTERPRETER_H_

#include <pellar/base/text.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "host.h"
#include "parser.h"
#include "variant.h"

namespace pellar {

// Exit codes of a script run (WScript.Quit chooses its own).
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
  // Line and column of each call the failure left, innermost first.
  std::vector<std::pair<int, int>> callers;
  size_t callers_left_out = 0;
};

namespace script {

class Interpreter final : public Host {
 public:
  // `program` must outlive the interpreter.
  Interpreter(const Program& program, std::ostream& out, std::ostream& err,
              Text script_name, RunOptions options);
  ~Interpreter();
  Interpreter(const Interpreter&) = delete;
  Interpreter& operator=(const Interpreter&) = delete;

  // Runs the global code; the untrapped failure that stopped it, if any.
  // `exit_code` gets WScript.Quit's code.
  [[nodiscard]] std::optional<RuntimeError> Run(int* exit_code);

  // Host.
  std::ostream& out() override { return out_; }
  std::ostream& err() override { return err_; }
  ErrState& error() override { return error_; }
  const Text& script_name() const override { return script_name_; }
  const RunOptions& options() const override { return options_; }
  Var CreateObject(const Text& progid) override;
  Var WScriptObject() override;
  Var ErrObject() override;
  double NextRandom(double x) override;
  void Randomize(double seed) override;
  Var DefaultValue(Var v) override;
  std::unordered_set<ScriptObject*>& containers() override {
    return containers_;
  }

 private:
  enum class Flow : uint8_t { kNormal, kExitFor, kExitDo, kExitProc };
  struct Frame {
    Var* locals;
    bool resume_next = false;
  };
  class ArgPack;
  // Array indices of one access, inline up to eight dimensions.
  class Indices {
   public:
    void Resize(size_t n) {
      n_ = n;
      if (n > 8) more_.resize(n);
    }
    int32_t& at(size_t k) { return n_ > 8 ? more_[k] : inline_[k]; }
    std::span<const int32_t> span() const {
      return {n_ > 8 ? more_.data() : inline_, n_};
    }

   private:
    size_t n_ = 0;
    int32_t inline_[8] = {};
    std::vector<int32_t> more_;
  };

  Flow ExecBlock(int32_t list);
  Flow Exec(int32_t node);
  Var Eval(int32_t node);
  bool Truth(int32_t node);
  // The variable a node names (for assignment and by-reference passing),
  // or nullptr when it names none.
  Var* RefOf(int32_t node, ArgPack* locks);
  Var& Slot(const Node& n) {
    if (n.op == Op::kLocal) return *frame_->locals[n.a].Target();
    return globals_[static_cast<size_t>(n.a)];
  }
  void Assign(int32_t target, Var value, bool is_set);
  void Store(Var& slot, Var value, bool is_set);
  Var CallProcedure(int32_t proc, int32_t args);
  Var CallMember(const Node& n, CallKind kind);
  Var IndexValue(const Var& base, int32_t args);
  void BuildArgs(int32_t list, ArgPack& pack, bool by_reference);
  void EvalIndices(int32_t list, Indices& out);
  void Dim(const Node& n);
  Flow ForLoop(const Node& n);
  Flow ForEach(const Node& n);
  Flow DoLoop(const Node& n);
  bool CaseMatches(const Var& subject, int32_t test);
  bool Pure(int32_t node, int depth) const;
  bool AppendInPlace(const Node& n);
  [[noreturn]] void Undefined();
  void Trap(const Failure& failure, const Text& source);
  void NoteFault(int32_t statement);
  bool TruthOrResume(int32_t node);
  void Step();
  // Raises 28 "Out of stack space" when the run has used its share of the
  // stack: deep expressions and calls end there instead of overflowing it.
  void CheckStack() const;

  const Program& program_;
  std::ostream& out_;
  std::ostream& err_;
  Text script_name_;
  RunOptions options_;
  std::vector<Var> globals_;
  Frame* frame_ = nullptr;
  int depth_ = 0;
  uintptr_t stack_base_ = 0;    // where Run's frame sits
  uintptr_t stack_budget_ = 0;  // bytes below it the run may use
  uint64_t statements_ = 0;
  ErrState error_;
  Var wscript_;
  Var err_object_;
  std::unordered_set<ScriptObject*> containers_;
  int32_t fault_node_ = -1;  // the innermost statement of an untrapped failure
  static constexpr size_t kMaxCallersShown = 10;
  std::vector<int32_t> fault_callers_;  // the calls it left, innermost first
  size_t fault_callers_left_out_ = 0;
  const Frame* fault_frame_ = nullptr;
  Text missing_member_;  // the member an untrapped 438 did not find
  int32_t rnd_ = 0x50000;
};

}  // namespace script

// Runs a script file's bytes (UTF-8, optional byte order mark): writes Echo
// output to `out`, a syntax or untrapped runtime error as one line
// "FILE(LINE, COLUMN) ..." to `err`, and answers the exit code.
[[nodiscard]] int RunScript(std::string_view bytes, std::string_view file,
                            std::ostream& out, std::ostream& err,
                            const RunOptions& options = {});

}  // namespace pellar

#endif  // PELLAR_HOST_INTERPRETER_H_
