#include "variants.h"

#include <oleauto.h>

#include <cstdint>
#include <limits>

#include "holders.h"

namespace pellar::com {
namespace {

VARTYPE VarTypeOf(Type type) {
  switch (type) {
    case Type::kText:
      return VT_BSTR;
    case Type::kInt32:
      return VT_I4;
    case Type::kInt16:
      return VT_I2;
    case Type::kBoolean:
      return VT_BOOL;
  }
  return VT_EMPTY;
}

// Reads a VARIANT that is not a reference.
HRESULT ReadValue(const VARIANT& v, Type declared, Value* out) {
  switch (V_VT(&v)) {
    case VT_EMPTY:
      *out = std::monostate();
      return S_OK;
    case VT_I2:
      *out = V_I2(&v);
      return S_OK;
    case VT_I4:
      *out = static_cast<int32_t>(V_I4(&v));
      return S_OK;
    case VT_INT:
      *out = static_cast<int32_t>(V_INT(&v));
      return S_OK;
    case VT_UI1:
      *out = static_cast<int16_t>(V_UI1(&v));
      return S_OK;
    case VT_I1:
      *out = static_cast<int16_t>(V_I1(&v));
      return S_OK;
    case VT_UI2:
      *out = static_cast<int32_t>(V_UI2(&v));
      return S_OK;
    case VT_R4:
      *out = static_cast<double>(V_R4(&v));
      return S_OK;
    case VT_R8:
      *out = V_R8(&v);
      return S_OK;
    case VT_BOOL:
      *out = V_BOOL(&v) != VARIANT_FALSE;
      return S_OK;
    case VT_BSTR:
      *out = TextOf(V_BSTR(&v));
      return S_OK;
    case VT_ERROR:
      return V_ERROR(&v) == DISP_E_PARAMNOTFOUND ? DISP_E_PARAMNOTFOUND
                                                 : DISP_E_TYPEMISMATCH;
    default:
      break;
  }
  // Anything else, the runtime's own conversion to the declared type.
  Variant converted;
  HRESULT hr = ::VariantChangeType(converted.get(), const_cast<VARIANT*>(&v), 0,
                                   VarTypeOf(declared));
  if (FAILED(hr)) {
    return hr == DISP_E_OVERFLOW ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH;
  }
  return ReadValue(*converted, declared, out);
}

// Stores `converted`, of the typed reference's own type, through it.
HRESULT StoreThrough(VARIANT* ref, VARIANT* converted) {
  switch (V_VT(ref) & VT_TYPEMASK) {
    case VT_BSTR:
      ::SysFreeString(*V_BSTRREF(ref));
      *V_BSTRREF(ref) = V_BSTR(converted);
      V_VT(converted) = VT_EMPTY;  // handed over
      return S_OK;
    case VT_I2:
      *V_I2REF(ref) = V_I2(converted);
      return S_OK;
    case VT_I4:
      *V_I4REF(ref) = V_I4(converted);
      return S_OK;
    case VT_INT:
      *V_INTREF(ref) = V_INT(converted);
      return S_OK;
    case VT_UI1:
      *V_UI1REF(ref) = V_UI1(converted);
      return S_OK;
    case VT_I1:
      *V_I1REF(ref) = V_I1(converted);
      return S_OK;
    case VT_UI2:
      *V_UI2REF(ref) = V_UI2(converted);
      return S_OK;
    case VT_UI4:
      *V_UI4REF(ref) = V_UI4(converted);
      return S_OK;
    case VT_UINT:
      *V_UINTREF(ref) = V_UINT(converted);
      return S_OK;
    case VT_I8:
      *V_I8REF(ref) = V_I8(converted);
      return S_OK;
    case VT_UI8:
      *V_UI8REF(ref) = V_UI8(converted);
      return S_OK;
    case VT_R4:
      *V_R4REF(ref) = V_R4(converted);
      return S_OK;
    case VT_R8:
      *V_R8REF(ref) = V_R8(converted);
      return S_OK;
    case VT_BOOL:
      *V_BOOLREF(ref) = V_BOOL(converted);
      return S_OK;
    case VT_CY:
      *V_CYREF(ref) = V_CY(converted);
      return S_OK;
    case VT_DATE:
      *V_DATEREF(ref) = V_DATE(converted);
      return S_OK;
    default:
      return S_FALSE;  // a kind of variable left as it was
  }
}

}  // namespace

const void* ReadArg::identity() const {
  if (typed_ref != nullptr) return V_BYREF(typed_ref);
  return variant_ref;
}

HRESULT ReadArgument(VARIANT* arg, Type declared, ReadArg* out) {
  *out = ReadArg();
  VARIANT* current = arg;
  while (V_VT(current) == (VT_BYREF | VT_VARIANT)) {
    if (V_VARIANTREF(current) == nullptr) return DISP_E_TYPEMISMATCH;
    current = V_VARIANTREF(current);
    out->variant_ref = current;
  }
  if ((V_VT(current) & VT_BYREF) == 0) {
    return ReadValue(*current, declared, &out->value);
  }
  if (V_BYREF(current) == nullptr || (V_VT(current) & VT_ARRAY) != 0) {
    return DISP_E_TYPEMISMATCH;
  }
  out->variant_ref = nullptr;
  out->typed_ref = current;
  Variant copy;
  HRESULT hr = ::VariantCopyInd(copy.get(), current);
  if (FAILED(hr)) return hr == E_OUTOFMEMORY ? hr : DISP_E_TYPEMISMATCH;
  return ReadValue(*copy, declared, &out->value);
}

HRESULT ToVariant(const Value& value, VARIANT* out) {
  ::VariantInit(out);
  if (const Text* text = std::get_if<Text>(&value)) {
    BSTR bstr =
        ::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text->data()),
                            static_cast<UINT>(text->size()));
    if (bstr == nullptr) return E_OUTOFMEMORY;
    V_VT(out) = VT_BSTR;
    V_BSTR(out) = bstr;
  } else if (const int32_t* i4 = std::get_if<int32_t>(&value)) {
    V_VT(out) = VT_I4;
    V_I4(out) = *i4;
  } else if (const int16_t* i2 = std::get_if<int16_t>(&value)) {
    V_VT(out) = VT_I2;
    V_I2(out) = *i2;
  } else if (const bool* b = std::get_if<bool>(&value)) {
    V_VT(out) = VT_BOOL;
    V_BOOL(out) = *b ? VARIANT_TRUE : VARIANT_FALSE;
  } else if (const double* d = std::get_if<double>(&value)) {
    V_VT(out) = VT_R8;
    V_R8(out) = *d;
  }
  return S_OK;
}

HRESULT WriteBack(const Value& value, const ReadArg& target) {
  if (target.variant_ref != nullptr) {
    // Built first, so a failure leaves the variable untouched.
    VARIANT fresh;
    HRESULT hr = ToVariant(value, &fresh);
    if (FAILED(hr)) return hr;
    ::VariantClear(target.variant_ref);
    *target.variant_ref = fresh;
    return S_OK;
  }
  if (target.typed_ref == nullptr) return S_OK;
  Variant fresh;
  HRESULT hr = ToVariant(value, fresh.get());
  if (FAILED(hr)) return hr;
  const VARTYPE own = V_VT(target.typed_ref) & VT_TYPEMASK;
  Variant converted;
  if (FAILED(::VariantChangeType(converted.get(), fresh.get(), 0, own))) {
    return S_FALSE;  // the variable's type cannot hold the value
  }
  return StoreThrough(target.typed_ref, converted.get());
}

}  // namespace pellar::com
