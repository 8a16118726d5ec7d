// The two ways into a method of the automation table, as the dual
// interfaces offer them: late bound through IDispatch::Invoke (VARIANT
// arguments in reverse order, failures in EXCEPINFO) and early bound through
// the vtable (typed arguments, failures as HRESULT 0x800A0000 + number with
// IErrorInfo). Both end in pellar::Invoke, so conversions, write-back of ref
// parameters and failures are the same either way. Nothing throws.
#ifndef PELLAR_COM_DISPATCH_H_
#define PELLAR_COM_DISPATCH_H_

#include <oaidl.h>

#include <initializer_list>

#include <pellar/automation/automation.h>

namespace pellar::com {

// "PellarLib", the source of every error the server reports.
extern const wchar_t kErrorSource[];

// 0x800A0000 + number: an automation error as an HRESULT.
HRESULT ErrorResult(int number);

// One argument of a vtable call, typed as the dual interface declares it.
class ComArg {
 public:
  enum class Kind { kStr, kStrRef, kI4, kI4Ref, kI2, kI2Ref, kBool, kBoolRef };

  static ComArg Str(BSTR v) { return ComArg(Kind::kStr, v); }
  static ComArg StrRef(BSTR* p) { return ComArg(Kind::kStrRef, p); }
  static ComArg I4(LONG v) { return ComArg(Kind::kI4, v); }
  static ComArg I4Ref(LONG* p) { return ComArg(Kind::kI4Ref, p); }
  static ComArg I2(SHORT v) { return ComArg(Kind::kI2, v); }
  static ComArg I2Ref(SHORT* p) { return ComArg(Kind::kI2Ref, p); }
  static ComArg Bool(VARIANT_BOOL v) { return ComArg(Kind::kBool, v); }
  static ComArg BoolRef(VARIANT_BOOL* p) { return ComArg(Kind::kBoolRef, p); }

  Kind kind() const { return kind_; }
  // The caller's variable of a reference; nullptr for a value.
  void* ref() const { return ref_; }
  // The argument's value (read through a reference).
  Value value() const;
  // Stores `value`, of the declared type, through the reference.
  HRESULT Store(const Value& value) const;

 private:
  template <typename T>
  ComArg(Kind kind, T* ref) : kind_(kind), ref_(ref) {}
  ComArg(Kind kind, BSTR v) : kind_(kind), str_(v) {}
  ComArg(Kind kind, LONG v) : kind_(kind), i4_(v) {}
  ComArg(Kind kind, SHORT v) : kind_(kind), i2_(v) {}

  Kind kind_;
  void* ref_ = nullptr;
  BSTR str_ = nullptr;
  LONG i4_ = 0;
  SHORT i2_ = 0;
};

// A call through the vtable of `iid`: runs method `slot` of `object` and
// stores its result. On a failure the result is cleared, IErrorInfo is set
// and the HRESULT is 0x800A0000 + number.
HRESULT CallFromVtable(Object& object, REFIID iid, int slot,
                       std::initializer_list<ComArg> args, BSTR* result);
HRESULT CallFromVtable(Object& object, REFIID iid, int slot,
                       std::initializer_list<ComArg> args,
                       VARIANT_BOOL* result);

// IDispatch of an instance of `object`'s class.
HRESULT InvokeFromDispatch(Object& object, DISPID id, REFIID riid, WORD flags,
                           DISPPARAMS* params, VARIANT* result,
                           EXCEPINFO* exception, UINT* arg_error);
HRESULT IdsOfNames(const ClassInfo& cls, REFIID riid, LPOLESTR* names,
                   UINT count, DISPID* ids);
HRESULT TypeInfoOf(const ClassInfo& cls, UINT index, ITypeInfo** info);

}  // namespace pellar::com

#endif  // PELLAR_COM_DISPATCH_H_
