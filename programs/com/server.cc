// The four entry points of the in-process server and its class factories.
// Nothing may escape into the caller: every entry point ends in a
// catch-all.
#include <objbase.h>
#include <olectl.h>
#include <windows.h>

#include <new>

#include <pellar/automation/automation.h>
#include "dual_object.h"
#include "module.h"
#include "registration.h"

namespace pellar::com {
namespace {

// Creates instances of one class. Counted as a live object, so the module
// stays loaded while a client holds a factory.
class ClassFactory final : public IClassFactory {
 public:
  explicit ClassFactory(const ClassInfo& cls) : cls_(cls) { ObjectCreated(); }
  ~ClassFactory() { ObjectDestroyed(); }
  ClassFactory(const ClassFactory&) = delete;
  ClassFactory& operator=(const ClassFactory&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (::IsEqualIID(riid, IID_IUnknown) ||
        ::IsEqualIID(riid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid,
                                           void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    try {
      IDispatch* object = NewDual(cls_);
      if (object == nullptr) return E_UNEXPECTED;
      HRESULT hr = object->QueryInterface(riid, out);
      object->Release();
      return hr;
    } catch (...) {
      return CaughtHresult();
    }
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      LockModule();
    } else {
      UnlockModule();
    }
    return S_OK;
  }

 private:
  std::atomic<ULONG> refs_{1};
  const ClassInfo& cls_;
};

}  // namespace
}  // namespace pellar::com

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* out) {
  using pellar::com::ClassFactory;
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  try {
    const pellar::ClassInfo* cls = pellar::com::ClassOfClassId(clsid);
    if (cls == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
    ClassFactory* factory = new ClassFactory(*cls);
    HRESULT hr = factory->QueryInterface(riid, out);
    factory->Release();
    return hr;
  } catch (...) {
    return pellar::com::CaughtHresult();
  }
}

STDAPI DllCanUnloadNow() { return pellar::com::ModuleInUse() ? S_FALSE : S_OK; }

STDAPI DllRegisterServer() {
  try {
    return pellar::com::RegisterServer();
  } catch (...) {
    return pellar::com::CaughtHresult();
  }
}

STDAPI DllUnregisterServer() {
  try {
    return pellar::com::UnregisterServer();
  } catch (...) {
    return pellar::com::CaughtHresult();
  }
}
