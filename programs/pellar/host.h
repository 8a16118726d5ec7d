// What the builtins and the host's objects may ask of the running script:
// its output, its Err state, its options and a few of its services. They
// see this and not the interpreter, so that a new builtin or object cannot
// come to depend on how the tree is walked.
#ifndef PELLAR_HOST_HOST_H_
#define PELLAR_HOST_HOST_H_

#include <pellar/base/text.h>

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <unordered_set>
#include <utility>
#include <vector>

#include "variant.h"

namespace pellar {

struct RunOptions {
  std::vector<Text> arguments;  // WScript.Arguments
  // Statements a run may execute; 0 is no limit. Keeps fuzzing finite.
  uint64_t max_statements = 0;
  // Nested procedure calls allowed before 28 "Out of stack space".
  int max_call_depth = 1000;
  // Bytes all the script's values may hold together before 7 "Out of
  // memory".
  size_t max_memory = size_t{1} << 30;
  bool sleep = true;           // WScript.Sleep waits
  Text host_path = u"pellar";  // WScript.FullName: the host program
};

namespace script {

// A failure with its Err.Source; the library's failures say "PellarLib".
class ScriptFailure : public Failure {
 public:
  ScriptFailure(const Failure& failure, Text source)
      : Failure(failure), source_(std::move(source)) {}
  const Text& source() const { return source_; }

 private:
  Text source_;
};

// WScript.Quit: ends the run with `code`.
struct QuitSignal {
  int code;
};

struct ErrState {
  int32_t number = 0;
  Text description;
  Text source;
  void Clear() {
    number = 0;
    description.clear();
    source.clear();
  }
};

class Host {
 public:
  virtual std::ostream& out() = 0;
  virtual std::ostream& err() = 0;
  virtual ErrState& error() = 0;
  virtual const Text& script_name() const = 0;
  virtual const RunOptions& options() const = 0;
  virtual Var CreateObject(const Text& progid) = 0;
  virtual Var WScriptObject() = 0;
  virtual Var ErrObject() = 0;
  // Rnd's next number for argument `x`, and Randomize.
  virtual double NextRandom(double x) = 0;
  virtual void Randomize(double seed) = 0;
  // An object's default value where a plain value is needed.
  virtual Var DefaultValue(Var v) = 0;
  // Eval, and Execute or ExecuteGlobal (`global`): `text` parsed against
  // the running scope (the global one for ExecuteGlobal) and run; Eval's
  // value. A syntax error in it is a runtime error with the syntax error's
  // number.
  virtual Var Eval(const Text& text) = 0;
  virtual Var Execute(const Text& text, bool global) = 0;
  // GetRef: a callable reference to the script procedure `name`; 5 when
  // there is none.
  virtual Var GetRef(const Text& name) = 0;
  // Objects that hold values and so may hold themselves; emptied when the
  // run ends so that no cycle outlives it.
  virtual std::unordered_set<ScriptObject*>& containers() = 0;

 protected:
  ~Host() = default;
};

}  // namespace script
}  // namespace pellar

#endif  // PELLAR_HOST_HOST_H_
