// The automation table: every class, method, slot, dispatch id, parameter
// name, type and passing of the library, and Invoke, the one way the script
// host and the COM server call a method.
#ifndef PELLAR_AUTOMATION_AUTOMATION_H_
#define PELLAR_AUTOMATION_AUTOMATION_H_

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include <pellar/base/export.h>
#include <pellar/base/failure.h>
#include <pellar/base/text.h>
#include <pellar/base/value.h>

namespace pellar {

enum class Passing { kVal, kRef };

inline constexpr int32_t kFirstDispId = 0x60030000;

struct ParamInfo {
  TextView name;
  Type type;
  Passing passing;
};

struct Arg;

// `call` converts `args` (one per parameter, in order) to the declared
// types, runs the method on `self` and writes ref parameters back; see
// Invoke for the rules.
using MethodThunk = Value (*)(void* self, std::span<Arg> args);

struct MethodInfo {
  TextView name;
  int slot;
  int32_t dispid;  // kFirstDispId + slot
  Type result;
  std::vector<ParamInfo> params;
  MethodThunk call;
};

struct ClassInfo {
  TextView name;            // "Cell"
  TextView progid;          // "PellarLib.Cell"
  TextView interface_name;  // "_Cell"
  std::vector<MethodInfo> methods;  // in slot order
  void* (*create)();
  void (*destroy)(void*);
};

// The seven classes, in the order of the type library.
PELLAR_EXPORT const std::vector<ClassInfo>& Classes();

// Case-insensitive; nullptr when unknown.
PELLAR_EXPORT const ClassInfo* FindClass(TextView progid);
PELLAR_EXPORT const MethodInfo* FindMethod(const ClassInfo& cls, TextView name);
PELLAR_EXPORT const MethodInfo* FindMethod(const ClassInfo& cls, int32_t dispid);

// One live instance of a class. Owns the instance; not copyable.
class PELLAR_EXPORT Object {
 public:
  // Creates an instance by programmatic identifier (case-insensitive).
  // Fails with 429 for an unknown identifier.
  static std::unique_ptr<Object> Create(TextView progid);
  explicit Object(const ClassInfo& cls);
  ~Object();
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  const ClassInfo& cls() const { return *cls_; }
  void* self() const { return self_; }

 private:
  const ClassInfo* cls_;
  void* self_;
};

// One argument of a call: a value, or a reference to the caller's variable.
struct Arg {
  Value value;
  Value* ref = nullptr;

  static Arg Val(Value v) { return Arg{std::move(v), nullptr}; }
  static Arg Ref(Value& variable) { return Arg{Value{}, &variable}; }
  const Value& get() const { return ref ? *ref : value; }
};

// Calls `method` of `object`. Before the method runs: a wrong argument count
// fails with 450, an argument that cannot be converted to its declared type
// with 13 or 6 as an ArgumentFailure naming the argument. After the method, every ref parameter's final value,
// converted to its declared type, is written into the caller's variable
// (also after the method failed, so work done stays visible). Failures of
// the method itself pass through as Failure; running out of memory becomes
// Failure 7.
PELLAR_EXPORT Value Invoke(Object& object, const MethodInfo& method, std::span<Arg> args);
// By name; fails with 438 for an unknown method.
PELLAR_EXPORT Value Invoke(Object& object, TextView method, std::span<Arg> args);

// Thrown by Invoke when an argument cannot be converted to its declared
// type: carries the zero-based index of that argument.
class PELLAR_EXPORT ArgumentFailure : public Failure {
 public:
  ArgumentFailure(const Failure& failure, int index)
      : Failure(failure), index_(index) {}
  int index() const { return index_; }

 private:
  int index_;
};

}  // namespace pellar

#endif  // PELLAR_AUTOMATION_AUTOMATION_H_
