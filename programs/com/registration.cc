#include "registration.h"

#include <oleauto.h>
#include <olectl.h>

#include <cwchar>
#include <string>

#include <pellar/automation/automation.h>
#include "guids.h"
#include "holders.h"
#include "module.h"
#include "registry_entries.h"

namespace pellar::com {
namespace {

// The registry view of the other bitness: 32-bit classes live apart from
// 64-bit ones under CLSID, while programmatic identifiers are shared.
constexpr REGSAM kOtherView =
    sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
constexpr SYSKIND kSysKind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;

std::wstring Wide(std::string_view ascii) {
  return std::wstring(ascii.begin(), ascii.end());
}

std::wstring Wide(TextView text) {
  return std::wstring(text.begin(), text.end());
}

std::wstring ClassKey(const ClassGuids& guids) {
  return L"CLSID\\" + Wide(BracedGuid(guids.class_id));
}

// Sets a string value (the default value for a null `name`) under
// HKEY_CLASSES_ROOT\`subkey`, creating the key.
HRESULT SetString(const std::wstring& subkey, const wchar_t* name,
                  const std::wstring& value) {
  RegKey key;
  LONG rc = ::RegCreateKeyExW(HKEY_CLASSES_ROOT, subkey.c_str(), 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                              key.put(), nullptr);
  if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  rc = ::RegSetValueExW(
      key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
      static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  return HRESULT_FROM_WIN32(rc);
}

// The default value of HKEY_CLASSES_ROOT\`subkey`; empty when missing.
std::wstring GetString(const std::wstring& subkey) {
  RegKey key;
  if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, subkey.c_str(), 0, KEY_READ,
                      key.put()) != ERROR_SUCCESS) {
    return std::wstring();
  }
  wchar_t buffer[256];
  DWORD size = sizeof(buffer) - sizeof(wchar_t);
  DWORD type = 0;
  if (::RegQueryValueExW(key.get(), nullptr, nullptr, &type,
                         reinterpret_cast<BYTE*>(buffer),
                         &size) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return std::wstring();
  }
  buffer[size / sizeof(wchar_t)] = L'\0';
  return std::wstring(buffer);
}

HRESULT DeleteTree(const std::wstring& subkey) {
  LONG rc = ::RegDeleteTreeW(HKEY_CLASSES_ROOT, subkey.c_str());
  if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND) return S_OK;
  return HRESULT_FROM_WIN32(rc);
}

bool OtherViewRegisters(const ClassGuids& guids) {
  RegKey key;
  return ::RegOpenKeyExW(HKEY_CLASSES_ROOT,
                         (ClassKey(guids) + L"\\InprocServer32").c_str(), 0,
                         KEY_READ | kOtherView, key.put()) == ERROR_SUCCESS;
}

// The DLL's folder with a trailing backslash: the form an installer
// package's directory property takes, so both write the same HELPDIR.
std::wstring FolderOf(const std::wstring& path) {
  return path.substr(0, path.find_last_of(L'\\') + 1);
}

HRESULT RegisterOneClass(const ClassInfo& cls, const std::wstring& path) {
  for (const RegistryEntry& entry : ClassRegistryEntries(cls)) {
    std::wstring value;
    switch (entry.value) {
      case EntryValue::kText:
        value = Wide(entry.text);
        break;
      case EntryValue::kServerPath:
        value = path;
        break;
      case EntryValue::kServerFolder:
        value = FolderOf(path);
        break;
    }
    const std::wstring name = Wide(entry.name);
    HRESULT hr = SetString(Wide(entry.key),
                           name.empty() ? nullptr : name.c_str(), value);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT RegisterAll() {
  std::wstring path = ModulePath();
  if (path.empty()) return E_UNEXPECTED;
  for (const ClassInfo& cls : Classes()) {
    if (FindClassGuids(cls.name) == nullptr) return SELFREG_E_CLASS;
    HRESULT hr = RegisterOneClass(cls, path);
    if (FAILED(hr)) return hr;
  }
  ComPtr<ITypeLib> library;
  HRESULT hr = ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put());
  if (SUCCEEDED(hr)) {
    std::wstring folder = FolderOf(path);
    hr = ::RegisterTypeLib(library.get(), path.data(), folder.data());
  }
  return hr;
}

}  // namespace

HRESULT RegisterServer() {
  HRESULT hr = RegisterAll();
  if (FAILED(hr)) UnregisterServer();
  return hr;
}

HRESULT UnregisterServer() {
  HRESULT result = S_OK;
  auto keep_first_failure = [&result](HRESULT hr) {
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  };
  for (const ClassInfo& cls : Classes()) {
    const ClassGuids* guids = FindClassGuids(cls.name);
    if (guids == nullptr) continue;
    keep_first_failure(DeleteTree(ClassKey(*guids)));
    const std::wstring progid = Wide(cls.progid);
    if (!OtherViewRegisters(*guids) &&
        ::_wcsicmp(GetString(progid + L"\\CLSID").c_str(),
                   Wide(BracedGuid(guids->class_id)).c_str()) == 0) {
      keep_first_failure(DeleteTree(progid));
    }
  }
  HRESULT hr = ::UnRegisterTypeLib(LibraryId(), kLibraryMajor, kLibraryMinor,
                                   LOCALE_NEUTRAL, kSysKind);
  // Not registered (any more) is what unregistering wants.
  if (hr != TYPE_E_REGISTRYACCESS && hr != TYPE_E_CANTLOADLIBRARY) {
    keep_first_failure(hr);
  }
  return result;
}

}  // namespace pellar::com
