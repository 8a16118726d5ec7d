#include "dispatch.h"

#include <oleauto.h>

#include <cwchar>
#include <new>
#include <span>
#include <string>
#include <vector>

#include <pellar/base/failure_internal.h>
#include <pellar/base/text_internal.h>
#include "holders.h"
#include "module.h"
#include "variants.h"

namespace pellar::com {

const wchar_t kErrorSource[] = L"PellarLib";

HRESULT ErrorResult(int number) {
  return static_cast<HRESULT>(0x800A0000u + static_cast<uint32_t>(number));
}

namespace {

// How a call ended, before it is told in the caller's terms.
struct Outcome {
  enum class Kind { kDone, kArgument, kFailure, kUnexpected };
  Kind kind = Kind::kDone;
  int number = 0;
  Text description;
  int arg_index = -1;  // of kArgument, in parameter order

  // Whether the method itself ran (so ref parameters carry its results).
  bool ran() const { return kind == Kind::kDone || kind == Kind::kFailure; }
};

Outcome Run(Object& object, const MethodInfo& method, std::span<Arg> args,
            Value* result) {
  Outcome outcome;
  try {
    *result = Invoke(object, method, args);
  } catch (const ArgumentFailure& f) {
    outcome = {Outcome::Kind::kArgument, f.number(), f.description(),
               f.index()};
  } catch (...) {
    try {
      const Failure f = CaughtFailure();
      outcome = {Outcome::Kind::kFailure, f.number(), f.description(), -1};
    } catch (...) {
      outcome.kind = Outcome::Kind::kUnexpected;
    }
  }
  return outcome;
}

std::wstring Wide(TextView text) {
  return std::wstring(text.begin(), text.end());
}

TextView ViewOf(const wchar_t* s) {
  return TextView(reinterpret_cast<const char16_t*>(s), std::wcslen(s));
}

// Sets the thread's IErrorInfo for a failure of interface `iid`.
void SetErrorInfoFor(REFIID iid, TextView description) {
  ComPtr<ICreateErrorInfo> create;
  if (FAILED(::CreateErrorInfo(create.put()))) return;
  std::wstring source = kErrorSource;
  std::wstring text = Wide(description);
  create->SetGUID(iid);
  create->SetSource(source.data());
  create->SetDescription(text.data());
  ComPtr<IErrorInfo> info;
  if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, info.put_void()))) {
    ::SetErrorInfo(0, info.get());
  }
}

// The HRESULT of a failed outcome for a vtable caller.
HRESULT VtableFailure(REFIID iid, const Outcome& outcome) {
  if (outcome.kind == Outcome::Kind::kUnexpected) return E_UNEXPECTED;
  SetErrorInfoFor(iid, outcome.description);
  return ErrorResult(outcome.number);
}

HRESULT CallVtable(Object& object, REFIID iid, int slot,
                   std::initializer_list<ComArg> args, Value* result) {
  const MethodInfo* method =
      FindMethod(object.cls(), kFirstDispId + static_cast<int32_t>(slot));
  if (method == nullptr || args.size() != method->params.size()) {
    return E_UNEXPECTED;  // the generated classes cannot get here
  }
  const ComArg* arg = args.begin();
  const size_t n = args.size();
  // values[i] holds the variable of argument i; an argument naming the
  // same variable as an earlier one shares that one's value.
  std::vector<Value> values(n);
  std::vector<size_t> owner(n);
  std::vector<Arg> call_args;
  call_args.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    owner[i] = i;
    if (arg[i].ref() == nullptr) {
      if (arg[i].kind() == ComArg::Kind::kStr ||
          arg[i].kind() == ComArg::Kind::kI4 ||
          arg[i].kind() == ComArg::Kind::kI2 ||
          arg[i].kind() == ComArg::Kind::kBool) {
        call_args.push_back(Arg::Val(arg[i].value()));
        continue;
      }
      return E_POINTER;
    }
    for (size_t j = 0; j < i; ++j) {
      if (arg[j].ref() == arg[i].ref()) owner[i] = owner[j];
    }
    if (owner[i] == i) values[i] = arg[i].value();
    call_args.push_back(Arg::Ref(values[owner[i]]));
  }

  Outcome outcome = Run(object, *method, call_args, result);
  if (outcome.ran()) {
    for (size_t i = 0; i < n; ++i) {
      if (arg[i].ref() != nullptr && owner[i] == i) {
        HRESULT hr = arg[i].Store(values[i]);
        if (FAILED(hr) && outcome.kind == Outcome::Kind::kDone) return hr;
      }
    }
  }
  if (outcome.kind != Outcome::Kind::kDone) return VtableFailure(iid, outcome);
  ::SetErrorInfo(0, nullptr);
  return S_OK;
}

