// One instance of a class as a COM object: the dual interface I (generated
// from the type library), IDispatch through it, and ISupportErrorInfo. The
// generated classes in generated/dual_classes.inc derive from Dual<I> and
// implement I's methods by calling Call() with their slot.
#ifndef PELLAR_COM_DUAL_OBJECT_H_
#define PELLAR_COM_DUAL_OBJECT_H_

#include <oaidl.h>
#include <windows.h>

#include <atomic>
#include <initializer_list>

#include <pellar/automation/automation.h>
#include "dispatch.h"
#include "module.h"

namespace pellar::com {

template <typename I>
class Dual : public I, public ISupportErrorInfo {
 public:
  // Creates the class's instance; throws std::bad_alloc.
  explicit Dual(const ClassInfo& cls) : object_(cls) { ObjectCreated(); }
  virtual ~Dual() { ObjectDestroyed(); }
  Dual(const Dual&) = delete;
  Dual& operator=(const Dual&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (::IsEqualIID(riid, IID_IUnknown) || ::IsEqualIID(riid, IID_IDispatch) ||
        ::IsEqualIID(riid, Iid())) {
      *out = static_cast<I*>(this);
    } else if (::IsEqualIID(riid, IID_ISupportErrorInfo)) {
      *out = static_cast<ISupportErrorInfo*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID,
                                        ITypeInfo** info) override {
    return TypeInfoOf(object_.cls(), index, info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names,
                                          UINT count, LCID,
                                          DISPID* ids) override {
    return IdsOfNames(object_.cls(), riid, names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags,
                                   DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception,
                                   UINT* arg_error) override {
    return InvokeFromDispatch(object_, id, riid, flags, params, result,
                              exception, arg_error);
  }

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
    return ::IsEqualIID(riid, Iid()) || ::IsEqualIID(riid, IID_IDispatch)
               ? S_OK
               : S_FALSE;
  }

 protected:
  template <typename R>
  HRESULT Call(int slot, std::initializer_list<ComArg> args, R* result) {
    return CallFromVtable(object_, Iid(), slot, args, result);
  }

 private:
  const GUID& Iid() const { return InterfaceIdOf(object_.cls()); }

  std::atomic<ULONG> refs_{1};
  Object object_;
};

// Creates the COM object of `cls` with one reference, as IDispatch; nullptr
// for a class the type library lacks. Throws std::bad_alloc.
IDispatch* NewDual(const ClassInfo& cls);

}  // namespace pellar::com

#endif  // PELLAR_COM_DUAL_OBJECT_H_
