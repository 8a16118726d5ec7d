// VARIANT arguments and results as automation values: what a caller may
// pass (a value, a typed reference such as VT_BYREF|VT_BSTR, or a variant
// reference VT_BYREF|VT_VARIANT as script engines pass variables) and how a
// ref parameter's final value gets back into the caller's variable.
#ifndef PELLAR_COM_VARIANTS_H_
#define PELLAR_COM_VARIANTS_H_

#include <oaidl.h>

#include <pellar/base/value.h>

namespace pellar::com {

// One argument as read from the caller.
struct ReadArg {
  Value value;
  // The caller's variable, when the argument is a reference: a typed
  // reference (VT_BYREF|type) or the VARIANT behind a variant reference.
  VARIANT* typed_ref = nullptr;
  VARIANT* variant_ref = nullptr;

  bool is_reference() const { return typed_ref || variant_ref; }
  // The storage the reference leads to; two arguments naming the same
  // variable have the same identity.
  const void* identity() const;
};

// Reads `arg` for a parameter of `declared` type. Types the table's values
// do not model (dates, currency, objects with a default value, ...) are
// converted to `declared` by the automation runtime. Fails with
// DISP_E_TYPEMISMATCH or DISP_E_OVERFLOW when that conversion fails, with
// DISP_E_PARAMNOTFOUND for a missing argument (VT_ERROR).
HRESULT ReadArgument(VARIANT* arg, Type declared, ReadArg* out);

// Stores `value` (of the parameter's declared type) into the caller's
// variable behind `target`. A variant reference ends up holding the declared
// type; a typed reference of another type receives the value converted to
// its own type and keeps its old value when that conversion fails.
HRESULT WriteBack(const Value& value, const ReadArg& target);

// `value` as a new VARIANT in `out` (which holds nothing to release).
HRESULT ToVariant(const Value& value, VARIANT* out);

}  // namespace pellar::com

#endif  // PELLAR_COM_VARIANTS_H_