// Fills EXCEPINFO for a failure the method reported, and IErrorInfo too,
// for clients that ask ISupportErrorInfo about IDispatch.
HRESULT DispatchFailure(REFIID iid, const Outcome& outcome,
                        EXCEPINFO* exception) {
  if (outcome.kind == Outcome::Kind::kUnexpected) return E_UNEXPECTED;
  SetErrorInfoFor(iid, outcome.description);
  if (exception == nullptr) return ErrorResult(outcome.number);
  *exception = EXCEPINFO();
  try {
    exception->bstrSource = Bstr(ViewOf(kErrorSource)).release();
    exception->bstrDescription = Bstr(outcome.description).release();
  } catch (const std::bad_alloc&) {
    // The numbers below still tell the failure.
  }
  exception->scode = ErrorResult(outcome.number);
  return DISP_E_EXCEPTION;
}

HRESULT Dispatch(Object& object, DISPID id, REFIID riid, WORD flags,
                 DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                 UINT* arg_error) {
  if (!::IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  const MethodInfo* method = FindMethod(object.cls(), static_cast<int32_t>(id));
  if (method == nullptr) return DISP_E_MEMBERNOTFOUND;
  // Methods are called as methods, or read like a property (a script's
  // "x = obj.Clear"); they cannot be assigned to.
  if ((flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) == 0) {
    return DISP_E_MEMBERNOTFOUND;
  }
  if (params == nullptr) return E_INVALIDARG;
  const size_t n = method->params.size();
  if (params->cArgs != n) return DISP_E_BADPARAMCOUNT;
  if (params->cNamedArgs > params->cArgs ||
      (params->cArgs > 0 && params->rgvarg == nullptr) ||
      (params->cNamedArgs > 0 && params->rgdispidNamedArgs == nullptr)) {
    return E_INVALIDARG;
  }

  // source[k]: the index in rgvarg of parameter k. Positional arguments
  // come last in rgvarg, in reverse order; named ones first.
  constexpr UINT kNone = static_cast<UINT>(-1);
  std::vector<UINT> source(n, kNone);
  const UINT positional = params->cArgs - params->cNamedArgs;
  for (UINT k = 0; k < positional; ++k) source[k] = params->cArgs - 1 - k;
  for (UINT i = 0; i < params->cNamedArgs; ++i) {
    DISPID position = params->rgdispidNamedArgs[i];
    if (position < 0 || static_cast<size_t>(position) >= n ||
        source[static_cast<size_t>(position)] != kNone) {
      if (arg_error != nullptr) *arg_error = i;
      return DISP_E_PARAMNOTFOUND;
    }
    source[static_cast<size_t>(position)] = i;
  }

  std::vector<ReadArg> read(n);
  std::vector<Value> values(n);
  std::vector<size_t> owner(n);
  std::vector<Arg> call_args;
  call_args.reserve(n);
  for (size_t k = 0; k < n; ++k) {
    const ParamInfo& param = method->params[k];
    HRESULT hr = ReadArgument(&params->rgvarg[source[k]], param.type, &read[k]);
    if (FAILED(hr)) {
      if (arg_error != nullptr) *arg_error = source[k];
      return hr;
    }
    owner[k] = k;
    if (param.passing == Passing::kVal || !read[k].is_reference()) {
      call_args.push_back(Arg::Val(std::move(read[k].value)));
      continue;
    }
    for (size_t j = 0; j < k; ++j) {
      if (read[j].is_reference() &&
          method->params[j].passing == Passing::kRef &&
          read[j].identity() == read[k].identity()) {
        owner[k] = owner[j];
      }
    }
    if (owner[k] == k) values[k] = std::move(read[k].value);
    call_args.push_back(Arg::Ref(values[owner[k]]));
  }

  Value answer;
  Outcome outcome = Run(object, *method, call_args, &answer);
  if (outcome.ran()) {
    for (size_t k = 0; k < n; ++k) {
      if (method->params[k].passing == Passing::kRef &&
          read[k].is_reference() && owner[k] == k) {
        HRESULT hr = WriteBack(values[k], read[k]);
        if (FAILED(hr) && outcome.kind == Outcome::Kind::kDone) return hr;
      }
    }
  }
  switch (outcome.kind) {
    case Outcome::Kind::kDone:
      return result == nullptr ? S_OK : ToVariant(answer, result);
    case Outcome::Kind::kArgument:
      if (arg_error != nullptr) {
        *arg_error = source[static_cast<size_t>(outcome.arg_index)];
      }
      return outcome.number == error::kOverflow ? DISP_E_OVERFLOW
                                                : DISP_E_TYPEMISMATCH;
    default:
      return DispatchFailure(InterfaceIdOf(object.cls()), outcome, exception);
  }
}

}  // namespace

Value ComArg::value() const {
  switch (kind_) {
    case Kind::kStr:
      return TextOf(str_);
    case Kind::kStrRef:
      return TextOf(*static_cast<BSTR*>(ref_));
    case Kind::kI4:
      return static_cast<int32_t>(i4_);
    case Kind::kI4Ref:
      return static_cast<int32_t>(*static_cast<LONG*>(ref_));
    case Kind::kI2:
      return static_cast<int16_t>(i2_);
    case Kind::kI2Ref:
      return static_cast<int16_t>(*static_cast<SHORT*>(ref_));
    case Kind::kBool:
      return i2_ != VARIANT_FALSE;
    case Kind::kBoolRef:
      return *static_cast<VARIANT_BOOL*>(ref_) != VARIANT_FALSE;
  }
  return Value();
}

