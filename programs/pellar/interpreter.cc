#include "interpreter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "builtins.h"
#include "objects.h"
#include <pellar/base/failure_internal.h>

namespace pellar {
namespace script {
namespace {

// More elements than any report needs; a bigger ReDim fails with 7.
constexpr size_t kMaxArrayElements = size_t{1} << 22;
// Stack a run may use: half of the smallest usual main-thread stack on
// POSIX, leaving room for the host's and the library's own calls.
constexpr uintptr_t kMaxStackBytes = uintptr_t{4} << 20;

// kMaxStackBytes, or half the stack when the limit is lower.
uintptr_t StackBudget() {
#ifdef _WIN32
  return uintptr_t{512} << 10;  // programs get 1 MiB by default
#else
  rlimit limit{};
  if (getrlimit(RLIMIT_STACK, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    return std::min<uintptr_t>(kMaxStackBytes, limit.rlim_cur / 2);
  return kMaxStackBytes;
#endif
}

// The run stopped because it ran out of its statement budget.
struct LimitSignal {};

const Text kRuntimeSource = u"Microsoft VBScript runtime error";

}  // namespace

// Arguments of one call: pointers to the caller's variables or to
// temporaries kept here; array elements passed by reference stay locked
// until the call returns.
class Interpreter::ArgPack {
 public:
  static constexpr size_t kInline = 6;
  ~ArgPack() {
    for (Var& held : held_) {
      if (held.is_array()) --held.array()->locks;
    }
  }
  void Resize(size_t n) {
    n_ = n;
    if (n > kInline) {
      more_temps_.resize(n);
      more_ptrs_.resize(n);
    }
  }
  Var& Temp(size_t i) { return n_ > kInline ? more_temps_[i] : temps_[i]; }
  void Set(size_t i, Var* p) {
    (n_ > kInline ? more_ptrs_.data() : ptrs_)[i] = p;
  }
  void Lock(const Var& array) {
    held_.push_back(array);
    ++array.array()->locks;
  }
  Args span() const { return {n_ > kInline ? more_ptrs_.data() : ptrs_, n_}; }

 private:
  size_t n_ = 0;
  Var temps_[kInline];
  Var* ptrs_[kInline] = {};
  std::vector<Var> more_temps_;
  std::vector<Var*> more_ptrs_;
  std::vector<Var> held_;
};

Interpreter::Interpreter(const Program& program, std::ostream& out,
                         std::ostream& err, Text script_name,
                         RunOptions options)
    : script_(program),
      program_(&program),
      out_(out),
      err_(err),
      script_name_(std::move(script_name)),
      options_(std::move(options)),
      globals_(program.globals.size()) {
  SetMemoryLimit(options_.max_memory);
}

Interpreter::~Interpreter() {
  ending_ = true;
  terminates_.clear();  // still linked below, so they go with the rest
  globals_.clear();
  wscript_ = Var();
  err_object_ = Var();
  std::vector<Var> held;
  for (ScriptObject* object : containers_) held.push_back(Var::Object(object));
  // Instances that hold each other (or wait for a Terminate that will not
  // run now) are let go of here.
  for (ClassInstance* at = instances_; at != nullptr; at = at->next_)
    held.push_back(Var::Object(at));
  for (Var& object : held) object.object()->Drop();
  held.clear();
  SetMemoryLimit(SIZE_MAX);
}

Var Interpreter::CreateObject(const Text& progid) {
  return CreateScriptObject(*this, progid);
}

Var Interpreter::WScriptObject() {
  if (wscript_.is_empty()) wscript_ = MakeWScript(*this);
  return wscript_;
}

Var Interpreter::ErrObject() {
  if (err_object_.is_empty()) err_object_ = MakeErrObject(*this);
  return err_object_;
}

// The generator of VBScript's Rnd: a 24-bit linear congruence.
double Interpreter::NextRandom(double x) {
  if (x < 0) {
    float f = static_cast<float>(x);
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    rnd_ = static_cast<int32_t>((bits + (bits >> 24)) & 0xFFFFFF);
  }
  if (x != 0) {
    rnd_ = static_cast<int32_t>(
        (static_cast<int64_t>(rnd_) * 1140671485 + 12820163) & 0xFFFFFF);
  }
  return rnd_ / 16777216.0;
}

void Interpreter::Randomize(double seed) {
  float f = static_cast<float>(seed);
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  uint32_t mixed = ((bits >> 16) ^ bits) & 0xFFFF;
  rnd_ =
      static_cast<int32_t>((static_cast<uint32_t>(rnd_) & 0xFF) | (mixed << 8));
}

void Interpreter::Step() {
  if (options_.max_statements != 0 && ++statements_ > options_.max_statements) {
    throw LimitSignal{};
  }
}

void Interpreter::CheckStack() const {
  char probe = 0;
  const uintptr_t here = reinterpret_cast<uintptr_t>(&probe);
  if (stack_base_ > here && stack_base_ - here > stack_budget_)
    Raise(error::kOutOfStack);
}

[[noreturn]] void Interpreter::Undefined() { Raise(error::kNotDefined); }

Var Interpreter::DefaultValue(Var v) {
  while (v.is_object()) {
    if (v.object() == nullptr) Raise(error::kObjectRequired);
    Var holder = v;
    v = holder.object()->Invoke(*this, "", {}, CallKind::kGet);
  }
  return v;
}

std::optional<RuntimeError> Interpreter::Run(int* exit_code) {
  *exit_code = kExitOk;
  char base = 0;
  stack_base_ = reinterpret_cast<uintptr_t>(&base);
  stack_budget_ = StackBudget();
  Frame main;
  main.locals = nullptr;  // the global code's names are all global slots
  frame_ = &main;
  RuntimeError fault;
  try {
    ExecBlock(script_.main);
    // The end of the script, not WScript.Quit, runs Class_Terminate.
    ReleaseGlobals();
    return std::nullopt;
  } catch (const QuitSignal& quit) {
    *exit_code = quit.code;
    return std::nullopt;
  } catch (const LimitSignal&) {
    fault.number = error::kOutOfStack;
    fault.description = u"Script ran too long";
  } catch (const ScriptFailure& failure) {
    fault.number = failure.number();
    fault.description = failure.description();
    fault.from_library = failure.source() == u"PellarLib";
  } catch (const Failure& failure) {
    fault.number = failure.number();
    fault.description = failure.description();
  }
  if (fault.number == error::kNoSuchMethod && !missing_member_.empty())
    fault.description += u": '" + missing_member_ + u"'";
  StatementPosition at = script_.PositionOf(fault_node_);
  fault.line = at.line;
  fault.column = at.column;
  for (int32_t caller : fault_callers_) {
    StatementPosition from = script_.PositionOf(caller);
    fault.callers.push_back({from.line, from.column});
  }
  fault.callers_left_out = fault_callers_left_out_;
  *exit_code = kExitRuntimeError;
  return fault;
}

void Interpreter::Trap(const Failure& failure, const Text& source) {
  error_.number = failure.number();
  error_.description = failure.description();
  error_.source = source;
  fault_node_ = -1;
  missing_member_.clear();
  fault_callers_.clear();
  fault_callers_left_out_ = 0;
}

// Records where an untrapped failure passes on its way out: the innermost
// statement, then the call statement of each procedure it leaves. Enclosing
// blocks of one procedure pass it too, so a caller counts only when the
// frame changes. Deep recursion keeps the innermost callers only.
void Interpreter::NoteFault(int32_t statement) {
  // Statements of executed texts have no place in the file: the statement
  // that ran the text (or called its procedure) stands for them.
  if (program_ != &script_) return;
  if (fault_node_ < 0) {
    fault_node_ = statement;
    fault_frame_ = frame_;
    return;
  }
  if (frame_ == fault_frame_) return;
  fault_frame_ = frame_;
  if (fault_callers_.size() < kMaxCallersShown) {
    fault_callers_.push_back(statement);
  } else {
    ++fault_callers_left_out_;
  }
}

// Under On Error Resume Next a failing If condition goes on with the
// statement after it, the first of the Then block, as VBScript does.
bool Interpreter::TruthOrResume(int32_t node) {
  try {
    return Truth(node);
  } catch (const ScriptFailure& failure) {
    Trap(failure, failure.source());
  } catch (const Failure& failure) {
    Trap(failure, kRuntimeSource);
  }
  return true;
}

Interpreter::Flow Interpreter::ExecBlock(int32_t list) {
  for (int32_t statement : program_->List(list)) {
    try {
      Flow flow = Exec(statement);
      // Instances let go of by the statement end here, before the next.
      if (!terminates_.empty()) RunTerminates();
      if (flow != Flow::kNormal) return flow;
      continue;
    } catch (const ScriptFailure& failure) {
      if (!frame_->resume_next) {
        NoteFault(statement);
        throw;
      }
      Trap(failure, failure.source());
    } catch (const LimitSignal&) {
      NoteFault(statement);
      throw;
    } catch (const Failure& failure) {
      if (!frame_->resume_next) {
        NoteFault(statement);
        throw;
      }
      Trap(failure, kRuntimeSource);
    } catch (const std::exception&) {
      // Running out of memory becomes 7; anything else is thrown on.
      Failure failure = CaughtFailure();
      if (!frame_->resume_next) {
        NoteFault(statement);
        throw failure;
      }
      Trap(failure, kRuntimeSource);
    }
    if (!terminates_.empty()) RunTerminates();
  }
  return Flow::kNormal;
}

bool Interpreter::Truth(int32_t node) {
  Var v = Eval(node);
  if (v.type() == VType::kBoolean) return v.raw_long() != 0;
  if (v.is_null()) return false;
  return ToBool(DefaultValue(std::move(v)));
}

Interpreter::Flow Interpreter::Exec(int32_t i) {
  Step();
  const Node& n = program_->nodes[static_cast<size_t>(i)];
  switch (n.op) {
    case Op::kAssign:
      if (n.flag == 0 && AppendInPlace(n)) return Flow::kNormal;
      Assign(n.a, Eval(n.b), n.flag == 1);
      return Flow::kNormal;
    case Op::kCall: {
      const Node& e = program_->nodes[static_cast<size_t>(n.a)];
      if (e.op == Op::kMember) {
        CallMember(e, CallKind::kCall);
      } else if (IsSlot(e.op) || e.op == Op::kUndefined) {
        // A bare name as a statement: an object there (a procedure
        // reference among them) runs its default member.
        Var v = e.op == Op::kUndefined ? LateValue(e) : Slot(e);
        if (v.is_object()) DefaultValue(v);
      } else {
        Eval(n.a);
      }
      return Flow::kNormal;
    }
    case Op::kIf: {
      std::span<const int32_t> blocks = program_->List(n.b);
      if (frame_->resume_next ? TruthOrResume(n.a) : Truth(n.a))
        return ExecBlock(blocks[0]);
      if (blocks[1] >= 0) return ExecBlock(blocks[1]);
      return Flow::kNormal;
    }
    case Op::kSelect: {
      Var subject = DefaultValue(Eval(n.a));
      for (int32_t c : program_->List(n.b)) {
        const Node& kase = program_->nodes[static_cast<size_t>(c)];
        bool match = kase.a < 0;
        for (int32_t test : program_->List(kase.a)) {
          if (CaseMatches(subject, test)) {
            match = true;
            break;
          }
        }
        if (match) return ExecBlock(kase.b);
      }
      return Flow::kNormal;
    }
    case Op::kFor:
      return ForLoop(n);
    case Op::kForEach:
      return ForEach(n);
    case Op::kDo:
      return DoLoop(n);
    case Op::kExit:
      switch (static_cast<ExitKind>(n.flag)) {
        case ExitKind::kFor:
          return Flow::kExitFor;
        case ExitKind::kDo:
          return Flow::kExitDo;
        default:
          return Flow::kExitProc;
      }
    case Op::kDim:
      Dim(n);
      return Flow::kNormal;
    case Op::kErase: {
      Var* v = RefOf(n.a, nullptr);
      if (v == nullptr) Raise(error::kTypeMismatch);
      if (!v->is_array()) Raise(error::kTypeMismatch);
      if (v->array()->locks) Raise(error::kArrayLocked);
      ArrBox* a = v->MutableArray();
      if (a->fixed) {
        for (Var& item : a->items) item = Var();
      } else {
        a->upper.clear();
        std::vector<Var>().swap(a->items);
        a->Recharge();
      }
      return Flow::kNormal;
    }
    case Op::kOnError:
      frame_->resume_next = n.flag == 1;
      error_.Clear();
      return Flow::kNormal;
    case Op::kWith: {
      std::span<const int32_t> parts = program_->List(n.b);
      // Any value: a .Member of a non-object is what fails (424).
      Var object = Eval(parts[0]);
      Var* slot = &Slot(program_->nodes[static_cast<size_t>(n.a)]);
      *slot = std::move(object);
      // The object goes when the block ends, however it ends.
      struct Clear {
        Var* slot;
        ~Clear() { *slot = Var(); }
      } clear{slot};
      return ExecBlock(parts[1]);
    }
    default:
      Raise(error::kInvalidCall);
  }
}

// Whether evaluating `node` can change no variable: then it may run after
// a variable it sits beside has been read.
bool Interpreter::Pure(int32_t node, int depth) const {
  const Node& n = program_->nodes[static_cast<size_t>(node)];
  if (depth > 8) return false;
  switch (n.op) {
    case Op::kConst:
    case Op::kLocal:
    case Op::kGlobal:
    case Op::kField:
    case Op::kMe:
      return true;
    case Op::kParen:
    case Op::kNegate:
    case Op::kNot:
      return Pure(n.a, depth + 1);
    case Op::kBinary:
      if (static_cast<BinOp>(n.flag) == BinOp::kConcat) {
        for (int32_t part : program_->List(n.a)) {
          if (!Pure(part, depth + 1)) return false;
        }
        return true;
      }
      return Pure(n.a, depth + 1) && Pure(n.b, depth + 1);
    case Op::kBuiltin:
      if (!BuiltinAt(n.a).pure) return false;
      for (int32_t arg : program_->List(n.b)) {
        if (!Pure(arg, depth + 1)) return false;
      }
      return true;
    default:
      return false;
  }
}

// s = s & more: appends to s's own text instead of copying it, so a report
// that builds a long text line by line takes linear time.
bool Interpreter::AppendInPlace(const Node& n) {
  const Node& value = program_->nodes[static_cast<size_t>(n.b)];
  if (value.op != Op::kBinary ||
      static_cast<BinOp>(value.flag) != BinOp::kConcat) {
    return false;
  }
  const Node& target = program_->nodes[static_cast<size_t>(n.a)];
  if (!IsSlot(target.op)) return false;
  std::span<const int32_t> parts = program_->List(value.a);
  const Node& first = program_->nodes[static_cast<size_t>(parts[0])];
  if (first.op != target.op || first.a != target.a) return false;
  if (Slot(target).UnsharedStr() == nullptr) return false;
  for (size_t k = 1; k < parts.size(); ++k) {
    if (!Pure(parts[k], 0)) return false;
  }
  Text tail;
  for (size_t k = 1; k < parts.size(); ++k) {
    Var v = Eval(parts[k]);
    if (v.is_object()) v = DefaultValue(std::move(v));
    if (v.is_null()) continue;
    if (v.is_string())
      tail += v.str();
    else
      tail += ToStr(v);
  }
  Text* text = Slot(target).UnsharedStr();
  if (text == nullptr) return false;  // not reached: the tail is pure
  CheckTextLength(text->size() + tail.size());
  *text += tail;
  Slot(target).RechargeStr();
  return true;
}

bool Interpreter::CaseMatches(const Var& subject, int32_t test) {
  const Node& t = program_->nodes[static_cast<size_t>(test)];
  if (t.op == Op::kCaseIs) {
    Var r =
        Binary(static_cast<BinOp>(t.flag), subject, DefaultValue(Eval(t.a)));
    return r.type() == VType::kBoolean && r.raw_long() != 0;
  }
  if (subject.is_null()) return false;
  if (t.op == Op::kCaseRange) {
    Var lo = DefaultValue(Eval(t.a)), hi = DefaultValue(Eval(t.b));
    if (lo.is_null() || hi.is_null()) return false;
    return Compare(subject, lo) >= 0 && Compare(subject, hi) <= 0;
  }
  Var v = DefaultValue(Eval(test));
  return !v.is_null() && Compare(subject, v) == 0;
}

namespace {

// Integer, Long or Byte: a For loop over these counts in whole numbers;
// unlike the arithmetic's IsWhole, Boolean and Empty do not.
bool HasIntegerSubtype(const Var& v) {
  return v.type() == VType::kInteger || v.type() == VType::kLong ||
         v.type() == VType::kByte;
}

}  // namespace

Interpreter::Flow Interpreter::ForLoop(const Node& n) {
  std::span<const int32_t> parts = program_->List(n.b);
  Var from = DefaultValue(Eval(parts[0]));
  Var to = DefaultValue(Eval(parts[1]));
  Var step = parts[2] >= 0 ? DefaultValue(Eval(parts[2])) : Var::Integer(1);
  if (from.is_string()) from = Var::Double(ToDouble(from));
  if (to.is_string()) to = Var::Double(ToDouble(to));
  if (step.is_string()) step = Var::Double(ToDouble(step));
  if (!from.is_numeric() || !to.is_numeric() || !step.is_numeric())
    Raise(error::kTypeMismatch);
  if (from.is_empty()) from = Var::Integer(0);
  const bool whole = HasIntegerSubtype(from) && HasIntegerSubtype(to) &&
                     HasIntegerSubtype(step);
  const bool wide = from.type() == VType::kLong || to.type() == VType::kLong ||
                    step.type() == VType::kLong;
  const double limit = ToDouble(to), stride = ToDouble(step);
  Assign(n.a,
         whole ? (wide ? Var::Long(from.raw_long()) : from)
               : Var::Double(ToDouble(from)),
         false);
  while (true) {
    Var* counter = RefOf(n.a, nullptr);
    double at = ToDouble(*counter);
    if (stride >= 0 ? at > limit : at < limit) break;
    Flow flow = ExecBlock(parts[3]);
    if (flow == Flow::kExitFor) break;
    if (flow != Flow::kNormal) return flow;
    Step();  // an empty body still uses up the budget
    counter = RefOf(n.a, nullptr);
    if (whole && HasIntegerSubtype(*counter)) {
      int64_t next =
          static_cast<int64_t>(counter->raw_long()) + step.raw_long();
      if (counter->type() == VType::kInteger && !wide && next >= INT16_MIN &&
          next <= INT16_MAX) {
        *counter = Var::Integer(static_cast<int16_t>(next));
      } else if (next >= INT32_MIN && next <= INT32_MAX) {
        *counter = Var::Long(static_cast<int32_t>(next));
      } else {
        Raise(error::kOverflow);
      }
    } else {
      *counter = Binary(BinOp::kAdd, *counter, step);
    }
  }
  return Flow::kNormal;
}

Interpreter::Flow Interpreter::ForEach(const Node& n) {
  std::span<const int32_t> parts = program_->List(n.b);
  Var collection = Eval(parts[0]);
  std::vector<Var> items;
  if (collection.is_array()) {
    items = collection.array()->items;
  } else if (collection.is_object() && collection.object() != nullptr) {
    if (!collection.object()->Enumerate(items)) Raise(error::kNotACollection);
  } else {
    Raise(error::kNotACollection);
  }
  for (Var& item : items) {
    Var* target = RefOf(n.a, nullptr);
    if (target == nullptr) Raise(error::kTypeMismatch);
    if (target->is_array() && target->array()->locks)
      Raise(error::kArrayLocked);
    *target = std::move(item);
    Flow flow = ExecBlock(parts[1]);
    if (flow == Flow::kExitFor) break;
    if (flow != Flow::kNormal) return flow;
  }
  return Flow::kNormal;
}

Interpreter::Flow Interpreter::DoLoop(const Node& n) {
  const DoKind kind = static_cast<DoKind>(n.flag);
  while (true) {
    if (kind == DoKind::kWhileTop && !Truth(n.a)) break;
    if (kind == DoKind::kUntilTop && Truth(n.a)) break;
    Flow flow = ExecBlock(n.b);
    if (flow == Flow::kExitDo) break;
    if (flow != Flow::kNormal) return flow;
    if (kind == DoKind::kWhileBottom && !Truth(n.a)) break;
    if (kind == DoKind::kUntilBottom && Truth(n.a)) break;
    Step();  // an empty body still uses up the budget
  }
  return Flow::kNormal;
}

void Interpreter::Dim(const Node& n) {
  Var* slot = RefOf(n.a, nullptr);
  if (slot == nullptr) Raise(error::kTypeMismatch);
  std::vector<int32_t> upper;
  size_t total = 1;
  for (int32_t b : program_->List(n.b)) {
    int32_t u = ToLong(DefaultValue(Eval(b)));
    if (u < -1) Raise(error::kSubscriptOutOfRange);
    upper.push_back(u);
    total *= static_cast<size_t>(u) + 1;
    if (total > kMaxArrayElements) Raise(error::kOutOfMemory);
  }
  CheckMemory(total * sizeof(Var));
  if (upper.empty() && n.flag == 0) {
    // Dim a(): a dynamic array without elements yet.
    if (slot->is_array() && slot->array()->locks) Raise(error::kArrayLocked);
    *slot = Var::Array(new ArrBox);
    return;
  }
  if (slot->is_array()) {
    if (slot->array()->locks) Raise(error::kArrayLocked);
    if (n.flag != 0 && slot->array()->fixed) Raise(error::kArrayLocked);
  }
  if (n.flag == 2 && slot->is_array() &&
      slot->array()->upper.size() == upper.size() &&
      !slot->array()->upper.empty()) {
    // Preserve changes only the last bound, and the first dimension varies
    // fastest, so the kept elements stay where they are: resize in place,
    // letting the vector's spare capacity make growth one element at a
    // time amortised linear.
    ArrBox& old = *slot->array();
    for (size_t d = 0; d + 1 < upper.size(); ++d) {
      if (old.upper[d] != upper[d]) Raise(error::kSubscriptOutOfRange);
    }
    ArrBox& box = *slot->MutableArray();
    box.items.resize(total);
    box.upper = std::move(upper);
    box.Recharge();
    return;
  }
  auto* box = new ArrBox;
  Var fresh = Var::Array(box);
  box->upper = upper;
  box->fixed = n.flag == 0;
  box->items.resize(total);
  box->Recharge();
  if (n.flag == 2 && slot->is_array() && !slot->array()->upper.empty()) {
    const ArrBox& old = *slot->array();
    if (old.upper.size() != upper.size()) Raise(error::kSubscriptOutOfRange);
    for (size_t d = 0; d + 1 < upper.size(); ++d) {
      if (old.upper[d] != upper[d]) Raise(error::kSubscriptOutOfRange);
    }
    size_t keep = std::min(old.items.size(), box->items.size());
    for (size_t k = 0; k < keep; ++k) box->items[k] = old.items[k];
  }
  *slot = std::move(fresh);
}

void Interpreter::Store(Var& slot, Var value, bool is_set) {
  if (is_set) {
    if (!value.is_object()) Raise(error::kObjectRequired);
  } else if (value.is_object()) {
    value = DefaultValue(std::move(value));
  }
  if (slot.is_array() && slot.array()->locks) Raise(error::kArrayLocked);
  slot = std::move(value);
}

void Interpreter::Assign(int32_t target, Var value, bool is_set) {
  const Node& t = program_->nodes[static_cast<size_t>(target)];
  switch (t.op) {
    case Op::kLocal:
    case Op::kGlobal:
    case Op::kField:
      Store(Slot(t), std::move(value), is_set);
      return;
    case Op::kUndefined: {
      Var* slot = LateSlot(t);
      if (slot == nullptr) Undefined();
      Store(*slot, std::move(value), is_set);
      return;
    }
    case Op::kIndex: {
      // Indices first when the base is an element itself, so that no
      // script code runs between taking the element and storing into it.
      const bool nested =
          program_->nodes[static_cast<size_t>(t.a)].op == Op::kIndex;
      Indices indices;
      if (nested) EvalIndices(t.b, indices);
      Var* base = RefOf(t.a, nullptr);
      Var holder;
      if (base == nullptr) {
        holder = Eval(t.a);
        base = &holder;
      }
      if (base->is_array()) {
        if (!nested) EvalIndices(t.b, indices);
        if (!base->is_array()) Raise(error::kTypeMismatch);
        ArrBox* box = base->MutableArray();
        Store(box->items[box->Offset(indices.span())], std::move(value),
              is_set);
        return;
      }
      if (base->is_object() && base->object() != nullptr) {
        Var object = *base;
        ArgPack pack;
        std::span<const int32_t> list = program_->List(t.b);
        pack.Resize(list.size() + 1);
        for (size_t k = 0; k < list.size(); ++k) {
          pack.Temp(k) = Eval(list[k]);
          pack.Set(k, &pack.Temp(k));
        }
        pack.Temp(list.size()) = std::move(value);
        pack.Set(list.size(), &pack.Temp(list.size()));
        object.object()->Invoke(*this, "", pack.span(),
                                is_set ? CallKind::kSet : CallKind::kLet);
        return;
      }
      if (base->is_object()) Raise(error::kObjectRequired);
      Raise(error::kTypeMismatch);
    }
    case Op::kMember: {
      Var object = Eval(t.a);
      if (!object.is_object() || object.object() == nullptr)
        Raise(error::kObjectRequired);
      ArgPack pack;
      std::span<const int32_t> list = program_->List(t.b);
      if (object.object()->class_id >= 0) {
        auto* instance = static_cast<ClassInstance*>(object.object());
        pack.Resize(list.size());
        for (size_t k = 0; k < list.size(); ++k) {
          pack.Temp(k) = Eval(list[k]);
          pack.Set(k, &pack.Temp(k));
        }
        try {
          InvokeMember(instance, ClassMemberAt(t, instance), pack.span(),
                       &value, is_set ? CallKind::kSet : CallKind::kLet);
        } catch (const Failure& failure) {
          if (failure.number() == error::kNoSuchMethod &&
              missing_member_.empty())
            missing_member_ = FromUtf8(program_->names[t.name]);
          throw;
        }
        return;
      }
      pack.Resize(list.size() + 1);
      for (size_t k = 0; k < list.size(); ++k) {
        pack.Temp(k) = Eval(list[k]);
        pack.Set(k, &pack.Temp(k));
      }
      pack.Temp(list.size()) = std::move(value);
      pack.Set(list.size(), &pack.Temp(list.size()));
      object.object()->Invoke(*this, program_->names[t.name], pack.span(),
                              is_set ? CallKind::kSet : CallKind::kLet);
      return;
    }
    default:
      Raise(error::kIllegalAssignment);
  }
}

void Interpreter::EvalIndices(int32_t list, Indices& out) {
  std::span<const int32_t> items = program_->List(list);
  out.Resize(items.size());
  for (size_t k = 0; k < items.size(); ++k) {
    out.at(k) = ToLong(DefaultValue(Eval(items[k])));
  }
}

Var* Interpreter::RefOf(int32_t node, ArgPack* locks) {
  const Node& n = program_->nodes[static_cast<size_t>(node)];
  switch (n.op) {
    case Op::kLocal:
    case Op::kGlobal:
    case Op::kField:
      return &Slot(n);
    case Op::kUndefined:
      if (Var* slot = LateSlot(n)) return slot;
      if (n.flag == 1) return nullptr;
      Undefined();
    case Op::kIndex: {
      CheckStack();  // a(0)(0)... nests as deep as it is written
      const Node& base = program_->nodes[static_cast<size_t>(n.a)];
      if (!IsSlot(base.op) && base.op != Op::kIndex) {
        return nullptr;
      }
      const bool nested = base.op == Op::kIndex;
      Indices indices;
      if (nested) EvalIndices(n.b, indices);
      Var* array = RefOf(n.a, locks);
      if (array == nullptr || !array->is_array()) return nullptr;
      if (!nested) EvalIndices(n.b, indices);
      if (!array->is_array()) return nullptr;
      ArrBox* box = array->MutableArray();
      Var* element = &box->items[box->Offset(indices.span())];
      if (locks != nullptr) locks->Lock(*array);
      return element;
    }
    default:
      return nullptr;
  }
}

void Interpreter::BuildArgs(int32_t list, ArgPack& pack, bool by_reference) {
  std::span<const int32_t> items = program_->List(list);
  pack.Resize(items.size());
  for (size_t k = 0; k < items.size(); ++k) {
    Var* ref = by_reference ? RefOf(items[k], &pack) : nullptr;
    if (ref == nullptr && !by_reference &&
        program_->nodes[static_cast<size_t>(items[k])].op == Op::kMissing) {
      // Builtins read only; they tell a left-out argument by its address.
      ref = const_cast<Var*>(MissingArgument());
    }
    if (ref == nullptr) {
      pack.Temp(k) = Eval(items[k]);
      ref = &pack.Temp(k);
    }
    pack.Set(k, ref);
  }
}

Var Interpreter::CallMember(const Node& n, CallKind kind) {
  Var object = Eval(n.a);
  if (!object.is_object() || object.object() == nullptr)
    Raise(error::kObjectRequired);
  ArgPack pack;
  BuildArgs(n.b, pack, true);
  const std::string& name = program_->names[n.name];
  try {
    ScriptObject* target = object.object();
    if (target->class_id >= 0) {
      auto* instance = static_cast<ClassInstance*>(target);
      return InvokeMember(instance, ClassMemberAt(n, instance), pack.span(),
                          nullptr, kind);
    }
    if (const void* table = target->MemberTable()) {
      SiteCache& site = CacheAt(n);
      if (site.table != table) {
        site.member = target->FindMember(name);
        site.table = table;
      }
      return target->InvokeResolved(*this, site.member, name, pack.span(),
                                    kind);
    }
    return target->Invoke(*this, name, pack.span(), kind);
  } catch (const Failure& failure) {
    // An untrapped 438 names the member in its message (Err.Description
    // keeps the bare text).
    if (failure.number() == error::kNoSuchMethod && missing_member_.empty())
      missing_member_ = FromUtf8(name);
    throw;
  }
}

Var Interpreter::IndexValue(const Var& base, int32_t args) {
  if (base.is_array()) {
    Indices indices;
    EvalIndices(args, indices);
    const ArrBox& box = *base.array();
    return box.items[box.Offset(indices.span())];
  }
  if (base.is_object()) {
    if (base.object() == nullptr) Raise(error::kObjectRequired);
    Var object = base;
    ArgPack pack;
    BuildArgs(args, pack, true);
    return object.object()->Invoke(*this, "", pack.span(), CallKind::kGet);
  }
  Raise(error::kTypeMismatch);
}

Var Interpreter::CallProcedure(const Program& owner, int32_t id, int32_t args) {
  const Procedure& proc = owner.procedures[static_cast<size_t>(id)];
  // Deep recursion fails cleanly, by count and by the stack it has used
  // (frames are larger in sanitized builds).
  if (depth_ >= options_.max_call_depth) Raise(error::kOutOfStack);
  CheckStack();
  std::span<const int32_t> list = program_->List(args);
  // A wrong count is the caller's run-time error, so a call in a branch
  // that never runs does not stop the script.
  if (list.size() != static_cast<size_t>(proc.params))
    Raise(error::kWrongArgumentCount);
  std::vector<Var> locals(static_cast<size_t>(proc.locals));
  ArgPack pack;
  for (size_t k = 0; k < list.size(); ++k) {
    if (!proc.by_val[k]) {
      if (Var* ref = RefOf(list[k], &pack)) {
        locals[k] = Var::Ref(ref);
        continue;
      }
    }
    locals[k] = Eval(list[k]);
  }
  Var result = RunProcedure(owner, proc, locals.data(), nullptr);
  // Instances held only by the procedure's locals go as it returns.
  locals.clear();
  if (!terminates_.empty()) RunTerminates();
  return result;
}

Var Interpreter::CallReference(const Program& owner, int32_t id, Args args) {
  const Procedure& proc = owner.procedures[static_cast<size_t>(id)];
  if (depth_ >= options_.max_call_depth) Raise(error::kOutOfStack);
  CheckStack();
  if (args.size() != static_cast<size_t>(proc.params))
    Raise(error::kWrongArgumentCount);
  std::vector<Var> locals(static_cast<size_t>(proc.locals));
  // The caller's variables (or its temporaries) stay put during the call.
  for (size_t k = 0; k < args.size(); ++k)
    locals[k] = proc.by_val[k] ? *args[k] : Var::Ref(args[k]);
  Var result = RunProcedure(owner, proc, locals.data(), nullptr);
  locals.clear();
  if (!terminates_.empty()) RunTerminates();
  return result;
}

Var Interpreter::RunProcedure(const Program& owner, const Procedure& proc,
                              Var* locals, ClassInstance* me) {
  if (depth_ >= options_.max_call_depth) Raise(error::kOutOfStack);
  CheckStack();
  std::unique_ptr<AddedLocals> added;
  Frame frame;
  frame.locals = locals;
  frame.proc = &proc;
  frame.added = &added;
  frame.me = me;
  struct Restore {
    Interpreter* self;
    Frame* caller;
    const Program* program;
    ~Restore() {
      self->frame_ = caller;
      self->program_ = program;
      --self->depth_;
    }
  } restore{this, frame_, program_};
  frame_ = &frame;
  program_ = &owner;
  ++depth_;
  ExecBlock(proc.body);
  if (!proc.is_function) return Var();
  return std::move(locals[static_cast<size_t>(proc.result_slot)]);
}

// A script procedure as a value: GetRef's answer, and what a procedure
// that Execute or ExecuteGlobal defined is stored as. Calling it (its
// default member) calls the procedure; it keeps an executed text's tree
// alive as long as it is referred to.
class Interpreter::ProcRef : public ScriptObject {
 public:
  ProcRef(std::shared_ptr<const Program> text, const Program& owner, int32_t id)
      : text_(std::move(text)), owner_(owner), id_(id) {}
  Text TypeName() const override { return u"Object"; }
  Var Invoke(Host& host, std::string_view name, Args args,
             CallKind kind) override {
    if (!name.empty() || kind == CallKind::kLet || kind == CallKind::kSet)
      Raise(error::kNoSuchMethod);
    // Only the interpreter makes these.
    return static_cast<Interpreter&>(host).CallReference(owner_, id_, args);
  }

 private:
  std::shared_ptr<const Program> text_;  // null for the script's own
  const Program& owner_;
  int32_t id_;
};

// The names an executed text sees: the running procedure's slots (unless
// the text runs in the global scope), then the globals and the script's
// procedures. Declarations go to the procedure's frame or the globals.
class Interpreter::Names final : public NameScope {
 public:
  Names(Interpreter& in, Frame* frame) : in_(in), frame_(frame) {
    option_explicit = in.script_.option_explicit;
    in_class = frame != nullptr && frame->me != nullptr;
  }
  bool Find(const std::string& name, bool global_only, Node* out) override {
    out->flag = 0;
    if (frame_ != nullptr && !global_only) {
      const std::vector<std::string>& own = frame_->proc->local_names;
      for (size_t k = 0; k < own.size(); ++k) {
        if (own[k] == name) return Slot(Op::kLocal, k, out);
      }
      // Looked up by name when it runs (the parser keeps the name).
      if (*frame_->added != nullptr && (*frame_->added)->Find(name) != nullptr)
        return Slot(Op::kUndefined, 0, out);
      // In a class's procedure, its member variables by bare name.
      if (frame_->me != nullptr) {
        const ClassDef& c =
            in_.script_.classes[static_cast<size_t>(frame_->me->class_id)];
        auto member = c.by_text.find(name);
        if (member != c.by_text.end()) {
          const int32_t field =
              c.members[static_cast<size_t>(member->second)].field;
          if (field >= 0)
            return Slot(Op::kField, static_cast<size_t>(field), out);
        }
      }
    }
    auto global = in_.global_names_.find(name);
    if (global != in_.global_names_.end())
      return Slot(Op::kGlobal, static_cast<size_t>(global->second), out);
    auto proc = in_.procedure_names_.find(name);
    if (proc == in_.procedure_names_.end()) return false;
    out->op = Op::kCallProc;
    out->a = proc->second;
    out->flag = 1;
    return true;
  }
  int32_t FindClass(const std::string& name) override {
    for (size_t k = 0; k < in_.script_.classes.size(); ++k) {
      if (LowerWord(in_.script_.classes[k].name) == name)
        return static_cast<int32_t>(k);
    }
    return -1;
  }
  Node Declare(const std::string& name) override {
    Node out;
    out.flag = 0;
    if (frame_ != nullptr) {
      // A global of the same name stays hidden behind the new local.
      if (Find(name, false, &out) &&
          (out.op == Op::kLocal || out.op == Op::kUndefined)) {
        return out;
      }
      CheckMemory(sizeof(Var) + name.size());
      std::unique_ptr<AddedLocals>& added = *frame_->added;
      if (added == nullptr) added = std::make_unique<AddedLocals>();
      added->slots.emplace_back();
      added->names.push_back(name);
      Slot(Op::kUndefined, 0, &out);
      return out;
    }
    auto global = in_.global_names_.find(name);
    if (global != in_.global_names_.end()) {
      Slot(Op::kGlobal, static_cast<size_t>(global->second), &out);
      return out;
    }
    // The script's own procedures are bound where they are called.
    if (in_.procedure_names_.count(name))
      throw SyntaxError(0, 0, "Name redefined");
    CheckMemory(sizeof(Var) + name.size());
    in_.globals_.emplace_back();
    const auto slot = static_cast<int32_t>(in_.globals_.size() - 1);
    in_.global_names_[name] = slot;
    Slot(Op::kGlobal, static_cast<size_t>(slot), &out);
    return out;
  }

 private:
  static bool Slot(Op op, size_t at, Node* out) {
    out->op = op;
    out->a = static_cast<int32_t>(at);
    return true;
  }
  Interpreter& in_;
  Frame* frame_;
};

void Interpreter::IndexNames() {
  if (names_indexed_) return;
  names_indexed_ = true;
  for (size_t k = 0; k < script_.globals.size(); ++k)
    global_names_.emplace(LowerWord(script_.globals[k]),
                          static_cast<int32_t>(k));
  for (size_t k = 0; k < script_.procedures.size(); ++k) {
    // A class's methods are no global procedures: they need their Me.
    if (script_.procedures[k].cls >= 0) continue;
    procedure_names_.emplace(LowerWord(script_.procedures[k].name),
                             static_cast<int32_t>(k));
  }
}

Var* Interpreter::LateSlot(const Node& n) {
  IndexNames();
  const std::string& name = program_->names[static_cast<size_t>(n.a)];
  if (frame_->added != nullptr && *frame_->added != nullptr) {
    if (Var* slot = (*frame_->added)->Find(name)) return slot;
  }
  auto global = global_names_.find(name);
  if (global == global_names_.end()) return nullptr;
  return &globals_[static_cast<size_t>(global->second)];
}

Var Interpreter::LateValue(const Node& n) {
  if (Var* slot = LateSlot(n)) return *slot;
  if (n.flag == 1) return Var();
  Undefined();
}

std::shared_ptr<const Program> Interpreter::ParseText(const Text& text,
                                                      TextKind kind,
                                                      Names& names,
                                                      const Frame* frame) {
  // A text parsed in the global scope, or Eval's in a procedure of the
  // script that Execute has not added to, means the same again as long as
  // no global was added since: such short texts (Eval in a loop) are kept.
  const Procedure* proc = frame != nullptr ? frame->proc : nullptr;
  const std::less_equal<const Procedure*> before;
  const bool script_proc = proc != nullptr && !script_.procedures.empty() &&
                           before(&script_.procedures.front(), proc) &&
                           before(proc, &script_.procedures.back());
  const bool cacheable =
      text.size() <= kMaxCachedText &&
      (proc == nullptr || (script_proc && kind == TextKind::kExpression &&
                           *frame->added == nullptr));
  if (cacheable) {
    auto hit = text_cache_.find(text);
    if (hit != text_cache_.end() && hit->second.kind == kind &&
        hit->second.proc == proc && hit->second.globals == global_names_.size())
      return hit->second.tree;
  }
  ParseResult parsed = Parse(text, kind, names);
  if (parsed.error) {
    throw ScriptFailure(
        Failure(parsed.error->number(), FromUtf8(parsed.error->description())),
        u"Microsoft VBScript compilation error");
  }
  auto tree = std::make_shared<const Program>(std::move(parsed.program));
  if (cacheable) {
    if (text_cache_.size() >= kMaxCachedTexts) text_cache_.clear();
    text_cache_[text] = {kind, proc, global_names_.size(), tree};
  }
  return tree;
}

Var Interpreter::RunText(const Text& text, TextKind kind, TextScope where) {
  if (depth_ >= options_.max_call_depth) Raise(error::kOutOfStack);
  CheckStack();
  // Parsing takes time and memory by the text's length: a long text uses
  // up the statement budget as it would if it were run line by line.
  if (options_.max_statements != 0) statements_ += text.size() / 64;
  Step();
  CheckMemory(text.size() * 2 * sizeof(Node));
  IndexNames();
  Frame* caller = frame_;
  const bool global = where == TextScope::kGlobal || caller->proc == nullptr;
  Names names(*this, global ? nullptr : caller);
  std::shared_ptr<const Program> tree =
      ParseText(text, kind, names, global ? nullptr : caller);
  // The text's procedures become variables of the scope it ran in, each
  // holding a reference: callable from there like any procedure.
  for (size_t k = 0; k < tree->procedures.size(); ++k) {
    const std::string name = LowerWord(tree->procedures[k].name);
    Node slot = names.Declare(name);
    Var* target = slot.op == Op::kGlobal
                      ? &globals_[static_cast<size_t>(slot.a)]
                  : slot.op == Op::kLocal ? caller->locals[slot.a].Target()
                                          : (*caller->added)->Find(name);
    *target = Own(new ProcRef(tree, *tree, static_cast<int32_t>(k)));
  }
  Frame frame;
  if (!global) frame = *caller;
  if (global) frame.locals = nullptr;
  frame.resume_next = false;
  struct Restore {
    Interpreter* self;
    Frame* caller;
    const Program* program;
    ~Restore() {
      self->frame_ = caller;
      self->program_ = program;
      --self->depth_;
    }
  } restore{this, caller, program_};
  frame_ = &frame;
  program_ = tree.get();
  ++depth_;
  if (kind == TextKind::kExpression) return Eval(tree->main);
  ExecBlock(tree->main);
  return Var();
}

Var Interpreter::GetRef(const Text& name) {
  IndexNames();
  const std::string lower = LowerWord(name);
  auto proc = procedure_names_.find(lower);
  if (proc != procedure_names_.end())
    return Own(new ProcRef(nullptr, script_, proc->second));
  // A procedure an executed text defined is a variable holding one.
  Var* slot = nullptr;
  if (frame_->added != nullptr && *frame_->added != nullptr)
    slot = (*frame_->added)->Find(lower);
  if (slot == nullptr) {
    auto global = global_names_.find(lower);
    if (global != global_names_.end())
      slot = &globals_[static_cast<size_t>(global->second)];
  }
  if (slot != nullptr && slot->is_object() &&
      dynamic_cast<ProcRef*>(slot->object()) != nullptr)
    return *slot;
  Raise(error::kInvalidCall);
}

Var Interpreter::Eval(int32_t i) {
  CheckStack();  // operands nest as deep as the script's operator chains
  const Node& n = program_->nodes[static_cast<size_t>(i)];
  switch (n.op) {
    case Op::kConst:
      return program_->constants[static_cast<size_t>(n.a)];
    case Op::kMissing:
      return Var();
    case Op::kLocal:
    case Op::kGlobal:
    case Op::kField:
      return Slot(n);
    case Op::kMe:
      return Var::Object(frame_->me);
    case Op::kNew:
      return NewInstance(n.a);
    case Op::kUndefined:
      return LateValue(n);
    case Op::kBinary: {
      const BinOp op = static_cast<BinOp>(n.flag);
      if (op == BinOp::kConcat) {
        Text joined;
        bool all_null = true;
        for (int32_t part : program_->List(n.a)) {
          Var v = Eval(part);
          if (v.is_object()) v = DefaultValue(std::move(v));
          if (v.is_null()) continue;
          all_null = false;
          if (v.is_string())
            joined += v.str();
          else
            joined += ToStr(v);
          CheckTextLength(joined.size());
        }
        if (all_null) return Var::Null();
        return Var::String(std::move(joined));
      }
      Var a = Eval(n.a);
      Var b = Eval(n.b);
      if (a.is_object()) a = DefaultValue(std::move(a));
      if (b.is_object()) b = DefaultValue(std::move(b));
      return Binary(op, a, b);
    }
    case Op::kNegate: {
      Var v = Eval(n.a);
      if (v.is_object()) v = DefaultValue(std::move(v));
      if (n.b == 0 && v.is_string()) return v;
      for (int32_t k = 0; k < n.b; ++k) v = Negate(v);
      if (n.b > 0 && v.is_string()) v = Var::Double(ToDouble(v));
      return v;
    }
    case Op::kNot: {
      Var v = Eval(n.a);
      if (v.is_object()) v = DefaultValue(std::move(v));
      for (int32_t k = 0; k < n.b; ++k) v = Not(v);
      return v;
    }
    case Op::kIs: {
      Var a = Eval(n.a), b = Eval(n.b);
      if (!a.is_object() || !b.is_object()) Raise(error::kObjectRequired);
      return Var::Bool(a.object() == b.object());
    }
    case Op::kParen:
      return Eval(n.a);
    case Op::kCallProc:
      return CallProcedure(n.flag == 1 ? script_ : *program_, n.a, n.b);
    case Op::kBuiltin: {
      ArgPack pack;
      BuildArgs(n.b, pack, false);
      return CallBuiltin(*this, n.a, pack.span());
    }
    case Op::kIndex: {
      const Node& base = program_->nodes[static_cast<size_t>(n.a)];
      if (IsSlot(base.op)) {
        const Var& v = Slot(base);
        if (v.is_array()) return IndexValue(v, n.b);
        Var copy = v;
        return IndexValue(copy, n.b);
      }
      return IndexValue(Eval(n.a), n.b);
    }
    case Op::kMember:
      return CallMember(n, CallKind::kGet);
    default:
      Raise(error::kInvalidCall);
  }
}

// ---- classes ------------------------------------------------------------

ClassInstance::ClassInstance(Interpreter& in, int32_t cls, size_t fields)
    : in_(in), fields_(fields) {
  class_id = cls;
  in_.Link(this);
}

ClassInstance::~ClassInstance() { in_.Unlink(this); }

Text ClassInstance::TypeName() const {
  return in_.program().classes[static_cast<size_t>(class_id)].name;
}

Var ClassInstance::Invoke(Host& host, std::string_view name, Args args,
                          CallKind kind) {
  // Only the interpreter makes instances.
  auto& in = static_cast<Interpreter&>(host);
  const ClassDef& c = in.program().classes[static_cast<size_t>(class_id)];
  int32_t member = c.default_member;
  if (!name.empty()) {
    auto it = c.by_text.find(std::string(name));
    member = it == c.by_text.end() ? -1 : it->second;
  }
  Var* value = nullptr;
  if (kind == CallKind::kLet || kind == CallKind::kSet) {
    if (args.empty()) Raise(error::kWrongArgumentCount);
    value = args.back();
    args = args.first(args.size() - 1);
  }
  return in.InvokeMember(this, member, args, value, kind);
}

void ClassInstance::Drop() {
  for (Var& field : fields_) field = Var();
}

bool ClassInstance::KeepWhenUnreferenced() {
  return armed_ && in_.QueueTerminate(this);
}

void Interpreter::Link(ClassInstance* object) {
  object->next_ = instances_;
  if (instances_ != nullptr) instances_->prev_ = object;
  instances_ = object;
}

void Interpreter::Unlink(ClassInstance* object) {
  if (object->prev_ != nullptr)
    object->prev_->next_ = object->next_;
  else
    instances_ = object->next_;
  if (object->next_ != nullptr) object->next_->prev_ = object->prev_;
}

bool Interpreter::QueueTerminate(ClassInstance* object) {
  if (ending_) return false;
  try {
    terminates_.push_back(object);
  } catch (const std::bad_alloc&) {
    return false;  // it goes without its Terminate
  }
  return true;
}

// In the order the last references went. A failure inside Class_Terminate
// ends that Terminate only (it runs where the script cannot handle it);
// Err tells it.
void Interpreter::RunTerminates() {
  while (!terminates_.empty()) {
    ClassInstance* object = terminates_.front();
    terminates_.pop_front();
    Var hold = Var::Object(object);
    object->armed_ = false;
    const ClassDef& c = script_.classes[static_cast<size_t>(object->class_id)];
    const Procedure& proc =
        script_.procedures[static_cast<size_t>(c.terminate)];
    std::vector<Var> locals(static_cast<size_t>(proc.locals));
    try {
      RunProcedure(script_, proc, locals.data(), object);
    } catch (const ScriptFailure& failure) {
      Trap(failure, failure.source());
    } catch (const Failure& failure) {
      Trap(failure, kRuntimeSource);
    }
    locals.clear();
  }  // `hold` goes: the instance with it, unless Terminate kept a reference
}

void Interpreter::ReleaseGlobals() {
  if (!terminates_.empty()) RunTerminates();
  for (Var& global : globals_) {
    global = Var();
    if (!terminates_.empty()) RunTerminates();
  }
}

int32_t Interpreter::ClassMemberAt(const Node& n, const ClassInstance* object) {
  const ClassDef& c = script_.classes[static_cast<size_t>(object->class_id)];
  if (program_ != &script_) {
    // An executed text numbers its names apart from the script.
    auto member = c.by_text.find(program_->names[n.name]);
    return member == c.by_text.end() ? -1 : member->second;
  }
  SiteCache& site = CacheAt(n);
  if (site.table != &c) {
    auto member = c.by_name.find(n.name);
    site.member = member == c.by_name.end() ? -1 : member->second;
    site.table = &c;
  }
  return site.member;
}

Var Interpreter::NewInstance(int32_t cls) {
  if (cls < 0) Raise(error::kClassNotDefined);
  const ClassDef& c = script_.classes[static_cast<size_t>(cls)];
  auto* object = new ClassInstance(*this, cls, c.fields.size());
  Var held = Own(object);
  object->Charge(sizeof(ClassInstance) + c.fields.size() * sizeof(Var));
  for (size_t k = 0; k < c.fields.size(); ++k) {
    const ClassField& field = c.fields[k];
    if (!field.array) continue;
    size_t total = 1;
    for (int32_t upper : field.bounds) {
      if (upper < 0) Raise(error::kSubscriptOutOfRange);
      total *= static_cast<size_t>(upper) + 1;
      if (total > kMaxArrayElements) Raise(error::kOutOfMemory);
    }
    CheckMemory(total * sizeof(Var));
    auto* box = new ArrBox;
    Var array = Var::Array(box);
    box->upper = field.bounds;
    box->fixed = !field.bounds.empty();
    if (!field.bounds.empty()) box->items.resize(total);
    box->Recharge();
    object->fields_[k] = std::move(array);
  }
  if (c.initialize >= 0) {
    // A failure here reaches the New; the instance goes without Terminate.
    CallClassProcedure(c.initialize, object, {}, nullptr);
  }
  object->armed_ = c.terminate >= 0;
  return held;
}

Var Interpreter::CallClassProcedure(int32_t id, ClassInstance* object,
                                    Args args, Var* value) {
  const Procedure& proc = script_.procedures[static_cast<size_t>(id)];
  const size_t given = args.size() + (value != nullptr ? 1 : 0);
  if (given != static_cast<size_t>(proc.params))
    Raise(error::kWrongArgumentCount);
  // Small frames live on the stack: property calls are frequent.
  constexpr size_t kInlineLocals = 8;
  Var inline_locals[kInlineLocals];
  std::vector<Var> more;
  const size_t count = static_cast<size_t>(proc.locals);
  if (count > kInlineLocals) more.resize(count);
  Var* locals = count > kInlineLocals ? more.data() : inline_locals;
  for (size_t k = 0; k < args.size(); ++k) {
    locals[k] = proc.by_val[k] ? *args[k] : Var::Ref(args[k]);
  }
  if (value != nullptr) locals[args.size()] = *value;
  Var hold = Var::Object(object);  // Me lives as long as its call
  struct Release {
    Var* locals;
    size_t count;
    ~Release() {
      for (size_t k = 0; k < count; ++k) locals[k] = Var();
    }
  };
  Var result;
  {
    Release release{locals, count};
    result = RunProcedure(script_, proc, locals, object);
  }
  hold = Var();
  if (!terminates_.empty()) RunTerminates();
  return result;
}

Var Interpreter::InvokeMember(ClassInstance* object, int32_t member, Args args,
                              Var* value, CallKind kind) {
  const ClassDef& c = script_.classes[static_cast<size_t>(object->class_id)];
  if (member < 0) NoMember();
  const ClassMember& m = c.members[static_cast<size_t>(member)];
  // Private members answer only the class's own code.
  const bool inside =
      frame_->me != nullptr && frame_->me->class_id == object->class_id;
  auto allowed = [&](int32_t proc) {
    return proc >= 0 &&
           (inside || script_.procedures[static_cast<size_t>(proc)].is_public);
  };
  if (m.field >= 0) {
    if (!inside && !m.field_public) NoMember();
    Var& field = object->fields_[static_cast<size_t>(m.field)];
    Var* target = &field;
    if (!args.empty()) {
      if (!field.is_array()) {
        if (field.is_object() && field.object() != nullptr) {
          Var inner = field;
          if (value != nullptr) {
            ArgPack pack;
            pack.Resize(args.size() + 1);
            for (size_t k = 0; k < args.size(); ++k) pack.Set(k, args[k]);
            pack.Set(args.size(), value);
            return inner.object()->Invoke(*this, "", pack.span(), kind);
          }
          return inner.object()->Invoke(*this, "", args, kind);
        }
        Raise(error::kTypeMismatch);
      }
      Indices indices;
      indices.Resize(args.size());
      for (size_t k = 0; k < args.size(); ++k)
        indices.at(k) = ToLong(DefaultValue(*args[k]));
      if (value == nullptr) {
        const ArrBox& box = *field.array();
        return box.items[box.Offset(indices.span())];
      }
      if (field.array()->locks) Raise(error::kArrayLocked);
      ArrBox* box = field.MutableArray();
      target = &box->items[box->Offset(indices.span())];
    }
    if (value == nullptr) return *target;
    Store(*target, std::move(*value), kind == CallKind::kSet);
    return Var();
  }
  int32_t proc;
  switch (kind) {
    case CallKind::kLet:
      proc = m.let;
      break;
    case CallKind::kSet:
      proc = m.set;
      break;
    default:
      proc = m.method >= 0 ? m.method : m.get;
      break;
  }
  if (!allowed(proc)) NoMember();
  Var assigned;
  if (value != nullptr) {
    assigned = kind == CallKind::kLet && value->is_object()
                   ? DefaultValue(*value)
                   : *value;
    if (kind == CallKind::kSet && !assigned.is_object())
      Raise(error::kObjectRequired);
  }
  return CallClassProcedure(proc, object, args,
                            value != nullptr ? &assigned : nullptr);
}

}  // namespace script

int RunScript(std::string_view bytes, std::string_view file, std::ostream& out,
              std::ostream& err, const RunOptions& options) {
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (bytes.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    bytes.remove_prefix(kByteOrderMark.size());
  }
  ParseResult parsed = Parse(FromUtf8(bytes));
  auto write = [&](std::string_view text) {
    err.write(text.data(), static_cast<std::streamsize>(text.size()));
  };
  auto where = [&](int line, int column) {
    write(file);
    write("(");
    write(std::to_string(line));
    write(", ");
    write(std::to_string(column));
    write(") ");
  };
  if (parsed.error) {
    where(parsed.error->line(), parsed.error->column());
    write("syntax error: " + std::string(parsed.error->what()) + "\n");
    err.flush();
    return kExitSyntaxError;
  }
  // WScript.ScriptName: the file's name without its folder.
  std::string_view name = file;
  size_t slash = name.find_last_of("/\\");
  if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
  int code = kExitOk;
  std::optional<RuntimeError> failure;
  {
    script::Interpreter interpreter(parsed.program, out, err, FromUtf8(name),
                                    options);
    failure = interpreter.Run(&code);
  }
  out.flush();
  if (failure) {
    where(failure->line, failure->column);
    write(failure->from_library ? "PellarLib: " : "runtime error: ");
    write(ToUtf8(failure->description) + "\n");
    for (const auto& [line, column] : failure->callers) {
      write("    called from ");
      write(file);
      write("(" + std::to_string(line) + ", " + std::to_string(column) + ")\n");
    }
    if (failure->callers_left_out > 0) {
      write("    and " + std::to_string(failure->callers_left_out) +
            " more calls\n");
    }
    err.flush();
  }
  return code;
}

}  // namespace pellar
