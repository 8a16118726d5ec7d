// Runs a parsed script: the tree walker, procedures and their frames, the
// Err object and On Error handling, and the objects scripts create.
#ifndef PELLAR_HOST_INTERPRETER_H_
#define PELLAR_HOST_INTERPRETER_H_

#include <pellar/base/text.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <unordered_map>
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

class Interpreter;

// An instance of a script's Class: its member variables; its methods run
// in the interpreter with Me set to it.
class ClassInstance final : public ScriptObject {
 public:
  ClassInstance(Interpreter& in, int32_t cls, size_t fields);
  ~ClassInstance() override;
  Text TypeName() const override;
  Var Invoke(Host& host, std::string_view name, Args args,
             CallKind kind) override;
  void Drop() override;
  bool KeepWhenUnreferenced() override;

  Interpreter& in_;
  std::vector<Var> fields_;
  // Class_Terminate is due when the last reference goes: set once
  // Class_Initialize has run, cleared when Terminate starts.
  bool armed_ = false;
  ClassInstance* prev_ = nullptr;  // the interpreter's live instances
  ClassInstance* next_ = nullptr;
};

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
  Var Eval(const Text& text) override {
    return RunText(text, TextKind::kExpression, TextScope::kCurrent);
  }
  Var Execute(const Text& text, bool global) override {
    return RunText(text, TextKind::kStatements,
                   global ? TextScope::kGlobal : TextScope::kCurrent);
  }
  Var GetRef(const Text& name) override;
  enum class TextScope : uint8_t { kCurrent, kGlobal };
  Var RunText(const Text& text, TextKind kind, TextScope where);
  // The script file's tree (classes live there).
  const Program& program() const { return script_; }

  // Classes: a new instance of class `cls` (Class_Initialize run), and a
  // call of member `member` (-1: none, 438) of an instance. `value` is
  // what kLet and kSet assign.
  Var NewInstance(int32_t cls);
  Var InvokeMember(ClassInstance* object, int32_t member, Args args, Var* value,
                   CallKind kind);
  // Bookkeeping of instances for the run's end and for Class_Terminate.
  void Link(ClassInstance* object);
  void Unlink(ClassInstance* object);
  bool QueueTerminate(ClassInstance* object);

 private:
  enum class Flow : uint8_t { kNormal, kExitFor, kExitDo, kExitProc };
  // Variables declared by Execute in a procedure, found by name: kept apart
  // from the procedure's slots, which arguments passed by reference may
  // point into while Execute runs, and never moved either.
  struct AddedLocals {
    std::vector<std::string> names;
    std::deque<Var> slots;
    Var* Find(const std::string& name) {
      for (size_t k = 0; k < names.size(); ++k) {
        if (names[k] == name) return &slots[k];
      }
      return nullptr;
    }
  };
  struct Frame {
    Var* locals;
    bool resume_next = false;
    // In a procedure: the procedure, and the variables Execute declared in
    // it (made on the first such declaration).
    const Procedure* proc = nullptr;
    std::unique_ptr<AddedLocals>* added = nullptr;
    ClassInstance* me = nullptr;  // in a class's procedure (and its texts)
  };
  class ArgPack;
  class ProcRef;
  class Names;
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
    if (n.op == Op::kField)
      return frame_->me->fields_[static_cast<size_t>(n.a)];
    return globals_[static_cast<size_t>(n.a)];
  }
  static bool IsSlot(Op op) {
    return op == Op::kLocal || op == Op::kGlobal || op == Op::kField;
  }
  void Assign(int32_t target, Var value, bool is_set);
  void Store(Var& slot, Var value, bool is_set);
  Var CallProcedure(const Program& owner, int32_t proc, int32_t args);
  // A call through a reference (GetRef, or a procedure Execute defined).
  Var CallReference(const Program& owner, int32_t proc, Args args);
  // Runs `proc` of `owner` in a new frame over `locals` (its arguments
  // filled in); `me` in a class's procedure.
  Var RunProcedure(const Program& owner, const Procedure& proc, Var* locals,
                   ClassInstance* me);
  Var CallClassProcedure(int32_t proc, ClassInstance* object, Args args,
                         Var* value);
  // Runs the Class_Terminate of instances whose last reference went.
  void RunTerminates();
  // Releases the globals in their order at the run's end, terminating.
  void ReleaseGlobals();
  // The parsed form of an executed text (perhaps kept from before).
  std::shared_ptr<const Program> ParseText(const Text& text, TextKind kind,
                                           Names& names, const Frame* frame);
  // The variable a kUndefined node names now, or nullptr.
  Var* LateSlot(const Node& n);
  Var LateValue(const Node& n);
  void IndexNames();
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

  const Program& script_;   // the script file's tree
  const Program* program_;  // the tree running: the script's or a text's
  std::ostream& out_;
  std::ostream& err_;
  Text script_name_;
  RunOptions options_;
  // Global variables; ExecuteGlobal adds some while references to the
  // others are held, so they never move.
  std::deque<Var> globals_;
  // Lower-case names of globals and of the script's procedures, indexed
  // the first time an executed text or GetRef needs them.
  std::unordered_map<std::string, int32_t> global_names_;
  std::unordered_map<std::string, int32_t> procedure_names_;
  bool names_indexed_ = false;
  struct CachedText {
    TextKind kind;
    const Procedure* proc;  // the script's procedure, or null: global
    size_t globals;         // how many globals there were
    std::shared_ptr<const Program> tree;
  };
  static constexpr size_t kMaxCachedText = 256;  // characters
  static constexpr size_t kMaxCachedTexts = 256;
  std::unordered_map<Text, CachedText> text_cache_;
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
  std::deque<ClassInstance*> terminates_;  // instances whose Terminate is due
  ClassInstance* instances_ = nullptr;     // every live instance
  // No more Class_Terminate: the interpreter is going, and with it what the
  // script left (an untrapped failure ends the run without Terminate).
  bool ending_ = false;
  // Per kMember node, the member its last object resolved to (objects with
  // a member table only), made on the first such call.
  struct SiteCache {
    const void* table = nullptr;
    int32_t member = -1;
  };
  // Only the script's own call sites keep theirs: an executed text's tree
  // is short-lived, its sites resolve at each call.
  std::vector<SiteCache> member_cache_;
  SiteCache text_site_;
  SiteCache& CacheAt(const Node& n) {
    if (program_ != &script_) {
      text_site_ = SiteCache();
      return text_site_;
    }
    if (member_cache_.empty()) member_cache_.resize(script_.nodes.size());
    return member_cache_[static_cast<size_t>(&n - script_.nodes.data())];
  }
  int32_t ClassMemberAt(const Node& n, const ClassInstance* object);
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