HRESULT ComArg::Store(const Value& value) const {
  switch (kind_) {
    case Kind::kStrRef: {
      const Text* text = std::get_if<Text>(&value);
      if (text == nullptr) return E_UNEXPECTED;
      BSTR fresh =
          ::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text->data()),
                              static_cast<UINT>(text->size()));
      if (fresh == nullptr) return E_OUTOFMEMORY;
      BSTR* variable = static_cast<BSTR*>(ref_);
      ::SysFreeString(*variable);
      *variable = fresh;
      return S_OK;
    }
    case Kind::kI4Ref:
      if (const int32_t* v = std::get_if<int32_t>(&value)) {
        *static_cast<LONG*>(ref_) = *v;
        return S_OK;
      }
      return E_UNEXPECTED;
    case Kind::kI2Ref:
      if (const int16_t* v = std::get_if<int16_t>(&value)) {
        *static_cast<SHORT*>(ref_) = *v;
        return S_OK;
      }
      return E_UNEXPECTED;
    case Kind::kBoolRef:
      if (const bool* v = std::get_if<bool>(&value)) {
        *static_cast<VARIANT_BOOL*>(ref_) = *v ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
      }
      return E_UNEXPECTED;
    default:
      return S_OK;  // values are never written back
  }
}

HRESULT CallFromVtable(Object& object, REFIID iid, int slot,
                       std::initializer_list<ComArg> args, BSTR* result) {
  if (result == nullptr) return E_POINTER;
  *result = nullptr;
  try {
    Value answer;
    HRESULT hr = CallVtable(object, iid, slot, args, &answer);
    if (FAILED(hr)) return hr;
    const Text* text = std::get_if<Text>(&answer);
    if (text == nullptr) return E_UNEXPECTED;
    *result = Bstr(*text).release();
    return S_OK;
  } catch (...) {
    return CaughtHresult();
  }
}

HRESULT CallFromVtable(Object& object, REFIID iid, int slot,
                       std::initializer_list<ComArg> args,
                       VARIANT_BOOL* result) {
  if (result == nullptr) return E_POINTER;
  *result = VARIANT_FALSE;
  try {
    Value answer;
    HRESULT hr = CallVtable(object, iid, slot, args, &answer);
    if (FAILED(hr)) return hr;
    const bool* b = std::get_if<bool>(&answer);
    if (b == nullptr) return E_UNEXPECTED;
    *result = *b ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  } catch (...) {
    return CaughtHresult();
  }
}

HRESULT InvokeFromDispatch(Object& object, DISPID id, REFIID riid, WORD flags,
                           DISPPARAMS* params, VARIANT* result,
                           EXCEPINFO* exception, UINT* arg_error) {
  try {
    if (result != nullptr) ::VariantInit(result);
    return Dispatch(object, id, riid, flags, params, result, exception,
                    arg_error);
  } catch (...) {
    return CaughtHresult();
  }
}

HRESULT IdsOfNames(const ClassInfo& cls, REFIID riid, LPOLESTR* names,
                   UINT count, DISPID* ids) {
  try {
    if (!::IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (count == 0) return S_OK;
    if (names == nullptr || ids == nullptr) return E_POINTER;
    HRESULT hr = S_OK;
    const MethodInfo* method =
        names[0] == nullptr ? nullptr : FindMethod(cls, ViewOf(names[0]));
    ids[0] = method == nullptr ? DISPID_UNKNOWN : method->dispid;
    if (method == nullptr) hr = DISP_E_UNKNOWNNAME;
    // Further names are parameters, numbered by position.
    for (UINT i = 1; i < count; ++i) {
      ids[i] = DISPID_UNKNOWN;
      if (method == nullptr || names[i] == nullptr) {
        hr = DISP_E_UNKNOWNNAME;
        continue;
      }
      for (size_t k = 0; k < method->params.size(); ++k) {
        if (EqualsIgnoreCase(method->params[k].name, ViewOf(names[i]))) {
          ids[i] = static_cast<DISPID>(k);
        }
      }
      if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  } catch (...) {
    return CaughtHresult();
  }
}

HRESULT TypeInfoOf(const ClassInfo& cls, UINT index, ITypeInfo** info) {
  try {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    std::wstring path = ModulePath();
    if (path.empty()) return E_UNEXPECTED;
    ComPtr<ITypeLib> library;
    HRESULT hr = ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put());
    if (FAILED(hr)) return hr;
    return library->GetTypeInfoOfGuid(InterfaceIdOf(cls), info);
  } catch (...) {
    return CaughtHresult();
  }
}

}  // namespace pellar::com
