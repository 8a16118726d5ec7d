// Owners of the automation runtime's resources: BSTR, VARIANT, registry
// keys and interface pointers are released on every path, exceptions
// included.
#ifndef PELLAR_COM_HOLDERS_H_
#define PELLAR_COM_HOLDERS_H_

#include <oaidl.h>
#include <oleauto.h>
#include <windows.h>

#include <new>
#include <string>
#include <utility>

#include <pellar/base/text.h>

namespace pellar::com {

// A BSTR owned by this object.
class Bstr {
 public:
  Bstr() = default;
  // Copies `text`; throws std::bad_alloc when the runtime has no memory.
  explicit Bstr(TextView text)
      : bstr_(::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                                  static_cast<UINT>(text.size()))) {
    if (bstr_ == nullptr) throw std::bad_alloc();
  }
  ~Bstr() { ::SysFreeString(bstr_); }
  Bstr(Bstr&& other) noexcept : bstr_(std::exchange(other.bstr_, nullptr)) {}
  Bstr& operator=(Bstr&& other) noexcept {
    std::swap(bstr_, other.bstr_);
    return *this;
  }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;

  BSTR get() const { return bstr_; }
  // Hands the string over to the caller, who frees it.
  BSTR release() { return std::exchange(bstr_, nullptr); }

 private:
  BSTR bstr_ = nullptr;
};

// The text of a BSTR; a null BSTR is "".
inline Text TextOf(BSTR bstr) {
  if (bstr == nullptr) return Text();
  return Text(reinterpret_cast<const char16_t*>(bstr), ::SysStringLen(bstr));
}

// A VARIANT cleared when the object goes.
class Variant {
 public:
  Variant() { ::VariantInit(&v_); }
  ~Variant() { ::VariantClear(&v_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;

  VARIANT* get() { return &v_; }
  const VARIANT& operator*() const { return v_; }

 private:
  VARIANT v_;
};

// An open registry key.
class RegKey {
 public:
  RegKey() = default;
  ~RegKey() {
    if (key_ != nullptr) ::RegCloseKey(key_);
  }
  RegKey(RegKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
  RegKey& operator=(RegKey&& other) noexcept {
    std::swap(key_, other.key_);
    return *this;
  }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;

  HKEY get() const { return key_; }
  HKEY* put() {
    if (key_ != nullptr) ::RegCloseKey(key_);
    key_ = nullptr;
    return &key_;
  }

 private:
  HKEY key_ = nullptr;
};

// A counted reference to an interface.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() {
    if (p_ != nullptr) p_->Release();
  }
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  // For functions that hand out a new reference.
  T** put() {
    if (p_ != nullptr) p_->Release();
    p_ = nullptr;
    return &p_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }
  T* release() { return std::exchange(p_, nullptr); }

 private:
  T* p_ = nullptr;
};

}  // namespace pellar::com

#endif  // PELLAR_COM_HOLDERS_H_
